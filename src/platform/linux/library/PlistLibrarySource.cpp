#include "platform/linux/library/PlistLibrarySource.hpp"

#include "core/common/CaptureError.hpp"
#include "core/common/HugePages.hpp"
#include "platform/linux/library/ExpatFileReader.hpp"

#include <algorithm>
#include <array>
#include <limits>
#include <optional>
#include <string_view>
#include <utility>

namespace qb {

namespace {

enum class Element {
    plist,
    dict,
    array,
    key,
    string,
    integer,
    real,
    date,
    data,
    trueValue,
    falseValue
};

// Element names are few and short; comparing them inline beats calling strcmp per tag.
bool named(const char* name, const char* expected) {
    while (*expected != '\0')
        if (*name++ != *expected++) return false;
    return *name == '\0';
}

std::optional<Element> elementNamed(const char* name) {
    switch (name[0]) {
    case 'k':
        if (named(name, "key")) return Element::key;
        break;
    case 's':
        if (named(name, "string")) return Element::string;
        break;
    case 'i':
        if (named(name, "integer")) return Element::integer;
        break;
    case 'd':
        if (named(name, "dict")) return Element::dict;
        if (named(name, "date")) return Element::date;
        if (named(name, "data")) return Element::data;
        break;
    case 'a':
        if (named(name, "array")) return Element::array;
        break;
    case 't':
        if (named(name, "true")) return Element::trueValue;
        break;
    case 'f':
        if (named(name, "false")) return Element::falseValue;
        break;
    case 'r':
        if (named(name, "real")) return Element::real;
        break;
    case 'p':
        if (named(name, "plist")) return Element::plist;
        break;
    default:
        break;
    }
    return std::nullopt;
}

// What a dictionary or array stands for in a library export.
enum class Role {
    plist,
    top,
    tracks,
    track,
    playlists,
    playlist,
    playlistItems,
    playlistItem,
    ignored
};

// The keys read; everything else is skipped without looking at its value.
enum class Key {
    other,
    tracks,
    playlists,
    trackID,
    persistentID,
    name,
    artist,
    album,
    albumArtist,
    totalTime,
    playCount,
    playDateUTC,
    rating,
    ratingComputed,
    loved,
    favorited,
    podcast,
    hasVideo,
    movie,
    tvShow,
    musicVideo,
    iTunesU,
    location,
    distinguishedKind,
    playlistItems,
};

struct NamedKey {
    std::string_view name;
    Key key = Key::other;
};

constexpr NamedKey topKeys[] = {{"Tracks", Key::tracks}, {"Playlists", Key::playlists}};
constexpr NamedKey trackKeys[] = {
    {"Track ID", Key::trackID},
    {"Name", Key::name},
    {"Artist", Key::artist},
    {"Album", Key::album},
    {"Album Artist", Key::albumArtist},
    {"Total Time", Key::totalTime},
    {"Play Count", Key::playCount},
    {"Play Date UTC", Key::playDateUTC},
    {"Rating", Key::rating},
    {"Rating Computed", Key::ratingComputed},
    {"Persistent ID", Key::persistentID},
    {"Location", Key::location},
    {"Loved", Key::loved},
    {"Favorited", Key::favorited},
    {"Podcast", Key::podcast},
    {"Has Video", Key::hasVideo},
    {"Movie", Key::movie},
    {"TV Show", Key::tvShow},
    {"Music Video", Key::musicVideo},
    {"iTunesU", Key::iTunesU},
};
constexpr NamedKey playlistKeys[] = {{"Distinguished Kind", Key::distinguishedKind},
                                     {"Playlist Items", Key::playlistItems}};
constexpr NamedKey playlistItemKeys[] = {{"Track ID", Key::trackID}};

// Every key of every track passes through here, about thirty per track, and most are not read:
// an open-addressing table turns nearly all of them away after one slot and one length check.
class KeyTable {
  public:
    template <size_t N> constexpr explicit KeyTable(const NamedKey (&keys)[N]) {
        static_assert(N * 3 <= slotCount, "keep the table sparse");
        for (const NamedKey& entry : keys) {
            size_t slot = hash(entry.name);
            while (!slots_[slot].name.empty())
                slot = (slot + 1) % slotCount;
            slots_[slot] = entry;
        }
    }

