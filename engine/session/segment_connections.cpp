#include "engine/session/segment_connections.h"

#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QTimer>
#include <algorithm>

#include "core/download_list/download_list.h"
#include "core/download_list/entry_options.h"
#include "core/download_list/entry_state.h"
#include "core/download_list/list_additions.h"
#include "core/download_list/part_layout.h"
#include "core/download_list/resume_rebase.h"
#include "core/settings/settings.h"
#include "core/text/text_table.h"
#include "core/text/url_codec.h"
#include "core/types/tick.h"
#include "core/urls/parse_url.h"
#include "engine/assembly/existing_target.h"
#include "engine/assembly/sorted_target.h"
#include "engine/files/file_room.h"
#include "engine/session/failure_words.h"
#include "engine/session/ftp_segments.h"
#include "engine/session/segment_plan.h"
#include "engine/session/segment_splitter.h"
#include "engine/session/session_actions.h"
#include "engine/session/session_core.h"
#include "engine/session/session_log.h"
#include "engine/session/session_prompts.h"
#include "engine/session/session_watchdog.h"
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

// The name is final here and nothing is planned yet: the one moment the folder may be chosen.
void SortByItsKind(SessionCore& core, DownloadRecord& r) {
    const QString unusable = SortByKind(r, core.ctx.settings);
    if (unusable.isEmpty()) {
        return;
    }
    qCInfo(lcEngine).noquote() << DownloadTag(core.recordIndex) << "the folder" << unusable
                               << "cannot be made or written: into the download folder";
    core.ctx.prompts.showMessage(
        Worded(core.ctx.texts, 1480,
               QStringLiteral("The folder %1 cannot be created or written: files of its kind "
                              "go to the download folder."))
            .arg(unusable),
        SessionPrompts::Icon::Information);
}

}  // namespace

SegmentConnections::SegmentConnections(SessionCore& core, SessionActions& session,
                                       SegmentSplitter& splitter, FtpSegments& ftpSegments)
    : core_(core), session_(session), splitter_(splitter), ftpSegments_(ftpSegments) {
    pacer_.setSingleShot(true);
    QObject::connect(&pacer_, &QTimer::timeout, &pacer_, [this] { connectNext(); });
    for (auto& wait : busy_) {
        wait = std::make_unique<BusyWait>([this] { core_.shownStateChanged(); });
    }
}

void SegmentConnections::stop() {
    pacer_.stop();
    for (auto& wait : busy_) {
        wait->cancel();
    }
}

void SegmentConnections::start() {
    DownloadRecord* r = core_.record();
    if (r == nullptr) {
        return;
    }
    core_.observer.pauseButtonChanged(false, core_.text(782));
    const bool ranges = r->RangesSupported == FlagTrue;
    core_.observer.fileLabelChanged(UrlForDisplay(DecodeUrl(r->Url)) + u' ' +
                                    (ranges ? QString() : u'(' + core_.text(783) + u')'));
    const std::int32_t now = MillisecondTick();
    const bool resumed = ResumingFromPlan(*r) && r->SegmentCount >= 1;
    allStarted_ = false;
    splitter_.forget();
    if (!(resumed ? continuePlan(*r, ranges, now) : makePlan(*r, ranges, now)) ||
        !reserveRoom(*r)) {
        return;
    }
    // A resumed plan runs as many connections as it had when planned; one whose ranges were
    // split further (more records than slots) runs all eight.
    connectionLimit_ = serverLimit(std::clamp<int>(r->SegmentCount, 1, ConnectionSlots::Probe));
    if (const int taken = serverLimit(ConnectionSlots::Probe); taken < ConnectionSlots::Probe) {
        qCInfo(lcEngine).noquote() << DownloadTag(core_.recordIndex) << "its server took" << taken
                                   << "connections at once before: no more are asked of it";
    }
    CheckSegmentRanges(*r);
    logPlan(*r, resumed, ranges);
    core_.observer.segmentsPlanned(connectionLimit_);
    if (core_.probeGaveSize && r->FileSize.bytes() == 0) {
        // An empty file: nothing to fetch, only an empty target to make.
        for (int j = 1; j <= r->SegmentCount; ++j) {
            r->Segments.at(j)->State = SegmentState::Complete;
        }
        QTimer::singleShot(0, &core_.lifetime(), [this] {
            if (DownloadRecord* r = core_.record()) {
                MarkTransferDone(*r);
                session_.buildOutputFile();
            }
        });
        return;
    }
    connectNext();
}

