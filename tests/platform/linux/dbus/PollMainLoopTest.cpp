#include "platform/linux/dbus/PollMainLoop.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <thread>
#include <unistd.h>

using namespace qb;
using namespace std::chrono_literals;

namespace {

// A pipe whose read end is the watched descriptor.
struct PipeSource : PollSource {
    int fds[2] = {-1, -1};
    std::string received;
    int dispatches = 0;
    PipeSource() {
        if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    }
    ~PipeSource() override {
        ::close(fds[0]);
        ::close(fds[1]);
    }
    PollRequest pollRequest() override { return {fds[0], POLLIN, std::nullopt}; }
    void dispatch() override {
        ++dispatches;
        char buffer[64];
        ssize_t n = 0;
        while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0)
            received.append(buffer, static_cast<size_t>(n));
    }
};

} // namespace

TEST(PollMainLoopTest, DispatchesSourcesAndRepeatsTimersOnTheLoopThread) {
    PollMainLoop loop;
    PipeSource source;
    loop.add(source);
    int ticks = 0;
    const auto loopThread = std::this_thread::get_id();
    bool otherThread = false;
    loop.startRepeating(0.01, [&] {
        ++ticks;
        otherThread |= std::this_thread::get_id() != loopThread;
    });

    ASSERT_EQ(::write(source.fds[1], "hello", 5), 5);
    EXPECT_TRUE(loop.runUntil([&] { return source.received == "hello"; }, 5s));
    EXPECT_TRUE(loop.runUntil([&] { return ticks >= 3; }, 5s));
    EXPECT_FALSE(otherThread);
}

TEST(PollMainLoopTest, RunUntilGivesUpAfterItsLimit) {
    PollMainLoop loop;
    EXPECT_FALSE(loop.runUntil([] { return false; }, 50ms));
    // A nonsensical interval still ticks, without spinning the loop to death.
    int ticks = 0;
    loop.startRepeating(-1, [&] { ++ticks; });
    EXPECT_TRUE(loop.runUntil([&] { return ticks >= 2; }, 5s));
}
