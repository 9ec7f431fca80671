#include "core/common/SerialQueue.hpp"
#include "core/common/ManualExecutor.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace qb;

namespace {

// Records the order in which tasks ran; safe to use from the queue and the test thread.
class Trace {
  public:
    void add(int value) {
        std::lock_guard lock(mutex_);
        values_.push_back(value);
    }
    std::vector<int> values() const {
        std::lock_guard lock(mutex_);
        return values_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<int> values_;
};

} // namespace

TEST(SerialQueueTest, AsyncAndSyncRunInSubmissionOrderOnTheQueueThread) {
    SerialQueue queue("io.quillabrenta.capture.test");
    EXPECT_EQ(queue.label(), "io.quillabrenta.capture.test");
    EXPECT_FALSE(queue.isCurrent());

    Trace trace;
    std::promise<void> gate;
    std::shared_future<void> opened = gate.get_future().share();
    queue.async([opened] { opened.wait(); }); // hold the queue so everything below piles up
    for (int i = 0; i < 5; ++i)
        queue.async([&trace, i] { trace.add(i); });
    gate.set_value();
    bool onQueue = false;
    queue.sync([&] {
        onQueue = queue.isCurrent();
        trace.add(5);
    });
    EXPECT_TRUE(onQueue);
    EXPECT_EQ(trace.values(), (std::vector<int>{0, 1, 2, 3, 4, 5}));
}

TEST(SerialQueueTest, SyncPassesTheTasksExceptionToTheCaller) {
    SerialQueue queue("test");
    EXPECT_THROW(queue.sync([] { throw std::runtime_error("store failed"); }), std::runtime_error);
    int value = 0;
    queue.sync([&] { value = 7; }); // the queue still works afterwards
    EXPECT_EQ(value, 7);
}

TEST(SerialQueueTest, SyncFromTheQueueItselfIsRefusedInsteadOfDeadlocking) {
    SerialQueue queue("io.quillabrenta.capture.controller");
    std::string message;
    bool innerRan = false;
    queue.sync([&] {
        try {
            queue.sync([&] { innerRan = true; });
        } catch (const std::logic_error& error) {
            message = error.what();
        }
    });
    EXPECT_FALSE(innerRan);
    EXPECT_NE(message.find("io.quillabrenta.capture.controller"), std::string::npos) << message;
}

TEST(SerialQueueTest, DelayedTasksRunInDueOrderAndTiesKeepSubmissionOrder) {
    SerialQueue queue("test");
    Trace trace;
    std::promise<void> gate;
    std::shared_future<void> opened = gate.get_future().share();
    // Holding the queue past every due time makes ties of order between due tasks visible.
    queue.async([opened] { opened.wait(); });
    queue.asyncAfter(0.06, [&] { trace.add(3); });
    queue.asyncAfter(0.02, [&] { trace.add(1); });
    queue.asyncAfter(0.04, [&] { trace.add(2); });
    queue.async([&] { trace.add(0); });
    std::this_thread::sleep_for(std::chrono::milliseconds(80));
    queue.async([&] { trace.add(4); }); // submitted after the delayed ones fell due
    gate.set_value();
    queue.sync([] {});
    EXPECT_EQ(trace.values(), (std::vector<int>{0, 1, 2, 3, 4}));

    // Equal delays submitted together keep their submission order.
    std::promise<void> gate2;
    std::shared_future<void> opened2 = gate2.get_future().share();
    queue.async([opened2] { opened2.wait(); });
    for (int i = 10; i < 15; ++i)
        queue.asyncAfter(0, [&trace, i] { trace.add(i); });
    gate2.set_value();
    queue.sync([] {});
    EXPECT_EQ(trace.values(), (std::vector<int>{0, 1, 2, 3, 4, 10, 11, 12, 13, 14}));
}

TEST(SerialQueueTest, DelayedTaskWaitsForItsTimeWithoutHoldingUpOthers) {
    SerialQueue queue("test");
    Trace trace;
    const auto start = std::chrono::steady_clock::now();
    std::promise<std::chrono::steady_clock::time_point> ranAt;
    queue.asyncAfter(0.05, [&] {
        trace.add(2);
        ranAt.set_value(std::chrono::steady_clock::now());
    });
    queue.sync([&] { trace.add(1); });
    EXPECT_EQ(trace.values(), std::vector<int>{1});
    EXPECT_GE(ranAt.get_future().get() - start, std::chrono::milliseconds(50));
    EXPECT_EQ(trace.values(), (std::vector<int>{1, 2}));
}

TEST(SerialQueueTest, DestructionRunsDueTasksAndDropsFutureOnes) {
    auto flag = std::make_shared<int>(0);
    Trace trace;
    {
        SerialQueue queue("test");
        std::promise<void> gate;
        std::shared_future<void> opened = gate.get_future().share();
        queue.async([opened] { opened.wait(); });
        queue.async([&] {
            trace.add(1);
            queue.async([&] { trace.add(2); }); // submitted while draining: still runs
        });
        queue.asyncAfter(30, [&trace, flag] { trace.add(99); });
        gate.set_value();
    }
    EXPECT_EQ(trace.values(), (std::vector<int>{1, 2}));
    EXPECT_EQ(flag.use_count(), 1) << "the dropped task was not released";
}

TEST(SerialQueueTest, QueueMayBeDestroyedByItsOwnTask) {
    auto queue = std::make_unique<SerialQueue>("test");
    std::promise<void> destroyed;
    SerialQueue* raw = queue.get();
    raw->async([&queue, &destroyed] {
        queue.reset();
        destroyed.set_value();
    });
    EXPECT_EQ(destroyed.get_future().wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(queue, nullptr);
}

TEST(SerialQueueTest, ManyProducersLoseNothingAndKeepEachProducersOrder) {
    constexpr int producers = 8;
    constexpr int perProducer = 500;
    std::vector<std::vector<int>> seen(producers);
    std::atomic<int> total{0};
    {
        SerialQueue queue("test");
        std::vector<std::thread> threads;
        for (int p = 0; p < producers; ++p)
            threads.emplace_back([&, p] {
                for (int i = 0; i < perProducer; ++i) {
                    // seen[p] is touched only on the queue, so no lock is needed.
                    if (i % 50 == 0)
                        queue.sync([&, p, i] { seen[p].push_back(i); });
                    else
                        queue.async([&, p, i] { seen[p].push_back(i); });
                    total.fetch_add(1, std::memory_order_relaxed);
                }
            });
        for (auto& thread : threads)
            thread.join();
    } // destruction drains what is still queued
    EXPECT_EQ(total.load(), producers * perProducer);
    for (int p = 0; p < producers; ++p) {
        ASSERT_EQ(seen[p].size(), static_cast<size_t>(perProducer));
        for (int i = 0; i < perProducer; ++i)
            ASSERT_EQ(seen[p][i], i);
    }
}

TEST(ManualExecutorTest, RunsNothingUntilAskedThenEverythingInOrder) {
    ManualExecutor main;
    Executor post = main.executor();
    std::vector<int> order;
    post([&] {
        order.push_back(1);
        post([&] { order.push_back(3); }); // posted while running: runs in the same call
    });
    main.post([&] { order.push_back(2); });
    EXPECT_EQ(main.pending(), 2u);
    EXPECT_TRUE(order.empty());
    EXPECT_EQ(main.runAll(), 3u);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(main.pending(), 0u);
    EXPECT_EQ(main.runAll(), 0u);
}

TEST(ManualExecutorTest, AcceptsPostsFromAQueueThread) {
    ManualExecutor main;
    int delivered = 0;
    {
        SerialQueue queue("test");
        for (int i = 0; i < 100; ++i)
            queue.async([&] { main.post([&] { ++delivered; }); });
    }
    EXPECT_EQ(main.pending(), 100u);
    main.runAll();
    EXPECT_EQ(delivered, 100);
}
