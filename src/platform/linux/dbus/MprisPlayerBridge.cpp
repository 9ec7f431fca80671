#include "platform/linux/dbus/MprisPlayerBridge.hpp"

#include "platform/linux/dbus/MprisPropertiesReader.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace qb {
namespace {

constexpr const char* busNamePrefix = "org.mpris.MediaPlayer2.";
constexpr const char* objectPath = "/org/mpris/MediaPlayer2";
constexpr const char* playerInterface = "org.mpris.MediaPlayer2.Player";

constexpr const char* ownerChangedMatch =
    "type='signal',sender='org.freedesktop.DBus',path='/org/freedesktop/DBus',"
    "interface='org.freedesktop.DBus',member='NameOwnerChanged',"
    "arg0namespace='org.mpris.MediaPlayer2'";
constexpr const char* propertiesChangedMatch =
    "type='signal',path='/org/mpris/MediaPlayer2',interface='org.freedesktop.DBus.Properties',"
    "member='PropertiesChanged',arg0='org.mpris.MediaPlayer2.Player'";

constexpr const char* seekedMatch =
    "type='signal',path='/org/mpris/MediaPlayer2',interface='org.mpris.MediaPlayer2.Player',"
    "member='Seeked'";

// A storm of signals must not keep the main thread in one dispatch for ever.
constexpr int messagesPerDispatch = 256;

// A seek this close to the start, long enough after the song began, starts it over.
constexpr int64_t restartPositionMicroseconds = 3'000'000;

bool isPlayerName(const std::string& name) {
    const size_t prefixLength = std::strlen(busNamePrefix);
    return name.size() > prefixLength && name.compare(0, prefixLength, busNamePrefix) == 0;
}

} // namespace

MprisPlayerBridge::MprisPlayerBridge(std::string preferredPlayer)
    : preferred_(busNameFor(preferredPlayer)) {}

MprisPlayerBridge::~MprisPlayerBridge() = default;

std::string MprisPlayerBridge::preferenceFromEnvironment() {
    const char* value = std::getenv(preferenceVariable);
    return value ? std::string(value) : std::string();
}

std::string MprisPlayerBridge::busNameFor(const std::string& preference) {
    if (preference.empty() || isPlayerName(preference)) return preference;
    return busNamePrefix + preference;
}

bool MprisPlayerBridge::isMirrorOrRemote(const std::string& busName) {
    return busName == std::string(busNamePrefix) + "playerctld" ||
           matchesPreference(busName, std::string(busNamePrefix) + "kdeconnect");
}

bool MprisPlayerBridge::matchesPreference(const std::string& busName,
                                          const std::string& preferredBusName) {
    if (preferredBusName.empty()) return false;
    if (busName == preferredBusName) return true;
    return busName.size() > preferredBusName.size() &&
           busName.compare(0, preferredBusName.size(), preferredBusName) == 0 &&
           busName[preferredBusName.size()] == '.';
}

bool MprisPlayerBridge::start() {
    if (bus_) return true;
    sd_bus* bus = nullptr;
    if (sd_bus_open_user(&bus) < 0) return false;
    bus_.reset(bus);
    // Subscribe before listing, so that no player can slip between the list and the signals.
    if (!subscribe()) {
        seekedMatch_.reset();
        propertiesMatch_.reset();
        ownerMatch_.reset();
        bus_.reset();
        return false;
    }
    listPlayers();
    flush();
    return true;
}

bool MprisPlayerBridge::subscribe() {
    sd_bus_slot* slot = nullptr;
    if (sd_bus_add_match(bus_.get(), &slot, ownerChangedMatch, onNameOwnerChanged, this) < 0)
        return false;
    ownerMatch_.reset(slot);
    slot = nullptr;
    if (sd_bus_add_match(bus_.get(), &slot, propertiesChangedMatch, onPropertiesChanged, this) < 0)
        return false;
    propertiesMatch_.reset(slot);
    slot = nullptr;
    if (sd_bus_add_match(bus_.get(), &slot, seekedMatch, onSeeked, this) < 0) return false;
    seekedMatch_.reset(slot);
    return true;
}

