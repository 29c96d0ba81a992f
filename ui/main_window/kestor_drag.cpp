// Drops on the main window's unfinished list: text and link lists are scanned
// for addresses to add, dropped text files add every address line they hold,
// finished entries dragged from the finished list are added again by their
// addresses. (Drags out of the finished list are the finished pane's.)

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QTreeView>

#include "core/diagnostics/log_categories.h"
#include "core/settings/settings.h"
#include "core/urls/address_lines.h"
#include "engine/engine_context.h"
#include "engine/queue/add_download.h"
#include "ui/main_window/gui_add_prompts.h"
#include "ui/main_window/kestor.h"

namespace {

const QString kFinishedKeys = QLatin1String(FinishedKeysFormat);

bool Droppable(const QMimeData* data) {
    return data != nullptr && (data->hasFormat(kFinishedKeys) || data->hasText());
}

}  // namespace

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
            : DroppedAddresses(*data);
    event.setDropAction(Qt::CopyAction);
    event.accept();
    qCInfo(lcUi) << "drop on the download list:" << urls.size() << "addresses";
    // The drag's source waits for the drop to finish: what adding asks comes
    // after it, and the lists are drawn from the records once every address has
    // been handled.
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
