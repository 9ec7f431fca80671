#include "platform/linux/library/JsonLibrarySource.hpp"

#include "core/common/CaptureError.hpp"
#include "core/common/FileIO.hpp"

#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>

namespace qb {

namespace {

using Json = nlohmann::json;

// "[3]" for the fourth element of an array.
std::string subscript(size_t index) {
    std::string text(1, '[');
    text += std::to_string(index);
    text += ']';
    return text;
}

// One scalar JSON value as the event reader delivers it.
struct Scalar {
    enum class Type { null, boolean, integer, unsignedInteger, floating, string };
    Type type = Type::null;
    bool boolean = false;
    int64_t integer = 0;
    uint64_t unsignedInteger = 0;
    double floating = 0;
    std::string* string = nullptr;
};

// Item keys that must be present; one bit each.
enum ItemKey : unsigned {
    kPersistentID = 1u << 0,
    kMediaKind = 1u << 1,
    kTitle = 1u << 2,
    kTotalTime = 1u << 3,
    kPlayCount = 1u << 4,
    kRating = 1u << 5,
    kIsRatingComputed = 1u << 6,
};
constexpr unsigned allItemKeys = (1u << 7) - 1;

struct OpenError {
    std::optional<std::string> domain;
    std::optional<int64_t> code;
    std::optional<std::string> description;
};

// Event handler for nlohmann's SAX parser. It keeps only the compact records and stops at
// the first value that breaks the format, remembering where it was.
class FixtureReader {
  public:
    std::vector<LibraryMediaItem> items;
    std::vector<LibraryPlaylist> playlists;
    bool reloadDataFails = false;
    std::optional<OpenError> openError;
    std::string error;

    bool null() { return scalar(Scalar{}); }
    bool boolean(bool value) {
        Scalar s;
        s.type = Scalar::Type::boolean;
        s.boolean = value;
        return scalar(s);
    }
    bool number_integer(int64_t value) {
        Scalar s;
        s.type = Scalar::Type::integer;
        s.integer = value;
        return scalar(s);
    }
    bool number_unsigned(uint64_t value) {
        Scalar s;
        s.type = Scalar::Type::unsignedInteger;
        s.unsignedInteger = value;
        return scalar(s);
    }
    bool number_float(double value, const std::string&) {
        Scalar s;
        s.type = Scalar::Type::floating;
        s.floating = value;
        return scalar(s);
    }
    bool string(std::string& value) {
        Scalar s;
        s.type = Scalar::Type::string;
        s.string = &value;
        return scalar(s);
    }
    bool binary(Json::binary_t&) { return scalar(Scalar{}); }

    bool key(std::string& name) {
        if (skipDepth_ == 0) key_ = name;
        return true;
    }

    bool start_object(std::size_t) { return container(true); }
    bool start_array(std::size_t) { return container(false); }
    bool end_object() { return end(); }
    bool end_array() { return end(); }

    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) {
        std::string message = e.what();
        // Drop nlohmann's "[json.exception.parse_error.101] " tag; the rest says where.
        if (!message.empty() && message.front() == '[') {
            auto close = message.find("] ");
            if (close != std::string::npos) message.erase(0, close + 2);
        }
        error = "malformed JSON: " + message;
        return false;
    }

  private:
    enum class Where {
        document,
        root,
        openError,
        items,
        item,
        artist,
        album,
        playlists,
        playlist,
        playlistItems
    };

    std::vector<Where> stack_{Where::document};
    std::string key_;
    size_t skipDepth_ = 0;
    LibraryMediaItem item_;
    unsigned itemKeys_ = 0;
    LibraryPlaylist playlist_;
    bool playlistHasKind_ = false;
    bool playlistHasItems_ = false;

    Where top() const { return stack_.back(); }

