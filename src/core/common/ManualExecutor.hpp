#pragma once

#include "core/common/Clock.hpp"

#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>

namespace qb {

// An executor whose tasks run only when asked to: a stand-in for the main thread in tests.
// Posting is safe from any thread; running happens on the thread that calls runAll.
class ManualExecutor {
  public:
    using Task = std::function<void()>;

    void post(Task task);
    // Runs tasks in posting order until none is left, including tasks posted meanwhile;
    // returns how many ran.
    size_t runAll();
    size_t pending() const;

    // Posting to this executor; valid while it lives.
    Executor executor();

  private:
    mutable std::mutex mutex_;
    std::deque<Task> tasks_;
};

} // namespace qb
