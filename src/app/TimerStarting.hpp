#pragma once

#include <functional>
#include <memory>

namespace qb::app {

// A running timer; destroying the handle stops it.
class Timer {
  public:
    virtual ~Timer() = default;
};

// Timers on the main thread (the Qt loop in the product, a hand-driven clock in tests).
class TimerStarting {
  public:
    virtual ~TimerStarting() = default;
    // Calls fire after `seconds`, and again every `seconds` when repeating, until the handle
    // is destroyed.
    virtual std::unique_ptr<Timer> start(double seconds, bool repeating,
                                         std::function<void()> fire) = 0;
};

} // namespace qb::app
