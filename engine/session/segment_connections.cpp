#include "engine/session/segment_connections.h"

#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QTimer>
#include <algorithm>

#include "core/download_list/download_list.h"
#include "core/download_list/resume_rebase.h"
#include "core/settings/settings.h"
#include "core/text/text_table.h"
#include "core/text/url_codec.h"
#include "core/types/tick.h"
#include "core/urls/parse_url.h"
#include "engine/assembly/existing_target.h"
#include "engine/session/download_session.h"
#include "engine/session/segment_plan.h"
#include "engine/session/session_log.h"
#include "engine/session/zip_preview_rule.h"
#include "net/socket_class.h"
#include "net/socket_module.h"

namespace {

// Servers take a burst of connections badly: a segment connects once the last one's connection
// is up and its request sent, or this long after the last one began, whichever comes first.
// One connect at a time, so a server sees connections one after another, never a burst.
constexpr int kConnectPacingMs = 200;

// What the log says of a segment's range.
QString RangeText(const SegmentRecord& s) {
    return QStringLiteral("%1-%2 (done %3)")
        .arg(s.EndPos.bytes() - s.Length.bytes() + 1)
        .arg(s.EndPos.bytes())
        .arg(s.Done.bytes() + s.Received.bytes());
}

}  // namespace

SegmentConnections::SegmentConnections(DownloadSession& session) : session_(session) {
    pacer_.setSingleShot(true);
    QObject::connect(&pacer_, &QTimer::timeout, &session_, [this] { connectNext(); });
}

void SegmentConnections::start() {
    DownloadSession& ss = session_;
    DownloadRecord* r = ss.record();
    if (r == nullptr) {
        return;
    }
    ss.observer_.pauseButtonChanged(false, ss.text(782));
    ss.watchdog_.start();
    const bool ranges = r->RangesSupported == FlagTrue;
    ss.observer_.fileLabelChanged(UrlForDisplay(DecodeUrl(r->Url)) + u' ' +
                                  (ranges ? QString() : u'(' + ss.text(783) + u')'));
    const std::int32_t now = MillisecondTick();
    const bool resumed = r->Resuming != 0 && r->SegmentCount >= 1;
    allStarted_ = false;
    ss.splitter_.forget();
    if (resumed && AdoptJoinedTarget(*r, ss.ctx_.settings.DownloadFolder)) {
        // Built by an earlier run that ended before its list said so: nothing to fetch again.
        r->Resuming = FlagFalse;
        qCInfo(lcEngine).noquote() << DownloadTag(ss.RecordIndex)
                                   << "was built before the list could say so:" << r->SavePath;
        QTimer::singleShot(0, &ss, [&ss] { ss.reportFinished(); });
        return;
    }
    if (resumed) {
        r->Resuming = FlagFalse;
        // The ticks saved with the plan may be minutes old: a segment still waiting for its
        // turn to connect is not stalled, and the watchdog must not start it early.
        for (int j = 1; j <= r->SegmentCount; ++j) {
            r->Segments.at(j)->SegTick = now;
        }
        if (ranges) {
            startOverSegmentsWithoutTheirBytes();
        } else {
            // Without ranges the single segment can only start over.
            SegmentRecord& s = *r->Segments.at(1);
            s.StartPos = s.Received = s.Done = Currency{};
            s.SegFlagB = 0;
            s.State = SegmentState::Idle;
            r->BytesDone = Currency{};
            r->Percent = 0;
            r->ElapsedSeconds = 0;
            r->RemainingSeconds = 0;
            r->LastTick = now;
        }
    } else {
        r->Resuming = FlagFalse;
        if (ss.sizeKnown_ && ss.ctx_.adoptWholeFiles &&
            AdoptExistingTarget(*r, ss.ctx_.settings.DownloadFolder, ss.ctx_.finishedFiles,
                                ss.serverModified_)) {
            // An earlier run fetched it: nothing to plan or fetch.
            qCInfo(lcEngine).noquote()
                << DownloadTag(ss.RecordIndex) << "already whole at" << r->SavePath;
            QTimer::singleShot(0, &ss, [&ss] { ss.reportFinished(); });
            return;
        }
        const Settings& settings = ss.ctx_.settings;
        const bool limiter = settings.UseSpeedLimiter == FlagTrue && settings.SpeedLimiter > 0;
        const int count =
            ss.sizeKnown()
                ? PlannedSegmentCount(r->FileSize.bytes(), settings.MaxSegments, ranges, limiter)
                : 1;
        PlanSegments(*r, count, now, settings.TempFolder);
    }
    // A resumed plan runs as many connections as it had when planned; one whose ranges were
    // split further (more records than slots) runs all eight.
    connectionLimit_ = std::clamp<int>(r->SegmentCount, 1, ConnectionSlots::Probe);
    CheckSegmentRanges(*r);
    qCInfo(lcEngine).noquote().nospace()
        << DownloadTag(ss.RecordIndex) << (resumed ? " resumes its plan of " : " planned ")
        << r->SegmentCount << " segments over "
        << (ss.sizeKnown() ? QString::number(r->FileSize.bytes())
                           : QStringLiteral("an unknown number of"))
        << " bytes" << (ranges ? "" : " (no ranges)");
    for (int j = 1; j <= r->SegmentCount; ++j) {
        qCDebug(lcEngine).noquote()
            << SegmentTag(ss.RecordIndex, j) << "range" << RangeText(*r->Segments.at(j));
    }
    ss.observer_.segmentsPlanned(connectionLimit_);
    if (ss.sizeKnown_ && r->FileSize.bytes() == 0) {
        // An empty file: nothing to fetch, only an empty target to make.
        for (int j = 1; j <= r->SegmentCount; ++j) {
            r->Segments.at(j)->State = SegmentState::Complete;
        }
        QTimer::singleShot(0, &ss, [&ss] {
            if (DownloadRecord* r = ss.record()) {
                r->Transferring = FlagFalse;
                r->Running = FlagFalse;
                ss.BuildOutputFile();
            }
        });
        return;
    }
    connectNext();
}