    // The location of the container on top, e.g. mediaItems[3].album.
    std::string containerPath() const {
        std::string path;
        for (Where where : stack_) {
            switch (where) {
            case Where::document:
            case Where::root:
                break;
            case Where::openError:
                path = "libraryOpenError";
                break;
            case Where::items:
                path = "mediaItems";
                break;
            case Where::item:
                path += subscript(items.size());
                break;
            case Where::artist:
                path += ".artist";
                break;
            case Where::album:
                path += ".album";
                break;
            case Where::playlists:
                path = "playlists";
                break;
            case Where::playlist:
                path += subscript(playlists.size());
                break;
            case Where::playlistItems:
                path += ".items";
                break;
            }
        }
        return path;
    }

    // The location of the value being read.
    std::string valuePath() const {
        switch (top()) {
        case Where::document:
            return "the document";
        case Where::items:
            return containerPath() + subscript(items.size());
        case Where::playlists:
            return containerPath() + subscript(playlists.size());
        case Where::playlistItems:
            return containerPath() + subscript(playlist_.itemPersistentIDs.size());
        case Where::root:
            return key_;
        default:
            return containerPath() + "." + key_;
        }
    }

    bool fail(const std::string& expectation) {
        error = valuePath() + " " + expectation;
        return false;
    }

