// The watchdog, pause, resume, cancel and the end of a download session.
#include "core/download_list/download_list.h"
#include "core/settings/settings.h"
#include "core/text/text_table.h"
#include "core/types/tick.h"
#include "engine/assembly/assemble_download.h"
#include "engine/session/download_session.h"
#include "engine/session/session_prompts.h"
#include "net/socket_class.h"
#include "net/socket_module.h"

namespace {

void Fold(SegmentRecord& s) {
    s.StartPos += s.Received;
    s.Done += s.Received;
    s.Received = Currency{};
}

}  // namespace

void DownloadSession::SegTimeOut_Timer() {
    DownloadRecord* r = record();
    if (r == nullptr || r->Paused == FlagTrue || r->Completed == FlagTrue) {
        return;
    }
    const std::int32_t now = MillisecondTick();
    const bool ftp = r->Protocol == Protocol::Ftp;
    for (int j = 1; j <= r->SegmentCount; ++j) {
        const SegmentRecord& s = *r->Segments.at(j);
        // An FTP segment that logged in or asked for the file can wait for an answer that
        // never comes as well as one that receives nothing.
        const bool ftpAsking = ftp && (s.State == SegmentState::FtpLoggedIn ||
                                       s.State == SegmentState::FtpTransferRequested);
        const bool watched =
            s.Watched == FlagTrue &&
            (s.State == SegmentState::Idle || s.State == SegmentState::Connecting ||
             s.State == SegmentState::Receiving || ftpAsking);
        const auto silent = static_cast<std::int32_t>(static_cast<std::uint32_t>(now) -
                                                      static_cast<std::uint32_t>(s.SegTick));
        if (watched && silent > 15000) {
            restartSegment(j);
            r = record();
            if (r == nullptr) {
                return;
            }
        }
    }
    if (ftp) {
        ftpWatchWaitingSegments(now);
    }
}

void DownloadSession::restartSegment(int j) {
    DownloadRecord* r = record();
    SegmentRecord& s = *r->Segments.at(j);
    const int k = j - 1;
    s.SegTick = MillisecondTick();
    s.State = SegmentState::Idle;
    slots_[k].close();
    forgetConnectionProgress(s);
    r->RetryCount = 0;
    SocketClass& socket = slots_[k].socket();
    socket.SetEventSocket(sockGlobal());
    if (SocketEntry* e = ctx_.sockets.entry(socket.SocketIndex)) {
        e->RateLimited = 0;
    }
    connectTo(socket);
}

void DownloadSession::forgetConnectionProgress(SegmentRecord& s) {
    DownloadRecord* r = record();
    if (r->RangesSupported == FlagTrue) {
        Fold(s);
    } else if (s.Done.bytes() != 0 || s.Received.bytes() != 0) {
        // The whole file comes again from its first byte: what was stored is written over.
        r->BytesDone -= s.Done + s.Received;
        s.StartPos = s.Done = s.Received = Currency{};
        r->Percent = 0;
    }
}

void DownloadSession::PauseDownload() {
    DownloadRecord* r = record();
    if (r == nullptr || r->Completed == FlagTrue || r->Paused == FlagTrue) {
        return;
    }
    r->Running = FlagFalse;
    observer_.pauseButtonChanged(true, text(781));
    r->Paused = FlagTrue;
    connectPacer_.stop();
    // A probe still waiting for its answer goes too, or its answer would start the segments
    // of a paused download; resume sends it again.
    if (probeState_ != ProbeState::Idle) {
        endProbe();
        TimeOut.stop();
    }
    for (int k = 0; k < r->SegmentCount && k < Slots - 1; ++k) {
        slots_[k].close();
    }
    for (int j = 1; j <= r->SegmentCount; ++j) {
        SegmentRecord& s = *r->Segments.at(j);
        if (s.State != SegmentState::Complete) {
            Fold(s);
            s.State = SegmentState::Paused;
        }
    }
    observer_.segmentRowsChanged(0);
    observer_.entryChanged(RecordIndex);
}

void DownloadSession::ResumeDownload() {
    DownloadRecord* r = record();
    if (r == nullptr || r->Completed == FlagTrue || r->Running == FlagTrue) {
        return;
    }
    observer_.pauseButtonChanged(true, text(782));
    r->Paused = FlagFalse;
    r->Running = FlagTrue;
    if (r->SegmentCount < 1) {
        // Nothing was planned yet: the probe starts afresh.
        InitConnection();
        return;
    }
    r->Resuming = FlagTrue;
    ConnectSegmented();
    observer_.segmentRowsChanged(0);
    observer_.entryChanged(RecordIndex);
}

void DownloadSession::CancelDownload() {
    PauseDownload();
    closeWith(QString());
}

void DownloadSession::BuildOutputFile() {
    DownloadRecord* r = record();
    if (r == nullptr || assembling_) {
        return;
    }
    assembling_ = true;
    QPointer<DownloadSession> self(this);
    AssembleDownload(ctx_, RecordIndex, true, [self](const AssemblyResult& result) {
        if (!self) {
            return;
        }
        self->assembling_ = false;
        DownloadRecord* r = self->record();
        if (!result.complete) {
            // The parts stay; the download can be built again once the cause is mended.
            if (r != nullptr) {
                r->Running = FlagFalse;
                r->Paused = FlagTrue;
            }
            self->ctx_.prompts.showMessage(result.message, SessionPrompts::Icon::Critical);
            self->closeWith(result.message);
            return;
        }
        self->observer_.entryChanged(self->RecordIndex);
        self->Finished = 1;
        self->observer_.downloadFinished(self->text(784), self->text(785));
        self->observer_.stateLabelChanged(self->text(521));
        self->observer_.progressChanged();
        self->SegTimeOut.stop();
        self->observer_.sessionClosed(QString());
    });
}
