#include "core/common/ManualExecutor.hpp"

#include <utility>

namespace qb {

void ManualExecutor::post(Task task) {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
}

size_t ManualExecutor::runAll() {
    size_t ran = 0;
    for (;;) {
        Task task;
        {
            std::lock_guard lock(mutex_);
            if (tasks_.empty()) return ran;
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
        ++ran;
    }
}

size_t ManualExecutor::pending() const {
    std::lock_guard lock(mutex_);
    return tasks_.size();
}

Executor ManualExecutor::executor() {
    return [this](std::function<void()> task) { post(std::move(task)); };
}

} // namespace qb
