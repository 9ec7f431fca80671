#pragma once

// Test doubles around one CaptureController: a hand-driven clock, main thread, delay
// scheduler and transports, and a worker that is either the in-process capture pass or a
// script. Shared by the controller's test files.

#include "TestSupport.hpp"
#include "core/common/CaptureError.hpp"
#include "core/common/ManualExecutor.hpp"
#include "core/service/CaptureController.hpp"
#include "core/worker/CaptureScanWorker.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <mutex>

namespace qb::test {

// Every request the fakes saw, in order, e.g. "post:3", "availability", "page:sync-a".
class EventLog {
  public:
    void add(std::string event) {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
    }
    std::vector<std::string> events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> events_;
};

// A library whose songs the test edits between scans.
class FakeLibrary : public MusicLibraryScanning {
  public:
    LibraryScan scan() override {
        std::lock_guard lock(mutex_);
        if (unavailable_) throw CaptureError::libraryUnavailable("library gone");
        LibraryScan result;
        result.tracks = tracks_;
        result.metrics.trackCount = static_cast<int64_t>(tracks_.size());
        return result;
    }
    void setTracks(std::vector<LibraryTrack> tracks) {
        std::lock_guard lock(mutex_);
        tracks_ = std::move(tracks);
    }
    void setUnavailable(bool value) {
        std::lock_guard lock(mutex_);
        unavailable_ = value;
    }

  private:
    std::mutex mutex_;
    std::vector<LibraryTrack> tracks_;
    bool unavailable_ = false;
};

inline LibraryTrack song(const std::string& persistentID, int64_t playCount, int64_t rating = 0) {
    LibraryTrack track;
    track.persistentID = persistentID;
    track.artist = "Artist " + persistentID;
    track.album = "Album";
    track.title = "Title " + persistentID;
    track.durationMS = 200000;
    track.playCount = playCount;
    track.rating = rating;
    return track;
}

// Records each trigger and runs `body` for it (by default a successful pass that writes nothing).
class TestWorker : public CaptureWorkerRunning {
  public:
    using Body = std::function<CaptureWorkerResult(const std::string& trigger)>;

    CaptureWorkerResult run(const std::string& trigger) override {
        Body current;
        {
            std::lock_guard lock(mutex_);
            triggers_.push_back(trigger);
            current = body_;
        }
        if (!current) return {true, "", std::nullopt};
        return current(trigger);
    }
    void setBody(Body body) {
        std::lock_guard lock(mutex_);
        body_ = std::move(body);
    }
    std::vector<std::string> triggers() const {
        std::lock_guard lock(mutex_);
        return triggers_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> triggers_;
    Body body_;
};

// Keeps every reconcile post; the test answers it later from its own thread.
class FakeReconcileTransport : public ReconcileTransport {
  public:
    explicit FakeReconcileTransport(EventLog& log) : log_(log) {}

    void post(const ReconcilePayload& payload, const UploadCredential& credential,
              std::function<void(UploadResult)> completion) override {
        std::lock_guard lock(mutex_);
        posts_.push_back({payload, credential, std::move(completion)});
        log_.add("post:" + std::to_string(payload.completionLibrary.songCount));
    }
    size_t count() const {
        std::lock_guard lock(mutex_);
        return posts_.size();
    }
    ReconcilePayload payload(size_t index) const {
        std::lock_guard lock(mutex_);
        return posts_.at(index).payload;
    }
    UploadCredential credential(size_t index) const {
        std::lock_guard lock(mutex_);
        return posts_.at(index).credential;
    }
    void answer(size_t index, UploadResult result) {
        std::function<void(UploadResult)> completion;
        {
            std::lock_guard lock(mutex_);
            completion = std::move(posts_.at(index).completion);
        }
        ASSERT_TRUE(completion) << "post " << index << " answered twice";
        completion(std::move(result));
    }
    void answerLast(UploadResult result) { answer(count() - 1, std::move(result)); }

  private:
    struct Post {
        ReconcilePayload payload;
        UploadCredential credential;
        std::function<void(UploadResult)> completion;
    };
    EventLog& log_;
    mutable std::mutex mutex_;
    std::vector<Post> posts_;
};

// Keeps every availability check and ratings page post until the test answers it.
class FakeRatingsTransport : public RatingsTransport {
  public:
    explicit FakeRatingsTransport(EventLog& log) : log_(log) {}