void SegmentConnections::startOverSegmentsWithoutTheirBytes() {
    DownloadRecord* r = session_.record();
    for (int j = 1; j <= r->SegmentCount; ++j) {
        SegmentRecord& s = *r->Segments.at(j);
        const std::int64_t stored = s.State == SegmentState::Complete
                                        ? s.Length.bytes()
                                        : s.Done.bytes() + s.Received.bytes();
        if (stored <= 0 || QFileInfo(s.PartFile).size() >= stored) {
            continue;
        }
        qCInfo(lcEngine).noquote() << SegmentTag(session_.RecordIndex, j)
                                   << "its part file lost its bytes: fetched again whole";
        r->BytesDone =
            Currency::fromBytes(std::max<std::int64_t>(0, r->BytesDone.bytes() - stored));
        s.StartPos = Currency::fromBytes(s.EndPos.bytes() - s.Length.bytes() + 1);
        s.Done = s.Received = Currency{};
        s.State = SegmentState::Idle;
    }
}

int SegmentConnections::nextUnserved() const {
    const DownloadRecord* r = session_.record();
    for (int j = 1; j <= r->SegmentCount; ++j) {
        if (r->Segments.at(j)->State != SegmentState::Complete && session_.slots_.serving(j) < 0) {
            return j;
        }
    }
    return 0;
}

void SegmentConnections::connectNext() {
    DownloadSession& ss = session_;
    DownloadRecord* r = ss.record();
    if (r == nullptr || r->Paused == FlagTrue || r->Completed == FlagTrue || ss.assembling_ ||
        pacer_.isActive()) {
        return;
    }
    int j = nextUnserved();
    if (j == 0 && !allStarted_) {
        allStarted();
        return;
    }
    const int k = ss.slots_.freeSlot(connectionLimit_);
    if (k < 0) {
        return;  // a segment waits until a connection falls free
    }
    if (j == 0) {
        j = ss.splitter_.splitForFreeConnection();
        if (j == 0) {
            return;
        }
    }
    connectOn(k, j);
}

void SegmentConnections::allStarted() {
    DownloadSession& ss = session_;
    DownloadRecord* r = ss.record();
    allStarted_ = true;
    ss.observer_.segmentRowsChanged(0);
    ss.observer_.pauseButtonChanged(true, ss.text(782));
    if (CanPreviewZip(*r)) {
        ss.observer_.zipPreviewOffered(ss.text(768));
    }
    ss.observer_.entryChanged(ss.RecordIndex);
    // A download resumed with every segment stored (its join was cut short, or found no room)
    // has nothing to fetch, only its file to build.
    if (allComplete()) {
        buildWhenAllComplete();
        return;
    }
    connectNext();  // a slot may be free for a split
}