bool SegmentConnections::continuePlan(DownloadRecord& r, bool ranges, std::int32_t now) {
    MarkResuming(r, false);
    if (AdoptJoinedTarget(r, core_.ctx.settings.DownloadFolder)) {
        // Built by an earlier run that ended before its list said so: nothing to fetch again.
        qCInfo(lcEngine).noquote() << DownloadTag(core_.recordIndex)
                                   << "was built before the list could say so:" << r.SavePath;
        QTimer::singleShot(0, &core_.lifetime(), [this] { session_.reportFinished(); });
        return false;
    }
    // The ticks saved with the plan may be minutes old: a segment still waiting for its
    // turn to connect is not stalled, and the watchdog must not start it early.
    for (int j = 1; j <= r.SegmentCount; ++j) {
        r.Segments.at(j)->SegTick = now;
    }
    if (ranges) {
        startOverSegmentsWithoutTheirBytes();
        return true;
    }
    // Without ranges the single segment can only start over.
    SegmentRecord& s = *r.Segments.at(1);
    s.StartPos = s.Received = s.Done = Currency{};
    s.SegFlagB = 0;
    s.State = SegmentState::Idle;
    ForgetTransfer(r);
    r.LastTick = now;
    return true;
}

bool SegmentConnections::makePlan(DownloadRecord& r, bool ranges, std::int32_t now) {
    MarkResuming(r, false);
    SortByItsKind(core_, r);
    if (core_.probeGaveSize && core_.ctx.adoptWholeFiles &&
        AdoptExistingTarget(r, core_.ctx.settings.DownloadFolder, core_.ctx.finishedFiles,
                            core_.serverModified)) {
        // An earlier run fetched it: nothing to plan or fetch.
        qCInfo(lcEngine).noquote()
            << DownloadTag(core_.recordIndex) << "already whole at" << r.SavePath;
        QTimer::singleShot(0, &core_.lifetime(), [this] { session_.reportFinished(); });
        return false;
    }
    const Settings& settings = core_.ctx.settings;
    const bool limiter = settings.UseSpeedLimiter == FlagTrue && settings.SpeedLimiter > 0;
    const int asked = ReadEntryOptions(r).segments;
    const int count = core_.sizeKnown() ? PlannedSegmentCount(
                                              r.FileSize.bytes(),
                                              serverLimit(asked > 0 ? asked : settings.MaxSegments),
                                              ranges, limiter)
                                        : 1;
    PlanSegments(r, count, now, settings.TempFolder);
    return true;
}

bool SegmentConnections::reserveRoom(const DownloadRecord& r) {
    // Parts of a list from before each grow as their bytes come, as they always did.
    if (!core_.sizeKnown() || !InOneFile(r)) {
        return true;
    }
    const QString why =
        ReserveRoom(r.Segments.at(1)->PartFile, r.FileSize.bytes(), core_.ctx.texts);
    if (why.isEmpty()) {
        return true;
    }
    qCInfo(lcEngine).noquote() << DownloadTag(core_.recordIndex) << why;
    // Asked from the event loop: the session is still starting its segments.
    QTimer::singleShot(0, &core_.lifetime(), [this, why] { session_.stopPaused(why, why); });
    return false;
}

void SegmentConnections::logPlan(const DownloadRecord& r, bool resumed, bool ranges) const {
    qCInfo(lcEngine).noquote().nospace()
        << DownloadTag(core_.recordIndex) << (resumed ? " resumes its plan of " : " planned ")
        << r.SegmentCount << " segments over "
        << (core_.sizeKnown() ? QString::number(r.FileSize.bytes())
                              : QStringLiteral("an unknown number of"))
        << " bytes" << (ranges ? "" : " (no ranges)");
    for (int j = 1; j <= r.SegmentCount; ++j) {
        qCDebug(lcEngine).noquote()
            << SegmentTag(core_.recordIndex, j) << "range" << RangeText(*r.Segments.at(j));
    }
}

