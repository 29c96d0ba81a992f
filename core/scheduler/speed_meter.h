#pragma once

#include <cstdint>

struct DownloadListState;

// The tray icon's level for a speed against the fastest seen: the integer part of
// speed / peak * 4.5, at most 4; 0 while there is no peak to compare with.
int TrayLevel(double speed, double peak);

// The transfer speed the status line and the tray icon show: the sum of the running downloads'
// rates, each as its window shows it, so that the figures agree. (The byte counter's rate over
// the last 500 ms tick, smoothed, did not: a server that sends in bursts, a second's worth at a
// time, fills every other tick, and the figure swung between 57 % and 143 % of the real rate.)
class SpeedMeter {
public:
    // One tick: `runningRates` is the sum of the running downloads' shown rates.
    void update(const DownloadListState& list, double runningRates);

    // Bytes per second; never exactly 0 once measured.
    float speed() const { return speed_; }
    // The highest speed seen, in whole bytes per second.
    std::int32_t maxSpeed() const { return maxSpeed_; }
    // Running entries that have transfer time, as the last tick counted them.
    int activeCount() const { return active_; }
    // The tray icon's level, 0 (idle) to 4 (as fast as it has been).
    int trayLevel() const;

private:
    float speed_ = 0;
    std::int32_t maxSpeed_ = 0;
    int active_ = 0;
};
