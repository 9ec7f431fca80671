// The capture service as it runs: the controller starts the real worker executable over a JSON
// library fixture and uploads what it queued to the fake service over HTTPS.
#include "FakeService.hpp"
#include "TestSupport.hpp"
#include "core/capture/CaptureRuntimeStore.hpp"
#include "core/common/ManualExecutor.hpp"
#include "core/service/CaptureController.hpp"
#include "core/service/HttpReconcileTransport.hpp"
#include "platform/linux/http/HttpClient.hpp"
#include "platform/linux/process/SubprocessCaptureWorker.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <regex>
#include <thread>

using namespace qb;
using namespace qb::test;

namespace {

const std::string reconcilePath = HttpReconcileTransport::path;
const std::string token = "tok-integration";

// The real HTTPS transport, with a count of the uploads begun and answered so that a test
// can tell when the controller has nothing in flight.
class CountingTransport : public ReconcileTransport {
  public:
    struct Log {
        std::atomic<int> started{0};
        std::atomic<int> answered{0};
        std::mutex mutex;
        std::vector<UploadResult> results;
    };

    CountingTransport(HttpSending& http, double timeoutSeconds) : inner_(http, timeoutSeconds) {}

    void post(const ReconcilePayload& payload, const UploadCredential& credential,
              std::function<void(UploadResult)> completion) override {
        ++log_->started;
        inner_.post(payload, credential,
                    [log = log_, completion = std::move(completion)](UploadResult result) {
                        {
                            std::lock_guard lock(log->mutex);
                            log->results.push_back(result);
                        }
                        completion(std::move(result));
                        ++log->answered;
                    });
    }

    std::shared_ptr<Log> log() const { return log_; }

  private:
    HttpReconcileTransport inner_;
    std::shared_ptr<Log> log_ = std::make_shared<Log>();
};

// The real worker, noting the queue it left behind before the controller drains any of it.
class QueueWatchingWorker : public CaptureWorkerRunning {
  public:
    QueueWatchingWorker(const std::filesystem::path& stateDirectory)
        : inner_(executablePath(), stateDirectory), store_(stateDirectory) {}

    CaptureWorkerResult run(const std::string& trigger) override {
        auto result = inner_.run(trigger);
        std::lock_guard lock(mutex_);
        for (const auto& entry : store_.load().pending)
            if (std::find(ids_.begin(), ids_.end(), entry.id) == ids_.end())
                ids_.push_back(entry.id);
        return result;
    }
    // Every payload ID any pass queued, in order of first sight.
    std::vector<std::string> queuedIDs() {
        std::lock_guard lock(mutex_);
        return ids_;
    }

  private:
    SubprocessCaptureWorker inner_;
    CaptureRuntimeStore store_;
    std::mutex mutex_;
    std::vector<std::string> ids_;
};

bool allKeysSnakeCase(const Json& value) {
    static const std::regex snake("[a-z0-9]+(_[a-z0-9]+)*");
    if (value.is_object()) {
        for (const auto& [key, inner] : value.items())
            if (!std::regex_match(key, snake) || !allKeysSnakeCase(inner)) return false;
    } else if (value.is_array()) {
        for (const auto& inner : value)
            if (!allKeysSnakeCase(inner)) return false;
    }
    return true;
}

class CaptureServiceIntegration : public FakeServiceSuite {
  protected:
    void SetUp() override {
        FakeServiceSuite::SetUp();
        ::setenv("QUILLABRENTA_LIBRARY", libraryFile.c_str(), 1);
        library.write(libraryFile);
    }

    void TearDown() override {
        if (controller) {
            EXPECT_TRUE(settled());
        }
        controller.reset();
    }

    // The controller as the application builds it, but on a hand-driven clock and main thread.
    void start(double transportTimeout = 10, std::string baseURL = "") {
        if (baseURL.empty()) baseURL = service->baseURL();
        auto transport =
            std::make_shared<CountingTransport>(HttpClient::shared(), transportTimeout);
        uploads = transport->log();
        CaptureController::Options options;
        options.stateDirectory = stateDir;
        worker = std::make_shared<QueueWatchingWorker>(stateDir);
        options.worker = worker;
        options.transport = transport;
        options.credentialProvider = [baseURL]() -> std::optional<UploadCredential> {
            return UploadCredential{token, baseURL, 1700000000, "acct-1", ""};
        };
        options.mainExecutor = mainThread.executor();
        options.clock = [this] { return clockNow.load(); };
        options.delayScheduler = [this](double seconds, std::function<void()>) {
            std::lock_guard lock(delaysMutex);
            delays.push_back(seconds);
        };
        controller = CaptureController::make(std::move(options));
        controller->setOnStatusChange(
            [this](const CaptureServiceStatus& s) { published.push_back(s); });
        controller->setOnCredentialRejected([this] { ++credentialRejections; });
    }