    Key find(std::string_view text) const {
        if (text.empty()) return Key::other;
        for (size_t slot = hash(text);; slot = (slot + 1) % slotCount) {
            const NamedKey& entry = slots_[slot];
            if (entry.name.empty()) return Key::other;
            if (entry.name == text) return entry.key;
        }
    }

  private:
    static constexpr size_t slotCount = 64;
    static constexpr size_t hash(std::string_view text) {
        return (text.size() * 7 + static_cast<unsigned char>(text.front()) * 3 +
                static_cast<unsigned char>(text.back())) %
               slotCount;
    }
    std::array<NamedKey, slotCount> slots_{};
};

constexpr KeyTable topKeyTable(topKeys);
constexpr KeyTable trackKeyTable(trackKeys);
constexpr KeyTable playlistKeyTable(playlistKeys);
constexpr KeyTable playlistItemKeyTable(playlistItemKeys);

Key classify(Role role, std::string_view text) {
    switch (role) {
    case Role::top:
        return topKeyTable.find(text);
    case Role::track:
        return trackKeyTable.find(text);
    case Role::playlist:
        return playlistKeyTable.find(text);
    case Role::playlistItem:
        return playlistItemKeyTable.find(text);
    default:
        return Key::other;
    }
}

// Keys whose text is worth collecting in a dictionary of this role.
bool readsKeys(Role role) {
    return role == Role::top || role == Role::track || role == Role::playlist ||
           role == Role::playlistItem;
}

enum class ValueType { string, integer, date, boolean };

ValueType expectedType(Key key) {
    switch (key) {
    case Key::trackID:
    case Key::totalTime:
    case Key::playCount:
    case Key::rating:
    case Key::distinguishedKind:
        return ValueType::integer;
    case Key::playDateUTC:
        return ValueType::date;
    case Key::ratingComputed:
    case Key::loved:
    case Key::favorited:
    case Key::podcast:
    case Key::hasVideo:
    case Key::movie:
    case Key::tvShow:
    case Key::musicVideo:
    case Key::iTunesU:
        return ValueType::boolean;
    default:
        return ValueType::string;
    }
}

const char* typeName(ValueType type) {
    switch (type) {
    case ValueType::string:
        return "a <string>";
    case ValueType::integer:
        return "an <integer>";
    case ValueType::date:
        return "a <date>";
    case ValueType::boolean:
        return "<true/> or <false/>";
    }
    return "a value";
}

std::string inQuotes(std::string_view text) {
    std::string out(1, '"');
    out.append(text);
    out += '"';
    return out;
}

bool isASCIISpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isASCIISpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isASCIISpace(text.back()))
        text.remove_suffix(1);
    return text;
}

std::optional<int64_t> parseInteger(std::string_view text) {
    text = trimmed(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    // Accumulate as a negative number so that the smallest 64-bit value fits too.
    int64_t value = 0;
    constexpr int64_t lowest = std::numeric_limits<int64_t>::min();
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const int digit = c - '0';
        if (value < (lowest + digit) / 10) return std::nullopt;
        value = value * 10 - digit;
    }
    if (negative) return value;
    if (value == lowest) return std::nullopt;
    return -value;
}

std::optional<uint64_t> parsePersistentID(std::string_view text) {
    text = trimmed(text);
    if (text.empty() || text.size() > 16) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else
            return std::nullopt;
        value = value << 4 | digit;
    }
    return value;
}

int64_t daysFromCivil(int64_t year, unsigned month, unsigned day) {
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<int64_t>(dayOfEra) - 719468;
}

