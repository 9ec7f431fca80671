#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qb {

// The ratings figures shown in the status and the menu.
struct RatingsSyncSummary {
    int64_t pending = 0;
    std::optional<int64_t> lastSyncedAt;
    int64_t userRated = 0;
    int64_t favourites = 0;
    bool baselineSent = false;
    std::string lastError;

    bool operator==(const RatingsSyncSummary&) const = default;
};

} // namespace qb