void MprisPlayerBridge::listPlayers() {
    sdbus::Error error;
    sd_bus_message* raw = nullptr;
    if (sd_bus_call_method(bus_.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                           "org.freedesktop.DBus", "ListNames", error.get(), &raw, "") < 0)
        return;
    sdbus::Message reply(raw);
    std::vector<std::string> names;
    if (sd_bus_message_enter_container(reply.get(), SD_BUS_TYPE_ARRAY, "s") <= 0) return;
    const char* name = nullptr;
    while (sd_bus_message_read_basic(reply.get(), SD_BUS_TYPE_STRING, &name) > 0) {
        if (name && isPlayerName(name)) names.emplace_back(name);
    }
    // Sorted, so that with several players the choice does not depend on the bus's order.
    std::sort(names.begin(), names.end());
    for (const std::string& playerName : names) {
        sdbus::Error ownerError;
        sd_bus_message* ownerRaw = nullptr;
        if (sd_bus_call_method(bus_.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                               "org.freedesktop.DBus", "GetNameOwner", ownerError.get(), &ownerRaw,
                               "s", playerName.c_str()) < 0)
            continue; // gone meanwhile
        sdbus::Message ownerReply(ownerRaw);
        const char* owner = nullptr;
        if (sd_bus_message_read_basic(ownerReply.get(), SD_BUS_TYPE_STRING, &owner) > 0 && owner)
            playerAppeared(playerName, owner);
    }
}

int MprisPlayerBridge::onNameOwnerChanged(sd_bus_message* message, void* userdata,
                                          sd_bus_error* /*error*/) {
    auto* self = static_cast<MprisPlayerBridge*>(userdata);
    const char* name = nullptr;
    const char* oldOwner = nullptr;
    const char* newOwner = nullptr;
    if (sd_bus_message_read(message, "sss", &name, &oldOwner, &newOwner) < 0) return 0;
    if (!name || !isPlayerName(name)) return 0;
    const std::string playerName = name;
    if (oldOwner && *oldOwner) self->playerVanished(playerName);
    if (newOwner && *newOwner) self->playerAppeared(playerName, newOwner);
    return 0;
}

void MprisPlayerBridge::playerAppeared(const std::string& name, const std::string& owner) {
    auto it = players_.find(name);
    if (it != players_.end()) {
        // The list and the signal can both announce the same owner.
        if (it->second->owner == owner) return;
        playerVanished(name);
    }
    auto player = std::make_unique<Player>();
    player->bridge = this;
    player->name = name;
    player->owner = owner;
    player->order = nextOrder_++;
    Player& added = *player;
    players_.emplace(name, std::move(player));
    requestState(added);
}

void MprisPlayerBridge::playerVanished(const std::string& name) {
    // Erasing the player releases its pending request, so its answer is never delivered.
    if (players_.erase(name) == 0) return;
    if (followed_ != name) return;
    followed_.reset();
    pending_.push_back({Delivery::Kind::quit, {}});
    followNext();
}

void MprisPlayerBridge::requestState(Player& player) {
    sd_bus_slot* slot = nullptr;
    // Asked of the owner, not the name: an answer from a later owner would be a different player.
    if (sd_bus_call_method_async(bus_.get(), &slot, player.owner.c_str(), objectPath,
                                 "org.freedesktop.DBus.Properties", "GetAll", onGetAllReply,
                                 &player, "s", playerInterface) < 0)
        return;
    player.pendingGetAll.reset(slot);
}

int MprisPlayerBridge::onGetAllReply(sd_bus_message* message, void* userdata,
                                     sd_bus_error* /*error*/) {
    auto* player = static_cast<Player*>(userdata);
    // sd-bus holds the slot for the length of this call.
    player->pendingGetAll.reset();
    if (sd_bus_message_is_method_error(message, nullptr)) return 0;
    MprisPropertiesChange change;
    if (MprisPropertiesReader::read(message, change) < 0) return 0;
    const MprisMetadata before = player->state.metadata;
    player->state.apply(change);
    player->known = true;
    player->bridge->stateChanged(*player, before);
    return 0;
}

