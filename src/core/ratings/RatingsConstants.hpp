#pragma once

#include <cstdint>

namespace qb {

// The only accepted schema of "ratings-sync.json".
inline constexpr int64_t ratingsSyncSchemaVersion = 1;
// Entries per ratings page.
inline constexpr int64_t ratingsPageSize = 2000;
// Upper bound on queued ratings pages.
inline constexpr int64_t maxPendingRatingPayloads = 400;
// Seconds between unforced availability checks.
inline constexpr int64_t ratingsAvailabilityInterval = 21600;
// Least seconds between two reconciliations that may send pure play-count changes.
inline constexpr int64_t ratingsPlayCountInterval = 21600;

} // namespace qb
