#pragma once

#include "core/common/JsonFields.hpp"

namespace qb {

enum class PlayerSessionEnd { trackChanged, playerStopped };

// "track_changed" / "player_stopped"; anything else fails to parse.
const char* playerSessionEndText(PlayerSessionEnd end);
std::optional<PlayerSessionEnd> parsePlayerSessionEnd(const std::string& text);

// One finished player session.
struct PlayerSessionRecord {
    std::string sessionID;
    std::string artist;
    std::string track;
    std::string album;
    std::optional<int64_t> durationMS;
    std::string libraryPersistentID;
    int64_t firstObservedAt = 0;
    int64_t lastObservedAt = 0;
    int64_t playingMS = 0;
    int64_t pausedMS = 0;
    int64_t wallObservedMS = 0;
    int64_t unobservedMS = 0;
    PlayerSessionEnd finaliseReason = PlayerSessionEnd::trackChanged;
    bool boundaryObserved = false;

    bool operator==(const PlayerSessionRecord&) const = default;
    Json toJson() const;
    static PlayerSessionRecord fromJson(const Json& json);
};

} // namespace qb
