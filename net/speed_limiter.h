#pragma once

#include <cstdint>
#include <functional>
#include <utility>

// The speed limit every rate-limited socket shares: reads take turns at one allowance that grows
// with the time since the last limited read, and what a read could not use is kept for the next.
// What is kept never exceeds one pump period's worth: allowance banked while traffic ran below
// the limit (an idle minute, a slow server) would otherwise be spent at line speed later.
class SpeedLimiter {
public:
    // The socket pump's period: a deferred read waits at most this long for its next turn, so
    // the allowance one turn may need.
    static constexpr std::int32_t BankedMilliseconds = 500;
    // How soon a read the limiter held back is tried again: short against the pump's period,
    // so that any two seconds hold many small shares of the limit rather than a few large ones.
    static constexpr std::int32_t RetryMilliseconds = 50;

    struct Limits {
        bool UseSpeedLimiter = false;
        std::int32_t SpeedLimiter = 10240;  // bytes per second
    };
    using TickSource = std::function<std::int32_t()>;

    SpeedLimiter();

    // The speed limit as the options set it; read at every limited read.
    void setLimits(const Limits& limits) { limits_ = limits; }
    // The millisecond clock, replaceable for tests.
    void setTickSource(TickSource tick) { tick_ = std::move(tick); }
    // Whether limited reads are held back at all: the limit is on and above zero.
    bool active() const { return limits_.UseSpeedLimiter && limits_.SpeedLimiter > 0; }

    // How many bytes the next limited read may take now, at most `recvSize`; 0 means not now.
    // Updates the state.
    std::int32_t LimitedReadSize(std::int32_t recvSize);
    // The read took `unused` bytes less than it was allowed: they stay allowed, or the transfer
    // falls short of the limit whenever the sender is slower than the reads.
    void giveBack(std::int32_t unused);

    std::int32_t lastTick() const { return LimiterLastTick; }
    std::int32_t carry() const { return LimiterCarry; }

private:
    std::int64_t bankCap() const;

    Limits limits_;
    TickSource tick_;
    std::int32_t LimiterLastTick = 0;
    std::int32_t LimiterCarry = 0;
};
