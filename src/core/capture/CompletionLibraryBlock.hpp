#pragma once

#include "core/capture/CompletionDelta.hpp"

#include <vector>

namespace qb {

// The library part of one upload: scan figures and the deltas this payload carries.
struct CompletionLibraryBlock {
    int64_t observedAt = 0;
    std::optional<int64_t> baselineCapturedAt;
    bool isBaseline = false;
    int64_t songCount = 0;
    int64_t scanMS = 0;
    int64_t newLibraryTracks = 0;
    int64_t resetTracks = 0;
    int64_t positiveDeltas = 0;
    int64_t deltasTruncated = 0;
    std::vector<CompletionDelta> deltas;

    bool operator==(const CompletionLibraryBlock&) const = default;
    Json toJson() const;
    static CompletionLibraryBlock fromJson(const Json& json);
};

} // namespace qb
