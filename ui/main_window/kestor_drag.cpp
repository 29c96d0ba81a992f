// Drag and drop on the main window's lists: text dropped on the unfinished list is scanned for
// addresses to add; a finished file is dragged out of its list to the desktop as a file.

#include <QApplication>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QMouseEvent>
#include <QTreeView>
#include <QUrl>

#include "core/diagnostics/log_categories.h"
#include "core/download_list/download_list.h"
#include "core/settings/settings.h"
#include "core/text/text_table.h"
#include "core/urls/parse_url.h"
#include "core/urls/url_scan.h"
#include "engine/engine_context.h"
#include "engine/queue/add_download.h"
#include "ui/main_window/gui_add_prompts.h"
#include "ui/main_window/kestor.h"

namespace {

// Our own drags name the finished entries they carry, one address a line.
const QString kFinishedKeys = QStringLiteral("application/x-brenloft-finished");

bool Droppable(const QMimeData* data) {
    return data != nullptr && (data->hasFormat(kFinishedKeys) || data->hasText());
}

}  // namespace

QMimeData* Kestor::finishedDragData(const QStringList& keys) const {
    auto* data = new QMimeData;
    QList<QUrl> files;
    for (const QString& key : keys) {
        const DownloadRecord* r = list_.record(findSlot(key, false));
        if (r != nullptr && QFileInfo(r->SavePath).isFile()) {
            files << QUrl::fromLocalFile(QFileInfo(r->SavePath).absoluteFilePath());
        }
    }
    // File managers and other programs take the files; our own list takes the addresses.
    data->setUrls(files);
    data->setText(keys.join(u'\n'));
    data->setData(kFinishedKeys, keys.join(u'\n').toUtf8());
    return data;
}

bool Kestor::listEvent(QObject* watched, QEvent* event) {
    if (watched == listView1_->viewport()) {
        switch (event->type()) {
            case QEvent::DragEnter:
            case QEvent::DragMove: {
                auto* drag = static_cast<QDragMoveEvent*>(event);
                if (Droppable(drag->mimeData())) {
                    drag->setDropAction(Qt::CopyAction);
                    drag->accept();
                } else {
                    drag->ignore();
                }
                return true;
            }
            case QEvent::Drop:
                dropOnUnfinished(*static_cast<QDropEvent*>(event));
                return true;
            default:
                return false;
        }
    }
    if (watched != listView2_->viewport()) {
        return false;
    }
    if (event->type() == QEvent::MouseButtonPress) {
        const auto* press = static_cast<QMouseEvent*>(event);
        if (press->button() == Qt::LeftButton) {
            dragStart_ = press->position().toPoint();
        }
        // A new click: whatever double click came before is over.
        DblClick = false;
        Status(ctx_.texts.text(663));
    } else if (event->type() == QEvent::MouseMove) {
        const auto* move = static_cast<QMouseEvent*>(event);
        if (move->buttons().testFlag(Qt::LeftButton) && dragStart_ &&
            (move->position().toPoint() - *dragStart_).manhattanLength() >=
                QApplication::startDragDistance() &&
            !selectedFinishedKeys().isEmpty()) {
            dragStart_.reset();
            dragFinished();
            return true;
        }
    } else if (event->type() == QEvent::MouseButtonRelease) {
        dragStart_.reset();
    }
    return false;
}

void Kestor::dropOnUnfinished(QDropEvent& event) {
    const QMimeData* data = event.mimeData();
    if (!Droppable(data)) {
        event.ignore();
        return;
    }
    const QStringList urls =
        data->hasFormat(kFinishedKeys)
            ? QString::fromUtf8(data->data(kFinishedKeys)).split(u'\n', Qt::SkipEmptyParts)
            : ScanDroppedUrls(data->text());
    event.setDropAction(Qt::CopyAction);
    event.accept();
    DraggedFile = false;
    qCInfo(lcUi) << "drop on the download list:" << urls.size() << "addresses";
    // The drag's source waits for the drop to finish: what adding asks comes after it, and the
    // lists are drawn from the records once every address has been handled.
    QMetaObject::invokeMethod(
        this,
        [this, urls] {
            for (const QString& url : urls) {
                AddRequest request;
                request.url = url;
                add(request);
            }
            RefreshListView(0, true);
            RefreshDownList();
        },
        Qt::QueuedConnection);
}

void Kestor::add(AddRequest& request) {
    if (addPrompts_ != nullptr) {
        AddDownload(ctx_, queue_, *addPrompts_, request);
        return;
    }
    GuiAddPrompts prompts(this, ctx_.settings.DownloadFolder);
    AddDownload(ctx_, queue_, prompts, request);
}

// Copy or move, as the receiver chooses; either way the receiver does the work, so a file it
// did not take stays where it was. Whatever became of the drag, the lists are drawn again from
// the records, never edited on its outcome: a refused drop, or a "No" to downloading a finished
// file again, leaves both lists as they were.
void Kestor::dragFinished() {
    const QStringList keys = selectedFinishedKeys();
    DraggedFile = true;
    auto* drag = new QDrag(listView2_);
    drag->setMimeData(finishedDragData(keys));
    const Qt::DropAction done = drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::CopyAction);
    qCInfo(lcUi) << "drag of" << keys.size() << "finished files ended:" << done;
    DraggedFile = false;
    RefreshListView(0, true);
    RefreshDownList();
}
