#pragma once

#include "core/library/LibraryScan.hpp"
#include "core/ratings/RatingsSyncStore.hpp"

#include <cstdint>
#include <string>

namespace qb {

// The worker's ratings step after a successful capture pass: queue the pages of this scan.
// Does nothing while the ratings file is absent (sync off). An unreadable file or a failed
// save is replaced by a fresh state naming the reason. Never throws.
void recordRatings(const RatingsSyncStore& store, const LibraryScan& scan,
                   const std::string& installID, int64_t observedAt);

} // namespace qb
