#pragma once

#include "core/player/MusicPlayerInfoSample.hpp"
#include "core/player/PlayerSessionRecord.hpp"

#include <functional>
#include <mutex>
#include <optional>
#include <string>

namespace qb {

// Turns the stream of player samples into timed sessions, one per uninterrupted stretch of one
// item, and hands back each session it closes. Safe to call from several threads.
class PlayerSessionAccumulator {
  public:
    using IdentifierMaker = std::function<std::string()>;

    // Wall minus uptime progress beyond this counts as time the computer slept.
    static constexpr double sleepToleranceSeconds = 5.0;

    // Without a maker, sessions get fresh lower-case UUIDs. The maker runs under the lock and
    // must not call back into the accumulator.
    explicit PlayerSessionAccumulator(IdentifierMaker makeID = {});

    // sample: the item playing or paused, or absent for a stop. wall: seconds since 1970;
    // uptime: seconds of a monotonic clock that stands still while the computer sleeps.
    // Returns the session this event closed, if any.
    std::optional<PlayerSessionRecord> observe(const std::optional<MusicPlayerInfoSample>& sample,
                                               double wall, double uptime);

    // Drops the open session without a record; the next session does not count as starting
    // at an observed boundary.
    void discard();

    // The item identity: "pid:" and the trimmed persistent ID, else "meta:" and the folded
    // artist and track joined with U+0001.
    static std::string identity(const MusicPlayerInfoSample& sample);

  private:
    struct Open {
        std::string sessionID;
        std::string identity;
        std::string artist;
        std::string track;
        std::string album;
        std::optional<int64_t> durationMS;
        std::string libraryPersistentID;
        double firstWall = 0;
        double lastWall = 0;
        double lastUptime = 0;
        bool playing = false;
        double playingMS = 0;
        double pausedMS = 0;
        double unobservedMS = 0;
        bool boundaryObserved = false;
    };

    static void advance(Open& session, double wall, double uptime);
    std::optional<PlayerSessionRecord> finishLocked(PlayerSessionEnd reason, double wall,
                                                    double uptime);

    std::mutex lock_;
    IdentifierMaker makeID_;
    std::optional<Open> open_;
    bool lastEventWasStop_ = false;
};

} // namespace qb
