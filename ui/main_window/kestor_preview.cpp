// The main window's use of the preview panel (it sits in the finished pane): a
// file shown on request, and the beginning of a download in progress from the
// list's menu.

#include "core/download_list/download_list.h"
#include "core/download_list/entry_state.h"
#include "engine/assembly/assemble_download.h"
#include "engine/engine_context.h"
#include "ui/main_window/kestor.h"
#include "ui/preview/preview_panel.h"

void Kestor::LoadMedia(const QString& media, const QString& realfile) {
    finishedPane_->previewPanel()->LoadMedia(media, realfile);
}

// The beginning of a download in progress: its first part file shown as the
// file it becomes, up to the first byte missing. That file may be the whole
// download's, its size planned up front, with nothing yet at the gaps.
void Kestor::previewSelected() {
    const DownloadRecord* r = list_.record(findSlot(selectedKey(), true));
    if (r == nullptr) {
        return;
    }
    PreviewPanel* picture = finishedPane_->showPreview();
    picture->selectTab(QStringLiteral("Prev"));
    if (StateOf(*r) == ListEntryState::Finished) {
        picture->LoadMedia(r->SavePath, QString());
        return;
    }
    const SegmentRecord* first = r->Segments.at(1);
    // Nothing planned yet, or nothing written: the panel says there is no
    // preview.
    picture->LoadMedia(first != nullptr ? first->PartFile : QString(), r->FileName,
                       ReceivedInOrder(*r).inOrder);
}
