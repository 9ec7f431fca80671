#include "core/service/CaptureController.hpp"

#include "core/capture/PassCommit.hpp"
#include "core/common/FileIO.hpp"
#include "core/common/Uuid.hpp"

#include <algorithm>
#include <limits>

namespace qb {

namespace {
// Differences of stored times saturate, so a corrupt file cannot overflow them.
int64_t saturatingSub(int64_t a, int64_t b) {
    int64_t result = 0;
    if (!__builtin_sub_overflow(a, b, &result)) return result;
    return b < 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
}

int64_t nextAttemptCount(int64_t attempts) {
    return attempts == std::numeric_limits<int64_t>::max() ? attempts : attempts + 1;
}

int64_t backoffSeconds(int64_t attempts) {
    if (attempts < 0) return 0;
    return int64_t{1} << std::min<int64_t>(attempts, 11);
}

template <typename T>
auto findByID(std::vector<T>& list, const std::string& id, std::string T::*field) {
    return std::find_if(list.begin(), list.end(), [&](const T& item) { return item.*field == id; });
}
} // namespace

std::shared_ptr<CaptureController> CaptureController::make(Options options) {
    std::shared_ptr<CaptureController> controller(new CaptureController(std::move(options)));
    controller->construct();
    return controller;
}

CaptureController::CaptureController(Options options)
    : worker_(std::move(options.worker)), runtimeStore_(options.stateDirectory),
      baselineStore_(options.stateDirectory), nonLibraryStore_(options.stateDirectory),
      transport_(std::move(options.transport)),
      ratingsTransport_(std::move(options.ratingsTransport)), ratingsStore_(options.stateDirectory),
      credentialProvider_(std::move(options.credentialProvider)),
      mainExecutor_(std::move(options.mainExecutor)), clock_(std::move(options.clock)),
      delayScheduler_(std::move(options.delayScheduler)), work_(queueLabel) {
    if (!mainExecutor_) mainExecutor_ = [](std::function<void()> task) { task(); };
    if (!clock_) clock_ = systemWallTime;
}

CaptureController::~CaptureController() = default;

void CaptureController::construct() {
    // A worker killed with the application may have left its pass half done.
    std::string unsettled;
    try {
        PassCommit::settle(runtimeStore_.fileURL().parent_path());
    } catch (const std::exception& error) {
        stateCurrent_ = false;
        unsettled = error.what();
    }
    try {
        state_ = runtimeStore_.load();
        if (stateCurrent_ && !runtimeStore_.exists()) runtimeStore_.save(state_);
    } catch (const std::exception& error) {
        state_ = CaptureRuntimeState::fresh(makeUuidV4());
        state_.lastError = error.what();
        try {
            if (stateCurrent_) runtimeStore_.save(state_);
        } catch (const std::exception&) {
            // Runs on the in-memory state; the next successful save persists it.
        }
    }
    if (!stateCurrent_) state_.lastError = unsettled;
    connected_ = credentialUsable();
    removeStaleLegacyStateFile(runtimeStore_.fileURL().parent_path());
    if (ratingsStore_.exists()) {
        try {
            ratingsSummary_ = ratingsStore_.load().summary();
        } catch (const std::exception&) {
        }
    }
}

void CaptureController::removeStaleLegacyStateFile(const std::filesystem::path& directory) {
    try {
        fileio::removeIfExists(directory / "capture-state.json");
    } catch (const std::exception&) {
    }
}

bool CaptureController::credentialUsable(std::optional<UploadCredential>* credential) const {
    auto loaded = credentialProvider_ ? credentialProvider_() : std::nullopt;
    bool usable = loaded && loaded->isUsable();
    if (credential) *credential = std::move(loaded);
    return usable;
}

void CaptureController::submit(std::function<void(CaptureController&)> task) {
    work_.async([this, task = std::move(task)] { task(*this); });
}

// MARK: public operations

void CaptureController::scan(std::string trigger, bool force,
                             std::function<void(bool)> completion) {
    submit([trigger = std::move(trigger), force, completion = std::move(completion)](
               CaptureController& c) { c.scanLocked(trigger, force, completion); });
}

void CaptureController::drain() {
    submit([](CaptureController& c) { c.drainLocked(0); });
}

CaptureServiceStatus CaptureController::status() {
    CaptureServiceStatus result;
    work_.sync([&] { result = statusLocked(); });
    return result;
}

std::string CaptureController::installID() {
    std::string result;
    work_.sync([&] { result = state_.installID; });
    return result;
}

void CaptureController::setPaused(bool value) {
    submit([value](CaptureController& c) {
        if (!c.reloadStateLocked()) {
            c.publishLocked();
            return;
        }
        CaptureRuntimeState copy = c.state_;
        copy.paused = value;
        try {
            c.runtimeStore_.save(copy);
            c.state_ = std::move(copy);
        } catch (const std::exception& error) {
            c.state_.lastError = error.what();
        }
        c.publishLocked();
    });
}

void CaptureController::noteCredentialChanged() {
    submit([](CaptureController& c) {
        c.connected_ = c.credentialUsable();
        c.publishLocked();
        c.drainLocked(0);
    });
    refreshRatingsAvailability(true);
}

void CaptureController::reset() {
    std::exception_ptr failure;
    work_.sync([&] {
        try {
            runtimeStore_.reset();
            baselineStore_.reset();
            nonLibraryStore_.reset();
            ratingsStore_.reset();
            ratingsSummary_.reset();
            state_ = CaptureRuntimeState::fresh(makeUuidV4());
            runtimeStore_.save(state_);
            stateCurrent_ = true;
            connected_ = scanning_ = uploading_ = false;
            publishLocked();
        } catch (...) {
            failure = std::current_exception();
        }
    });
    if (failure) std::rethrow_exception(failure);
}

void CaptureController::prepareNonLibrarySessions() {
    submit([](CaptureController& c) {
        try {
            c.nonLibraryStore_.createIfMissing();
        } catch (const std::exception&) {
        }
    });
}

void CaptureController::discardNonLibrarySessions() {
    submit([](CaptureController& c) {
        try {
            c.nonLibraryStore_.reset();
        } catch (const std::exception&) {
        }
    });
}

void CaptureController::recordPlayerSession(PlayerSessionRecord record) {
    submit([record = std::move(record)](CaptureController& c) {
        if (c.state_.paused) return;
        try {
            c.nonLibraryStore_.append(record);
        } catch (const std::exception&) {
            // An unreadable journal drops sessions until it is reset.
        }
    });
}

void CaptureController::refreshRatingsAvailability(bool force) {
    submit([force](CaptureController& c) { c.refreshRatingsAvailabilityLocked(force); });
}

void CaptureController::setOnStatusChange(
    std::function<void(const CaptureServiceStatus&)> callback) {
    std::lock_guard lock(callbackLock_);
    onStatusChange_ = std::move(callback);
}

void CaptureController::setOnCredentialRejected(std::function<void()> callback) {
    std::lock_guard lock(callbackLock_);
    onCredentialRejected_ = std::move(callback);
}

// MARK: scanning

void CaptureController::scanLocked(const std::string& trigger, bool force,
                                   const std::function<void(bool)>& completion) {
    const int64_t current = now();
    const int64_t remaining =
        state_.lastSuccessfulScanAt
            ? saturatingSub(minimumScanInterval,
                            saturatingSub(current, *state_.lastSuccessfulScanAt))
            : 0;
    const bool deferred = scanning_ || uploading_ || state_.paused || (!force && remaining >= 1);
    if (deferred) {
        if (!state_.paused) scheduleTrailingScanLocked(trigger, remaining > 5 ? remaining : 5);
        if (completion) completion(true);
        return;
    }

    scanning_ = true;
    publishLocked();
    const CaptureWorkerResult result = worker_->run(trigger);
    // The worker wrote the files, even when it failed or was killed on the way: only what is
    // on disk now may be written back.
    stateCurrent_ = false;
    if (reloadStateLocked() && !result.ok) state_.lastError = result.error;
    scanning_ = false;
    reloadRatingsSummaryLocked();
    publishLocked();
    if (completion) completion(result.ok);
    if (result.ok) drainLocked(0);
}

void CaptureController::scheduleTrailingScanLocked(const std::string& trigger, int64_t after) {
    if (trailingScanPending_) return;
    trailingScanPending_ = true;
    static const std::string suffix = "_trailing";
    const bool alreadyTrailing =
        trigger.size() >= suffix.size() &&
        trigger.compare(trigger.size() - suffix.size(), suffix.size(), suffix) == 0;
    std::string next = alreadyTrailing ? trigger : trigger + suffix;
    auto fire = [next](CaptureController& c) {
        c.trailingScanPending_ = false;
        c.scanLocked(next, false, {});
    };
    const double delay = static_cast<double>(std::max<int64_t>(after, 1));
    if (delayScheduler_) {
        std::weak_ptr<CaptureController> weak = weak_from_this();
        delayScheduler_(delay, [weak, fire] {
            if (auto self = weak.lock()) self->submit(fire);
        });
    } else {
        work_.asyncAfter(delay, [this, fire] { fire(*this); });
    }
}

// MARK: status

CaptureServiceStatus CaptureController::statusLocked() const {
    return {state_.installID,
            state_.paused,
            scanning_,
            connected_,
            state_.lastSuccessfulScanAt,
            state_.lastSuccessfulUploadAt,
            static_cast<int64_t>(state_.pending.size()),
            state_.lastError,
            state_.diagnostics,
            ratingsSummary_};
}

void CaptureController::publishLocked() {
    auto snapshot = statusLocked();
    std::weak_ptr<CaptureController> weak = weak_from_this();
    mainExecutor_([weak, snapshot = std::move(snapshot)] {
        auto self = weak.lock();
        if (!self) return;
        std::function<void(const CaptureServiceStatus&)> callback;
        {
            std::lock_guard lock(self->callbackLock_);
            callback = self->onStatusChange_;
        }
        if (callback) callback(snapshot);
    });
}

// MARK: reconcile drain

bool CaptureController::reloadStateLocked() {
    if (stateCurrent_) return true;
    try {
        PassCommit::settle(runtimeStore_.fileURL().parent_path());
        state_ = runtimeStore_.load();
        stateCurrent_ = true;
    } catch (const std::exception& error) {
        state_.lastError = error.what();
    }
    return stateCurrent_;
}

void CaptureController::drainLocked(int64_t processed) {
    std::optional<UploadCredential> credential;
    if (scanning_ || uploading_ || processed >= maxUploadsPerDrain || !reloadStateLocked() ||
        !credentialUsable(&credential)) {
        connected_ = credential ? credential->isUsable() : credentialUsable();
        publishLocked();
        return;
    }
    connected_ = true;
    const int64_t startedAt = now();
    auto due = std::find_if(state_.pending.begin(), state_.pending.end(),
                            [&](const PendingPayload& p) { return p.nextAttemptAt <= startedAt; });
    if (due == state_.pending.end()) {
        if (!drainRatingsLocked(*credential, processed)) publishLocked();
        return;
    }
    uploading_ = true;
    const uint64_t serial = ++uploadSerial_;
    std::weak_ptr<CaptureController> weak = weak_from_this();
    const std::string id = due->id;
    transport_->post(due->payload, *credential,
                     [weak, id, processed, startedAt, serial](UploadResult result) {
                         if (auto self = weak.lock())
                             self->submit([id, processed, startedAt, serial,
                                           result = std::move(result)](CaptureController& c) {
                                 c.handleUploadLocked(id, result, processed, startedAt, serial);
                             });
                     });
}

bool CaptureController::isStaleUploadLocked(uint64_t serial) const {
    // A reset clears `uploading` while a request is still out; once a newer upload has
    // started, the old answer must not end it, or two requests would be in flight.
    return uploading_ && serial != uploadSerial_;
}

void CaptureController::handleUploadLocked(const std::string& payloadID, const UploadResult& result,
                                           int64_t processed, int64_t startedAt, uint64_t serial) {
    if (isStaleUploadLocked(serial)) return;
    uploading_ = false;
    if (!reloadStateLocked()) {
        publishLocked(); // the payload stays in the file and goes out again, same identifier
        return;
    }
    CaptureRuntimeState copy = state_;
    auto entry = findByID(copy.pending, payloadID, &PendingPayload::id);
    if (entry == copy.pending.end()) {
        drainLocked(processed + 1);
        return;
    }
    switch (result.kind) {
    case UploadResult::Kind::accepted:
        copy.pending.erase(entry);
        copy.lastSuccessfulUploadAt = startedAt;
        copy.lastError.clear();
        break;
    case UploadResult::Kind::permanentRejected:
        copy.pending.erase(entry);
        copy.deadLetters.push_back({payloadID, startedAt, "http_" + std::to_string(result.status)});
        if (copy.deadLetters.size() > maxDeadLetters)
            copy.deadLetters.erase(copy.deadLetters.begin(),
                                   copy.deadLetters.end() -
                                       static_cast<std::ptrdiff_t>(maxDeadLetters));
        copy.lastError = "payload_rejected_" + std::to_string(result.status);
        break;
    case UploadResult::Kind::transient:
        entry->attempts = nextAttemptCount(entry->attempts);
        entry->nextAttemptAt = startedAt + backoffSeconds(entry->attempts);
        entry->lastError = result.message;
        copy.lastError = result.message;
        break;
    case UploadResult::Kind::credentialRejected:
        entry->lastError = "credential_rejected_" + std::to_string(result.status);
        copy.lastError = entry->lastError;
        connected_ = false;
        break;
    }
    bool saved = false;
    try {
        runtimeStore_.save(copy);
        state_ = std::move(copy);
        saved = true;
    } catch (const std::exception& error) {
        // The payload stays queued and goes out again with the same identifier, but not in
        // this chain: it would only be sent again at once, up to the chain's end.
        state_.lastError = error.what();
    }
    publishLocked();
    switch (result.kind) {
    case UploadResult::Kind::accepted:
    case UploadResult::Kind::permanentRejected:
        if (saved) drainLocked(processed + 1);
        break;
    case UploadResult::Kind::transient:
        break;
    case UploadResult::Kind::credentialRejected: {
        std::function<void()> callback;
        {
            std::lock_guard lock(callbackLock_);
            callback = onCredentialRejected_;
        }
        if (callback) callback();
        break;
    }
    }
}

// MARK: ratings

void CaptureController::reloadRatingsSummaryLocked() {
    ratingsSummary_.reset();
    if (!ratingsStore_.exists()) return;
    try {
        ratingsSummary_ = ratingsStore_.load().summary();
    } catch (const std::exception&) {
    }
}

void CaptureController::dropRatingsLocked() {
    try {
        ratingsStore_.reset();
    } catch (const std::exception&) {
    }
    ratingsSummary_.reset();
    publishLocked();
}

void CaptureController::refreshRatingsAvailabilityLocked(bool force) {
    if (!ratingsTransport_) return;
    std::optional<UploadCredential> credential;
    if (!credentialUsable(&credential)) return;
    const int64_t startedAt = now();
    if (!force && ratingsStore_.exists()) {
        try {
            auto stored = ratingsStore_.load();
            if (stored.lastAvailabilityCheckAt &&
                saturatingSub(startedAt, *stored.lastAvailabilityCheckAt) <
                    ratingsAvailabilityInterval)
                return;
        } catch (const std::exception&) {
            // An unreadable file never holds the check back.
        }
    }
    std::weak_ptr<CaptureController> weak = weak_from_this();
    ratingsTransport_->availability(
        *credential, [weak, startedAt](RatingsAvailabilityAnswer answer) {
            if (auto self = weak.lock())
                self->submit([answer = std::move(answer), startedAt](CaptureController& c) {
                    c.handleAvailabilityLocked(answer, startedAt);
                });
        });
}

void CaptureController::handleAvailabilityLocked(const RatingsAvailabilityAnswer& answer,
                                                 int64_t startedAt) {
    const auto* availability = std::get_if<RatingsAvailability>(&answer);
    if (!availability) return;
    if (!availability->enabled) {
        dropRatingsLocked();
        return;
    }
    if (!ratingsStore_.exists()) {
        try {
            ratingsStore_.save(RatingsSyncState::fresh());
        } catch (const std::exception&) {
        }
    }
    RatingsSyncState copy;
    try {
        copy = ratingsStore_.load();
    } catch (const std::exception&) {
        return;
    }
    copy.lastAvailabilityCheckAt = startedAt;
    copy.serverBaselineSnapshotID = availability->baselineSnapshot;
    bool needsBaseline = !copy.baseline.has_value();
    const bool baselineQueued =
        std::any_of(copy.pending.begin(), copy.pending.end(),
                    [](const PendingRatingsPayload& p) { return p.payload.isBaseline(); });
    if (!baselineQueued && copy.baseline &&
        copy.baselineSnapshotID != availability->baselineSnapshot) {
        // The service lost the baseline it acknowledged: send a complete one again.
        copy.baseline.reset();
        copy.baselineSnapshotID.clear();
        copy.pending.clear();
        needsBaseline = true;
    }
    try {
        ratingsStore_.save(copy);
    } catch (const std::exception&) {
    }
    ratingsSummary_ = copy.summary();
    publishLocked();
    if (needsBaseline)
        scanLocked("ratings_baseline", true, {});
    else
        drainLocked(0);
}

bool CaptureController::drainRatingsLocked(const UploadCredential& credential, int64_t processed) {
    if (!ratingsTransport_ || !ratingsStore_.exists()) return false;
    RatingsSyncState stored;
    try {
        stored = ratingsStore_.load();
    } catch (const std::exception&) {
        return false;
    }
    const int64_t startedAt = now();
    auto due =
        std::find_if(stored.pending.begin(), stored.pending.end(),
                     [&](const PendingRatingsPayload& p) { return p.nextAttemptAt <= startedAt; });
    if (due == stored.pending.end()) return false;
    uploading_ = true;
    const uint64_t serial = ++uploadSerial_;
    std::weak_ptr<CaptureController> weak = weak_from_this();
    const std::string syncID = due->payload.syncID;
    ratingsTransport_->post(
        due->payload, credential,
        [weak, syncID, processed, startedAt, serial](RatingsUploadResult result) {
            if (auto self = weak.lock())
                self->submit([result = std::move(result), syncID, processed, startedAt,
                              serial](CaptureController& c) {
                    c.handleRatingsUploadLocked(result, syncID, processed, startedAt, serial);
                });
        });
    return true;
}

void CaptureController::handleRatingsUploadLocked(const RatingsUploadResult& result,
                                                  const std::string& syncID, int64_t processed,
                                                  int64_t startedAt, uint64_t serial) {
    if (isStaleUploadLocked(serial)) return;
    uploading_ = false;
    using Kind = RatingsUploadResult::Kind;
    if (result.kind == Kind::unavailable) {
        dropRatingsLocked();
        return;
    }
    RatingsSyncState copy;
    bool loaded = false;
    if (ratingsStore_.exists()) {
        try {
            copy = ratingsStore_.load();
            loaded = true;
        } catch (const std::exception&) {
        }
    }
    auto page = loaded ? std::find_if(copy.pending.begin(), copy.pending.end(),
                                      [&](const PendingRatingsPayload& p) {
                                          return p.payload.syncID == syncID;
                                      })
                       : copy.pending.end();
    if (page == copy.pending.end()) {
        reloadRatingsSummaryLocked();
        drainLocked(processed + 1);
        return;
    }
    switch (result.kind) {
    case Kind::accepted:
        copy.pending.erase(page);
        copy.lastSyncedAt = startedAt;
        copy.lastError.clear();
        if (!result.baselineSnapshot.empty())
            copy.serverBaselineSnapshotID = result.baselineSnapshot;
        break;
    case Kind::permanentRejected:
        copy.pending.erase(page);
        copy.lastError = "ratings_rejected_" + std::to_string(result.status);
        break;
    case Kind::transient:
        page->attempts = nextAttemptCount(page->attempts);
        page->nextAttemptAt = startedAt + backoffSeconds(page->attempts);
        copy.lastError = result.message;
        break;
    case Kind::credentialRejected:
        copy.lastError = "ratings_credential_" + std::to_string(result.status);
        break;
    case Kind::unavailable:
        break;
    }
    try {
        ratingsStore_.save(copy);
    } catch (const std::exception&) {
    }
    ratingsSummary_ = copy.summary();
    publishLocked();
    if (result.kind == Kind::accepted || result.kind == Kind::permanentRejected)
        drainLocked(processed + 1);
}

} // namespace qb
