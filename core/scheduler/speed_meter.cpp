#include "core/scheduler/speed_meter.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/download_list/download_list.h"
#include "core/download_list/entry_state.h"

void SpeedMeter::update(const DownloadListState& list, std::int64_t totalBytes, std::int32_t tick) {
    // Each running entry's own average, the fallback when no time has passed to measure.
    int active = 0;
    double averages = 0;
    const int used = UsedSlots(list);
    for (int slot = 1; slot <= used; ++slot) {
        const DownloadRecord& r = list.DownloadList.at(slot);
        if (StateOf(r) == ListEntryState::Running && r.ElapsedSeconds > 0) {
            ++active;
            averages += double(r.BytesDone.bytes()) / r.ElapsedSeconds;
        }
    }
    active_ = active;

    // The counter only grows; one that went back (started afresh) measures nothing.
    const std::int64_t bytes = std::max<std::int64_t>(0, totalBytes - lastTotal_);
    lastTotal_ = totalBytes;
    // The first tick has no earlier one to measure from: everything received before it would
    // show as a burst and set a maximum no transfer reaches again.
    const std::int64_t ms =
        measured_ ? std::int64_t(std::uint32_t(tick) - std::uint32_t(lastTick_)) : 0;
    lastTick_ = tick;
    measured_ = true;

    const double rate = ms > 0 ? double(bytes) / double(ms) * 1000.0 : averages;
    speed_ = static_cast<float>(0.4 * double(speed_) + 0.6 * rate);
    if (speed_ == 0.0f) {
        speed_ = 1;
    }
    if (speed_ > float(maxSpeed_)) {
        const double limit = double(std::numeric_limits<std::int32_t>::max());
        maxSpeed_ = static_cast<std::int32_t>(std::min(limit, std::round(double(speed_))));
    }
}

int TrayLevel(double speed, double peak) {
    // Also keeps a NaN or a negative figure from reaching the cast.
    if (!(peak > 0) || !(speed > 0)) {
        return 0;
    }
    const double level = std::min(4.0, speed / peak * 4.5);
    return static_cast<int>(std::floor(level));
}

int SpeedMeter::trayLevel() const {
    return TrayLevel(double(speed_), double(maxSpeed_));
}
