#pragma once

#include <cstdint>

struct DownloadListState;

// The tray icon's level for a speed against the fastest seen: the integer part of
// speed / peak * 4.5, at most 4; 0 while there is no peak to compare with.
int TrayLevel(double speed, double peak);

// The transfer speed the status line and the tray icon show, measured once per scheduler
// tick from the program's total byte counter and smoothed over ticks.
class SpeedMeter {
public:
    // One tick: `totalBytes` is every byte received so far, `tick` the millisecond tick now.
    void update(const DownloadListState& list, std::int64_t totalBytes, std::int32_t tick);

    // Smoothed bytes per second; never exactly 0 once measured.
    float speed() const { return speed_; }
    // The highest smoothed speed seen, in whole bytes per second.
    std::int32_t maxSpeed() const { return maxSpeed_; }
    // Running entries that have transfer time, as the last tick counted them.
    int activeCount() const { return active_; }
    // The tray icon's level, 0 (idle) to 4 (as fast as it has been).
    int trayLevel() const;

private:
    float speed_ = 0;
    std::int32_t maxSpeed_ = 0;
    int active_ = 0;
    std::int64_t lastTotal_ = 0;
    std::int32_t lastTick_ = 0;
    bool measured_ = false;
};
