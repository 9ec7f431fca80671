#include "platform/linux/dbus/MprisPropertiesReader.hpp"

#include <cerrno>
#include <cstring>

namespace qb::MprisPropertiesReader {
namespace {

// Enters the variant at the read position when it holds exactly the given signature (1);
// otherwise skips it whole (0).
int enterVariantOf(sd_bus_message* m, const char* signature) {
    char type = 0;
    const char* contents = nullptr;
    int r = sd_bus_message_peek_type(m, &type, &contents);
    if (r < 0) return r;
    if (r == 0 || type != SD_BUS_TYPE_VARIANT || !contents) return -EBADMSG;
    if (std::strcmp(contents, signature) != 0) {
        r = sd_bus_message_skip(m, "v");
        return r < 0 ? r : 0;
    }
    r = sd_bus_message_enter_container(m, SD_BUS_TYPE_VARIANT, signature);
    return r < 0 ? r : 1;
}

int readString(sd_bus_message* m, std::optional<std::string>& out) {
    int r = enterVariantOf(m, "s");
    if (r <= 0) return r;
    const char* text = nullptr;
    r = sd_bus_message_read_basic(m, SD_BUS_TYPE_STRING, &text);
    if (r < 0) return r;
    out = text ? text : "";
    return sd_bus_message_exit_container(m);
}

// xesam:artist is an "as"; several artists are joined as a library writes them. Some players
// send a plain "s" instead.
int readArtists(sd_bus_message* m, std::optional<std::string>& out) {
    char type = 0;
    const char* contents = nullptr;
    int r = sd_bus_message_peek_type(m, &type, &contents);
    if (r < 0) return r;
    if (r > 0 && contents && std::strcmp(contents, "s") == 0) return readString(m, out);
    r = enterVariantOf(m, "as");
    if (r <= 0) return r;
    r = sd_bus_message_enter_container(m, SD_BUS_TYPE_ARRAY, "s");
    if (r < 0) return r;
    const char* text = nullptr;
    while ((r = sd_bus_message_read_basic(m, SD_BUS_TYPE_STRING, &text)) > 0) {
        const std::string artist = text ? text : "";
        if (artist.empty()) continue;
        out = out ? *out + ", " + artist : artist;
    }
    if (r < 0) return r;
    r = sd_bus_message_exit_container(m);
    if (r < 0) return r;
    return sd_bus_message_exit_container(m);
}

// MPRIS says an object path; some players send a string.
int readTrackID(sd_bus_message* m, std::optional<std::string>& out) {
    char type = 0;
    const char* contents = nullptr;
    int r = sd_bus_message_peek_type(m, &type, &contents);
    if (r < 0) return r;
    if (r > 0 && contents && std::strcmp(contents, "s") == 0) return readString(m, out);
    r = enterVariantOf(m, "o");
    if (r <= 0) return r;
    const char* path = nullptr;
    r = sd_bus_message_read_basic(m, SD_BUS_TYPE_OBJECT_PATH, &path);
    if (r < 0) return r;
    out = path ? path : "";
    return sd_bus_message_exit_container(m);
}

int readLength(sd_bus_message* m, std::optional<int64_t>& out) {
    char type = 0;
    const char* contents = nullptr;
    int r = sd_bus_message_peek_type(m, &type, &contents);
    if (r < 0) return r;
    if (r == 0 || type != SD_BUS_TYPE_VARIANT || !contents) return -EBADMSG;
    const std::string signature = contents;
    if (signature != "x" && signature != "t" && signature != "d") {
        r = sd_bus_message_skip(m, "v");
        return r < 0 ? r : 0;
    }
    r = sd_bus_message_enter_container(m, SD_BUS_TYPE_VARIANT, contents);
    if (r < 0) return r;
    if (signature == "x") {
        int64_t value = 0;
        r = sd_bus_message_read_basic(m, SD_BUS_TYPE_INT64, &value);
        out = MprisPlayerState::lengthMs(value);
    } else if (signature == "t") {
        uint64_t value = 0;
        r = sd_bus_message_read_basic(m, SD_BUS_TYPE_UINT64, &value);
        out = MprisPlayerState::lengthMs(value);
    } else {
        double value = 0;
        r = sd_bus_message_read_basic(m, SD_BUS_TYPE_DOUBLE, &value);
        out = MprisPlayerState::lengthMs(value);
    }
    if (r < 0) return r;
    return sd_bus_message_exit_container(m);
}

int readMetadata(sd_bus_message* m, MprisMetadata& metadata) {
    metadata = {};
    int r = enterVariantOf(m, "a{sv}");
    if (r <= 0) return r;
    r = sd_bus_message_enter_container(m, SD_BUS_TYPE_ARRAY, "{sv}");
    if (r < 0) return r;
    while ((r = sd_bus_message_enter_container(m, SD_BUS_TYPE_DICT_ENTRY, "sv")) > 0) {
        const char* key = nullptr;
        r = sd_bus_message_read_basic(m, SD_BUS_TYPE_STRING, &key);
        if (r < 0) return r;
        const std::string name = key ? key : "";
        if (name == "xesam:title") {
            r = readString(m, metadata.title);
        } else if (name == "xesam:artist") {
            r = readArtists(m, metadata.artist);
        } else if (name == "mpris:trackid") {
            r = readTrackID(m, metadata.trackID);
        } else if (name == "xesam:album") {
            r = readString(m, metadata.album);
        } else if (name == "mpris:length") {
            r = readLength(m, metadata.lengthMs);
        } else {
            r = sd_bus_message_skip(m, "v");
        }
        if (r < 0) return r;
        r = sd_bus_message_exit_container(m);
        if (r < 0) return r;
    }
    if (r < 0) return r;
    r = sd_bus_message_exit_container(m);
    if (r < 0) return r;
    return sd_bus_message_exit_container(m);
}

} // namespace

int read(sd_bus_message* message, MprisPropertiesChange& change) {
    int r = sd_bus_message_enter_container(message, SD_BUS_TYPE_ARRAY, "{sv}");
    if (r < 0) return r;
    if (r == 0) return -EBADMSG;
    while ((r = sd_bus_message_enter_container(message, SD_BUS_TYPE_DICT_ENTRY, "sv")) > 0) {
        const char* key = nullptr;
        r = sd_bus_message_read_basic(message, SD_BUS_TYPE_STRING, &key);
        if (r < 0) return r;
        const std::string name = key ? key : "";
        if (name == "PlaybackStatus") {
            change.statusAnnounced = true;
            change.playbackStatus.reset();
            r = readString(message, change.playbackStatus);
        } else if (name == "Metadata") {
            change.metadataAnnounced = true;
            r = readMetadata(message, change.metadata);
        } else {
            r = sd_bus_message_skip(message, "v");
        }
        if (r < 0) return r;
        r = sd_bus_message_exit_container(message);
        if (r < 0) return r;
    }
    if (r < 0) return r;
    return sd_bus_message_exit_container(message);
}

} // namespace qb::MprisPropertiesReader
