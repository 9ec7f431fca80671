#pragma once

#include <functional>

namespace qb {

// Starts a timer that calls tick every intervalSeconds on the main thread for the rest of the
// process's life.
class RepeatingTimerStarting {
  public:
    virtual ~RepeatingTimerStarting() = default;
    virtual void startRepeating(double intervalSeconds, std::function<void()> tick) = 0;
};

} // namespace qb
