#include "engine/session/session_watchdog.h"

#include "core/download_list/download_list.h"
#include "core/types/tick.h"
#include "engine/session/download_session.h"
#include "engine/session/session_log.h"

namespace {

constexpr int kTickMs = 1000;

}  // namespace

SessionWatchdog::SessionWatchdog(DownloadSession& session) : session_(session) {
    timer_.setInterval(kTickMs);
    QObject::connect(&timer_, &QTimer::timeout, &session_, &DownloadSession::SegTimeOut_Timer);
}

void SessionWatchdog::tick() {
    DownloadSession& ss = session_;
    DownloadRecord* r = ss.record();
    if (r == nullptr || r->Paused == FlagTrue || r->Completed == FlagTrue) {
        return;
    }
    const std::int32_t now = MillisecondTick();
    const bool ftp = r->Protocol == Protocol::Ftp;
    ss.splitter_.sample(now);
    for (int j = 1; j <= r->SegmentCount; ++j) {
        const SegmentRecord& s = *r->Segments.at(j);
        // A segment waiting for a free connection is not stalled.
        if (ss.slots_.serving(j) < 0) {
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
        if (watched && silent > ss.ctx_.segmentSilenceMs) {
            qCInfo(lcEngine).noquote()
                << SegmentTag(ss.RecordIndex, j) << "brought too little for" << silent << "ms";
            ss.segments_.restart(j, "restarted by the watchdog at");
            r = ss.record();
            if (r == nullptr) {
                return;
            }
        }
    }
    if (ftp) {
        ss.ftpSegments_.watchWaitingSegments(now);
    }
    // A free connection may take over from one that has fallen far behind.
    ss.segments_.connectNext();
}