    bool readInt(const Scalar& v, int64_t& out) {
        if (v.type == Scalar::Type::integer) {
            out = v.integer;
            return true;
        }
        if (v.type == Scalar::Type::unsignedInteger) {
            if (v.unsignedInteger > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
                return fail("does not fit a 64-bit signed integer");
            out = static_cast<int64_t>(v.unsignedInteger);
            return true;
        }
        return fail("is not an integer");
    }

    bool readUInt(const Scalar& v, uint64_t& out) {
        if (v.type == Scalar::Type::unsignedInteger) {
            out = v.unsignedInteger;
            return true;
        }
        return fail("is not an unsigned 64-bit integer");
    }

    bool readString(const Scalar& v, std::string& out) {
        if (v.type != Scalar::Type::string) return fail("is not a string");
        out = std::move(*v.string);
        return true;
    }

    // Null stands for an absent optional text.
    bool readOptionalString(const Scalar& v, std::optional<std::string>& out) {
        if (v.type == Scalar::Type::null) {
            out.reset();
            return true;
        }
        out.emplace();
        return readString(v, *out);
    }

    bool readBool(const Scalar& v, bool& out) {
        if (v.type != Scalar::Type::boolean) return fail("is not a boolean");
        out = v.boolean;
        return true;
    }

    bool scalar(const Scalar& v) {
        if (skipDepth_ > 0) return true;
        switch (top()) {
        case Where::document:
            return fail("is not a JSON object");
        case Where::root:
            if (key_ == "reloadDataFails")
                return v.type == Scalar::Type::null || readBool(v, reloadDataFails);
            if (key_ == "libraryOpenError")
                return v.type == Scalar::Type::null || fail("is not an object");
            if (key_ == "mediaItems" || key_ == "playlists")
                return v.type == Scalar::Type::null || fail("is not an array");
            return true;
        case Where::openError:
            if (key_ == "domain") return readOptionalString(v, openError->domain);
            if (key_ == "description") return readOptionalString(v, openError->description);
            if (key_ == "code") {
                if (v.type == Scalar::Type::null) return true;
                int64_t code = 0;
                if (!readInt(v, code)) return false;
                openError->code = code;
            }
            return true;
        case Where::items:
        case Where::playlists:
            return fail("is not an object");
        case Where::item:
            return itemScalar(v);
        case Where::artist:
            if (key_ == "name") return readOptionalString(v, item_.artist->name);
            return true;
        case Where::album:
            if (key_ == "title") return readOptionalString(v, item_.album->title);
            if (key_ == "albumArtist") return readOptionalString(v, item_.album->albumArtist);
            return true;
        case Where::playlist:
            if (key_ == "distinguishedKind") {
                playlistHasKind_ = true;
                return readInt(v, playlist_.distinguishedKind);
            }
            if (key_ == "items") return fail("is not an array");
            return true;
        case Where::playlistItems: {
            uint64_t id = 0;
            if (!readUInt(v, id)) return false;
            playlist_.itemPersistentIDs.push_back(id);
            return true;
        }
        }
        return true;
    }

    bool itemScalar(const Scalar& v) {
        if (key_ == "persistentID") {
            itemKeys_ |= kPersistentID;
            return readUInt(v, item_.persistentID);
        }
        if (key_ == "mediaKind") {
            itemKeys_ |= kMediaKind;
            return readInt(v, item_.mediaKind);
        }
        if (key_ == "title") {
            itemKeys_ |= kTitle;
            return readString(v, item_.title);
        }
        if (key_ == "totalTime") {
            itemKeys_ |= kTotalTime;
            return readInt(v, item_.totalTime);
        }
        if (key_ == "playCount") {
            itemKeys_ |= kPlayCount;
            return readInt(v, item_.playCount);
        }
        if (key_ == "rating") {
            itemKeys_ |= kRating;
            return readInt(v, item_.rating);
        }
        if (key_ == "isRatingComputed") {
            itemKeys_ |= kIsRatingComputed;
            return readBool(v, item_.isRatingComputed);
        }
        if (key_ == "lastPlayedDate") {
            switch (v.type) {
            case Scalar::Type::null:
                item_.lastPlayedDate.reset();
                return true;
            case Scalar::Type::integer:
                item_.lastPlayedDate = static_cast<double>(v.integer);
                return true;
            case Scalar::Type::unsignedInteger:
                item_.lastPlayedDate = static_cast<double>(v.unsignedInteger);
                return true;
            case Scalar::Type::floating:
                item_.lastPlayedDate = v.floating;
                return true;
            default:
                return fail("is not a number");
            }
        }
        if (key_ == "artist") {
            if (v.type != Scalar::Type::null) return fail("is not an object");
            item_.artist.reset();
            return true;
        }
        if (key_ == "album") {
            if (v.type != Scalar::Type::null) return fail("is not an object");
            item_.album.reset();
            return true;
        }
        return true;
    }

    bool container(bool isObject) {
        if (skipDepth_ > 0) {
            ++skipDepth_;
            return true;
        }
        auto enter = [&](Where where, bool wantObject) {
            if (isObject != wantObject)
                return fail(wantObject ? "is not an object" : "is not an array");
            stack_.push_back(where);
            key_.clear();
            return true;
        };
        auto mismatch = [&](const char* expectation) { return fail(expectation); };
        auto skip = [&] {
            skipDepth_ = 1;
            return true;
        };
        switch (top()) {
        case Where::document:
            if (!isObject) return mismatch("is not a JSON object");
            return enter(Where::root, true);
        case Where::root:
            if (key_ == "libraryOpenError") {
                openError.emplace();
                return enter(Where::openError, true);
            }
            if (key_ == "mediaItems") return enter(Where::items, false);
            if (key_ == "playlists") return enter(Where::playlists, false);
            if (key_ == "reloadDataFails") return mismatch("is not a boolean");
            return skip();
        case Where::openError:
            if (key_ == "domain" || key_ == "description") return mismatch("is not a string");
            if (key_ == "code") return mismatch("is not an integer");
            return skip();
        case Where::items:
            item_ = LibraryMediaItem{};
            itemKeys_ = 0;
            return enter(Where::item, true);
        case Where::item:
            if (key_ == "artist") {
                item_.artist.emplace();
                return enter(Where::artist, true);
            }
            if (key_ == "album") {
                item_.album.emplace();
                return enter(Where::album, true);
            }
            if (key_ == "persistentID") return mismatch("is not an unsigned 64-bit integer");
            if (key_ == "title") return mismatch("is not a string");
            if (key_ == "isRatingComputed") return mismatch("is not a boolean");
            if (key_ == "lastPlayedDate") return mismatch("is not a number");
            if (key_ == "mediaKind" || key_ == "totalTime" || key_ == "playCount" ||
                key_ == "rating")
                return mismatch("is not an integer");
            return skip();
        case Where::artist:
            if (key_ == "name") return mismatch("is not a string");
            return skip();
        case Where::album:
            if (key_ == "title" || key_ == "albumArtist") return mismatch("is not a string");
            return skip();
        case Where::playlists:
            playlist_ = LibraryPlaylist{};
            playlistHasKind_ = playlistHasItems_ = false;
            return enter(Where::playlist, true);
        case Where::playlist:
            if (key_ == "items") {
                playlistHasItems_ = true;
                return enter(Where::playlistItems, false);
            }
            if (key_ == "distinguishedKind") return mismatch("is not an integer");
            return skip();
        case Where::playlistItems:
            return mismatch("is not an unsigned 64-bit integer");
        }
        return skip();
    }

    bool end() {
        if (skipDepth_ > 0) {
            --skipDepth_;
            return true;
        }
        switch (top()) {
        case Where::openError:
            if (!openError->domain) return missing("domain");
            if (!openError->code) return missing("code");
            if (!openError->description) return missing("description");
            break;
        case Where::item:
            if (itemKeys_ != allItemKeys) return missingItemKey();
            items.push_back(std::move(item_));
            break;
        case Where::playlist:
            if (!playlistHasKind_) return missing("distinguishedKind");
            if (!playlistHasItems_) return missing("items");
            playlists.push_back(std::move(playlist_));
            break;
        default:
            break;
        }
        stack_.pop_back();
        // A nested object ends; the enclosing object's last key is no longer meaningful.
        key_.clear();
        return true;
    }

    bool missing(const char* name) {
        error = containerPath() + " has no \"" + name + "\"";
        return false;
    }

    bool missingItemKey() {
        static constexpr std::pair<unsigned, const char*> names[] = {
            {kPersistentID, "persistentID"},
            {kMediaKind, "mediaKind"},
            {kTitle, "title"},
            {kTotalTime, "totalTime"},
            {kPlayCount, "playCount"},
            {kRating, "rating"},
            {kIsRatingComputed, "isRatingComputed"}};
        for (const auto& [bit, name] : names)
            if ((itemKeys_ & bit) == 0) return missing(name);
        return false;
    }
};

} // namespace

std::unique_ptr<JsonLibrarySource> JsonLibrarySource::open(const std::filesystem::path& path) {
    std::string text;
    try {
        text = fileio::readWholeFile(path);
    } catch (const FileError& error) {
        throw CaptureError::libraryUnavailable(error.what());
    }
    return parse(text, path.string());
}

std::unique_ptr<JsonLibrarySource> JsonLibrarySource::parse(std::string_view text,
                                                            const std::string& origin) {
    FixtureReader reader;
    const bool parsed = Json::sax_parse(text, &reader);
    if (!parsed || !reader.error.empty()) {
        throw CaptureError::libraryUnavailable(
            origin + ": " + (reader.error.empty() ? "malformed JSON" : reader.error));
    }
    if (reader.openError) {
        throw LibraryOpenError(*reader.openError->domain, *reader.openError->code,
                               *reader.openError->description);
    }
    std::unique_ptr<JsonLibrarySource> source(new JsonLibrarySource);
    source->reloadDataFails_ = reader.reloadDataFails;
    source->items_ = std::move(reader.items);
    source->playlists_ = std::move(reader.playlists);
    return source;
}

bool JsonLibrarySource::reloadData() {
    return !reloadDataFails_;
}

void JsonLibrarySource::unloadData() {
    std::vector<LibraryMediaItem>().swap(items_);
    std::vector<LibraryPlaylist>().swap(playlists_);
}

} // namespace qb
