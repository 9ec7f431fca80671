#include "platform/linux/dbus/PollMainLoop.hpp"

#include <algorithm>
#include <cmath>
#include <poll.h>

namespace qb {
namespace {

// Keeps a zero or nonsensical interval from turning the loop into a busy spin.
constexpr std::chrono::milliseconds shortestInterval{1};

} // namespace

void PollMainLoop::add(PollSource& source) {
    sources_.push_back(&source);
}

void PollMainLoop::startRepeating(double intervalSeconds, std::function<void()> tick) {
    Clock::duration interval = shortestInterval;
    if (std::isfinite(intervalSeconds) && intervalSeconds > 0) {
        // Capped at a year so the conversion cannot overflow.
        interval = std::max<Clock::duration>(
            interval, std::chrono::duration_cast<Clock::duration>(
                          std::chrono::duration<double>(std::min(intervalSeconds, 3.2e7))));
    }
    timers_.push_back({interval, Clock::now() + interval, std::move(tick)});
}

void PollMainLoop::runOnce(Clock::duration maxWait) {
    const Clock::time_point now = Clock::now();
    Clock::time_point wakeAt = now + std::max(maxWait, Clock::duration::zero());
    std::vector<pollfd> fds;
    for (PollSource* source : sources_) {
        PollRequest request = source->pollRequest();
        if (request.fd >= 0) fds.push_back({request.fd, request.events, 0});
        if (request.deadline) wakeAt = std::min(wakeAt, *request.deadline);
    }
    for (const Timer& timer : timers_)
        wakeAt = std::min(wakeAt, timer.due);

    auto waitMs = std::chrono::ceil<std::chrono::milliseconds>(wakeAt - now).count();
    waitMs = std::clamp<decltype(waitMs)>(waitMs, 0, 60'000);
    // Interrupted or failed waits just end this round early; the sources find out themselves.
    (void)::poll(fds.data(), fds.size(), static_cast<int>(waitMs));

    for (PollSource* source : sources_)
        source->dispatch();
    runDueTimers();
}

void PollMainLoop::runDueTimers() {
    const Clock::time_point now = Clock::now();
    // By index and with a copy of the tick: a tick may start another timer.
    for (size_t i = 0; i < timers_.size(); ++i) {
        if (timers_[i].due > now) continue;
        timers_[i].due += timers_[i].interval;
        // After a long stall, one tick and back in step rather than a burst of ticks.
        if (timers_[i].due <= now) timers_[i].due = now + timers_[i].interval;
        std::function<void()> tick = timers_[i].tick;
        if (tick) tick();
    }
}

bool PollMainLoop::runUntil(const std::function<bool()>& done, Clock::duration limit) {
    const Clock::time_point end = Clock::now() + limit;
    while (!done()) {
        const Clock::time_point now = Clock::now();
        if (now >= end) return false;
        // Short rounds so done is looked at again soon after something changed.
        runOnce(std::min<Clock::duration>(end - now, std::chrono::milliseconds(50)));
    }
    return true;
}

void PollMainLoop::runFor(Clock::duration span) {
    const Clock::time_point end = Clock::now() + span;
    for (Clock::time_point now = Clock::now(); now < end; now = Clock::now())
        runOnce(end - now);
}

} // namespace qb
