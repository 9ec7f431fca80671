#pragma once

#include "core/common/JsonReader.hpp"
#include "core/common/JsonWriter.hpp"
#include "core/library/LibraryScan.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>

namespace qb {

// The rating evidence remembered for one song.
struct RatingState {
    int64_t rating = 0;
    bool computed = false;
    bool favourite = false;
    std::optional<int64_t> playCount;

    // The play count is always present, negative counts raised to 0.
    static RatingState fromTrack(const LibraryTrack& track);

    // The rating the user set; computed and negative ratings count as none.
    int64_t userRating() const;
    // Same user rating and favourite flag; the play count takes no part.
    bool sameEvidence(const RatingState& other) const;

    bool operator==(const RatingState&) const = default;
    // Stored form inside the ratings file; keys are written sorted.
    void write(JsonWriter& out) const;
    static RatingState read(jsonread::Value json);
};

// Evidence by persistent ID. Hashed for fast look-ups over large libraries; the JSON
// object it is written into sorts the keys anyway.
using RatingBaseline = std::unordered_map<std::string, RatingState>;

} // namespace qb
