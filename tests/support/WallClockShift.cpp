// Preloaded into a process under test to move its wall clock by QB_WALL_CLOCK_SHIFT seconds, as
// when the user sets the clock back. Monotonic clocks are left alone, as the kernel does.
#include <cstdlib>
#include <ctime>
#include <dlfcn.h>

namespace {

time_t shift() {
    static const time_t seconds = [] {
        const char* text = std::getenv("QB_WALL_CLOCK_SHIFT");
        return text ? static_cast<time_t>(std::strtoll(text, nullptr, 10)) : time_t{0};
    }();
    return seconds;
}

} // namespace

extern "C" int clock_gettime(clockid_t clock, timespec* time) noexcept {
    using Real = int (*)(clockid_t, timespec*);
    static const auto real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "clock_gettime"));
    const int result = real(clock, time);
    if (result == 0 && (clock == CLOCK_REALTIME || clock == CLOCK_REALTIME_COARSE))
        time->tv_sec += shift();
    return result;
}

extern "C" time_t time(time_t* out) noexcept {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    if (out) *out = now.tv_sec;
    return now.tv_sec;
}