void SegmentConnections::connectOn(int k, int j) {
    DownloadSession& ss = session_;
    DownloadRecord* r = ss.record();
    ss.slots_.assign(k, j);
    ConnectionSlot& slot = ss.slots_[k];
    SocketClass& socket = slot.socket();
    socket.SetEventSocket(ss.sockGlobal());
    socket.CloseSocket();
    slot.forgetConnection();
    SegmentRecord& s = *r->Segments.at(j);
    // A segment that had a connection before (restarted, or paused and resumed) asks for what
    // comes after the bytes that connection stored.
    forgetConnectionProgress(s);
    s.SegTick = MillisecondTick();
    ss.splitter_.connectionStarted(k, s.SegTick);
    qCInfo(lcEngine).noquote() << SegmentTag(ss.RecordIndex, j) << "connecting for" << RangeText(s)
                               << "on connection" << k + 1;
    ss.observer_.segmentRowsChanged(k + 1);
    ss.connectTo(socket);
    if (SocketEntry* e = ss.ctx_.sockets.entry(socket.SocketIndex)) {
        e->RateLimited = 0;
    }
    pacedSlot_ = k;
    pacer_.start(kConnectPacingMs);
}

void SegmentConnections::connectNextNow(int k) {
    if (pacer_.isActive() && pacedSlot_ == k) {
        pacer_.stop();
        connectNext();
    }
}

void SegmentConnections::connected(SocketClass& socket, int k) {
    DownloadSession& ss = session_;
    SegmentRecord* s = ss.servedSegment(k);
    if (s == nullptr) {
        return;
    }
    s->State = SegmentState::Connecting;
    ss.observer_.segmentRowsChanged(k + 1);
    if (ss.record()->Protocol == Protocol::Ftp) {
        // The dialogue starts with the server's greeting.
        s->SegTick = MillisecondTick() + SessionWatchdog::FirstAnswerGraceMs;
        ss.observer_.entryChanged(ss.RecordIndex);
    } else {
        ss.httpSegments_.sendRequest(socket, k);
    }
    connectNextNow(k);
}

void SegmentConnections::restart(int j, const char* why) {
    DownloadSession& ss = session_;
    DownloadRecord* r = ss.record();
    SegmentRecord& s = *r->Segments.at(j);
    int k = ss.slots_.serving(j);
    if (k < 0) {
        k = ss.slots_.freeSlot(connectionLimit_);
        if (k < 0) {
            return;  // it connects when a connection falls free
        }
        ss.slots_.assign(k, j);
    }
    s.SegTick = MillisecondTick();
    s.State = SegmentState::Idle;
    ss.slots_[k].close();
    forgetConnectionProgress(s);
    ss.splitter_.connectionStarted(k, s.SegTick);
    r->RetryCount = 0;
    qCInfo(lcEngine).noquote() << SegmentTag(ss.RecordIndex, j) << why << RangeText(s);
    SocketClass& socket = ss.slots_[k].socket();
    socket.SetEventSocket(ss.sockGlobal());
    if (SocketEntry* e = ss.ctx_.sockets.entry(socket.SocketIndex)) {
        e->RateLimited = 0;
    }
    ss.connectTo(socket);
}

void SegmentConnections::connectionLost(int k) {
    DownloadSession& ss = session_;
    const DownloadRecord* r = ss.record();
    const SegmentRecord* served = ss.servedSegment(k);
    if (r == nullptr || r->Paused == FlagTrue || r->Completed == FlagTrue ||
        r->Protocol == Protocol::Ftp || served == nullptr) {
        return;
    }
    const SegmentRecord& s = *served;
    if (s.State != SegmentState::Connecting && s.State != SegmentState::Receiving) {
        return;
    }
    ConnectionSlot& slot = ss.slots_[k];
    if (slot.closedEarly) {
        // A server that always hangs up is not asked again and again: the watchdog's pace.
        qCInfo(lcEngine).noquote() << SegmentTag(ss.RecordIndex, ss.segmentOf(k))
                                   << "closed early again: left to the watchdog";
        slot.close();
        return;
    }
    slot.closedEarly = true;
    restartSoon(k, "closed by the server early: connects again at");
}

void SegmentConnections::restartSoon(int k, const char* why) {
    DownloadSession& ss = session_;
    // From the event loop: the socket that reported is still in its handler. A pause, or the
    // slot's connection replaced meanwhile, makes the restart moot.
    QPointer<DownloadSession> self(&ss);
    const std::uint32_t generation = ss.slots_[k].generation();
    QTimer::singleShot(0, &ss, [self, k, generation, why] {
        const DownloadRecord* now = self ? self->record() : nullptr;
        if (now == nullptr || now->Paused == FlagTrue || self->segmentOf(k) == 0 ||
            self->slots_[k].generation() != generation) {
            return;
        }
        self->segments_.restart(self->segmentOf(k), why);
    });
}

