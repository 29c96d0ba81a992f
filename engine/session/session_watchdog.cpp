#include "engine/session/session_watchdog.h"

#include <algorithm>

#include "core/download_list/download_list.h"
#include "core/download_list/entry_state.h"
#include "core/settings/settings.h"
#include "core/types/tick.h"
#include "engine/session/failure_words.h"
#include "engine/session/ftp_segments.h"
#include "engine/session/segment_connections.h"
#include "engine/session/segment_splitter.h"
#include "engine/session/session_actions.h"
#include "engine/session/session_core.h"
#include "engine/session/session_log.h"

namespace {

constexpr int kTickMs = 1000;

}  // namespace

SessionWatchdog::SessionWatchdog(SessionCore& core, SessionActions& session,
                                 SegmentSplitter& splitter, SegmentConnections& segments,
                                 FtpSegments& ftpSegments)
    : core_(core),
      session_(session),
      splitter_(splitter),
      segments_(segments),
      ftpSegments_(ftpSegments) {
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
        // A segment waiting for a free connection, or for a busy server's time, is not stalled.
        if (core_.connections.serving(j) < 0 ||
            segments_.waitingBusy(core_.connections.serving(j))) {
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
            if (!restartSilent(core_.connections.serving(j), j, silent)) {
                return;
            }
            r = core_.record();
            if (r == nullptr) {
                return;
            }
        }
    }
    showAttempt();
    if (ftp) {
        ftpSegments_.watchWaitingSegments(now);
    }
    // A free connection may take over from one that has fallen far behind.
    segments_.connectNext();
}

bool SessionWatchdog::restartSilent(int k, int j, std::int32_t silent) {
    ConnectionSlot& slot = core_.connections[k];
    const int tries = std::max(core_.ctx.settings.MaxTries, 1);
    // Every connection has had its tries without a byte: the server is gone, not slow.
    if (slot.silentRestarts >= tries && core_.silentRestarts() >= tries) {
        qCInfo(lcEngine).noquote() << DownloadTag(core_.recordIndex) << "nothing came after"
                                   << tries << "reconnects in a row";
        shownAttempt_ = 0;
        session_.failWith(QLatin1String(SessionReason::NoAnswer));
        return false;
    }
    qCInfo(lcEngine).noquote() << SegmentTag(core_.recordIndex, j) << "brought too little for"
                               << silent << "ms";
    ++slot.silentRestarts;
    segments_.restart(j, "restarted by the watchdog at");
    return true;
}

void SessionWatchdog::showAttempt() {
    const int attempt = core_.silentRestarts();
    if (attempt == shownAttempt_) {
        return;
    }
    shownAttempt_ = attempt;
    if (attempt > 0) {
        // Nothing comes, so no time left can be told; the next byte computes it again.
        if (DownloadRecord* r = core_.record()) {
            r->RemainingSeconds = -1;
        }
        qCInfo(lcEngine).noquote()
            << DownloadTag(core_.recordIndex) << "reconnecting, attempt" << attempt;
        core_.observer.stateLabelChanged(ReconnectingWords(attempt, core_.ctx.texts));
    }
    core_.shownStateChanged();
}