int MprisPlayerBridge::onSeeked(sd_bus_message* message, void* userdata, sd_bus_error* /*error*/) {
    auto* self = static_cast<MprisPlayerBridge*>(userdata);
    const char* sender = sd_bus_message_get_sender(message);
    int64_t position = 0;
    if (!sender || sd_bus_message_read_basic(message, SD_BUS_TYPE_INT64, &position) < 0) return 0;
    Player* followed = self->followedState();
    if (!followed || followed->owner != sender || position >= restartPositionMicroseconds) return 0;
    const auto now = std::chrono::steady_clock::now();
    if (now - followed->itemSince < self->replayThreshold_) return 0;
    followed->itemSince = now;
    self->pending_.push_back({Delivery::Kind::restarted, {}});
    return 0;
}

int MprisPlayerBridge::onPropertiesChanged(sd_bus_message* message, void* userdata,
                                           sd_bus_error* /*error*/) {
    auto* self = static_cast<MprisPlayerBridge*>(userdata);
    const char* sender = sd_bus_message_get_sender(message);
    if (!sender) return 0;
    const char* interface = nullptr;
    if (sd_bus_message_read_basic(message, SD_BUS_TYPE_STRING, &interface) < 0 || !interface ||
        std::strcmp(interface, playerInterface) != 0)
        return 0;
    MprisPropertiesChange change;
    if (MprisPropertiesReader::read(message, change) < 0) return 0;
    bool refetch = false;
    if (sd_bus_message_enter_container(message, SD_BUS_TYPE_ARRAY, "s") > 0) {
        const char* invalidated = nullptr;
        while (sd_bus_message_read_basic(message, SD_BUS_TYPE_STRING, &invalidated) > 0) {
            if (invalidated && (std::strcmp(invalidated, "PlaybackStatus") == 0 ||
                                std::strcmp(invalidated, "Metadata") == 0))
                refetch = true;
        }
    }
    // One connection may own several player names; the signal speaks for all of them.
    std::vector<Player*> targets;
    for (auto& [name, player] : self->players_)
        if (player->owner == sender) targets.push_back(player.get());
    for (Player* player : targets) {
        if (refetch) self->requestState(*player);
        if (!change.statusAnnounced && !change.metadataAnnounced) continue;
        const MprisMetadata before = player->state.metadata;
        player->state.apply(change);
        player->known = true;
        self->stateChanged(*player, before);
    }
    return 0;
}

MprisPlayerBridge::Player* MprisPlayerBridge::followedState() {
    if (!followed_) return nullptr;
    auto it = players_.find(*followed_);
    return it == players_.end() ? nullptr : it->second.get();
}

void MprisPlayerBridge::stateChanged(Player& player, const MprisMetadata& before) {
    const auto now = std::chrono::steady_clock::now();
    if (!player.state.sameItem(before)) {
        player.itemSince = now;
    } else if (followed_ == player.name && before.trackID && player.state.metadata.trackID &&
               *before.trackID != *player.state.metadata.trackID) {
        player.itemSince = now;
        pending_.push_back({Delivery::Kind::restarted, {}});
    }
    if (followed_ == player.name) {
        pending_.push_back({Delivery::Kind::info, player.state.playerInfo()});
        // It stopped playing while another plays: that one is what the user listens to.
        if (!player.state.isPlaying() && preferred_.empty()) {
            for (const auto& [name, other] : players_) {
                if (other.get() != &player && shouldFollow(*other)) {
                    switchTo(*other);
                    break;
                }
            }
        }
        return;
    }
    if (!shouldFollow(player)) return;
    if (!followed_) {
        followed_ = player.name;
        pending_.push_back({Delivery::Kind::info, player.state.playerInfo()});
        return;
    }
    const Player* current = followedState();
    if (preferred_.empty() && (!current || !current->state.isPlaying())) switchTo(player);
}

