#pragma once

#include <cstdint>
#include <functional>

namespace qb {

// Wall time in seconds since 1970 (with fraction), injectable so tests drive time by hand.
using WallClock = std::function<double()>;
double systemWallTime();
// Whole seconds since 1970, truncated toward zero.
int64_t wholeSeconds(double wallTime);

// Seconds of a monotonic clock that stands still while the computer sleeps (CLOCK_MONOTONIC,
// not CLOCK_BOOTTIME): sessions measure wall time against it to notice a suspend.
using UptimeClock = std::function<double()>;
double systemUptime();

// Runs work on another thread ("post to the main thread" and friends).
using Executor = std::function<void(std::function<void()>)>;

} // namespace qb
