#pragma once

#include "core/ratings/RatingEntry.hpp"

#include <vector>

namespace qb {

// One page of ratings sent to the service: part of a complete baseline or of a change batch.
struct RatingsPayload {
    std::string installID;
    std::string syncID;
    std::string kind; // "baseline" or "change"
    std::string snapshotID;
    int64_t page = 1;
    int64_t pages = 1;
    int64_t observedAt = 0;
    int64_t librarySongCount = 0;
    std::vector<RatingEntry> entries;

    bool isBaseline() const { return kind == "baseline"; }

    bool operator==(const RatingsPayload&) const = default;
    void write(JsonWriter& out) const;
    static RatingsPayload read(jsonread::Value json);
    // The wire body: compact JSON text. Throws DecodeError.
    std::string encode() const;
    static RatingsPayload decode(const std::string& text);
};

} // namespace qb
