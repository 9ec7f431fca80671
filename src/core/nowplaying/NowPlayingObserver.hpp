#pragma once

#include "core/common/Clock.hpp"
#include "core/nowplaying/NowPlayingReporting.hpp"
#include "core/nowplaying/PlayerRunningChecking.hpp"
#include "core/nowplaying/RepeatingTimerStarting.hpp"
#include "core/player/MusicPlayerInfoSample.hpp"
#include "core/player/PlayerInfoValue.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace qb {

// Follows the music player's broadcasts, keeps the current item, tells the shell what plays
// and reports the item (with a heartbeat) and its stop to the service. Main thread only; the
// platform bridge calls playerInfoChanged and runningApplicationTerminated.
class NowPlayingObserver : public std::enable_shared_from_this<NowPlayingObserver> {
  public:
    using InstallIDProvider = std::function<std::string()>;
    using NowPlayingChangeCallback = std::function<void(const std::string& text)>;
    using SampleChangeCallback =
        std::function<void(const std::optional<MusicPlayerInfoSample>& sample)>;

    static constexpr double heartbeatSeconds = 20.0;
    static constexpr const char* musicPlayerIdentifier = "com.apple.Music";
    static constexpr const char* deviceLabel = "Mac";
    static constexpr const char* stopReason = "stopped";

    // The heartbeat holds the observer weakly, so it only exists behind a shared pointer.
    // playerIdentifier names the followed player in termination events.
    static std::shared_ptr<NowPlayingObserver>
    create(NowPlayingReporting& uploader, InstallIDProvider installID,
           PlayerRunningChecking& player, RepeatingTimerStarting& timers,
           WallClock clock = systemWallTime, std::string playerIdentifier = musicPlayerIdentifier);

    void setOnNowPlayingChange(NowPlayingChangeCallback callback) {
        onNowPlayingChange_ = std::move(callback);
    }
    void setOnSampleChange(SampleChangeCallback callback) { onSampleChange_ = std::move(callback); }

    // Disabling forgets the current item and tells the shell, without a stop report.
    void setEnabled(bool enabled);
    bool enabled() const { return enabled_; }
    // Starts the heartbeat; call once, after the callbacks and setEnabled.
    void start();

    // One player broadcast, its user info bridged to a map (empty when there was none).
    void playerInfoChanged(const PlayerInfo& userInfo);
    // An application quit; identifier is its bundle identifier (or bus name).
    void runningApplicationTerminated(const std::string& identifier);

    const std::optional<MusicPlayerInfoSample>& current() const { return current_; }

    // "Artist – Track" with an en dash.
    static std::string displayText(const MusicPlayerInfoSample& sample);

  private:
    NowPlayingObserver(NowPlayingReporting& uploader, InstallIDProvider installID,
                       PlayerRunningChecking& player, RepeatingTimerStarting& timers,
                       WallClock clock, std::string playerIdentifier);

    void heartbeat();
    void clear(const std::string& reason);
    void publish(const MusicPlayerInfoSample& sample);
    void announce(const std::optional<MusicPlayerInfoSample>& sample);

    NowPlayingReporting& uploader_;
    InstallIDProvider installID_;
    PlayerRunningChecking& player_;
    RepeatingTimerStarting& timers_;
    WallClock clock_;
    std::string playerIdentifier_;

    bool enabled_ = true;
    bool started_ = false;
    std::optional<MusicPlayerInfoSample> current_;
    NowPlayingChangeCallback onNowPlayingChange_;
    SampleChangeCallback onSampleChange_;
};

} // namespace qb
