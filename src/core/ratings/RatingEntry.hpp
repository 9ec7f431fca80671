#pragma once

#include "core/common/JsonReader.hpp"
#include "core/common/JsonWriter.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace qb {

// One song in a ratings page; snake-case keys on the wire.
struct RatingEntry {
    std::string persistentID;
    std::string artist;
    std::string albumArtist;
    std::string album;
    std::string title;
    int64_t rating = 0;
    bool ratingComputed = false;
    bool favourite = false;
    std::optional<int64_t> playCount;

    bool operator==(const RatingEntry&) const = default;
    void write(JsonWriter& out) const;
    static RatingEntry read(jsonread::Value json);
};

} // namespace qb
