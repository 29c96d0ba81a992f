#include "engine/session/segment_writer.h"

#include <algorithm>
#include <cerrno>
#include <utility>

#include "core/download_list/download_list.h"
#include "core/download_list/part_layout.h"
#include "core/download_list/transfer_rate.h"
#include "core/paths/no_follow_open.h"
#include "core/types/tick.h"
#include "engine/files/segment_files.h"
#include "engine/session/segment_plan.h"
#include "engine/session/session_actions.h"
#include "engine/session/session_core.h"
#include "engine/session/session_log.h"

namespace {

// Milliseconds from `since` to `now` on the wrapping 32-bit tick.
std::int32_t TicksSince(std::int32_t now, std::int32_t since) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(now) -
                                     static_cast<std::uint32_t>(since));
}

// Bytes a segment still has to fetch on its current connection.
std::int64_t Remaining(const SegmentRecord& s) {
    return s.EndPos.bytes() - s.StartPos.bytes() + 1 - s.Received.bytes();
}

// At least this much must arrive within the watchdog's silence time for a segment to count as
// alive: 1 KiB in 30 s. A connection that only trickles is restarted like a silent one.
constexpr std::int64_t kAliveBytes = 512;
// The observer hears of progress at most this often.
constexpr std::int32_t kRefreshMs = 200;

}  // namespace

bool SegmentWriter::store(int k, const char* data, qsizetype length) {
    DownloadRecord* r = core_.record();
    if (r == nullptr || length <= 0) {
        return false;
    }
    SegmentRecord* served = core_.servedSegment(k);
    if (served == nullptr) {
        return false;
    }
    SegmentRecord& s = *served;
    // Bytes beyond the range asked for belong to no segment, whether the body comes with a
    // length or in chunks: a chunked answer to a range must not run into the next segment.
    const BodyEnd end = core_.connections[k].incoming.bodyEnd;
    const bool bounded = end == BodyEnd::AtLength || (end == BodyEnd::Chunked && core_.sizeKnown());
    if (bounded) {
        length = static_cast<qsizetype>(std::min<std::int64_t>(length, Remaining(s)));
    }
    const std::int32_t now = MillisecondTick();
    s.State = SegmentState::Receiving;
    if (!write(k, data, length, now)) {
        return false;
    }
    s.Received += Currency::fromBytes(length);
    core_.connections[k].closedEarly = false;
    if (bounded) {
        CheckSegmentRange(s);
    }
    countProgress(k, length, now);
    return bounded && Remaining(s) <= 0;
}

bool SegmentWriter::write(int k, const char* data, qsizetype length, std::int32_t now) {
    const SegmentRecord& s = *core_.servedSegment(k);
    ConnectionSlot& slot = core_.connections[k];
    SegmentFiles& files = core_.ctx.files;
    const std::int32_t file = slot.partFile(s.PartFile, now);
    // A part file that cannot be opened (no descriptor left, say) stores nothing either.
    const bool opened = file > 0;
    if (opened) {
        files.VelmoraSeekFile(
            file, Currency::fromBytes(RangeOffsetInFile(*core_.record(), s)) + s.Done + s.Received);
    }
    // A flush the disk refuses loses the bytes as surely as a write it refuses.
    if (opened && files.VelmoraWriteFile(file, data, static_cast<std::int32_t>(length)) == length &&
        slot.flushPartFileEverySecond(now)) {
        return true;
    }
    const int error = opened ? files.lastErrno(file) : files.lastOpenErrno();
    const QString why =
        error == ENOSPC || error == EDQUOT
            ? QStringLiteral("disk full: cannot write %1").arg(s.PartFile)
            : QStringLiteral("cannot write %1: %2").arg(s.PartFile, OpenErrorText(error));
    qCInfo(lcEngine).noquote() << SegmentTag(core_.recordIndex, core_.segmentOf(k)) << why;
    session_.stopPaused(why, why);
    return false;
}

void SegmentWriter::countProgress(int k, qsizetype length, std::int32_t now) {
    DownloadRecord* r = core_.record();
    SegmentRecord& s = *core_.servedSegment(k);
    Incoming& in = core_.connections[k].incoming;
    r->BytesDone += Currency::fromBytes(length);
    if (r->FileSize.bytes() > 0) {
        r->Percent = static_cast<float>(double(r->BytesDone.bytes()) * 100 / r->FileSize.bytes());
    }
    r->ElapsedSeconds += static_cast<float>(TicksSince(now, r->LastTick)) / 1000.0f;
    r->LastTick = now;
    // The first byte after reconnects ends the reconnecting state: shown at once.
    const bool wasSilent = std::exchange(core_.connections[k].silentRestarts, 0) > 0;
    in.sinceAlive += length;
    if (in.sinceAlive >= kAliveBytes) {
        s.SegTick = now;
        in.sinceAlive = 0;
    }
    // -1: no time left is shown until the rate is known.
    r->RemainingSeconds = static_cast<float>(TransferTimeLeft(*r).value_or(-1));
    if (wasSilent || TicksSince(now, lastRefreshTick_) >= kRefreshMs) {
        lastRefreshTick_ = now;
        core_.observer.progressChanged();
    }
    if (wasSilent) {
        core_.observer.entryChanged(core_.recordIndex);
    }
}