void SegmentConnections::startOverSegmentsWithoutTheirBytes() {
    DownloadRecord* r = core_.record();
    for (int j = 1; j <= r->SegmentCount; ++j) {
        SegmentRecord& s = *r->Segments.at(j);
        const std::int64_t stored = StoredBytes(s);
        if (stored <= 0 || QFileInfo(s.PartFile).size() >= RangeOffsetInFile(*r, s) + stored) {
            continue;
        }
        qCInfo(lcEngine).noquote() << SegmentTag(core_.recordIndex, j)
                                   << "its part file lost its bytes: fetched again whole";
        r->BytesDone =
            Currency::fromBytes(std::max<std::int64_t>(0, r->BytesDone.bytes() - stored));
        s.StartPos = Currency::fromBytes(s.EndPos.bytes() - s.Length.bytes() + 1);
        s.Done = s.Received = Currency{};
        s.State = SegmentState::Idle;
    }
}

int SegmentConnections::nextUnserved() const {
    const DownloadRecord* r = core_.record();
    for (int j = 1; j <= r->SegmentCount; ++j) {
        if (r->Segments.at(j)->State != SegmentState::Complete &&
            core_.connections.serving(j) < 0) {
            return j;
        }
    }
    return 0;
}

void SegmentConnections::connectNext() {
    DownloadRecord* r = core_.record();
    // Without a plan the probe is out (a start again): it plans and connects.
    if (r == nullptr || r->SegmentCount < 1 || HeldByPause(*r) || FileComplete(*r) ||
        core_.assembling || pacer_.isActive()) {
        return;
    }
    int j = nextUnserved();
    if (j == 0 && !allStarted_) {
        allStarted();
        return;
    }
    // Connections beyond a lowered limit that still bring bytes run on; none joins them.
    const int k =
        busySlots() < connectionLimit_ ? core_.connections.freeSlot(connectionLimit_) : -1;
    if (k < 0) {
        return;  // a segment waits until a connection falls free
    }
    if (j == 0) {
        // Where the FTP server refused a session to one of this download's connections, a
        // range split off for yet another connection would only wait as well.
        const bool ftpFull = r->Protocol == Protocol::Ftp && ftpSegments_.sessionsFull();
        j = ftpFull ? 0 : splitter_.splitForFreeConnection(connectionLimit_);
        if (j == 0) {
            return;
        }
    }
    connectOn(k, j);
}

void SegmentConnections::allStarted() {
    DownloadRecord* r = core_.record();
    allStarted_ = true;
    core_.observer.segmentRowsChanged(0);
    core_.observer.pauseButtonChanged(true, core_.text(782));
    if (CanPreviewZip(*r)) {
        core_.observer.zipPreviewOffered(core_.text(768));
    }
    core_.observer.entryChanged(core_.recordIndex);
    // A download resumed with every segment stored (its join was cut short, or found no room)
    // has nothing to fetch, only its file to build.
    if (allComplete()) {
        buildWhenAllComplete();
        return;
    }
    connectNext();  // a slot may be free for a split
}

