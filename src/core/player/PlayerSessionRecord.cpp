#include "core/player/PlayerSessionRecord.hpp"

namespace qb {

const char* playerSessionEndText(PlayerSessionEnd end) {
    return end == PlayerSessionEnd::trackChanged ? "track_changed" : "player_stopped";
}

std::optional<PlayerSessionEnd> parsePlayerSessionEnd(const std::string& text) {
    if (text == "track_changed") return PlayerSessionEnd::trackChanged;
    if (text == "player_stopped") return PlayerSessionEnd::playerStopped;
    return std::nullopt;
}

Json PlayerSessionRecord::toJson() const {
    Json j = {{"sessionID", sessionID},
              {"artist", artist},
              {"track", track},
              {"album", album},
              {"libraryPersistentID", libraryPersistentID},
              {"firstObservedAt", firstObservedAt},
              {"lastObservedAt", lastObservedAt},
              {"playingMS", playingMS},
              {"pausedMS", pausedMS},
              {"wallObservedMS", wallObservedMS},
              {"unobservedMS", unobservedMS},
              {"finaliseReason", playerSessionEndText(finaliseReason)},
              {"boundaryObserved", boundaryObserved}};
    json::putOptional(j, "durationMS", durationMS);
    return j;
}

PlayerSessionRecord PlayerSessionRecord::fromJson(const Json& j) {
    json::requireObject(j, "player session");
    PlayerSessionRecord r;
    r.sessionID = json::requireString(j, "sessionID");
    r.artist = json::requireString(j, "artist");
    r.track = json::requireString(j, "track");
    r.album = json::requireString(j, "album");
    r.durationMS = json::optionalInt(j, "durationMS");
    r.libraryPersistentID = json::requireString(j, "libraryPersistentID");
    r.firstObservedAt = json::requireInt(j, "firstObservedAt");
    r.lastObservedAt = json::requireInt(j, "lastObservedAt");
    r.playingMS = json::requireInt(j, "playingMS");
    r.pausedMS = json::requireInt(j, "pausedMS");
    r.wallObservedMS = json::requireInt(j, "wallObservedMS");
    r.unobservedMS = json::requireInt(j, "unobservedMS");
    std::string reason = json::requireString(j, "finaliseReason");
    auto parsed = parsePlayerSessionEnd(reason);
    if (!parsed) throw DecodeError("unknown finaliseReason \"" + reason + "\"");
    r.finaliseReason = *parsed;
    r.boundaryObserved = json::requireBool(j, "boundaryObserved");
    return r;
}

} // namespace qb
