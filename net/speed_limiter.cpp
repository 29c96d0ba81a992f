#include "net/speed_limiter.h"

#include <algorithm>

#include "core/types/tick.h"
#include "core/types/vb_convert.h"

SpeedLimiter::SpeedLimiter() : tick_(MillisecondTick) {}

std::int32_t SpeedLimiter::LimitedReadSize(std::int32_t recvSize) {
    // Unsigned difference: the tick wraps after 49.7 days.
    std::uint32_t elapsed =
        static_cast<std::uint32_t>(tick_()) - static_cast<std::uint32_t>(LimiterLastTick);
    if (elapsed > 100000) {
        elapsed = 10;
    }
    if (elapsed == 0 && LimiterCarry == 0) {
        return 0;
    }
    const auto allowance = static_cast<std::int64_t>(
        RoundHalfEven(static_cast<long double>(elapsed) / 1000 * limits_.SpeedLimiter));
    const std::int64_t budget = std::min(allowance + LimiterCarry, bankCap());
    if (budget <= 0) {
        // Less than a byte is due: keep the clock where it was so the allowance can build up,
        // rather than reading without a limit.
        return 0;
    }
    LimiterLastTick = tick_();
    if (budget > recvSize) {
        LimiterCarry =
            static_cast<std::int32_t>(std::min<std::int64_t>(budget - recvSize, INT32_MAX));
        return recvSize;
    }
    LimiterCarry = 0;
    return static_cast<std::int32_t>(budget);
}

void SpeedLimiter::giveBack(std::int32_t unused) {
    LimiterCarry = static_cast<std::int32_t>(
        std::min<std::int64_t>(std::int64_t(LimiterCarry) + std::max(unused, 0), bankCap()));
}

std::int64_t SpeedLimiter::bankCap() const {
    // At least a byte, so that a tiny limit still moves.
    return std::max<std::int64_t>(std::int64_t(limits_.SpeedLimiter) * BankedMilliseconds / 1000,
                                  1);
}
