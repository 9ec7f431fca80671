#include "core/player/PlayerSessionAccumulator.hpp"

#include "core/common/TextFolding.hpp"
#include "core/common/Uuid.hpp"

#include <cmath>
#include <limits>

namespace qb {
namespace {

constexpr char unitSeparator = '\x01';

// Rounds down and saturates, so clock values outside the data model cannot overflow the
// conversion; NaN becomes 0.
int64_t floorToInt64(double value) {
    if (std::isnan(value)) return 0;
    double whole = std::floor(value);
    if (whole <= -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
    if (whole >= 9223372036854775808.0) return std::numeric_limits<int64_t>::max();
    return static_cast<int64_t>(whole);
}

int64_t truncateToInt64(double value) {
    return value < 0 ? -floorToInt64(-value) : floorToInt64(value);
}

// The later of two clock readings, ignoring readings that are not finite.
double later(double current, double candidate) {
    if (!std::isfinite(candidate)) return current;
    if (!std::isfinite(current)) return candidate;
    return std::max(current, candidate);
}

} // namespace

PlayerSessionAccumulator::PlayerSessionAccumulator(IdentifierMaker makeID)
    : makeID_(makeID ? std::move(makeID) : IdentifierMaker(makeUuidV4)) {}

std::string PlayerSessionAccumulator::identity(const MusicPlayerInfoSample& sample) {
    std::string pid = trimWhitespaceAndNewlines(sample.libraryPersistentID);
    if (!pid.empty()) return "pid:" + pid;
    return "meta:" + foldForMatching(sample.artist) + unitSeparator + foldForMatching(sample.track);
}

void PlayerSessionAccumulator::advance(Open& session, double wall, double uptime) {
    double dw = wall - session.lastWall;
    if (!(dw >= 0) || !std::isfinite(dw)) dw = 0;
    double du = uptime - session.lastUptime;
    double creditMS = 0;
    if (du >= 0 && std::isfinite(du)) {
        creditMS = std::min(du, dw) * 1000.0;
    } else {
        du = 0;
    }
    (session.playing ? session.playingMS : session.pausedMS) += creditMS;
    if (dw - du > sleepToleranceSeconds) session.unobservedMS += (dw - du) * 1000.0;
    session.lastWall = later(session.lastWall, wall);
    session.lastUptime = later(session.lastUptime, uptime);
}

std::optional<PlayerSessionRecord>
PlayerSessionAccumulator::finishLocked(PlayerSessionEnd reason, double wall, double uptime) {
    if (!open_) return std::nullopt;
    Open session = std::move(*open_);
    open_.reset();
    advance(session, wall, uptime);

    PlayerSessionRecord record;
    record.sessionID = std::move(session.sessionID);
    record.artist = std::move(session.artist);
    record.track = std::move(session.track);
    record.album = std::move(session.album);
    record.durationMS = session.durationMS;
    record.libraryPersistentID = std::move(session.libraryPersistentID);
    record.boundaryObserved = session.boundaryObserved;
    record.firstObservedAt = truncateToInt64(session.firstWall);
    record.lastObservedAt = truncateToInt64(session.lastWall);
    record.playingMS = floorToInt64(session.playingMS);
    record.pausedMS = floorToInt64(session.pausedMS);
    record.unobservedMS = floorToInt64(session.unobservedMS);
    double wallSpan = session.lastWall - session.firstWall;
    record.wallObservedMS = wallSpan > 0 ? floorToInt64(wallSpan * 1000.0) : 0;
    record.finaliseReason = reason;
    return record;
}

std::optional<PlayerSessionRecord>
PlayerSessionAccumulator::observe(const std::optional<MusicPlayerInfoSample>& sample, double wall,
                                  double uptime) {
    std::lock_guard guard(lock_);
    if (!sample) {
        auto record = finishLocked(PlayerSessionEnd::playerStopped, wall, uptime);
        if (record) lastEventWasStop_ = true;
        return record;
    }

    std::string itemIdentity = identity(*sample);
    if (open_ && open_->identity == itemIdentity) {
        advance(*open_, wall, uptime);
        open_->playing = sample->playing;
        if (!open_->durationMS) open_->durationMS = sample->durationMs;
        return std::nullopt;
    }

    const bool boundary = open_ ? true : lastEventWasStop_;
    auto record = finishLocked(PlayerSessionEnd::trackChanged, wall, uptime);
    Open session;
    session.sessionID = makeID_();
    session.identity = std::move(itemIdentity);
    session.artist = sample->artist;
    session.track = sample->track;
    session.album = sample->album;
    session.durationMS = sample->durationMs;
    session.libraryPersistentID = sample->libraryPersistentID;
    session.firstWall = wall;
    session.lastWall = wall;
    session.lastUptime = uptime;
    session.playing = sample->playing;
    session.boundaryObserved = boundary;
    open_ = std::move(session);
    lastEventWasStop_ = false;
    return record;
}

void PlayerSessionAccumulator::discard() {
    std::lock_guard guard(lock_);
    open_.reset();
    lastEventWasStop_ = false;
}

} // namespace qb
