#pragma once

// The music player here is any MPRIS player on the D-Bus session bus. We talk to the bus with
// sd-bus (libsystemd): it is small, needs no UI toolkit, and exposes its descriptor, poll
// events and time-out (sd_bus_get_fd, sd_bus_get_events, sd_bus_get_timeout), so the same
// bridge runs under the plain poll loop now and under the Qt event loop later through a
// socket notifier.

#include "core/nowplaying/PlayerRunningChecking.hpp"
#include "core/player/PlayerInfoValue.hpp"
#include "platform/linux/dbus/MprisPlayerState.hpp"
#include "platform/linux/dbus/PollSource.hpp"
#include "platform/linux/dbus/SdBusPointers.hpp"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qb {

// Follows one MPRIS player and turns its PlaybackStatus and Metadata into the player-info
// maps of the now-playing observer. Which player: the preferred one when set (a bus name, or
// its last part such as "vlc"); else the one that plays: the first that reports Playing, and
// another as soon as it plays while the followed one does not (a browser tab that keeps its
// name while paused must not hide the music player started after it). Mirrors and remote
// players (playerctld, KDE Connect's phones) are followed only when preferred. "Running" means
// the followed name has an owner. A replay of the same song (a loop, a repeat: Seeked back to
// the start, or a new track id for the same song) is reported as a restart, since the
// broadcasts alone cannot tell it from the play going on. Callbacks run on the thread that
// dispatches, never inside sd-bus callbacks.
class MprisPlayerBridge : public PlayerRunningChecking, public PollSource {
  public:
    using PlayerInfoCallback = std::function<void(const PlayerInfo& info)>;
    using PlayerQuitCallback = std::function<void(const std::string& identifier)>;
    using EventCallback = std::function<void()>;

    // The identifier reported when the followed player quits; construct the observer with it.
    static constexpr const char* playerIdentifier = "org.mpris.MediaPlayer2";
    static constexpr const char* preferenceVariable = "QUILLABRENTA_PLAYER";

    explicit MprisPlayerBridge(std::string preferredPlayer = {});
    ~MprisPlayerBridge() override;
    MprisPlayerBridge(const MprisPlayerBridge&) = delete;
    MprisPlayerBridge& operator=(const MprisPlayerBridge&) = delete;

    // QUILLABRENTA_PLAYER, or empty for the default rule.
    static std::string preferenceFromEnvironment();
    // "vlc" → "org.mpris.MediaPlayer2.vlc"; a full bus name stays; empty stays empty.
    static std::string busNameFor(const std::string& preference);
    // Whether busName is the preferred player or one of its instances ("…vlc.instance42").
    static bool matchesPreference(const std::string& busName, const std::string& preferredBusName);

    void setOnPlayerInfo(PlayerInfoCallback callback) { onPlayerInfo_ = std::move(callback); }
    void setOnPlayerQuit(PlayerQuitCallback callback) { onPlayerQuit_ = std::move(callback); }
    // After the old player's quit and before the new one's state: what follows is not a
    // boundary anybody saw.
    void setOnPlayerSwitched(EventCallback callback) { onSwitched_ = std::move(callback); }
    // The followed player started the song it plays over again.
    void setOnPlayerRestarted(EventCallback callback) { onRestarted_ = std::move(callback); }
    // playerctld mirrors another player; KDE Connect's names are players on a phone.
    static bool isMirrorOrRemote(const std::string& busName);
    // How long a song must have played before a seek back to its start counts as a replay.
    void setReplayThreshold(std::chrono::milliseconds threshold) { replayThreshold_ = threshold; }

    // Connects to the session bus (DBUS_SESSION_BUS_ADDRESS, else $XDG_RUNTIME_DIR/bus),
    // subscribes and asks every player present for its state. False when there is no bus.
    bool start();
    bool connected() const { return bus_ != nullptr; }

    // Changes the preferred player (empty: the default rule). Leaving a followed player
    // reports it as quit, so the observer does not keep an item of a player it no longer hears.
    void follow(const std::string& preferredPlayer);
    const std::optional<std::string>& followedPlayer() const { return followed_; }

    bool isPlayerRunning() override;
    // Players whose state has arrived (tests wait on it instead of sleeping).
    size_t knownPlayers() const;

    PollRequest pollRequest() override;
    // Handles every message waiting, then delivers the callbacks it produced.
    void dispatch() override;

  private:
    struct Player {
        MprisPlayerBridge* bridge = nullptr;
        std::string name;
        std::string owner;
        uint64_t order = 0;
        bool known = false; // a state answer or signal has arrived
        MprisPlayerState state;
        // Since when the current song plays: a seek to its start soon after is not a replay.
        std::chrono::steady_clock::time_point itemSince{};
        sdbus::Slot pendingGetAll;
    };
    struct Delivery {
        enum class Kind { info, quit, switched, restarted } kind = Kind::info;
        PlayerInfo info;
    };

    static int onNameOwnerChanged(sd_bus_message* message, void* userdata, sd_bus_error* error);
    static int onPropertiesChanged(sd_bus_message* message, void* userdata, sd_bus_error* error);
    static int onGetAllReply(sd_bus_message* message, void* userdata, sd_bus_error* error);
    static int onSeeked(sd_bus_message* message, void* userdata, sd_bus_error* error);

    bool subscribe();
    void listPlayers();
    void playerAppeared(const std::string& name, const std::string& owner);
    void playerVanished(const std::string& name);
    void requestState(Player& player);
    void stateChanged(Player& player, const MprisMetadata& before);
    void switchTo(const Player& player);
    Player* followedState();
    bool shouldFollow(const Player& player) const;
    void followNext();
    void leaveFollowed();
    void connectionLost();
    void flush();

    // Declared first so it is released last: the slots below refer to it.
    sdbus::Bus bus_;
    sdbus::Slot ownerMatch_;
    sdbus::Slot propertiesMatch_;
    sdbus::Slot seekedMatch_;
    std::map<std::string, std::unique_ptr<Player>> players_;
    uint64_t nextOrder_ = 0;
    std::string preferred_;
    std::optional<std::string> followed_;
    std::vector<Delivery> pending_;
    bool flushing_ = false;
    PlayerInfoCallback onPlayerInfo_;
    PlayerQuitCallback onPlayerQuit_;
    EventCallback onSwitched_;
    EventCallback onRestarted_;
    std::chrono::milliseconds replayThreshold_{30'000};
};

} // namespace qb