    // True once no upload is in flight and every answer has been handled on the work queue.
    bool settled(std::chrono::seconds limit = std::chrono::seconds(30)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            const int started = uploads->started;
            if (started == uploads->answered) {
                controller->status(); // runs after every handling submitted so far
                if (uploads->started == started) return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    CaptureServiceStatus scanAndSettle(const std::string& trigger = "manual", bool force = true) {
        std::optional<bool> outcome;
        controller->scan(trigger, force, [&](bool ok) { outcome = ok; });
        EXPECT_TRUE(settled());
        EXPECT_EQ(outcome, std::optional<bool>(true));
        return controller->status();
    }

    // Runs the baseline scan and has the service take its payload.
    void deliverBaseline() {
        auto status = scanAndSettle("launch", false);
        ASSERT_EQ(status.pending, 0) << status.lastError;
        ASSERT_EQ(service->requestsTo(reconcilePath).size(), 1u);
    }

    CaptureRuntimeState runtimeFile() const { return CaptureRuntimeStore(stateDir).load(); }
    int64_t clockSeconds() const { return static_cast<int64_t>(clockNow.load()); }
    void advanceClock(double seconds) { clockNow = clockNow.load() + seconds; }

    TempDir dir;
    std::filesystem::path stateDir = dir / "state";
    std::filesystem::path libraryFile = dir / "library.json";
    PlayCountLibrary library{{{0x00AB12CD34EF5678, 3}, {0x0000000000BEEF01, 7}}};

    std::atomic<double> clockNow{std::floor(systemWallTime())};
    ManualExecutor mainThread;
    std::vector<CaptureServiceStatus> published;
    std::mutex delaysMutex;
    std::vector<double> delays;
    std::atomic<int> credentialRejections{0};
    std::shared_ptr<CountingTransport::Log> uploads;
    std::shared_ptr<QueueWatchingWorker> worker;
    std::shared_ptr<CaptureController> controller;
};

TEST_F(CaptureServiceIntegration, PlayBetweenTwoScansReachesTheServiceAsOneDelta) {
    start();
    deliverBaseline();
    const std::string installID = controller->installID();

    // Too soon after the baseline: deferred to a trailing scan, nothing runs.
    library.plays[0x00AB12CD34EF5678] = 4;
    library.write(libraryFile);
    const auto baselineScanAt = controller->status().lastScanAt;
    auto deferred = scanAndSettle("periodic", false);
    EXPECT_EQ(deferred.lastScanAt, baselineScanAt);
    EXPECT_EQ(uploads->started, 1);
    ASSERT_EQ(delays.size(), 1u);
    EXPECT_GT(delays[0], 5);

    // Past the minimum interval the same unforced request scans and uploads.
    advanceClock(120);
    auto status = scanAndSettle("periodic", false);
    EXPECT_EQ(status.pending, 0) << status.lastError;
    EXPECT_EQ(status.lastError, "");
    EXPECT_TRUE(status.connected);
    EXPECT_EQ(status.lastUploadAt, clockSeconds());
    ASSERT_TRUE(status.diagnostics);
    EXPECT_EQ(status.diagnostics->trigger, "periodic");

    auto requests = service->requestsTo(reconcilePath);
    ASSERT_EQ(requests.size(), 2u);
    const Json& request = requests[1];
    EXPECT_EQ(request["method"], "POST");
    EXPECT_EQ(request["headers"]["authorization"], "Bearer " + token);
    EXPECT_EQ(request["headers"]["content-type"], "application/json");
    const Json& body = request["json"];
    EXPECT_TRUE(allKeysSnakeCase(body)) << body.dump();
    EXPECT_EQ(body["install_id"], installID);
    EXPECT_EQ(body["device_context"], "mac");
    const Json& block = body["completion_library"];
    EXPECT_EQ(block["is_baseline"], false);
    EXPECT_EQ(block["song_count"], 2);
    ASSERT_EQ(block["deltas"].size(), 1u);
    const Json& delta = block["deltas"][0];
    EXPECT_EQ(delta["persistent_id"], "00AB12CD34EF5678");
    EXPECT_EQ(delta["play_count_before"], 3);
    EXPECT_EQ(delta["play_count_after"], 4);
    EXPECT_EQ(delta["track"], "Song " + std::to_string(0x00AB12CD34EF5678));
    // The first upload was the forward-only baseline: library size, no plays.
    EXPECT_EQ(requests[0]["json"]["completion_library"]["is_baseline"], true);
    EXPECT_TRUE(requests[0]["json"]["completion_library"]["deltas"].empty());

    // The main thread saw the scan start and, last, the state the controller holds now.
    mainThread.runAll();
    ASSERT_FALSE(published.empty());
    EXPECT_TRUE(std::any_of(published.begin(), published.end(),
                            [](const CaptureServiceStatus& s) { return s.scanning; }));
    EXPECT_EQ(published.back(), controller->status());
}

TEST_F(CaptureServiceIntegration, ServerErrorBacksOffThenDeliversTheSameBody) {
    start();
    deliverBaseline();
    service->script(reconcilePath, "POST", Json::array({{{"status", 500}}}));
    library.plays[0x0000000000BEEF01] += 2;
    library.write(libraryFile);
    const int64_t drainStart = clockSeconds();

    auto status = scanAndSettle();
    EXPECT_EQ(status.pending, 1);
    EXPECT_EQ(status.lastError, "http_500");
    auto queued = runtimeFile().pending;
    ASSERT_EQ(queued.size(), 1u);
    EXPECT_EQ(queued[0].attempts, 1);
    EXPECT_EQ(queued[0].nextAttemptAt, drainStart + 2);
    EXPECT_EQ(queued[0].lastError, "http_500");

    // Not yet due: a drain sends nothing.
    advanceClock(1);
    controller->drain();
    ASSERT_TRUE(settled());
    EXPECT_EQ(uploads->started, 2);

    advanceClock(1);
    controller->drain();
    ASSERT_TRUE(settled());
    status = controller->status();
    EXPECT_EQ(status.pending, 0);
    EXPECT_EQ(status.lastError, "");
    EXPECT_EQ(status.lastUploadAt, drainStart + 2);
    EXPECT_TRUE(runtimeFile().pending.empty());

    auto requests = service->requestsTo(reconcilePath);
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[1]["body"], requests[2]["body"]);
    EXPECT_EQ(requests[2]["json"]["completion_library"]["deltas"][0]["play_count_after"], 9);
}

TEST_F(CaptureServiceIntegration, RefusedPayloadBecomesADeadLetter) {
    start();
    service->script(reconcilePath, "POST", Json::array({{{"status", 422}}}));
    auto status = scanAndSettle("launch", false);
    EXPECT_EQ(status.pending, 0);
    EXPECT_EQ(status.lastError, "payload_rejected_422");
    EXPECT_TRUE(status.connected);
    auto state = runtimeFile();
    ASSERT_EQ(state.deadLetters.size(), 1u);
    EXPECT_EQ(state.deadLetters[0].reason, "http_422");
    EXPECT_EQ(state.deadLetters[0].rejectedAt, clockSeconds());
    EXPECT_EQ(state.deadLetters[0].payloadID, worker->queuedIDs().at(0));
    EXPECT_EQ(service->requestsTo(reconcilePath).size(), 1u);
}

TEST_F(CaptureServiceIntegration, RejectedCredentialKeepsTheQueueAndTellsTheShell) {
    start();
    service->script(reconcilePath, "POST", Json::array({{{"status", 401}}}));
    auto status = scanAndSettle("launch", false);

    EXPECT_EQ(status.pending, 1);
    EXPECT_FALSE(status.connected);
    EXPECT_EQ(status.lastError, "credential_rejected_401");
    EXPECT_EQ(credentialRejections, 1);
    auto queued = runtimeFile().pending;
    ASSERT_EQ(queued.size(), 1u);
    EXPECT_EQ(queued[0].attempts, 0);
    EXPECT_EQ(queued[0].nextAttemptAt, 0);
    EXPECT_EQ(queued[0].lastError, "credential_rejected_401");

    // A new credential note sends the kept payload.
    controller->noteCredentialChanged();
    ASSERT_TRUE(settled());
    status = controller->status();
    EXPECT_EQ(status.pending, 0);
    EXPECT_TRUE(status.connected);
    auto requests = service->requestsTo(reconcilePath);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0]["body"], requests[1]["body"]);
}

