#pragma once

#include "core/common/Clock.hpp"

#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace qb {

// One dedicated thread running submitted tasks one at a time. Every task carries the moment
// it becomes due (now for async and sync, later for asyncAfter); tasks run in due order, and
// tasks due at the same moment in submission order. Tasks must not throw, except that an
// exception of a sync task is passed on to the caller.
//
// Destruction runs every task that is already due, including those they submit, and then
// stops the thread; delayed tasks not yet due are dropped. Destroying the queue from one of
// its own tasks is allowed: the thread then finishes on its own.
class SerialQueue {
  public:
    using Task = std::function<void()>;

    explicit SerialQueue(std::string label);
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    const std::string& label() const;

    void async(Task task);
    // Blocks until the task has run. Calling it from the queue's own thread would wait for
    // itself forever, so that throws std::logic_error instead.
    void sync(const Task& task);
    // Submits the task after the given number of seconds (measured on a steady clock).
    void asyncAfter(double seconds, Task task);

    // Whether the calling code runs on this queue's thread.
    bool isCurrent() const;

    // This queue as an executor (asynchronous submission); valid while the queue lives.
    Executor executor();

  private:
    struct State;
    std::shared_ptr<State> state_;
    std::thread thread_;
};

} // namespace qb
