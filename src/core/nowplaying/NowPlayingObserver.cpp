#include "core/nowplaying/NowPlayingObserver.hpp"

#include "core/player/MusicPlayerInfoParser.hpp"

namespace qb {

std::shared_ptr<NowPlayingObserver>
NowPlayingObserver::create(NowPlayingReporting& uploader, InstallIDProvider installID,
                           PlayerRunningChecking& player, RepeatingTimerStarting& timers,
                           WallClock clock, std::string playerIdentifier) {
    return std::shared_ptr<NowPlayingObserver>(
        new NowPlayingObserver(uploader, std::move(installID), player, timers, std::move(clock),
                               std::move(playerIdentifier)));
}

NowPlayingObserver::NowPlayingObserver(NowPlayingReporting& uploader, InstallIDProvider installID,
                                       PlayerRunningChecking& player,
                                       RepeatingTimerStarting& timers, WallClock clock,
                                       std::string playerIdentifier)
    : uploader_(uploader), installID_(std::move(installID)), player_(player), timers_(timers),
      clock_(clock ? std::move(clock) : WallClock(systemWallTime)),
      playerIdentifier_(std::move(playerIdentifier)) {}

std::string NowPlayingObserver::displayText(const MusicPlayerInfoSample& sample) {
    return sample.artist + " \u2013 " + sample.track;
}

void NowPlayingObserver::setEnabled(bool enabled) {
    enabled_ = enabled;
    if (enabled) return;
    current_.reset();
    announce(std::nullopt);
}

void NowPlayingObserver::start() {
    // A second timer would double every heartbeat report.
    if (started_) return;
    started_ = true;
    std::weak_ptr<NowPlayingObserver> weak = weak_from_this();
    timers_.startRepeating(heartbeatSeconds, [weak] {
        if (auto self = weak.lock()) self->heartbeat();
    });
}

void NowPlayingObserver::playerInfoChanged(const PlayerInfo& userInfo) {
    if (!enabled_ || !player_.isPlayerRunning()) return;
    MusicPlayerInfoOutcome outcome = MusicPlayerInfoParser::parse(userInfo);
    switch (outcome.kind) {
    case MusicPlayerInfoOutcome::Kind::ignored:
        return;
    case MusicPlayerInfoOutcome::Kind::stopped:
        clear(stopReason);
        return;
    case MusicPlayerInfoOutcome::Kind::sample: {
        // A local copy: the callbacks may change the current item.
        const MusicPlayerInfoSample sample = *outcome.sample;
        current_ = sample;
        announce(sample);
        publish(sample);
        return;
    }
    }
}

void NowPlayingObserver::runningApplicationTerminated(const std::string& identifier) {
    if (identifier == playerIdentifier_) clear(stopReason);
}

void NowPlayingObserver::heartbeat() {
    if (!enabled_ || !current_ || !player_.isPlayerRunning()) return;
    const MusicPlayerInfoSample sample = *current_;
    publish(sample);
}

void NowPlayingObserver::clear(const std::string& reason) {
    if (!current_) return;
    current_.reset();
    announce(std::nullopt);
    uploader_.sendStopped(reason, installID_ ? installID_() : std::string(),
                          wholeSeconds(clock_()));
}

void NowPlayingObserver::publish(const MusicPlayerInfoSample& sample) {
    uploader_.send(sample.artist, sample.track, sample.album, sample.playing, sample.durationMs,
                   sample.libraryPersistentID, installID_ ? installID_() : std::string(),
                   deviceLabel, wholeSeconds(clock_()));
}

void NowPlayingObserver::announce(const std::optional<MusicPlayerInfoSample>& sample) {
    if (onNowPlayingChange_) onNowPlayingChange_(sample ? displayText(*sample) : std::string());
    if (onSampleChange_) onSampleChange_(sample);
}

} // namespace qb
