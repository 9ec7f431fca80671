#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qb {

// What the player is playing or has paused.
struct MusicPlayerInfoSample {
    std::string artist;
    std::string track;
    std::string album;
    bool playing = false;
    std::optional<int64_t> durationMs;
    std::string libraryPersistentID;

    bool operator==(const MusicPlayerInfoSample&) const = default;
};

} // namespace qb