    void availability(const UploadCredential&,
                      std::function<void(RatingsAvailabilityAnswer)> completion) override {
        std::lock_guard lock(mutex_);
        checks_.push_back(std::move(completion));
        log_.add("availability");
    }
    void post(const RatingsPayload& payload, const UploadCredential&,
              std::function<void(RatingsUploadResult)> completion) override {
        std::lock_guard lock(mutex_);
        posts_.push_back({payload, std::move(completion)});
        log_.add("page:" + payload.syncID);
    }
    size_t checkCount() const {
        std::lock_guard lock(mutex_);
        return checks_.size();
    }
    size_t postCount() const {
        std::lock_guard lock(mutex_);
        return posts_.size();
    }
    RatingsPayload payload(size_t index) const {
        std::lock_guard lock(mutex_);
        return posts_.at(index).first;
    }
    void answerCheck(size_t index, RatingsAvailabilityAnswer answer) {
        std::function<void(RatingsAvailabilityAnswer)> completion;
        {
            std::lock_guard lock(mutex_);
            completion = std::move(checks_.at(index));
        }
        ASSERT_TRUE(completion) << "check " << index << " answered twice";
        completion(std::move(answer));
    }
    void answerLastCheck(RatingsAvailabilityAnswer answer) {
        answerCheck(checkCount() - 1, std::move(answer));
    }
    void answerPost(size_t index, RatingsUploadResult result) {
        std::function<void(RatingsUploadResult)> completion;
        {
            std::lock_guard lock(mutex_);
            completion = std::move(posts_.at(index).second);
        }
        ASSERT_TRUE(completion) << "page " << index << " answered twice";
        completion(std::move(result));
    }
    void answerLastPost(RatingsUploadResult result) {
        answerPost(postCount() - 1, std::move(result));
    }

  private:
    EventLog& log_;
    mutable std::mutex mutex_;
    std::vector<std::function<void(RatingsAvailabilityAnswer)>> checks_;
    std::vector<std::pair<RatingsPayload, std::function<void(RatingsUploadResult)>>> posts_;
};

inline UploadCredential usableCredential() {
    return {"token-1", "https://svc.example", 1, "acct", "a@example.com"};
}

inline UploadCredential plainHttpCredential() {
    return {"token-1", "http://svc.example", 1, "acct", "a@example.com"};
}

// A queued reconcile payload; `marker` is its song count, which names it in the event log.
inline PendingPayload pendingPayload(const std::string& id, int64_t marker,
                                     int64_t nextAttemptAt = 0, int64_t attempts = 0) {
    PendingPayload entry;
    entry.id = id;
    entry.payload.installID = "seeded-install";
    entry.payload.completionLibrary.observedAt = 1000;
    entry.payload.completionLibrary.songCount = marker;
    entry.queuedAt = 1000;
    entry.attempts = attempts;
    entry.nextAttemptAt = nextAttemptAt;
    return entry;
}

inline PendingRatingsPayload ratingsPage(const std::string& syncID, const std::string& kind,
                                         int64_t nextAttemptAt = 0, int64_t attempts = 0) {
    PendingRatingsPayload page;
    page.payload.installID = "seeded-install";
    page.payload.syncID = syncID;
    page.payload.kind = kind;
    page.payload.snapshotID = "snap-" + syncID;
    page.payload.observedAt = 1000;
    page.attempts = attempts;
    page.nextAttemptAt = nextAttemptAt;
    return page;
}

struct DelayedSubmission {
    double seconds = 0;
    std::function<void()> submit;
};

class ControllerHarness {
  public:
    static constexpr double startTime = 1'700'000'000.0;
    static constexpr const char* seededInstallID = "0f1e2d3c-4b5a-4697-8877-665544332211";

    TempDir dir;
    EventLog log;
    FakeLibrary library;
    std::shared_ptr<TestWorker> worker = std::make_shared<TestWorker>();
    std::shared_ptr<FakeReconcileTransport> transport =
        std::make_shared<FakeReconcileTransport>(log);
    std::shared_ptr<FakeRatingsTransport> ratings = std::make_shared<FakeRatingsTransport>(log);
    ManualExecutor mainThread;
    std::atomic<int> credentialRejections{0};
    std::atomic<bool> rejectionOffQueue{false};
    std::shared_ptr<CaptureController> controller;