TEST_F(CaptureServiceIntegration, SlowServiceTimesOutAsTransientWithTheClientsReason) {
    start(1);
    service->script(reconcilePath, "POST", Json::array({{{"status", 200}, {"delay", 30}}}));
    controller->scan("launch", false);
    controller->status(); // the scan is over and the upload has begun
    const auto before = std::chrono::steady_clock::now();
    ASSERT_TRUE(settled());
    const auto waited = std::chrono::steady_clock::now() - before;
    auto status = controller->status();

    EXPECT_EQ(status.pending, 1);
    EXPECT_NE(status.lastError.find("timed out"), std::string::npos) << status.lastError;
    auto queued = runtimeFile().pending;
    ASSERT_EQ(queued.size(), 1u);
    EXPECT_EQ(queued[0].attempts, 1);
    EXPECT_EQ(queued[0].lastError, status.lastError);
    // The answer came from the client's own time-out (1 s), not the service's reply (30 s);
    // the margin holds under sanitizers and a loaded machine.
    EXPECT_LT(waited, std::chrono::seconds(20));
}

TEST_F(CaptureServiceIntegration, PlainHttpBaseURLSendsNothing) {
    const std::string origin = service->baseURL();
    start(10, "http://" + origin.substr(std::string("https://").size()));
    auto status = scanAndSettle("launch", false);

    EXPECT_FALSE(status.connected);
    EXPECT_EQ(status.pending, 1);
    EXPECT_EQ(uploads->started, 0);
    controller->drain();
    ASSERT_TRUE(settled());
    EXPECT_FALSE(controller->status().connected);
    EXPECT_EQ(uploads->started, 0);
    EXPECT_TRUE(service->requests().empty());
}

} // namespace
