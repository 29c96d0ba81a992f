#include "engine/session/session_watchdog.h"

#include "core/download_list/download_list.h"
#include "core/download_list/entry_state.h"
#include "core/types/tick.h"
#include "engine/session/ftp_segments.h"
#include "engine/session/segment_connections.h"
#include "engine/session/segment_splitter.h"
#include "engine/session/session_core.h"
#include "engine/session/session_log.h"

namespace {

constexpr int kTickMs = 1000;

}  // namespace

SessionWatchdog::SessionWatchdog(SessionCore& core, SegmentSplitter& splitter,
                                 SegmentConnections& segments, FtpSegments& ftpSegments)
    : core_(core), splitter_(splitter), segments_(segments), ftpSegments_(ftpSegments) {
    timer_.setInterval(kTickMs);
    QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] { tick(); });
}

void SessionWatchdog::tick() {
    DownloadRecord* r = core_.record();
    if (r == nullptr || HeldByPause(*r) || FileComplete(*r)) {
        return;
    }
    const std::int32_t now = MillisecondTick();
    const bool ftp = r->Protocol == Protocol::Ftp;
    splitter_.sample(now);
    for (int j = 1; j <= r->SegmentCount; ++j) {
        const SegmentRecord& s = *r->Segments.at(j);
        // A segment waiting for a free connection is not stalled.
        if (core_.connections.serving(j) < 0) {
            continue;
        }
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
        if (watched && silent > core_.ctx.segmentSilenceMs) {
            qCInfo(lcEngine).noquote()
                << SegmentTag(core_.recordIndex, j) << "brought too little for" << silent << "ms";
            segments_.restart(j, "restarted by the watchdog at");
            r = core_.record();
            if (r == nullptr) {
                return;
            }
        }
    }
    if (ftp) {
        ftpSegments_.watchWaitingSegments(now);
    }
    // A free connection may take over from one that has fallen far behind.
    segments_.connectNext();
}
