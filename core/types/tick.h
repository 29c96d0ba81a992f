#pragma once

#include <cstdint>

// The 32-bit millisecond tick that every time stamp of the program uses. It wraps after
// about 49.7 days, so differences are taken in 32-bit unsigned arithmetic by callers.
std::int32_t MillisecondTick();
