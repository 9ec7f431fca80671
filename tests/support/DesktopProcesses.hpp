#pragma once

// Processes for desktop tests: a private session bus, a child on pipes, and the scripted MPRIS
// player (tests/e2e/mpris_emitter.py).

#include "TestSupport.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace qb::test {

using namespace std::chrono_literals;

// A bus of our own, so no desktop player on the machine takes part; the bridge finds it
// through DBUS_SESSION_BUS_ADDRESS like any session bus.
class PrivateBus {
  public:
    PrivateBus() {
        if (const char* old = std::getenv("DBUS_SESSION_BUS_ADDRESS")) previous_ = old;
        auto result = test::runProcess(
            "/usr/bin/dbus-daemon", {"--session", "--fork", "--print-address=1", "--print-pid=1"});
        auto newline = result.out.find('\n');
        if (result.status != 0 || newline == std::string::npos)
            throw std::runtime_error("dbus-daemon did not start: " + result.err);
        address_ = result.out.substr(0, newline);
        pid_ = static_cast<pid_t>(std::stol(result.out.substr(newline + 1)));
        ::setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
    }
    ~PrivateBus() {
        stop();
        if (previous_)
            ::setenv("DBUS_SESSION_BUS_ADDRESS", previous_->c_str(), 1);
        else
            ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    void stop() {
        if (pid_ > 0) ::kill(pid_, SIGTERM);
        pid_ = -1;
    }

  private:
    std::string address_;
    pid_t pid_ = -1;
    std::optional<std::string> previous_;
};

// A child process with its standard input (and optionally output) on pipes; killed with the
// object when it has not exited by then.
class Child {
  public:
    Child(const std::vector<std::string>& command, bool captureOutput) {
        int in[2];
        int out[2] = {-1, -1};
        if (::pipe2(in, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
        if (captureOutput && ::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        if (captureOutput)
            posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        else
            posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        std::vector<char*> argv;
        std::vector<std::string> copy = command;
        for (auto& part : copy)
            argv.push_back(part.data());
        argv.push_back(nullptr);
        int rc = ::posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        input_ = in[1];
        if (captureOutput) {
            ::close(out[1]);
            output_ = out[0];
        }
        if (rc != 0) throw std::runtime_error("cannot start " + command[0]);
    }
    ~Child() {
        if (input_ >= 0) ::close(input_);
        if (output_ >= 0) ::close(output_);
        if (pid_ > 0 && !waitExit(0ms)) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    void send(const std::string& line) {
        std::string text = line + "\n";
        ASSERT_EQ(::write(input_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    // The next line of output, or empty after the time-out or at the end.
    std::string readLine(std::chrono::milliseconds timeout = 10s) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (true) {
            auto newline = buffered_.find('\n');
            if (newline != std::string::npos) {
                std::string line = buffered_.substr(0, newline);
                buffered_.erase(0, newline + 1);
                return line;
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left <= 0ms) return {};
            pollfd fd{output_, POLLIN, 0};
            if (::poll(&fd, 1, static_cast<int>(left.count())) <= 0) continue;
            char chunk[4096];
            ssize_t n = ::read(output_, chunk, sizeof chunk);
            if (n <= 0) return {};
            buffered_.append(chunk, static_cast<size_t>(n));
        }
    }
    pid_t pid() const { return pid_; }
    void closeInput() {
        if (input_ >= 0) ::close(input_);
        input_ = -1;
    }
    bool waitExit(std::chrono::milliseconds timeout) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        do {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                return true;
            }
            std::this_thread::sleep_for(10ms);
        } while (std::chrono::steady_clock::now() < end);
        return false;
    }

  private:
    pid_t pid_ = -1;
    int input_ = -1;
    int output_ = -1;
    std::string buffered_;
};

// The scripted player: owns org.mpris.MediaPlayer2.<name> and obeys JSON lines.
class Emitter {
  public:
    explicit Emitter(const std::string& name)
        : child_({"/usr/bin/python3", (test::sourceDir() / "tests/e2e/mpris_emitter.py").string(),
                  name},
                 true) {
        if (child_.readLine() != "ready") throw std::runtime_error("emitter did not start");
    }
    // One command a line: the raw strings below wrap, so line breaks become spaces.
    void command(std::string json) {
        std::replace(json.begin(), json.end(), '\n', ' ');
        child_.send(json);
        ASSERT_EQ(child_.readLine(), "ok") << json;
    }
    void quit() {
        child_.send(R"({"quit": true})");
        ASSERT_TRUE(child_.waitExit(10s));
    }

  private:
    Child child_;
};

} // namespace qb::test