// "2015-07-04T19:23:10Z" as seconds since 1970.
std::optional<double> parseDate(std::string_view text) {
    text = trimmed(text);
    if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':' || text[19] != 'Z')
        return std::nullopt;
    auto number = [&](size_t at, size_t length) -> std::optional<unsigned> {
        unsigned value = 0;
        for (size_t i = at; i < at + length; ++i) {
            if (text[i] < '0' || text[i] > '9') return std::nullopt;
            value = value * 10 + static_cast<unsigned>(text[i] - '0');
        }
        return value;
    };
    auto year = number(0, 4), month = number(5, 2), day = number(8, 2);
    auto hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
    if (!year || !month || !day || !hour || !minute || !second) return std::nullopt;
    if (*month < 1 || *month > 12 || *day < 1 || *day > 31 || *hour > 23 || *minute > 59 ||
        *second > 60)
        return std::nullopt;
    const int64_t days = daysFromCivil(*year, *month, *day);
    return static_cast<double>(days * 86400 + *hour * 3600 + *minute * 60 + *second);
}

bool endsWithIgnoringCase(std::string_view text, std::string_view suffix) {
    if (text.size() < suffix.size()) return false;
    text = text.substr(text.size() - suffix.size());
    for (size_t i = 0; i < suffix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != suffix[i]) return false;
    }
    return true;
}

// The media kind the export's distinguished playlists give their members (the XML numbers,
// which differ from the framework's).
std::optional<int64_t> kindOfDistinguishedPlaylist(int64_t distinguishedKind) {
    switch (distinguishedKind) {
    case 2:
        return mediakind::movie;
    case 3:
        return mediakind::tvShow;
    case 5:
        return mediakind::audiobook;
    case 6:
        return mediakind::ringtone;
    case 10:
        return mediakind::podcast;
    case 17:
        return mediakind::voiceMemo;
    case 31:
        return mediakind::iTunesU;
    default:
        return std::nullopt;
    }
}

// Flags of one track that decide its media kind.
struct TrackFlags {
    bool podcast = false;
    bool hasVideo = false;
    bool movie = false;
    bool tvShow = false;
    bool musicVideo = false;
    bool iTunesU = false;
    bool audiobookFile = false;
    bool bookFile = false;

    int64_t mediaKind() const {
        if (podcast) return mediakind::podcast;
        if (movie) return mediakind::movie;
        if (tvShow) return mediakind::tvShow;
        if (musicVideo) return mediakind::musicVideo;
        if (hasVideo) return mediakind::homeVideo;
        if (iTunesU) return mediakind::iTunesU;
        if (audiobookFile) return mediakind::audiobook;
        if (bookFile) return mediakind::book;
        return mediakind::song;
    }
};

struct Frame {
    Role role;
    bool isDict;
    bool haveKey = false;
    Key key = Key::other;
};

// The expat handlers and the state they share. Errors stop the parser and keep a message.
class ExportReader : public ExpatFileReader {
  public:
    explicit ExportReader(std::vector<LibraryMediaItem>& items) : items_(items) {
        XML_SetElementHandler(parser(), onStart, onEnd);
    }

    static void XMLCALL onStart(void* data, const XML_Char* name, const XML_Char**) {
        self<ExportReader>(data).start(name);
    }
    static void XMLCALL onEnd(void* data, const XML_Char*) { self<ExportReader>(data).end(); }
    static void XMLCALL onText(void* data, const XML_Char* text, int length) {
        self<ExportReader>(data).collect(text, static_cast<size_t>(length));
    }
    // Checks the end of the document and gives every item its final media kind; returns what
    // is wrong with it.
    std::string finish() {
        if (!sawTracks_) return "not a music library export: no \"Tracks\" dictionary";
        std::sort(trackIndex_.begin(), trackIndex_.end());
        for (const auto& [trackID, kind] : playlistKinds_) {
            auto range = std::equal_range(
                trackIndex_.begin(), trackIndex_.end(), std::pair<int64_t, size_t>{trackID, 0},
                [](const auto& a, const auto& b) { return a.first < b.first; });
            for (auto it = range.first; it != range.second; ++it) {
                LibraryMediaItem& item = items_[it->second];
                if (item.mediaKind == mediakind::song) item.mediaKind = kind;
            }
        }
        return {};
    }