void MprisPlayerBridge::switchTo(const Player& player) {
    leaveFollowed();
    pending_.push_back({Delivery::Kind::switched, {}});
    followed_ = player.name;
    pending_.push_back({Delivery::Kind::info, player.state.playerInfo()});
}

bool MprisPlayerBridge::shouldFollow(const Player& player) const {
    if (!player.known) return false;
    if (!preferred_.empty()) return matchesPreference(player.name, preferred_);
    return !isMirrorOrRemote(player.name) && player.state.isPlaying();
}

void MprisPlayerBridge::followNext() {
    const Player* next = nullptr;
    for (const auto& [name, player] : players_) {
        if (!shouldFollow(*player)) continue;
        if (!next || player->order < next->order) next = player.get();
    }
    if (!next) return;
    followed_ = next->name;
    pending_.push_back({Delivery::Kind::info, next->state.playerInfo()});
}

void MprisPlayerBridge::leaveFollowed() {
    if (!followed_) return;
    followed_.reset();
    pending_.push_back({Delivery::Kind::quit, {}});
}

void MprisPlayerBridge::follow(const std::string& preferredPlayer) {
    preferred_ = busNameFor(preferredPlayer);
    const bool keep =
        followed_ && (preferred_.empty() || matchesPreference(*followed_, preferred_));
    if (!keep) {
        leaveFollowed();
        followNext();
    }
    flush();
}

size_t MprisPlayerBridge::knownPlayers() const {
    return static_cast<size_t>(std::count_if(
        players_.begin(), players_.end(), [](const auto& entry) { return entry.second->known; }));
}

bool MprisPlayerBridge::isPlayerRunning() {
    return followed_.has_value();
}

PollRequest MprisPlayerBridge::pollRequest() {
    PollRequest request;
    if (!bus_) return request;
    request.fd = sd_bus_get_fd(bus_.get());
    const int events = sd_bus_get_events(bus_.get());
    request.events = static_cast<short>(events > 0 ? events : 0);
    uint64_t timeout = 0;
    if (sd_bus_get_timeout(bus_.get(), &timeout) > 0 && timeout != UINT64_MAX) {
        // sd-bus times are CLOCK_MONOTONIC microseconds, the steady clock here.
        request.deadline = std::chrono::steady_clock::time_point(
            std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                std::chrono::microseconds(timeout)));
    }
    return request;
}

void MprisPlayerBridge::dispatch() {
    for (int i = 0; bus_ && i < messagesPerDispatch; ++i) {
        const int r = sd_bus_process(bus_.get(), nullptr);
        // Delivered after every message, so each callback sees the state that message left.
        flush();
        if (r < 0) {
            connectionLost();
            break;
        }
        if (r == 0) break;
    }
    flush();
}

void MprisPlayerBridge::connectionLost() {
    // Nothing can be heard any more: the followed player counts as gone.
    players_.clear();
    seekedMatch_.reset();
    propertiesMatch_.reset();
    ownerMatch_.reset();
    bus_.reset();
    leaveFollowed();
    flush();
}

void MprisPlayerBridge::flush() {
    // A callback may call follow(), which delivers through this same queue.
    if (flushing_) return;
    flushing_ = true;
    for (size_t i = 0; i < pending_.size(); ++i) {
        const Delivery delivery = pending_[i];
        switch (delivery.kind) {
        case Delivery::Kind::quit:
            if (onPlayerQuit_) onPlayerQuit_(playerIdentifier);
            break;
        case Delivery::Kind::switched:
            if (onSwitched_) onSwitched_();
            break;
        case Delivery::Kind::restarted:
            if (onRestarted_) onRestarted_();
            break;
        case Delivery::Kind::info:
            if (onPlayerInfo_) onPlayerInfo_(delivery.info);
            break;
        }
    }
    pending_.clear();
    flushing_ = false;
}

} // namespace qb
