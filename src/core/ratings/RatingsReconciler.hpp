#pragma once

#include "core/library/LibraryScan.hpp"
#include "core/ratings/RatingsSyncState.hpp"

#include <optional>
#include <vector>

namespace qb {

// What one reconciliation of a scan against the remembered evidence yields.
struct RatingsReconciliation {
    std::vector<RatingsPayload> payloads; // in page order; empty only for a change batch
    RatingBaseline baseline;              // the evidence to remember once the pages are queued
    int64_t changedSongs = 0;             // 0 for a baseline
    int64_t userRated = 0;
    int64_t favourites = 0;

    bool operator==(const RatingsReconciliation&) const = default;
};

// Pure: no clock, no files, so equal inputs give equal pages with equal identifiers.
namespace RatingsReconciler {

// Without previous evidence every song goes into a complete baseline; otherwise only new
// songs, changed ratings or favourites, and (when sendPlayCounts) changed play counts.
RatingsReconciliation reconcile(const std::optional<RatingBaseline>& previous,
                                const std::vector<LibraryTrack>& tracks,
                                const std::string& installID, int64_t observedAt, int64_t pageSize,
                                bool sendPlayCounts);

// Folds one reconciliation into the state: queue bound, de-duplication and play-count timer.
RatingsSyncState apply(const std::vector<LibraryTrack>& tracks, const RatingsSyncState& state,
                       const std::string& installID, int64_t observedAt);

} // namespace RatingsReconciler
} // namespace qb
