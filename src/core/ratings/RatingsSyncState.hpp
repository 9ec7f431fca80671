#pragma once

#include "core/ratings/PendingRatingsPayload.hpp"
#include "core/ratings/RatingState.hpp"
#include "core/ratings/RatingsConstants.hpp"
#include "core/ratings/RatingsSyncSummary.hpp"

#include <vector>

namespace qb {

// The content of "ratings-sync.json": remembered evidence, the page queue and the sync's times.
struct RatingsSyncState {
    int64_t schemaVersion = ratingsSyncSchemaVersion;
    std::optional<RatingBaseline> baseline; // absent until a baseline batch was queued
    std::string baselineSnapshotID;
    std::string serverBaselineSnapshotID;
    std::vector<PendingRatingsPayload> pending; // oldest first
    std::optional<int64_t> lastQueuedAt;
    std::optional<int64_t> lastSyncedAt;
    std::optional<int64_t> lastChangeQueuedAt;
    std::optional<int64_t> lastAvailabilityCheckAt;
    std::optional<int64_t> lastPlayCountRefreshAt;
    int64_t userRated = 0;
    int64_t favourites = 0;
    std::string lastError;

    static RatingsSyncState fresh() { return {}; }
    RatingsSyncSummary summary() const;

    bool operator==(const RatingsSyncState&) const = default;
    // The file's text: compact, keys sorted. Throws DecodeError on invalid UTF-8.
    std::string encode() const;
    // Decodes any schema version; the store refuses the ones it does not support.
    // Throws DecodeError.
    static RatingsSyncState decode(const std::string& text);
};

} // namespace qb
