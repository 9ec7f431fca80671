#pragma once

#include "core/common/JsonFields.hpp"

namespace qb {

// One song whose play count rose between two scans (wire keys are snake_case).
struct CompletionDelta {
    std::string track;
    std::string artist;
    std::string album;
    std::optional<int64_t> durationMS;
    std::string persistentID;
    std::string playbackStoreID;
    int64_t playCountBefore = 0;
    int64_t playCountAfter = 0;
    std::optional<int64_t> lastPlayedBefore;
    std::optional<int64_t> lastPlayedAfter;
    int64_t snapshotBeforeAt = 0;

    int64_t occurrenceCount() const {
        return playCountAfter > playCountBefore ? playCountAfter - playCountBefore : 0;
    }

    bool operator==(const CompletionDelta&) const = default;
    Json toJson() const;
    static CompletionDelta fromJson(const Json& json);
};

} // namespace qb
