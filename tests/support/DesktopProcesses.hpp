#pragma once

// Processes for desktop tests: a private session bus, a child on pipes, the scripted MPRIS
// player (tests/e2e/mpris_emitter.py), a keyring, and the application itself.

#include "FakeService.hpp"
#include "TestSupport.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <memory>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
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

template <typename Condition> bool eventually(Condition condition, std::chrono::seconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return true;
}

inline std::string callbackFromPage(const std::string& page) {
    const std::string marker = "href=\"";
    const size_t start = page.find(marker) + marker.size();
    return page.substr(start, page.find('"', start) - start);
}

// The application with a home of its own, headless unless told otherwise.
class Application {
  public:
    Application(TempDir& home, const FakeService& service) : home_(home) {
        ::mkdir((home / "run").c_str(), 0700);
        environment_ = {{"HOME", home.path().string()},
                        {"XDG_DATA_HOME", (home / "data").string()},
                        {"XDG_CONFIG_HOME", (home / "config").string()},
                        {"XDG_RUNTIME_DIR", (home / "run").string()},
                        {"QT_QPA_PLATFORM", "offscreen"},
                        {"QUILLABRENTA_BASE_URL", service.baseURL()},
                        {"QUILLABRENTA_CA_FILE", service.caFile()},
                        {"QUILLABRENTA_LIBRARY", (home / "library.json").string()}};
        for (const auto& [name, value] : environment_)
            ::setenv(name.c_str(), value.c_str(), 1);
    }
    void set(const std::string& name, const std::string& value) {
        environment_[name] = value;
        ::setenv(name.c_str(), value.c_str(), 1);
    }
    void unset(const std::string& name) {
        environment_.erase(name);
        ::unsetenv(name.c_str());
    }
    // Its standard error goes to errors(): headless, alerts are written there.
    void start() {
        process_ = std::make_unique<Child>(
            std::vector<std::string>{"/bin/sh", "-c", "exec \"$0\" 2>\"$1\"", executablePath(),
                                     (home_ / "stderr.txt").string()},
            false);
    }
    std::string errors() const {
        return std::filesystem::exists(home_ / "stderr.txt") ? readFile(home_ / "stderr.txt") : "";
    }
    // The install ID, once the first scan has written the runtime state.
    std::string installID() {
        const std::filesystem::path runtime = stateDirectory() / "capture-runtime.json";
        if (!eventually([&] { return std::filesystem::exists(runtime); }, std::chrono::seconds(20)))
            return {};
        return json::parse(readFile(runtime))["installID"];
    }
    // As a user pairs: the connect page's link, which the desktop opens with a second copy.
    ProcessResult pairThroughSecondCopy(FakeService& service) {
        HttpRequest connect;
        connect.url = service.baseURL() + "/native/mac-capture/connect?install_id=" + installID();
        const std::string link = callbackFromPage(sendAndWait(service.client(), connect).body);
        EXPECT_EQ(link.rfind("quillabrenta-capture://auth?", 0), 0u) << link;
        return again({link});
    }
    // A second start with arguments, as the desktop starts it for a link.
    ProcessResult again(const std::vector<std::string>& arguments) {
        std::map<std::string, std::optional<std::string>> environment(environment_.begin(),
                                                                      environment_.end());
        return runProcess(executablePath(), arguments, environment);
    }
    std::filesystem::path stateDirectory() const { return home_ / "data" / "QuillabrentaCapture"; }
    Child& process() { return *process_; }

  private:
    TempDir& home_;
    std::map<std::string, std::string> environment_;
    std::unique_ptr<Child> process_;
};

// A GNOME Keyring on the private bus, its login keyring unlocked: the key store a desktop
// session has. It lives in the test's home.
class Keyring {
  public:
    Keyring()
        : daemon_({"gnome-keyring-daemon", "--foreground", "--unlock", "--components=secrets"},
                  false) {
        daemon_.send("test-password");
        daemon_.closeInput();
    }
    bool ready() {
        return eventually(
            [] {
                return runProcess("/usr/bin/dbus-send",
                                  {"--session", "--print-reply", "--dest=org.freedesktop.DBus",
                                   "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner",
                                   "string:org.freedesktop.secrets"})
                           .out.find("boolean true") != std::string::npos;
            },
            std::chrono::seconds(10));
    }
    // The stored item, as another client of the Secret Service reads it.
    static std::string item() {
        return runProcess("/usr/bin/secret-tool",
                          {"lookup", "service", "io.quillabrenta.capture.mac", "account",
                           "native-capture-upload"})
            .out;
    }

  private:
    Child daemon_;
};

} // namespace qb::test