void SegmentConnections::forgetConnectionProgress(SegmentRecord& s) {
    DownloadRecord* r = session_.record();
    if (r->RangesSupported == FlagTrue) {
        FoldReceived(s);
    } else if (s.Done.bytes() != 0 || s.Received.bytes() != 0) {
        // The whole file comes again from its first byte: what was stored is written over.
        r->BytesDone -= s.Done + s.Received;
        s.StartPos = s.Done = s.Received = Currency{};
        r->Percent = 0;
    }
}

void SegmentConnections::bodyEnded(int k) {
    DownloadRecord* r = session_.record();
    if (r == nullptr || session_.servedSegment(k) == nullptr) {
        return;
    }
    // The size was unknown: the body's end fixes it.
    SegmentRecord& s = *session_.servedSegment(k);
    const std::int64_t total = s.Done.bytes() + s.Received.bytes();
    s.EndPos = Currency::fromBytes(s.StartPos.bytes() + s.Received.bytes() - 1);
    s.Length = Currency::fromBytes(total);
    r->FileSize = Currency::fromBytes(total);
    r->Percent = 100;
    qCInfo(lcEngine).noquote() << SegmentTag(session_.RecordIndex, session_.segmentOf(k))
                               << "body ended: the file has" << total << "bytes";
    complete(k);
}

void SegmentConnections::complete(int k) {
    DownloadSession& ss = session_;
    DownloadRecord* r = ss.record();
    const int j = ss.segmentOf(k);
    ss.splitter_.connectionEnded(k, MillisecondTick());
    ss.slots_.release(k);
    r->Segments.at(j)->State = SegmentState::Complete;
    qCInfo(lcEngine).noquote() << SegmentTag(ss.RecordIndex, j) << "complete";
    ss.observer_.segmentRowsChanged(0);
    if (allComplete()) {
        buildWhenAllComplete();
        return;
    }
    if (r->Protocol == Protocol::Ftp) {
        ss.ftpSegments_.startWaitingSegment();  // the session this segment leaves free
    }
    connectNext();
}

bool SegmentConnections::allComplete() const {
    const DownloadRecord* r = session_.record();
    for (int j = 1; j <= r->SegmentCount; ++j) {
        const SegmentRecord& s = *r->Segments.at(j);
        if (s.State != SegmentState::Complete && s.InPlan != 0) {
            return false;
        }
    }
    return true;
}

void SegmentConnections::buildWhenAllComplete() {
    DownloadSession& ss = session_;
    DownloadRecord* r = ss.record();
    if (!allComplete() || ss.assembling_ || r->Completed == FlagTrue) {
        return;
    }
    r->Transferring = FlagFalse;
    r->Running = FlagFalse;
    ss.observer_.pauseButtonChanged(false, ss.text(782));
    ss.observer_.stateLabelChanged(ss.text(520));
    ss.observer_.progressChanged();
    QTimer::singleShot(0, &ss, &DownloadSession::BuildOutputFile);
}

void SegmentConnections::fallBackToOneSegment() {
    DownloadSession& ss = session_;
    DownloadRecord* r = ss.record();
    for (int j = 1; j <= r->SegmentCount; ++j) {
        const int k = ss.slots_.serving(j);
        if (r->Segments.at(j)->State != SegmentState::Complete &&
            (k < 0 || !ss.slots_[k].incoming.refusedRange)) {
            return;  // some segment still may get its range
        }
    }
    qCInfo(lcEngine).noquote() << DownloadTag(ss.RecordIndex)
                               << "every segment got the whole file: fetched as one segment";
    pacer_.stop();
    for (int k = 0; k < ConnectionSlots::Probe; ++k) {
        ss.slots_.release(k);
    }
    for (int j = 1; j <= r->SegmentCount; ++j) {
        QFile::remove(r->Segments.at(j)->PartFile);
    }
    r->RangesSupported = FlagFalse;
    r->BytesDone = Currency{};
    r->Percent = 0;
    PlanSegments(*r, 1, MillisecondTick(), ss.ctx_.settings.TempFolder);
    CheckSegmentRanges(*r);
    connectionLimit_ = 1;
    allStarted_ = false;
    ss.observer_.segmentsPlanned(1);
    ss.observer_.fileLabelChanged(UrlForDisplay(DecodeUrl(r->Url)) + QStringLiteral(" (") +
                                  ss.text(783) + u')');
    connectNext();
}
