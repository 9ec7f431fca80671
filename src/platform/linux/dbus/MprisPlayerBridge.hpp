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
// its last part such as "vlc"), else the first that reports Playing; it stays followed until
// it leaves the bus, then the next one playing takes over. "Running" means the followed name
// has an owner. Callbacks run on the thread that dispatches, never inside sd-bus callbacks.
class MprisPlayerBridge : public PlayerRunningChecking, public PollSource {
  public:
    using PlayerInfoCallback = std::function<void(const PlayerInfo& info)>;
    using PlayerQuitCallback = std::function<void(const std::string& identifier)>;

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

    // Connects to the session bus (DBUS_SESSION_BUS_ADDRESS, else $XDG_RUNTIME_DIR/bus),
    // subscribes and asks every player present for its state. False when there is no bus.
    bool start();
    bool connected() const { return bus_ != nullptr; }

    // Changes the preferred player (empty: the default rule). Leaving a followed player
    // reports it as quit, so the observer does not keep an item of a player it no longer hears.
    void follow(const std::string& preferredPlayer);
    const std::optional<std::string>& followedPlayer() const { return followed_; }

    bool isPlayerRunning() override;

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
        sdbus::Slot pendingGetAll;
    };
    struct Delivery {
        bool quit = false;
        PlayerInfo info;
    };

    static int onNameOwnerChanged(sd_bus_message* message, void* userdata, sd_bus_error* error);
    static int onPropertiesChanged(sd_bus_message* message, void* userdata, sd_bus_error* error);
    static int onGetAllReply(sd_bus_message* message, void* userdata, sd_bus_error* error);

    bool subscribe();
    void listPlayers();
    void playerAppeared(const std::string& name, const std::string& owner);
    void playerVanished(const std::string& name);
    void requestState(Player& player);
    void stateChanged(Player& player);
    bool shouldFollow(const Player& player) const;
    void followNext();
    void leaveFollowed();
    void connectionLost();
    void flush();

    // Declared first so it is released last: the slots below refer to it.
    sdbus::Bus bus_;
    sdbus::Slot ownerMatch_;
    sdbus::Slot propertiesMatch_;
    std::map<std::string, std::unique_ptr<Player>> players_;
    uint64_t nextOrder_ = 0;
    std::string preferred_;
    std::optional<std::string> followed_;
    std::vector<Delivery> pending_;
    bool flushing_ = false;
    PlayerInfoCallback onPlayerInfo_;
    PlayerQuitCallback onPlayerQuit_;
};

} // namespace qb
