#pragma once

#include "core/common/Clock.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace qb {

// Decides when the companion context is worth asking for: once the service has accepted the
// now-playing report of a new track, and for confirmation of the track that played before.
// No I/O, no timer; main thread only.
class CompanionRefreshCoordinator {
  public:
    struct RefreshRequest {
        std::string artist;
        std::string track;
        int64_t since = 0;

        bool operator==(const RefreshRequest&) const = default;
    };

    explicit CompanionRefreshCoordinator(WallClock clock = systemWallTime)
        : clock_(std::move(clock)) {}

    // Artist, U+0001, track.
    static std::string key(const std::string& artist, const std::string& track);

    // A new sample (or two empty strings when nothing plays); asks about the track that ended.
    std::optional<RefreshRequest> trackChanged(const std::string& artist, const std::string& track);
    // The service accepted a now-playing report; asks once for the current track's context.
    std::optional<RefreshRequest> publishAccepted(const std::string& artist,
                                                  const std::string& track);
    // The previous track, asked about again after every accepted upload.
    std::optional<RefreshRequest> captureUploadSucceeded() const;
    // The previous track, asked about when the popover opens.
    std::optional<RefreshRequest> currentConfirmationCheck() const;
    void reset();

    const std::string& currentArtist() const { return currentArtist_; }
    const std::string& currentTrack() const { return currentTrack_; }
    int64_t currentSince() const { return currentSince_; }
    const std::string& pendingArtist() const { return pendingArtist_; }
    const std::string& pendingTrack() const { return pendingTrack_; }
    int64_t pendingSince() const { return pendingSince_; }
    const std::string& contextRefreshPendingKey() const { return contextRefreshPendingKey_; }

  private:
    std::string currentArtist_;
    std::string currentTrack_;
    int64_t currentSince_ = 0;
    std::string pendingArtist_;
    std::string pendingTrack_;
    int64_t pendingSince_ = 0;
    std::string contextRefreshPendingKey_;
    WallClock clock_;
};

} // namespace qb
