#pragma once

#include "core/nowplaying/RepeatingTimerStarting.hpp"
#include "platform/linux/dbus/PollSource.hpp"

#include <chrono>
#include <functional>
#include <vector>

namespace qb {

// A main thread without a UI toolkit: waits in poll(2) for its sources and timers and runs
// them on the thread that runs the loop. The shell's toolkit loop takes this role when there
// is one; sources expose their descriptor for that.
class PollMainLoop : public RepeatingTimerStarting {
  public:
    using Clock = std::chrono::steady_clock;

    // The source must outlive the loop's use of it.
    void add(PollSource& source);
    void startRepeating(double intervalSeconds, std::function<void()> tick) override;

    // Waits at most maxWait for a source or a timer, then dispatches every source and runs
    // the timers that are due.
    void runOnce(Clock::duration maxWait);
    // Runs until done returns true (then true) or limit has passed (then false).
    bool runUntil(const std::function<bool()>& done, Clock::duration limit);
    void runFor(Clock::duration span);

  private:
    struct Timer {
        Clock::duration interval;
        Clock::time_point due;
        std::function<void()> tick;
    };

    void runDueTimers();

    std::vector<PollSource*> sources_;
    std::vector<Timer> timers_;
};

} // namespace qb
