#include "FakeService.hpp"

#include "TestSupport.hpp"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <future>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace qb::test {

namespace {

constexpr int startupTimeoutMS = 60'000;
constexpr double controlTimeoutSeconds = 15;

// One CA for the whole test process, so that a client configured once trusts every service.
const TempDir& certificateDirectory() {
    static TempDir directory;
    return directory;
}

// The interpreter itself rather than a version-manager shim, which can take seconds to start.
std::string pythonInterpreter() {
    if (const char* chosen = std::getenv("QB_PYTHON")) return chosen;
    if (::access("/usr/bin/python3", X_OK) == 0) return "/usr/bin/python3";
    return "python3";
}

void closeQuietly(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

} // namespace

HttpResponse sendAndWait(HttpSending& http, HttpRequest request) {
    auto promise = std::make_shared<std::promise<HttpResponse>>();
    auto future = promise->get_future();
    http.send(std::move(request),
              [promise](HttpResponse response) { promise->set_value(std::move(response)); });
    return future.get();
}

FakeService::FakeService() : FakeService(Options{}) {}

FakeService::FakeService(Options options) {
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    if (::pipe2(out, O_CLOEXEC) != 0) {
        ::close(in[0]);
        ::close(in[1]);
        throw std::runtime_error("pipe failed");
    }
    std::string python = pythonInterpreter();
    std::vector<std::string> args{
        python,       (sourceDir() / "tools" / "fake-service" / "fake_service.py").string(),
        "--port",     "0",
        "--host",     options.host,
        "--cert-dir", (certificateDirectory().path() / "certs").string()};
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // Standard input stays a pipe to us: the service ends when this process does, even on a crash.
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    int rc = ::posix_spawnp(&pid_, python.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    stdinFd_ = in[1];
    int outFd = out[0];
    if (rc != 0) {
        pid_ = -1;
        closeQuietly(stdinFd_);
        closeQuietly(outFd);
        throw std::runtime_error("cannot start " + python);
    }

    std::string line;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(startupTimeoutMS);
    while (line.find('\n') == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        pollfd fd{outFd, POLLIN, 0};
        int ready = left > 0 ? ::poll(&fd, 1, static_cast<int>(left)) : 0;
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        char buffer[512];
        ssize_t n = ::read(outFd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        line.append(buffer, static_cast<size_t>(n));
    }
    closeQuietly(outFd);

    // "READY <base URL> <CA file>"
    const std::string prefix = "READY ";
    auto newline = line.find('\n');
    auto space = line.find(' ', prefix.size());
    if (line.compare(0, prefix.size(), prefix) != 0 || newline == std::string::npos ||
        space == std::string::npos || space > newline) {
        stop();
        throw std::runtime_error("fake service did not start: " + line);
    }
    baseURL_ = line.substr(prefix.size(), space - prefix.size());
    caFile_ = line.substr(space + 1, newline - space - 1);
    ::setenv("QUILLABRENTA_CA_FILE", caFile_.c_str(), 1);
    HttpClient::Options clientOptions;
    clientOptions.extraCAFile = caFile_;
    client_ = std::make_unique<HttpClient>(clientOptions);
}

FakeService::~FakeService() {
    stop();
}

void FakeService::stop() {
    client_.reset();
    closeQuietly(stdinFd_);
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
    }
}

Json FakeService::control(const std::string& method, const std::string& path, const Json& body) {
    HttpRequest request;
    request.method = method;
    request.url = baseURL_ + path;
    request.timeoutSeconds = controlTimeoutSeconds;
    if (!body.is_null()) {
        request.headers.emplace_back("Content-Type", "application/json");
        request.body = body.dump();
    }
    HttpResponse response = sendAndWait(*client_, std::move(request));
    if (response.status != 200)
        throw std::runtime_error("fake service control " + path +
                                 " failed: " + std::to_string(response.status) + " " +
                                 response.error + " " + response.body);
    return Json::parse(response.body);
}

void FakeService::script(const std::string& path, const std::string& method, const Json& responses,
                         const std::optional<Json>& defaultAnswer) {
    Json body = {{"path", path}, {"responses", responses}};
    if (!method.empty()) body["method"] = method;
    if (defaultAnswer) body["default"] = *defaultAnswer;
    control("POST", "/__control/script", body);
}

void FakeService::randomFailures(const std::string& path, double rate, uint64_t seed,
                                 const std::vector<std::string>& kinds, const std::string& method) {
    Json body = {{"path", path}, {"rate", rate}, {"seed", seed}, {"kinds", kinds}};
    if (!method.empty()) body["method"] = method;
    control("POST", "/__control/random-failures", body);
}

Json FakeService::requests() {
    return control("GET", "/__control/requests", nullptr);
}

std::vector<Json> FakeService::requestsTo(const std::string& path) {
    std::vector<Json> matching;
    for (const auto& request : requests())
        if (request.value("path", "") == path) matching.push_back(request);
    return matching;
}

void FakeService::reset() {
    control("POST", "/__control/reset", Json::object());
}

} // namespace qb::test
