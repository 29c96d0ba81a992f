#include "core/scheduler/speed_meter.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/download_list/download_list.h"
#include "core/download_list/entry_state.h"

void SpeedMeter::update(const DownloadListState& list, double runningRates) {
    int active = 0;
    const int used = UsedSlots(list);
    for (int slot = 1; slot <= used; ++slot) {
        const DownloadRecord& r = list.DownloadList.at(slot);
        active += StateOf(r) == ListEntryState::Running && r.ElapsedSeconds > 0 ? 1 : 0;
    }
    active_ = active;

    // Also keeps a NaN or a negative figure out.
    speed_ = runningRates > 0 ? static_cast<float>(runningRates) : 0.0f;
    if (speed_ == 0.0f) {
        speed_ = 1;  // never exactly 0 once measured
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