  private:
    // Exports run to about a kilobyte per track; one reservation spares most regrowth.
    void sized(uint64_t bytes) override {
        reserveWithHugePages(items_, static_cast<size_t>(bytes / 1024) + 16);
    }

    std::vector<LibraryMediaItem>& items_;
    std::vector<Frame> stack_;
    bool sawRoot_ = false;
    bool sawTracks_ = false;

    // The scalar element being read.
    std::optional<Element> scalar_;
    Key scalarKey_ = Key::other;
    Role scalarRole_ = Role::ignored;
    bool collecting_ = false;
    std::string text_;

    // The track being read.
    // Filled where it will stay, so each item's memory is written once.
    LibraryMediaItem* item_ = nullptr;
    std::optional<int64_t> trackID_;
    TrackFlags flags_;
    // (Track ID, item index) of every track with a Track ID.
    std::vector<std::pair<int64_t, size_t>> trackIndex_;

    // The playlist being read.
    std::optional<int64_t> playlistKind_;
    std::vector<int64_t> playlistTrackIDs_;
    // (Track ID, media kind) from distinguished playlists.
    std::vector<std::pair<int64_t, int64_t>> playlistKinds_;

    // Text is only received while a wanted value is read; expat skips the rest (mostly the
    // indentation between elements) without calling out.
    void startCollecting(bool wanted) {
        collecting_ = wanted;
        if (!wanted) return;
        text_.clear();
        XML_SetCharacterDataHandler(parser(), onText);
    }

    void collect(const char* text, size_t length) {
        const size_t room = PlistLibrarySource::maximumValueBytes - text_.size();
        text_.append(text, std::min(length, room));
    }

    void start(const char* name) {
        if (failed()) return;
        if (scalar_) return fail(std::string("unexpected element <") + name + "> inside a value");
        const std::optional<Element> element = elementNamed(name);
        if (!sawRoot_) {
            sawRoot_ = true;
            if (element != Element::plist)
                return fail(std::string("not a property list: the root element is <") + name + ">");
            stack_.push_back(Frame{Role::plist, false});
            return;
        }
        if (!element || *element == Element::plist)
            return fail(std::string("unexpected element <") + name + ">");
        if (stack_.empty()) return fail("a second root element");

        Frame& parent = stack_.back();
        if (*element == Element::key) return startKey(parent);

        // A value: find what it stands for from where it is.
        Key key = Key::other;
        if (parent.isDict) {
            if (!parent.haveKey) return fail(std::string("<") + name + "> without a <key>");
            parent.haveKey = false;
            key = parent.key;
        } else if (parent.role == Role::plist) {
            if (parent.haveKey) return fail("more than one value in <plist>");
            parent.haveKey = true;
        }
        const bool isDict = *element == Element::dict;
        if (isDict || *element == Element::array) return startContainer(parent.role, key, isDict);
        startScalar(parent.role, key, *element);
    }

    void startKey(Frame& parent) {
        if (!parent.isDict) return fail("<key> outside a <dict>");
        if (parent.haveKey) return fail("<key> without a value");
        scalar_ = Element::key;
        scalarRole_ = parent.role;
        startCollecting(readsKeys(parent.role));
    }

