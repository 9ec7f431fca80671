#include "platform/linux/dbus/MprisPlayerState.hpp"

#include <cmath>

namespace qb {

void MprisPlayerState::apply(const MprisPropertiesChange& change) {
    if (change.statusAnnounced) playbackStatus = change.playbackStatus;
    if (change.metadataAnnounced) metadata = change.metadata;
}

PlayerInfo MprisPlayerState::playerInfo() const {
    PlayerInfo info;
    if (playbackStatus) {
        if (auto state = playerStateText(*playbackStatus)) info["Player State"] = *state;
    }
    if (metadata.title) info["Name"] = *metadata.title;
    if (metadata.artist) info["Artist"] = *metadata.artist;
    if (metadata.album) info["Album"] = *metadata.album;
    if (metadata.lengthMs) info["Total Time"] = *metadata.lengthMs;
    return info;
}

std::optional<std::string> MprisPlayerState::playerStateText(const std::string& playbackStatus) {
    if (playbackStatus == "Playing") return "playing";
    if (playbackStatus == "Paused") return "paused";
    if (playbackStatus == "Stopped") return "stopped";
    return std::nullopt;
}

std::optional<int64_t> MprisPlayerState::lengthMs(int64_t microseconds) {
    int64_t ms = microseconds / 1000;
    if (ms < 1) return std::nullopt;
    return ms;
}

std::optional<int64_t> MprisPlayerState::lengthMs(uint64_t microseconds) {
    // Every uint64 of microseconds fits an int64 of milliseconds.
    auto ms = static_cast<int64_t>(microseconds / 1000);
    if (ms < 1) return std::nullopt;
    return ms;
}

std::optional<int64_t> MprisPlayerState::lengthMs(double microseconds) {
    if (!std::isfinite(microseconds)) return std::nullopt;
    double ms = std::trunc(microseconds / 1000.0);
    // 2^63 is exactly representable; every double below it converts without overflow.
    if (ms < 1.0 || ms >= 9223372036854775808.0) return std::nullopt;
    return static_cast<int64_t>(ms);
}

} // namespace qb
