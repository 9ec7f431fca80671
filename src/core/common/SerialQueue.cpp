#include "core/common/SerialQueue.hpp"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <map>
#include <mutex>
#include <stdexcept>
#include <utility>

namespace qb {

using SteadyTime = std::chrono::steady_clock::time_point;

struct SerialQueue::State {
    explicit State(std::string name) : label(std::move(name)) {}

    const std::string label;
    std::mutex mutex;
    std::condition_variable wake;
    // Keyed by due time, then submission number: the map's order is the run order.
    std::map<std::pair<SteadyTime, uint64_t>, Task> tasks;
    uint64_t submissions = 0;
    bool stopping = false;

    void submit(SteadyTime due, Task task) {
        // Notifying under the lock: once it is released the task may already have run and
        // destroyed the queue (and this state) from its own thread.
        std::lock_guard lock(mutex);
        tasks.emplace(std::make_pair(due, submissions++), std::move(task));
        wake.notify_one();
    }

    void runLoop();
};

namespace {
thread_local const void* currentQueue = nullptr;
} // namespace

void SerialQueue::State::runLoop() {
    currentQueue = this;
    std::unique_lock lock(mutex);
    for (;;) {
        if (!tasks.empty() && tasks.begin()->first.first <= std::chrono::steady_clock::now()) {
            Task task = std::move(tasks.begin()->second);
            tasks.erase(tasks.begin());
            lock.unlock();
            task();
            task = nullptr; // release its captures outside the lock
            lock.lock();
            continue;
        }
        if (stopping) break; // nothing is due any more; later tasks are dropped
        if (tasks.empty())
            wake.wait(lock);
        else
            wake.wait_until(lock, tasks.begin()->first.first);
    }
    auto dropped = std::move(tasks);
    lock.unlock();
    currentQueue = nullptr;
}

SerialQueue::SerialQueue(std::string label)
    : state_(std::make_shared<State>(std::move(label))),
      thread_([state = state_] { state->runLoop(); }) {}

SerialQueue::~SerialQueue() {
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
    }
    state_->wake.notify_one();
    // Destroyed by one of its own tasks: the thread owns the state too and ends by itself.
    if (isCurrent())
        thread_.detach();
    else
        thread_.join();
}

const std::string& SerialQueue::label() const {
    return state_->label;
}

void SerialQueue::async(Task task) {
    state_->submit(std::chrono::steady_clock::now(), std::move(task));
}

void SerialQueue::sync(const Task& task) {
    if (isCurrent())
        throw std::logic_error("SerialQueue::sync called on its own queue \"" + state_->label +
                               "\"; it would wait for itself forever");
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    std::exception_ptr failure;
    async([&] {
        try {
            task();
        } catch (...) {
            failure = std::current_exception();
        }
        std::lock_guard lock(mutex);
        done = true;
        finished.notify_one();
    });
    std::unique_lock lock(mutex);
    finished.wait(lock, [&] { return done; });
    if (failure) std::rethrow_exception(failure);
}

void SerialQueue::asyncAfter(double seconds, Task task) {
    // Negative and NaN mean now; absurd delays are capped so the time arithmetic cannot overflow.
    constexpr double longest = 100.0 * 365 * 24 * 3600;
    const double clamped = seconds > 0 ? (seconds < longest ? seconds : longest) : 0;
    auto delay = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(clamped));
    state_->submit(std::chrono::steady_clock::now() + delay, std::move(task));
}

bool SerialQueue::isCurrent() const {
    return currentQueue == state_.get();
}

Executor SerialQueue::executor() {
    return [this](std::function<void()> task) { async(std::move(task)); };
}

} // namespace qb