    void startContainer(Role parentRole, Key key, bool isDict) {
        if (stack_.size() >= PlistLibrarySource::maximumDepth)
            return fail("nesting deeper than " + std::to_string(PlistLibrarySource::maximumDepth) +
                        " levels");
        Role role = Role::ignored;
        switch (parentRole) {
        case Role::plist:
            if (!isDict)
                return fail("not a music library export: the property list is not a <dict>");
            role = Role::top;
            break;
        case Role::top:
            if (key == Key::tracks) {
                if (!isDict) return fail("\"Tracks\" is not a <dict>");
                sawTracks_ = true;
                role = Role::tracks;
            } else if (key == Key::playlists) {
                if (isDict) return fail("\"Playlists\" is not an <array>");
                role = Role::playlists;
            }
            break;
        case Role::tracks:
            if (!isDict) return fail("a track is not a <dict>");
            role = Role::track;
            item_ = &items_.emplace_back();
            break;
        case Role::playlists:
            if (!isDict) return fail("a playlist is not a <dict>");
            role = Role::playlist;
            playlistKind_.reset();
            playlistTrackIDs_.clear();
            break;
        case Role::playlist:
            if (key == Key::playlistItems) {
                if (isDict) return fail("\"Playlist Items\" is not an <array>");
                role = Role::playlistItems;
            } else if (key != Key::other) {
                return mismatch(key);
            }
            break;
        case Role::playlistItems:
            if (!isDict) return fail("a playlist item is not a <dict>");
            role = Role::playlistItem;
            break;
        case Role::track:
        case Role::playlistItem:
            if (key != Key::other) return mismatch(key);
            break;
        case Role::ignored:
            break;
        }
        stack_.push_back(Frame{role, isDict});
    }

    void startScalar(Role parentRole, Key key, Element element) {
        scalar_ = element;
        scalarKey_ = key;
        scalarRole_ = parentRole;
        startCollecting(key != Key::other &&
                        (parentRole == Role::track || parentRole == Role::playlist ||
                         parentRole == Role::playlistItem));
        if (parentRole == Role::top && (key == Key::tracks || key == Key::playlists))
            return fail(key == Key::tracks ? "\"Tracks\" is not a <dict>"
                                           : "\"Playlists\" is not an <array>");
        if (parentRole == Role::playlist && key == Key::playlistItems)
            return fail("\"Playlist Items\" is not an <array>");
        if (parentRole == Role::tracks) return fail("a track is not a <dict>");
        if (parentRole == Role::playlists) return fail("a playlist is not a <dict>");
        if (parentRole == Role::playlistItems) return fail("a playlist item is not a <dict>");
    }

    void mismatch(Key key) {
        const auto& keys = trackKeys;
        std::string_view name = "value";
        for (const NamedKey& entry : keys)
            if (entry.key == key) name = entry.name;
        for (const NamedKey& entry : playlistKeys)
            if (entry.key == key) name = entry.name;
        fail(inQuotes(name) + " is not " + typeName(expectedType(key)));
    }

    void end() {
        if (failed()) return;
        if (scalar_) return endScalar();
        if (stack_.empty()) return;
        const Frame frame = stack_.back();
        if (frame.isDict && frame.haveKey) return fail("<key> without a value");
        stack_.pop_back();
        if (frame.role == Role::track) endTrack();
        if (frame.role == Role::playlist) endPlaylist();
        if (frame.role == Role::plist && !frame.haveKey) fail("an empty <plist>");
    }

    void endScalar() {
        const Element element = *scalar_;
        scalar_.reset();
        const bool collected = collecting_;
        if (collected) {
            collecting_ = false;
            XML_SetCharacterDataHandler(parser(), nullptr);
        }
        if (element == Element::key) {
            Frame& parent = stack_.back();
            parent.haveKey = true;
            parent.key = collected ? classify(parent.role, text_) : Key::other;
            return;
        }
        if (collected) apply(element);
    }

