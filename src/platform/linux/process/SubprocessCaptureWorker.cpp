#include "platform/linux/process/SubprocessCaptureWorker.hpp"

#include "core/common/TextFolding.hpp"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unicode/utf8.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace qb {

namespace {

const char* const genericFailure = "capture_worker_failed";

class Pipe {
  public:
    Pipe() {
        if (::pipe2(ends_, O_CLOEXEC) != 0) ends_[0] = ends_[1] = -1;
    }
    ~Pipe() {
        closeRead();
        closeWrite();
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;

    bool valid() const { return ends_[0] >= 0; }
    int readEnd() const { return ends_[0]; }
    int writeEnd() const { return ends_[1]; }
    void closeRead() { closeEnd(0); }
    void closeWrite() { closeEnd(1); }

  private:
    void closeEnd(int i) {
        if (ends_[i] >= 0) ::close(ends_[i]);
        ends_[i] = -1;
    }
    int ends_[2];
};

CaptureWorkerResult failure(std::string error) {
    CaptureWorkerResult result;
    result.ok = false;
    result.error = std::move(error);
    return result;
}

// Reads both pipes to their end together, so a child filling one cannot stall on it. Past the
// deadline the child is killed (its pipes then end); returns false in that case.
bool readBoth(Pipe& out, Pipe& err, std::string& outBytes, std::string& errBytes, pid_t child,
              std::chrono::steady_clock::time_point deadline) {
    pollfd fds[2] = {{out.readEnd(), POLLIN, 0}, {err.readEnd(), POLLIN, 0}};
    std::string* sinks[2] = {&outBytes, &errBytes};
    int open = 2;
    bool killed = false;
    std::vector<char> buffer(1 << 16);
    while (open > 0) {
        int wait = -1;
        if (!killed) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                ::kill(-child, SIGKILL); // its own process group: anything it started goes too
                killed = true;
            } else {
                wait = static_cast<int>(std::min<int64_t>(left.count() + 1, INT32_MAX));
            }
        }
        const int ready = ::poll(fds, 2, wait);
        if (ready < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (ready == 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)))
                continue;
            ssize_t n = ::read(fds[i].fd, buffer.data(), buffer.size());
            if (n > 0) {
                sinks[i]->append(buffer.data(), static_cast<size_t>(n));
            } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
                fds[i].fd = -1;
                --open;
            }
        }
    }
    out.closeRead();
    err.closeRead();
    return !killed;
}

int waitForExit(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return status;
}

bool isValidUTF8(const std::string& bytes) {
    const auto* s = reinterpret_cast<const uint8_t*>(bytes.data());
    const int32_t length = static_cast<int32_t>(bytes.size());
    for (int32_t i = 0; i < length;) {
        UChar32 c;
        U8_NEXT(s, i, length, c);
        if (c < 0) return false;
    }
    return true;
}

std::string errorText(const std::string& stderrBytes) {
    if (stderrBytes.size() > INT32_MAX || !isValidUTF8(stderrBytes)) return genericFailure;
    std::string trimmed = trimWhitespaceAndNewlines(stderrBytes);
    return trimmed.empty() ? genericFailure : trimmed;
}

std::optional<CaptureWorkerResult> decodeResult(const std::string& bytes) {
    try {
        return CaptureWorkerResult::fromJson(json::parse(bytes));
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

} // namespace

SubprocessCaptureWorker::SubprocessCaptureWorker(std::filesystem::path executable,
                                                 std::filesystem::path stateDirectory,
                                                 std::chrono::seconds timeout)
    : executable_(std::move(executable)), stateDirectory_(std::move(stateDirectory)),
      timeout_(timeout) {}

CaptureWorkerResult SubprocessCaptureWorker::run(const std::string& trigger) {
    try {
        const std::string program = executable_.string();
        auto cannotStart = [&](int error) {
            return failure("cannot start " + program + ": " + std::strerror(error));
        };

        std::vector<std::string> arguments = {program,
                                              "--run-capture-worker",
                                              "--state-directory",
                                              stateDirectory_.string(),
                                              "--trigger",
                                              trigger};
        std::vector<char*> argv;
        for (std::string& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);

        Pipe out, err;
        if (!out.valid() || !err.valid()) return cannotStart(errno);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out.writeEnd(), STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, err.writeEnd(), STDERR_FILENO);
        // Only standard input, output and error reach the worker.
        posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);

        // The worker starts with a clean signal state whatever this thread blocks or ignores.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t none, defaults;
        sigemptyset(&none);
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        posix_spawnattr_setpgroup(&attributes, 0);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF |
                                                  POSIX_SPAWN_SETPGROUP);

        pid_t pid = 0;
        const int spawned =
            ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        out.closeWrite();
        err.closeWrite();
        if (spawned != 0) return cannotStart(spawned);

        std::string outBytes, errBytes;
        const bool finished = readBoth(out, err, outBytes, errBytes, pid,
                                       std::chrono::steady_clock::now() + timeout_);
        const int status = waitForExit(pid);
        if (!finished)
            return failure("capture worker stopped: no result within " +
                           std::to_string(timeout_.count()) + " seconds");

        if (status >= 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0) {
            if (std::optional<CaptureWorkerResult> result = decodeResult(outBytes)) return *result;
        }
        return failure(errorText(errBytes));
    } catch (const std::exception&) {
        // Out of memory while collecting output; the controller still gets a result.
        return failure(genericFailure);
    }
}

} // namespace qb
