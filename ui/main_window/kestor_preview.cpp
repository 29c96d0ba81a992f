// The main window's media preview: the panel beside the finished list, shown or hidden by its
// button, a finished file previewed half a second after a click (unless a double click opens
// it), and the beginning of a download in progress from the list's menu.

#include <QFileInfo>
#include <QLocale>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <utility>

#include "core/download_list/download_list.h"
#include "core/text/text_table.h"
#include "core/text/url_codec.h"
#include "core/urls/parse_url.h"
#include "engine/engine_context.h"
#include "ui/main_window/finished_list_model.h"
#include "ui/main_window/kestor.h"
#include "ui/main_window/language_conventions.h"
#include "ui/main_window/unfinished_list_model.h"
#include "ui/preview/preview_panel.h"

namespace {

// A click waits this long for the double click that would open the file instead.
constexpr int kClickPreviewDelay = 500;

}  // namespace

void Kestor::buildPreview() {
    Picture1 = new PreviewPanel(ctx_.texts);
    connect(Picture1, &PreviewPanel::hint, this, &Kestor::Status);
    Command4 = new QPushButton;
    Command4->setObjectName(QStringLiteral("Command4"));
    Command4->setAutoDefault(false);
    Command4->setFixedWidth(Command4->fontMetrics().horizontalAdvance(u'>') * 2 + 12);
    Command4->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(Command4, &QPushButton::clicked, this, [this] {
        PreviewEnabled = !PreviewEnabled;
        showPreviewPanel();
    });
    clickPreview_ = new QTimer(this);
    clickPreview_->setSingleShot(true);
    clickPreview_->setInterval(kClickPreviewDelay);
    connect(clickPreview_, &QTimer::timeout, this, [this] {
        if (!DblClick) {
            Picture1->LoadMedia(clickedFile_, QString());
        }
        DblClick = false;
    });
    connect(listView2_, &QTreeView::clicked, this, &Kestor::listView2Clicked);
    showPreviewPanel();
}

void Kestor::LoadMedia(const QString& media, const QString& realfile) {
    Picture1->LoadMedia(media, realfile);
}

// The panel's button says where the panel goes: ">" folds it away to the right, "<" brings it
// back.
void Kestor::showPreviewPanel() {
    Picture1->setVisible(PreviewEnabled);
    Command4->setText(PreviewEnabled ? QStringLiteral(">") : QStringLiteral("<"));
}

void Kestor::listView2Clicked(const QModelIndex& index) {
    const DownloadRecord* r = list_.record(findSlot(finishedKey(index), false));
    // The release that ends a double click opened the file already: no preview after it.
    if (r == nullptr || r->Completed != FlagTrue || std::exchange(DblClick, false)) {
        return;
    }
    if (Picture1->isVisible()) {
        clickedFile_ = r->SavePath;
        if (QFileInfo(r->SavePath).isFile()) {
            clickPreview_->start();
        } else {
            clickPreview_->stop();
            Picture1->LoadMedia(r->SavePath, QString());  // says the preview is not available
        }
    }
    // The address as the lists show it, never with a password.
    Picture1->showDetails(
        UrlForDisplay(DecodeUrl(r->Url)),
        LanguageLocale(ctx_.texts).toString(r->FileSize.bytes()) + u' ' + ctx_.texts.text(0),
        r->SavePath);
}

// The beginning of a download in progress: its first part file shown as the file it becomes.
void Kestor::previewSelected() {
    const DownloadRecord* r = list_.record(findSlot(selectedKey(), true));
    if (r == nullptr) {
        return;
    }
    PreviewEnabled = true;
    showPreviewPanel();
    Picture1->selectTab(QStringLiteral("Prev"));
    if (r->Completed == FlagTrue) {
        Picture1->LoadMedia(r->SavePath, QString());
        return;
    }
    const SegmentRecord* first = r->Segments.at(1);
    // Nothing planned yet, or nothing written: the panel says there is no preview.
    Picture1->LoadMedia(first != nullptr ? first->PartFile : QString(), r->FileName);
}
