// Pause, resume, cancel and the end of a download session.
#include <QPointer>

#include "core/download_list/download_list.h"
#include "core/download_list/entry_state.h"
#include "core/download_list/resume_rebase.h"
#include "core/text/text_table.h"
#include "engine/assembly/assemble_download.h"
#include "engine/session/download_session.h"
#include "engine/session/failure_words.h"
#include "engine/session/segment_plan.h"
#include "engine/session/session_log.h"
#include "engine/session/session_prompts.h"

void DownloadSession::PauseDownload() {
    DownloadRecord* r = record();
    if (r == nullptr || FileComplete(*r) || HeldByPause(*r)) {
        return;
    }
    qCInfo(lcEngine).noquote() << DownloadTag(RecordIndex) << "paused";
    waitingForPreview_ = false;
    MarkPaused(*r);
    core_.observer.pauseButtonChanged(true, text(781));
    probeBusy_.cancel();
    segments_.stop();
    // A probe still waiting for its answer goes too, or its answer would start the segments
    // of a paused download; resume sends it again.
    if (probeState_ != ProbeState::Idle) {
        endProbe();
        TimeOut.stop();
    }
    for (int k = 0; k < ProbeSlot; ++k) {
        core_.connections.release(k);
    }
    for (int j = 1; j <= r->SegmentCount; ++j) {
        SegmentRecord& s = *r->Segments.at(j);
        if (s.State != SegmentState::Complete) {
            FoldReceived(s);
            s.State = SegmentState::Paused;
        }
    }
    core_.observer.segmentRowsChanged(0);
    core_.observer.entryChanged(RecordIndex);
}

void DownloadSession::ResumeDownload() {
    DownloadRecord* r = record();
    if (r == nullptr || FileComplete(*r) || StateOf(*r) == ListEntryState::Running) {
        return;
    }
    qCInfo(lcEngine).noquote() << DownloadTag(RecordIndex) << "resumed";
    core_.observer.pauseButtonChanged(true, text(782));
    MarkStarted(*r);
    if (r->SegmentCount < 1) {
        // Nothing was planned yet: the probe starts afresh.
        InitConnection();
        return;
    }
    MarkResuming(*r, true);
    ConnectSegmented();
    core_.observer.segmentRowsChanged(0);
    core_.observer.entryChanged(RecordIndex);
}

void DownloadSession::ContinueAfterPreview() {
    if (!waitingForPreview_) {
        return;
    }
    waitingForPreview_ = false;
    core_.observer.stateLabelChanged(text(537));
    ConnectSegmented();
}

void DownloadSession::CancelDownload() {
    PauseDownload();
    closeWith(QString());
}

void DownloadSession::stopPaused(const QString& why, const QString& message) {
    qCInfo(lcEngine).noquote() << DownloadTag(RecordIndex) << "waits, paused:" << why;
    lastProblem_ = why;
    PauseDownload();
    core_.ctx.prompts.showMessage(message, SessionPrompts::Icon::Critical);
    core_.observer.sessionClosed(why);
}

void DownloadSession::failWith(const QString& why) {
    qCInfo(lcEngine).noquote() << DownloadTag(RecordIndex) << "fails:" << why;
    PauseDownload();
    if (DownloadRecord* r = record()) {
        MarkFailed(*r, FailureCodeFor(why));
    }
    core_.ctx.prompts.showMessage(why, SessionPrompts::Icon::Critical);
    closeWith(why);
}

void DownloadSession::BuildOutputFile() {
    DownloadRecord* r = record();
    if (r == nullptr || core_.assembling) {
        return;
    }
    core_.assembling = true;
    qCInfo(lcEngine).noquote() << DownloadTag(RecordIndex) << "joining" << r->SegmentCount
                               << "part files";
    QPointer<DownloadSession> self(this);
    AssembleDownload(core_.ctx, RecordIndex, true, [self](const AssemblyResult& result) {
        if (!self) {
            return;
        }
        self->core_.assembling = false;
        DownloadRecord* r = self->record();
        if (!result.complete) {
            qCInfo(lcEngine).noquote()
                << DownloadTag(self->RecordIndex) << "join failed:" << result.message;
            // The parts stay; the download can be built again once the cause is mended.
            if (r != nullptr) {
                MarkPaused(*r);
            }
            self->core_.ctx.prompts.showMessage(result.message, SessionPrompts::Icon::Critical);
            self->closeWith(result.message);
            return;
        }
        self->reportFinished();
    });
}

void DownloadSession::reportFinished() {
    const DownloadRecord* r = record();
    qCInfo(lcEngine).noquote() << DownloadTag(RecordIndex)
                               << "complete:" << (r != nullptr ? r->SavePath : QString());
    core_.observer.entryChanged(RecordIndex);
    Finished = 1;
    core_.observer.downloadFinished(text(784), text(785));
    core_.observer.stateLabelChanged(text(521));
    core_.observer.progressChanged();
    watchdog_.stop();
    core_.observer.sessionClosed(QString());
}