void SegmentConnections::connectOn(int k, int j) {
    DownloadRecord* r = core_.record();
    core_.connections.assign(k, j);
    ConnectionSlot& slot = core_.connections[k];
    SocketClass& socket = slot.socket();
    socket.SetEventSocket(core_.sockGlobal());
    socket.CloseSocket();
    slot.forgetConnection();
    SegmentRecord& s = *r->Segments.at(j);
    // A segment that had a connection before (restarted, or paused and resumed) asks for what
    // comes after the bytes that connection stored.
    forgetConnectionProgress(s);
    s.SegTick = MillisecondTick();
    splitter_.connectionStarted(k, s.SegTick);
    qCInfo(lcEngine).noquote() << SegmentTag(core_.recordIndex, j) << "connecting for"
                               << RangeText(s) << "on connection" << k + 1 << core_.routeWords();
    core_.observer.segmentRowsChanged(k + 1);
    core_.connectTo(socket);
    if (SocketEntry* e = core_.ctx.sockets.entry(socket.SocketIndex)) {
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

bool SegmentConnections::connected(int k) {
    SegmentRecord* s = core_.servedSegment(k);
    if (s == nullptr) {
        return false;
    }
    s->State = SegmentState::Connecting;
    core_.observer.segmentRowsChanged(k + 1);
    if (core_.record()->Protocol == Protocol::Ftp) {
        // The dialogue starts with the server's greeting.
        s->SegTick = MillisecondTick() + SessionWatchdog::FirstAnswerGraceMs;
        core_.observer.entryChanged(core_.recordIndex);
    }
    return true;
}

void SegmentConnections::restart(int j, const char* why) {
    DownloadRecord* r = core_.record();
    SegmentRecord& s = *r->Segments.at(j);
    int k = core_.connections.serving(j);
    if (k < 0) {
        k = core_.connections.freeSlot(connectionLimit_);
        if (k < 0) {
            return;  // it connects when a connection falls free
        }
        core_.connections.assign(k, j);
    }
    s.SegTick = MillisecondTick();
    s.State = SegmentState::Idle;
    core_.connections[k].close();
    forgetConnectionProgress(s);
    splitter_.connectionStarted(k, s.SegTick);
    r->RetryCount = 0;
    qCInfo(lcEngine).noquote() << SegmentTag(core_.recordIndex, j) << why << RangeText(s)
                               << core_.routeWords();
    SocketClass& socket = core_.connections[k].socket();
    socket.SetEventSocket(core_.sockGlobal());
    if (SocketEntry* e = core_.ctx.sockets.entry(socket.SocketIndex)) {
        e->RateLimited = 0;
    }
    core_.connectTo(socket);
}

void SegmentConnections::connectionLost(int k) {
    const DownloadRecord* r = core_.record();
    const SegmentRecord* served = core_.servedSegment(k);
    if (r == nullptr || HeldByPause(*r) || FileComplete(*r) || r->Protocol == Protocol::Ftp ||
        served == nullptr) {
        return;
    }
    const SegmentRecord& s = *served;
    if (s.State != SegmentState::Connecting && s.State != SegmentState::Receiving) {
        return;
    }
    ConnectionSlot& slot = core_.connections[k];
    if (slot.closedEarly) {
        // A server that always hangs up is not asked again and again: the watchdog's pace.
        qCInfo(lcEngine).noquote() << SegmentTag(core_.recordIndex, core_.segmentOf(k))
                                   << "closed early again: left to the watchdog";
        slot.close();
        return;
    }
    slot.closedEarly = true;
    restartSoon(k, "closed by the server early: connects again at");
}

void SegmentConnections::restartSoon(int k, const char* why) {
    // From the event loop: the socket that reported is still in its handler. A pause, or the
    // slot's connection replaced meanwhile, makes the restart moot.
    const std::uint32_t generation = core_.connections[k].generation();
    QTimer::singleShot(0, &core_.lifetime(), [this, k, generation, why] {
        const DownloadRecord* now = core_.record();
        if (now == nullptr || HeldByPause(*now) || core_.segmentOf(k) == 0 ||
            core_.connections[k].generation() != generation) {
            return;
        }
        restart(core_.segmentOf(k), why);
    });
}

void SegmentConnections::forgetConnectionProgress(SegmentRecord& s) {
    DownloadRecord* r = core_.record();
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
    DownloadRecord* r = core_.record();
    if (r == nullptr || core_.servedSegment(k) == nullptr) {
        return;
    }
    // The size was unknown: the body's end fixes it.
    SegmentRecord& s = *core_.servedSegment(k);
    const std::int64_t total = s.Done.bytes() + s.Received.bytes();
    s.EndPos = Currency::fromBytes(s.StartPos.bytes() + s.Received.bytes() - 1);
    s.Length = Currency::fromBytes(total);
    r->FileSize = Currency::fromBytes(total);
    r->Percent = 100;
    qCInfo(lcEngine).noquote() << SegmentTag(core_.recordIndex, core_.segmentOf(k))
                               << "body ended: the file has" << total << "bytes";
    complete(k);
}

void SegmentConnections::complete(int k) {
    DownloadRecord* r = core_.record();
    const int j = core_.segmentOf(k);
    splitter_.connectionEnded(k, MillisecondTick());
    core_.connections.release(k);
    r->Segments.at(j)->State = SegmentState::Complete;
    qCInfo(lcEngine).noquote() << SegmentTag(core_.recordIndex, j) << "complete";
    core_.observer.segmentRowsChanged(0);
    if (allComplete()) {
        buildWhenAllComplete();
        return;
    }
    if (r->Protocol == Protocol::Ftp) {
        ftpSegments_.startWaitingSegment();  // the session this segment leaves free
    }
    connectNext();
}

bool SegmentConnections::allComplete() const {
    const DownloadRecord* r = core_.record();
    // No plan (a start again from the first byte, its probe still out) is nothing complete: a
    // late event of the old plan's connections must not build a file of none of its bytes.
    if (r->SegmentCount < 1) {
        return false;
    }
    for (int j = 1; j <= r->SegmentCount; ++j) {
        const SegmentRecord& s = *r->Segments.at(j);
        if (s.State != SegmentState::Complete && s.InPlan != 0) {
            return false;
        }
    }
    return true;
}

void SegmentConnections::buildWhenAllComplete() {
    DownloadRecord* r = core_.record();
    if (!allComplete() || core_.assembling || FileComplete(*r)) {
        return;
    }
    MarkTransferDone(*r);
    core_.observer.pauseButtonChanged(false, core_.text(782));
    core_.observer.stateLabelChanged(core_.text(520));
    core_.observer.progressChanged();
    QTimer::singleShot(0, &core_.lifetime(), [this] { session_.buildOutputFile(); });
}

void SegmentConnections::fallBackToOneSegment() {
    DownloadRecord* r = core_.record();
    for (int j = 1; j <= r->SegmentCount; ++j) {
        const int k = core_.connections.serving(j);
        if (r->Segments.at(j)->State != SegmentState::Complete &&
            (k < 0 || !core_.connections[k].incoming.refusedRange)) {
            return;  // some segment still may get its range
        }
    }
    qCInfo(lcEngine).noquote() << DownloadTag(core_.recordIndex)
                               << "every segment got the whole file: fetched as one segment";
    pacer_.stop();
    for (int k = 0; k < ConnectionSlots::Probe; ++k) {
        core_.connections.release(k);
    }
    for (int j = 1; j <= r->SegmentCount; ++j) {
        QFile::remove(r->Segments.at(j)->PartFile);
    }
    r->RangesSupported = FlagFalse;
    r->BytesDone = Currency{};
    r->Percent = 0;
    PlanSegments(*r, 1, MillisecondTick(), core_.ctx.settings.TempFolder);
    CheckSegmentRanges(*r);
    connectionLimit_ = 1;
    allStarted_ = false;
    core_.observer.segmentsPlanned(1);
    core_.observer.fileLabelChanged(UrlForDisplay(DecodeUrl(r->Url)) + QStringLiteral(" (") +
                                    core_.text(783) + u')');
    connectNext();
}

void SegmentConnections::waitBusy(int k, std::optional<std::int64_t> retryAfterMs,
                                  const QString& why) {
    SegmentRecord* s = core_.servedSegment(k);
    if (s == nullptr) {
        return;
    }
    const int j = core_.segmentOf(k);
    // No socket is held while it waits, and the bytes stored so far stay the segment's.
    core_.connections[k].close();
    forgetConnectionProgress(*s);
    s->State = SegmentState::Idle;
    const std::uint32_t generation = core_.connections[k].generation();
    const bool waits = busy_[k]->begin(
        retryAfterMs, core_.ctx.busyFirstWaitMs, core_.ctx.busyTries, [this, k, generation] {
            const DownloadRecord* r = core_.record();
            if (r == nullptr || HeldByPause(*r) || core_.segmentOf(k) == 0 ||
                core_.connections[k].generation() != generation) {
                return;
            }
            restart(core_.segmentOf(k), "asks again after the server was busy at");
        });
    if (!waits) {
        qCInfo(lcEngine).noquote()
            << SegmentTag(core_.recordIndex, j) << "put off too often in a row:" << why;
        session_.failWith(why);
        return;
    }
    ++busyBegun_;
    lastBusyWaitMs_ = busy_[k]->lastWaitMs();
    qCInfo(lcEngine).noquote() << SegmentTag(core_.recordIndex, j) << why << "- waits"
                               << lastBusyWaitMs_ << "ms" << (retryAfterMs ? "as asked" : "");
    core_.observer.segmentRowsChanged(k + 1);
    core_.observer.entryChanged(core_.recordIndex);
}

std::optional<std::int64_t> SegmentConnections::busyLeftMs() const {
    std::optional<std::int64_t> shortest;
    for (int k = 0; k < ConnectionSlots::Probe; ++k) {
        if (core_.connections[k].segment == 0) {
            continue;
        }
        if (!busy_[k]->waiting()) {
            return std::nullopt;  // some connection is at work
        }
        shortest = std::min(shortest.value_or(busy_[k]->msLeft()), busy_[k]->msLeft());
    }
    return shortest;
}
