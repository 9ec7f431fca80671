#pragma once

#include "core/capture/CaptureBaselineStore.hpp"
#include "core/capture/CaptureRuntimeStore.hpp"
#include "core/common/Clock.hpp"
#include "core/common/SerialQueue.hpp"
#include "core/player/NonLibrarySessionStore.hpp"
#include "core/ratings/RatingsSyncStore.hpp"
#include "core/ratings/RatingsTransport.hpp"
#include "core/service/CaptureServiceStatus.hpp"
#include "core/service/CaptureWorkerRunning.hpp"
#include "core/service/ReconcileTransport.hpp"

#include <filesystem>
#include <memory>
#include <mutex>

namespace qb {

// The long-running capture service: schedules scans, runs the worker, drains the upload
// queues and publishes status. Every field lives on one serial work queue.
class CaptureController : public std::enable_shared_from_this<CaptureController> {
  public:
    using CredentialProvider = std::function<std::optional<UploadCredential>()>;
    // Calls `submit` once `seconds` have passed (from any thread); the default uses the queue.
    using DelayScheduler = std::function<void(double seconds, std::function<void()> submit)>;

    struct Options {
        std::filesystem::path stateDirectory;
        std::shared_ptr<CaptureWorkerRunning> worker;
        std::shared_ptr<ReconcileTransport> transport;
        std::shared_ptr<RatingsTransport> ratingsTransport; // null: ratings sync off
        CredentialProvider credentialProvider;
        Executor mainExecutor; // delivers status snapshots in order
        WallClock clock = systemWallTime;
        DelayScheduler delayScheduler;
    };

    static constexpr int64_t minimumScanInterval = 60;
    static constexpr int64_t maxUploadsPerDrain = 20;
    static constexpr size_t maxDeadLetters = 20;
    static constexpr const char* queueLabel = "io.quillabrenta.capture.controller";

    static std::shared_ptr<CaptureController> make(Options options);
    ~CaptureController();

    void scan(std::string trigger, bool force, std::function<void(bool)> completion = {});
    void drain();
    CaptureServiceStatus status();
    std::string installID();
    void setPaused(bool value);
    void noteCredentialChanged();
    // Throws the first store failure (CaptureError or FileError).
    void reset();
    void prepareNonLibrarySessions();
    void discardNonLibrarySessions();
    void recordPlayerSession(PlayerSessionRecord record);
    void refreshRatingsAvailability(bool force);

    void setOnStatusChange(std::function<void(const CaptureServiceStatus&)> callback);
    void setOnCredentialRejected(std::function<void()> callback);

    // The work queue, for callers that need to wait until it is idle.
    SerialQueue& workQueue() { return work_; }

  private:
    explicit CaptureController(Options options);
    void construct();

    int64_t now() const { return wholeSeconds(clock_()); }
    bool credentialUsable(std::optional<UploadCredential>* credential = nullptr) const;

    void scanLocked(const std::string& trigger, bool force,
                    const std::function<void(bool)>& completion);
    void scheduleTrailingScanLocked(const std::string& trigger, int64_t after);
    CaptureServiceStatus statusLocked() const;
    void publishLocked();
    void drainLocked(int64_t processed);
    // Reads the runtime state back once a worker ran, finishing its pass if it was cut short.
    // Until that succeeds the state in memory may be older than the file, and nothing may
    // write it: false.
    bool reloadStateLocked();
    bool isStaleUploadLocked(uint64_t serial) const;
    void handleUploadLocked(const std::string& payloadID, const UploadResult& result,
                            int64_t processed, int64_t startedAt, uint64_t serial);
    bool drainRatingsLocked(const UploadCredential& credential, int64_t processed);
    void handleRatingsUploadLocked(const RatingsUploadResult& result, const std::string& syncID,
                                   int64_t processed, int64_t startedAt, uint64_t serial);
    void refreshRatingsAvailabilityLocked(bool force);
    void handleAvailabilityLocked(const RatingsAvailabilityAnswer& answer, int64_t startedAt);
    void reloadRatingsSummaryLocked();
    void dropRatingsLocked();
    static void removeStaleLegacyStateFile(const std::filesystem::path& directory);

    // Runs `task` on the work queue while this controller still exists.
    void submit(std::function<void(CaptureController&)> task);

    std::shared_ptr<CaptureWorkerRunning> worker_;
    CaptureRuntimeStore runtimeStore_;
    CaptureBaselineStore baselineStore_;
    NonLibrarySessionStore nonLibraryStore_;
    std::shared_ptr<ReconcileTransport> transport_;
    std::shared_ptr<RatingsTransport> ratingsTransport_;
    RatingsSyncStore ratingsStore_;
    std::optional<RatingsSyncSummary> ratingsSummary_;
    bool trailingScanPending_ = false;
    CaptureRuntimeState state_;
    bool scanning_ = false;
    bool stateCurrent_ = true;
    bool uploading_ = false;
    uint64_t uploadSerial_ = 0; // numbers each upload, so a stale answer is recognised
    bool connected_ = false;
    CredentialProvider credentialProvider_;
    Executor mainExecutor_;
    WallClock clock_;
    DelayScheduler delayScheduler_;

    std::mutex callbackLock_;
    std::function<void(const CaptureServiceStatus&)> onStatusChange_;
    std::function<void()> onCredentialRejected_;

    // Declared last so it stops before the fields its tasks use are destroyed.
    SerialQueue work_;
};

} // namespace qb
