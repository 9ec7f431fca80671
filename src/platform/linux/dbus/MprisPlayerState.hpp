#pragma once

#include "core/player/PlayerInfoValue.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace qb {

// The part of an MPRIS player's Metadata that the now-playing path reads. A field is absent
// when the player left it out or sent it with a type other than the one MPRIS defines.
struct MprisMetadata {
    std::optional<std::string> title;   // xesam:title
    std::optional<std::string> artist;  // xesam:artist, several joined with ", "
    std::optional<std::string> album;   // xesam:album
    std::optional<int64_t> lengthMs;    // mpris:length, converted from microseconds
    std::optional<std::string> trackID; // mpris:trackid: tells a replay of the same song

    bool operator==(const MprisMetadata&) const = default;
};

// What one PropertiesChanged signal or GetAll answer said about PlaybackStatus and Metadata.
// A Metadata announcement replaces the whole metadata, as MPRIS sends it whole.
struct MprisPropertiesChange {
    bool statusAnnounced = false;
    std::optional<std::string> playbackStatus; // absent when announced with a wrong type
    bool metadataAnnounced = false;
    MprisMetadata metadata;
};

// The last known PlaybackStatus and Metadata of one player on the bus.
struct MprisPlayerState {
    std::optional<std::string> playbackStatus;
    MprisMetadata metadata;

    void apply(const MprisPropertiesChange& change);
    bool isPlaying() const { return playbackStatus == "Playing"; }
    // The same song, whatever its track id.
    bool sameItem(const MprisMetadata& other) const {
        return metadata.title == other.title && metadata.artist == other.artist &&
               metadata.album == other.album;
    }

    // The user-info map the player-info parser reads: "Player State", "Name", "Artist",
    // "Album" and "Total Time". Unknown values are left out, which the parser reads as empty
    // text or an absent duration. No "Library PersistentID": an MPRIS track id names a
    // playlist position, not a library item, and would make false library matches.
    PlayerInfo playerInfo() const;

    // "Playing", "Paused", "Stopped" → "playing", "paused", "stopped"; anything else absent.
    static std::optional<std::string> playerStateText(const std::string& playbackStatus);

    // mpris:length is microseconds; players send it as x, some as t or d. Lengths below one
    // millisecond (players send 0 or -1 for "unknown") and values no int64 of milliseconds
    // holds count as not announced, so a later real length can still fill the gap.
    static std::optional<int64_t> lengthMs(int64_t microseconds);
    static std::optional<int64_t> lengthMs(uint64_t microseconds);
    static std::optional<int64_t> lengthMs(double microseconds);
};

} // namespace qb
