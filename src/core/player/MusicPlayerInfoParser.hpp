#pragma once

#include "core/player/MusicPlayerInfoSample.hpp"
#include "core/player/PlayerInfoValue.hpp"

#include <optional>

namespace qb {

// What one player broadcast means: an item playing or paused, a stop, or nothing usable.
struct MusicPlayerInfoOutcome {
    enum class Kind { sample, stopped, ignored };

    Kind kind = Kind::ignored;
    // Present exactly when kind is sample.
    std::optional<MusicPlayerInfoSample> sample;

    static MusicPlayerInfoOutcome ofSample(MusicPlayerInfoSample s) {
        return {Kind::sample, std::move(s)};
    }
    static MusicPlayerInfoOutcome stopped() { return {Kind::stopped, std::nullopt}; }
    static MusicPlayerInfoOutcome ignored() { return {Kind::ignored, std::nullopt}; }

    bool operator==(const MusicPlayerInfoOutcome&) const = default;
};

namespace MusicPlayerInfoParser {

// Reads "Player State", "Artist", "Name", "Album", "Total Time" and "Library PersistentID".
// Never fails: malformed values read as empty text or an absent duration.
MusicPlayerInfoOutcome parse(const PlayerInfo& userInfo);

} // namespace MusicPlayerInfoParser
} // namespace qb