    void apply(Element element) {
        const Key key = scalarKey_;
        const ValueType expected = expectedType(key);
        const bool isBoolean = element == Element::trueValue || element == Element::falseValue;
        const bool matches = (expected == ValueType::string && element == Element::string) ||
                             (expected == ValueType::integer && element == Element::integer) ||
                             (expected == ValueType::date && element == Element::date) ||
                             (expected == ValueType::boolean && isBoolean);
        if (!matches) return mismatch(key);
        const bool flag = element == Element::trueValue;

        if (expected == ValueType::integer) {
            const std::optional<int64_t> value = parseInteger(text_);
            if (!value) return invalid(key, "is not a 64-bit integer");
            if (scalarRole_ == Role::playlistItem) {
                // Membership matters only for the distinguished playlists that mark media kinds.
                if (!playlistKind_ || kindOfDistinguishedPlaylist(*playlistKind_))
                    playlistTrackIDs_.push_back(*value);
                return;
            }
            switch (key) {
            case Key::trackID:
                trackID_ = *value;
                break;
            case Key::totalTime:
                item_->totalTime = *value;
                break;
            case Key::playCount:
                item_->playCount = *value;
                break;
            case Key::rating:
                item_->rating = *value;
                break;
            case Key::distinguishedKind:
                playlistKind_ = *value;
                break;
            default:
                break;
            }
            return;
        }
        switch (key) {
        case Key::persistentID: {
            const std::optional<uint64_t> id = parsePersistentID(text_);
            if (!id) return invalid(key, "is not a hexadecimal persistent ID");
            item_->persistentID = *id;
            break;
        }
        case Key::name:
            item_->title = text_;
            break;
        case Key::artist:
            item_->artist = LibraryArtist{text_};
            break;
        case Key::album:
            if (!item_->album) item_->album.emplace();
            item_->album->title = text_;
            break;
        case Key::albumArtist:
            if (!item_->album) item_->album.emplace();
            item_->album->albumArtist = text_;
            break;
        case Key::location:
            flags_.audiobookFile = endsWithIgnoringCase(text_, ".m4b");
            flags_.bookFile = endsWithIgnoringCase(text_, ".epub") ||
                              endsWithIgnoringCase(text_, ".ibooks") ||
                              endsWithIgnoringCase(text_, ".pdf");
            break;
        case Key::playDateUTC: {
            const std::optional<double> date = parseDate(text_);
            if (!date) return invalid(key, "is not a date like 2015-07-04T19:23:10Z");
            item_->lastPlayedDate = *date;
            break;
        }
        case Key::ratingComputed:
            item_->isRatingComputed = flag;
            break;
        case Key::loved:
        case Key::favorited:
            item_->loved = item_->loved || flag;
            break;
        case Key::podcast:
            flags_.podcast = flag;
            break;
        case Key::hasVideo:
            flags_.hasVideo = flag;
            break;
        case Key::movie:
            flags_.movie = flag;
            break;
        case Key::tvShow:
            flags_.tvShow = flag;
            break;
        case Key::musicVideo:
            flags_.musicVideo = flag;
            break;
        case Key::iTunesU:
            flags_.iTunesU = flag;
            break;
        default:
            break;
        }
    }

    void invalid(Key key, const char* problem) {
        std::string_view name = "value";
        for (const NamedKey& entry : trackKeys)
            if (entry.key == key) name = entry.name;
        for (const NamedKey& entry : playlistKeys)
            if (entry.key == key) name = entry.name;
        std::string shown(text_.substr(0, 40));
        fail(inQuotes(name) + " " + problem + " (" + inQuotes(shown) + ")");
    }

    void endTrack() {
        item_->mediaKind = flags_.mediaKind();
        if (trackID_) trackIndex_.emplace_back(*trackID_, items_.size() - 1);
        item_ = nullptr;
        trackID_.reset();
        flags_ = TrackFlags{};
    }

    void endPlaylist() {
        if (!playlistKind_) return;
        const std::optional<int64_t> kind = kindOfDistinguishedPlaylist(*playlistKind_);
        if (!kind) return;
        for (int64_t trackID : playlistTrackIDs_)
            playlistKinds_.emplace_back(trackID, *kind);
        playlistTrackIDs_.clear();
    }
};

} // namespace

PlistLibrarySource::PlistLibrarySource(std::filesystem::path path) : path_(std::move(path)) {}

bool PlistLibrarySource::reloadData() {
    unloadData();
    ExportReader reader(items_);
    std::string problem = reader.parseFile(path_);
    if (problem.empty()) problem = reader.finish();
    if (!problem.empty()) {
        unloadData();
        throw CaptureError::libraryUnavailable(path_.string() + ": " + problem);
    }
    return true;
}

void PlistLibrarySource::unloadData() {
    std::vector<LibraryMediaItem>().swap(items_);
    std::vector<LibraryPlaylist>().swap(playlists_);
}

} // namespace qb
