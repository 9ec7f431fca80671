#include "core/common/Clock.hpp"

#include <chrono>
#include <cmath>

namespace qb {

double systemWallTime() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

double systemUptime() {
    using namespace std::chrono;
    static_assert(steady_clock::is_steady); // CLOCK_MONOTONIC in libstdc++
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

int64_t wholeSeconds(double wallTime) {
    return static_cast<int64_t>(std::trunc(wallTime));
}

} // namespace qb
