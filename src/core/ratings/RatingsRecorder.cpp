#include "core/ratings/RatingsRecorder.hpp"

#include "core/ratings/RatingsReconciler.hpp"

namespace qb {

namespace {

void recordOrThrow(const RatingsSyncStore& store, const LibraryScan& scan,
                   const std::string& installID, int64_t observedAt) {
    const RatingsSyncState state = store.load();
    RatingsSyncState next = RatingsReconciler::apply(scan.tracks, state, installID, observedAt);
    if (next == state) return;
    store.save(next);
}

void resetWithReason(const RatingsSyncStore& store, const std::string& reason) noexcept {
    try {
        RatingsSyncState fresh = RatingsSyncState::fresh();
        fresh.lastError = "ratings_state_reset: " + reason;
        store.save(fresh);
    } catch (...) {
        // Nothing more to do: the next scan tries again.
    }
}

} // namespace

void recordRatings(const RatingsSyncStore& store, const LibraryScan& scan,
                   const std::string& installID, int64_t observedAt) {
    if (!store.exists()) return;
    try {
        recordOrThrow(store, scan, installID, observedAt);
    } catch (const std::exception& e) {
        resetWithReason(store, e.what());
    } catch (...) {
        resetWithReason(store, "unknown failure");
    }
}

} // namespace qb