    // Builds the controller; call after seeding any state files.
    void start(bool withRatings = true) {
        CaptureController::Options options;
        options.stateDirectory = dir.path();
        options.worker = worker;
        options.transport = transport;
        if (withRatings) options.ratingsTransport = ratings;
        options.credentialProvider = [this] {
            std::lock_guard lock(credentialMutex_);
            return credential_;
        };
        options.mainExecutor = mainThread.executor();
        options.clock = [this] { return clock_.load(); };
        options.delayScheduler = [this](double seconds, std::function<void()> submit) {
            std::lock_guard lock(delayMutex_);
            delayed_.push_back({seconds, std::move(submit)});
        };
        controller = CaptureController::make(std::move(options));
        controller->setOnStatusChange(
            [this](const CaptureServiceStatus& status) { published_.push_back(status); });
        controller->setOnCredentialRejected([this] {
            if (!controller->workQueue().isCurrent()) rejectionOffQueue = true;
            ++credentialRejections;
        });
    }

    // The worker becomes the real capture pass over `library`, stamped with the test clock.
    void useInProcessWorker() {
        auto pass = std::make_shared<CaptureScanWorker>(library, CaptureBaselineStore(dir.path()),
                                                        CaptureRuntimeStore(dir.path()));
        worker->setBody(
            [this, pass](const std::string& trigger) { return pass->run(trigger, nowSeconds()); });
    }

    void setCredential(std::optional<UploadCredential> credential) {
        std::lock_guard lock(credentialMutex_);
        credential_ = std::move(credential);
    }

    void setNow(double seconds) { clock_ = seconds; }
    void advance(double seconds) { clock_ = clock_.load() + seconds; }
    int64_t nowSeconds() const { return wholeSeconds(clock_.load()); }

    // Waits until everything submitted so far has run on the work queue.
    CaptureServiceStatus settle() { return controller->status(); }

    // Runs the main thread's pending deliveries and hands over what reached onStatusChange.
    std::vector<CaptureServiceStatus> delivered() {
        mainThread.runAll();
        return std::exchange(published_, {});
    }

    size_t delayedCount() const {
        std::lock_guard lock(delayMutex_);
        return delayed_.size();
    }
    DelayedSubmission delayedAt(size_t index) const {
        std::lock_guard lock(delayMutex_);
        return delayed_.at(index);
    }
    // Fires a scheduled delayed submission and waits until it has run.
    void fire(size_t index) {
        delayedAt(index).submit();
        settle();
    }

    CaptureRuntimeStore runtimeStore() const { return CaptureRuntimeStore(dir.path()); }
    CaptureRuntimeState runtimeFile() const { return runtimeStore().load(); }
    void seedRuntime(std::vector<PendingPayload> pending, std::vector<DeadLetter> deadLetters = {},
                     std::optional<int64_t> lastScanAt = std::nullopt) {
        CaptureRuntimeState state = CaptureRuntimeState::fresh(seededInstallID);
        state.pending = std::move(pending);
        state.deadLetters = std::move(deadLetters);
        state.lastSuccessfulScanAt = lastScanAt;
        runtimeStore().save(state);
    }

    RatingsSyncStore ratingsStore() const { return RatingsSyncStore(dir.path()); }
    RatingsSyncState ratingsFile() const { return ratingsStore().load(); }
    bool ratingsFileExists() const { return ratingsStore().exists(); }
    void seedRatings(const RatingsSyncState& state) { ratingsStore().save(state); }

  private:
    std::atomic<double> clock_{startTime};
    std::mutex credentialMutex_;
    std::optional<UploadCredential> credential_ = usableCredential();
    mutable std::mutex delayMutex_;
    std::vector<DelayedSubmission> delayed_;
    std::vector<CaptureServiceStatus> published_;

  public:
    // Last, so the controller goes before the fakes its tasks and callbacks use.
    ~ControllerHarness() { controller.reset(); }
};

} // namespace qb::test
