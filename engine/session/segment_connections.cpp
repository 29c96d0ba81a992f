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
        if (ss.sizeKnown_ && AdoptExistingTarget(*r, ss.ctx_.settings.DownloadFolder,
                                                 ss.ctx_.takeWholeFilesOlderThan)) {
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
    ss.observer_.segmentsPlanned(r->SegmentCount);
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
    connectNext(1);
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

void SegmentConnections::connectNext(int from) {
    DownloadSession& ss = session_;
    DownloadRecord* r = ss.record();
    if (r == nullptr || r->Paused == FlagTrue) {
        return;
    }
    int j = from;
    while (j <= r->SegmentCount && r->Segments.at(j)->State == SegmentState::Complete) {
        ++j;
    }
    if (j > r->SegmentCount) {
        ss.observer_.segmentRowsChanged(0);
        ss.observer_.pauseButtonChanged(true, ss.text(782));
        if (CanPreviewZip(*r)) {
            ss.observer_.zipPreviewOffered(ss.text(768));
        }
        ss.observer_.entryChanged(ss.RecordIndex);
        // A download resumed with every segment stored (its join was cut short, or found no
        // room) has nothing to fetch, only its file to build.
        if (from == 1) {
            buildWhenAllComplete();
        }
        return;
    }
    const int k = j - 1;
    ConnectionSlot& slot = ss.slots_[k];
    SocketClass& socket = slot.socket();
    socket.SetEventSocket(ss.sockGlobal());
    socket.CloseSocket();
    slot.forgetConnection();
    // The watchdog may have started this segment already; its new request begins after what
    // that connection stored.
    forgetConnectionProgress(*r->Segments.at(j));
    r->Segments.at(j)->SegTick = MillisecondTick();
    qCInfo(lcEngine).noquote() << SegmentTag(ss.RecordIndex, j) << "connecting for"
                               << RangeText(*r->Segments.at(j));
    ss.connectTo(socket);
    if (SocketEntry* e = ss.ctx_.sockets.entry(socket.SocketIndex)) {
        e->RateLimited = 0;
    }
    pacer_.disconnect();
    pacedSegment_ = j + 1;
    QObject::connect(&pacer_, &QTimer::timeout, &ss, [this, j] { connectNext(j + 1); });
    pacer_.start(kConnectPacingMs);
}

void SegmentConnections::connectNextNow(int segment) {
    if (pacer_.isActive() && pacedSegment_ == segment) {
        pacer_.stop();
        connectNext(segment);
    }
}

void SegmentConnections::connected(SocketClass& socket, int k) {
    DownloadSession& ss = session_;
    DownloadRecord* r = ss.record();
    if (r == nullptr || k >= r->SegmentCount) {
        return;
    }
    SegmentRecord& s = *r->Segments.at(k + 1);
    s.State = SegmentState::Connecting;
    ss.observer_.segmentRowsChanged(k + 1);
    if (r->Protocol == Protocol::Ftp) {
        // The dialogue starts with the server's greeting.
        s.SegTick = MillisecondTick() + SessionWatchdog::FirstAnswerGraceMs;
        ss.observer_.entryChanged(ss.RecordIndex);
    } else {
        ss.httpSegments_.sendRequest(socket, k);
    }
    connectNextNow(k + 2);
}

void SegmentConnections::restart(int j, const char* why) {
    DownloadSession& ss = session_;
    DownloadRecord* r = ss.record();
    SegmentRecord& s = *r->Segments.at(j);
    const int k = j - 1;
    s.SegTick = MillisecondTick();
    s.State = SegmentState::Idle;
    ss.slots_[k].close();
    forgetConnectionProgress(s);
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
    if (r == nullptr || r->Paused == FlagTrue || r->Completed == FlagTrue ||
        r->Protocol == Protocol::Ftp || k >= r->SegmentCount) {
        return;
    }
    const SegmentRecord& s = *r->Segments.at(k + 1);
    if (s.State != SegmentState::Connecting && s.State != SegmentState::Receiving) {
        return;
    }
    ConnectionSlot& slot = ss.slots_[k];
    if (slot.closedEarly) {
        // A server that always hangs up is not asked again and again: the watchdog's pace.
        qCInfo(lcEngine).noquote()
            << SegmentTag(ss.RecordIndex, k + 1) << "closed early again: left to the watchdog";
        slot.close();
        return;
    }
    slot.closedEarly = true;
    // From the event loop: the socket that reported is still in its handler.
    QPointer<DownloadSession> self(&ss);
    const std::uint32_t generation = slot.generation();
    QTimer::singleShot(0, &ss, [self, k, generation] {
        const DownloadRecord* now = self ? self->record() : nullptr;
        if (now == nullptr || now->Paused == FlagTrue || k >= now->SegmentCount ||
            self->slots_[k].generation() != generation) {
            return;
        }
        self->segments_.restart(k + 1, "closed by the server early: connects again at");
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
    if (r == nullptr) {
        return;
    }
    // The size was unknown: the body's end fixes it.
    SegmentRecord& s = *r->Segments.at(k + 1);
    const std::int64_t total = s.Done.bytes() + s.Received.bytes();
    s.EndPos = Currency::fromBytes(s.StartPos.bytes() + s.Received.bytes() - 1);
    s.Length = Currency::fromBytes(total);
    r->FileSize = Currency::fromBytes(total);
    r->Percent = 100;
    qCInfo(lcEngine).noquote() << SegmentTag(session_.RecordIndex, k + 1)
                               << "body ended: the file has" << total << "bytes";
    complete(k);
}

void SegmentConnections::complete(int k) {
    DownloadSession& ss = session_;
    DownloadRecord* r = ss.record();
    ss.slots_[k].close();
    r->Segments.at(k + 1)->State = SegmentState::Complete;
    qCInfo(lcEngine).noquote() << SegmentTag(ss.RecordIndex, k + 1) << "complete";
    ss.observer_.segmentRowsChanged(0);
    if (r->Protocol == Protocol::Ftp && !allComplete()) {
        ss.ftpSegments_.startWaitingSegment();  // the session this segment leaves free
    }
    buildWhenAllComplete();
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
        const SegmentRecord& s = *r->Segments.at(j);
        if (s.State != SegmentState::Complete && !ss.slots_[j - 1].incoming.refusedRange) {
            return;  // some segment still may get its range
        }
    }
    qCInfo(lcEngine).noquote() << DownloadTag(ss.RecordIndex)
                               << "every segment got the whole file: fetched as one segment";
    for (int k = 0; k < r->SegmentCount; ++k) {
        ss.slots_[k].close();
        QFile::remove(r->Segments.at(k + 1)->PartFile);
    }
    r->RangesSupported = FlagFalse;
    r->BytesDone = Currency{};
    r->Percent = 0;
    PlanSegments(*r, 1, MillisecondTick(), ss.ctx_.settings.TempFolder);
    CheckSegmentRanges(*r);
    ss.observer_.segmentsPlanned(1);
    ss.observer_.fileLabelChanged(UrlForDisplay(DecodeUrl(r->Url)) + QStringLiteral(" (") +
                                  ss.text(783) + u')');
    connectNext(1);
}
