#pragma once

#include "app/TimerStarting.hpp"
#include "core/nowplaying/RepeatingTimerStarting.hpp"

#include <memory>
#include <vector>

namespace qb::app {

// Timers on the Qt event loop of the main thread.
class QtTimers : public TimerStarting, public RepeatingTimerStarting {
  public:
    std::unique_ptr<Timer> start(double seconds, bool repeating,
                                 std::function<void()> fire) override;
    // Runs for the rest of the process.
    void startRepeating(double intervalSeconds, std::function<void()> tick) override;

  private:
    std::vector<std::unique_ptr<Timer>> forever_;
};

} // namespace qb::app
