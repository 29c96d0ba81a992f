#include "core/types/tick.h"

#include <time.h>

std::int32_t MillisecondTick() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const auto ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
                    static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(ms));
}
