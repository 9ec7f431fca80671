#include "platform/linux/library/RhythmboxLibrarySource.hpp"

#include "core/common/CaptureError.hpp"
#include "core/common/HugePages.hpp"
#include "platform/linux/library/DerivedPersistentID.hpp"
#include "platform/linux/library/ExpatFileReader.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>

namespace qb {

namespace {

// The elements of an entry that are read; Rhythmbox writes about twenty.
enum class Field {
    none,
    title,
    artist,
    album,
    albumArtist,
    duration,
    location,
    playCount,
    lastPlayed,
    rating
};

Field fieldNamed(const char* name) {
    const std::string_view text(name);
    switch (text.front()) {
    case 't':
        if (text == "title") return Field::title;
        break;
    case 'a':
        if (text == "artist") return Field::artist;
        if (text == "album") return Field::album;
        if (text == "album-artist") return Field::albumArtist;
        break;
    case 'd':
        if (text == "duration") return Field::duration;
        break;
    case 'l':
        if (text == "location") return Field::location;
        if (text == "last-played") return Field::lastPlayed;
        break;
    case 'p':
        if (text == "play-count") return Field::playCount;
        break;
    case 'r':
        if (text == "rating") return Field::rating;
        break;
    default:
        break;
    }
    return Field::none;
}

std::string_view trimmed(std::string_view text) {
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!text.empty() && space(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && space(text.back()))
        text.remove_suffix(1);
    return text;
}

// As Rhythmbox reads its numbers (g_ascii_strtoull): the leading digits, 0 when there are none.
int64_t wholeNumber(std::string_view text) {
    text = trimmed(text);
    int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        if (value > (std::numeric_limits<int64_t>::max() - 9) / 10)
            return std::numeric_limits<int64_t>::max();
        value = value * 10 + (c - '0');
    }
    return value;
}

// 0 to 5 stars as 0 to 100.
int64_t ratingOfStars(std::string_view text) {
    text = trimmed(text);
    double stars = 0;
    std::from_chars(text.data(), text.data() + text.size(), stars);
    if (!std::isfinite(stars)) return 0;
    return std::lround(std::clamp(stars, 0.0, 5.0) * 20);
}

bool isSongEntry(const XML_Char** attributes) {
    for (; attributes[0] != nullptr; attributes += 2)
        if (std::strcmp(attributes[0], "type") == 0) return std::strcmp(attributes[1], "song") == 0;
    return false;
}

class RhythmdbReader : public ExpatFileReader {
  public:
    explicit RhythmdbReader(std::vector<LibraryMediaItem>& items) : items_(items) {
        XML_SetElementHandler(parser(), onStart, onEnd);
    }

  private:
    std::vector<LibraryMediaItem>& items_;
    // Open elements: 1 inside <rhythmdb>, 2 inside an entry, 3 inside one of its elements.
    int depth_ = 0;
    LibraryMediaItem* song_ = nullptr;
    std::string location_;
    bool hasLocation_ = false;
    Field field_ = Field::none;
    std::string text_;

    static void XMLCALL onStart(void* data, const XML_Char* name, const XML_Char** attributes) {
        self<RhythmdbReader>(data).start(name, attributes);
    }
    static void XMLCALL onEnd(void* data, const XML_Char*) { self<RhythmdbReader>(data).end(); }
    static void XMLCALL onText(void* data, const XML_Char* text, int length) {
        auto& reader = self<RhythmdbReader>(data);
        const size_t room = RhythmboxLibrarySource::maximumValueBytes - reader.text_.size();
        reader.text_.append(text, std::min(static_cast<size_t>(length), room));
    }

    // Entries run to about 700 bytes.
    void sized(uint64_t bytes) override {
        reserveWithHugePages(items_, static_cast<size_t>(bytes / 600) + 16);
    }

    void start(const char* name, const XML_Char** attributes) {
        if (failed()) return;
        switch (depth_++) {
        case 0:
            if (std::strcmp(name, "rhythmdb") != 0)
                fail(std::string("not a Rhythmbox library: the root element is <") + name + ">");
            break;
        case 1:
            if (std::strcmp(name, "entry") == 0 && isSongEntry(attributes)) {
                song_ = &items_.emplace_back();
                hasLocation_ = false;
            }
            break;
        case 2:
            if (!song_) break;
            field_ = fieldNamed(name);
            if (field_ == Field::none) break;
            // Text is received only inside a wanted element; expat skips the indentation.
            text_.clear();
            XML_SetCharacterDataHandler(parser(), onText);
            break;
        default:
            break;
        }
    }

    void end() {
        if (failed()) return;
        switch (--depth_) {
        case 1:
            if (song_) endSong();
            break;
        case 2:
            if (field_ != Field::none) endField();
            break;
        default:
            break;
        }
    }

    void endSong() {
        // Rhythmbox drops an entry without a location when it loads the file.
        if (hasLocation_)
            song_->persistentID = derivedPersistentID(location_);
        else
            items_.pop_back();
        song_ = nullptr;
    }

    void endField() {
        XML_SetCharacterDataHandler(parser(), nullptr);
        LibraryMediaItem& song = *song_;
        switch (std::exchange(field_, Field::none)) {
        case Field::title:
            song.title = std::move(text_);
            break;
        case Field::artist:
            // Rhythmbox writes <artist></artist> for none; the scanner then takes the album-artist.
            if (!text_.empty()) song.artist = LibraryArtist{std::move(text_)};
            break;
        case Field::album:
            if (!song.album) song.album.emplace();
            song.album->title = std::move(text_);
            break;
        case Field::albumArtist:
            if (!song.album) song.album.emplace();
            song.album->albumArtist = std::move(text_);
            break;
        case Field::duration:
            song.totalTime =
                std::min(wholeNumber(text_), std::numeric_limits<int64_t>::max() / 1000) * 1000;
            break;
        case Field::location:
            location_ = std::move(text_);
            hasLocation_ = true;
            break;
        case Field::playCount:
            song.playCount = wholeNumber(text_);
            break;
        case Field::lastPlayed:
            if (const int64_t seconds = wholeNumber(text_); seconds > 0)
                song.lastPlayedDate = static_cast<double>(seconds);
            break;
        case Field::rating:
            song.rating = ratingOfStars(text_);
            break;
        case Field::none:
            break;
        }
    }
};

} // namespace

RhythmboxLibrarySource::RhythmboxLibrarySource(std::filesystem::path path)
    : path_(std::move(path)) {}

bool RhythmboxLibrarySource::reloadData() {
    unloadData();
    RhythmdbReader reader(items_);
    const std::string problem = reader.parseFile(path_);
    if (!problem.empty()) {
        unloadData();
        throw CaptureError::libraryUnavailable(path_.string() + ": " + problem);
    }
    return true;
}

void RhythmboxLibrarySource::unloadData() {
    std::vector<LibraryMediaItem>().swap(items_);
}

} // namespace qb
