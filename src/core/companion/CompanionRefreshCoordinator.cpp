#include "core/companion/CompanionRefreshCoordinator.hpp"

namespace qb {

std::string CompanionRefreshCoordinator::key(const std::string& artist, const std::string& track) {
    return artist + '\x01' + track;
}

std::optional<CompanionRefreshCoordinator::RefreshRequest>
CompanionRefreshCoordinator::trackChanged(const std::string& artist, const std::string& track) {
    std::string newKey = key(artist, track);
    if (newKey == key(currentArtist_, currentTrack_)) return std::nullopt;

    std::optional<RefreshRequest> result;
    if (!currentArtist_.empty() && !currentTrack_.empty()) {
        pendingArtist_ = currentArtist_;
        pendingTrack_ = currentTrack_;
        pendingSince_ = currentSince_;
        result = RefreshRequest{pendingArtist_, pendingTrack_, pendingSince_};
    }
    currentArtist_ = artist;
    currentTrack_ = track;
    currentSince_ = wholeSeconds(clock_());
    contextRefreshPendingKey_ = (!artist.empty() && !track.empty()) ? newKey : std::string();
    return result;
}

std::optional<CompanionRefreshCoordinator::RefreshRequest>
CompanionRefreshCoordinator::publishAccepted(const std::string& artist, const std::string& track) {
    if (artist.empty() || track.empty()) return std::nullopt;
    if (key(artist, track) != contextRefreshPendingKey_) return std::nullopt;
    contextRefreshPendingKey_.clear();
    return RefreshRequest{artist, track, currentSince_};
}

std::optional<CompanionRefreshCoordinator::RefreshRequest>
CompanionRefreshCoordinator::captureUploadSucceeded() const {
    if (pendingArtist_.empty() || pendingTrack_.empty()) return std::nullopt;
    return RefreshRequest{pendingArtist_, pendingTrack_, pendingSince_};
}

std::optional<CompanionRefreshCoordinator::RefreshRequest>
CompanionRefreshCoordinator::currentConfirmationCheck() const {
    return captureUploadSucceeded();
}

void CompanionRefreshCoordinator::reset() {
    currentArtist_.clear();
    currentTrack_.clear();
    currentSince_ = 0;
    pendingArtist_.clear();
    pendingTrack_.clear();
    pendingSince_ = 0;
    contextRefreshPendingKey_.clear();
}

} // namespace qb
