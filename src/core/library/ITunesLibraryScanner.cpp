#include "core/library/ITunesLibraryScanner.hpp"

#include "core/common/CaptureError.hpp"
#include "core/common/HugePages.hpp"
#include "core/common/StableIdentifier.hpp"
#include "core/common/TextCut.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

namespace qb {

namespace {

int64_t wholeMilliseconds(int64_t nanoseconds) {
    return nanoseconds / 1'000'000;
}

// True when the text holds nothing but white space and line ends (the Unicode White_Space
// property: spaces, tabs, line and paragraph separators, NEL).
bool isBlank(const std::string& text) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const int64_t length = static_cast<int64_t>(text.size());
    int64_t i = 0;
    while (i < length) {
        UChar32 c;
        U8_NEXT(bytes, i, length, c);
        if (c < 0 || !u_isUWhiteSpace(c)) return false;
    }
    return true;
}

std::optional<int64_t> wholeSecondsSince1970(const std::optional<double>& date) {
    if (!date || !std::isfinite(*date)) return std::nullopt;
    const double seconds = std::trunc(*date);
    // Outside the 64-bit range no conversion is defined; such a date is no date.
    if (seconds < -9.2e18 || seconds > 9.2e18) return std::nullopt;
    return static_cast<int64_t>(seconds);
}

std::string cut(std::string&& text) {
    return firstCharacters(std::move(text), ITunesLibraryScanner::maximumTextCharacters);
}

std::string cut(std::optional<std::string>& text) {
    return text ? cut(std::move(*text)) : std::string();
}

} // namespace

ITunesLibraryScanner::ITunesLibraryScanner(LibraryOpener openLibrary,
                                           ResidentMemoryReader residentBytes,
                                           MonotonicClock monotonicNanoseconds)
    : openLibrary_(std::move(openLibrary)), residentBytes_(std::move(residentBytes)),
      now_(std::move(monotonicNanoseconds)) {}

int64_t ITunesLibraryScanner::steadyNanoseconds() {
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

LibraryScan ITunesLibraryScanner::scan() {
    try {
        return read();
    } catch (const CaptureError&) {
        throw;
    } catch (const LibraryOpenError& error) {
        throw CaptureError::libraryUnavailable(error.domain() + " " + std::to_string(error.code()) +
                                               ": " + error.description());
    } catch (const std::exception& error) {
        throw CaptureError::libraryUnavailable(error.what());
    }
}

LibraryScan ITunesLibraryScanner::read() {
    const int64_t start = now_();
    LibraryScan scan;
    ScanMetrics& metrics = scan.metrics;
    metrics.residentBeforeBytes = residentBytes_();
    {
        // Everything the library hands out lives in this scope, so it is gone before the
        // memory after release is read.
        const int64_t loadStart = now_();
        std::unique_ptr<LibrarySource> library = openLibrary_();
        if (!library) throw CaptureError::libraryUnavailable("the library could not be opened");
        if (!library->reloadData())
            throw CaptureError::libraryUnavailable("reloadData returned false");
        metrics.loadMS = wholeMilliseconds(now_() - loadStart);
        metrics.residentLoadedBytes = residentBytes_();

        const int64_t passStart = now_();
        std::unordered_set<uint64_t> loved;
        for (const LibraryPlaylist& playlist : library->playlists()) {
            if (playlist.distinguishedKind != lovedSongsPlaylistKind) continue;
            loved.insert(playlist.itemPersistentIDs.begin(), playlist.itemPersistentIDs.end());
        }
        std::vector<LibraryMediaItem> items = library->mediaItems();
        reserveWithHugePages(scan.tracks, items.size());
        for (LibraryMediaItem& item : items) {
            if (auto track = trackFor(item, loved)) scan.tracks.push_back(std::move(*track));
        }
        metrics.scanMS = wholeMilliseconds(now_() - passStart);

        const uint64_t afterPass = residentBytes_();
        metrics.residentLoadedBytes = std::max(metrics.residentLoadedBytes, afterPass);
        library->unloadData();
    }
    metrics.residentAfterReleaseBytes = residentBytes_();
    metrics.totalMS = wholeMilliseconds(now_() - start);
    metrics.trackCount = static_cast<int64_t>(scan.tracks.size());
    return scan;
}

std::optional<LibraryTrack>
ITunesLibraryScanner::trackFor(LibraryMediaItem& item, const std::unordered_set<uint64_t>& loved) {
    if (item.mediaKind != mediakind::song || item.persistentID == 0) return std::nullopt;

    LibraryTrack track;
    std::optional<std::string> noText;
    std::optional<std::string>& albumArtist = item.album ? item.album->albumArtist : noText;
    // The album-artist is stored on its own too, so it is copied, not moved, into the artist.
    if (item.artist && item.artist->name)
        track.artist = cut(item.artist->name);
    else if (albumArtist)
        track.artist = firstCharacters(*albumArtist, maximumTextCharacters);
    track.title = cut(std::move(item.title));
    if (isBlank(track.artist) || isBlank(track.title)) return std::nullopt;

    track.persistentID = formatPersistentID(item.persistentID);
    if (item.totalTime >= 1) track.durationMS = item.totalTime;
    track.album = cut(item.album ? item.album->title : noText);
    track.albumArtist = cut(albumArtist);
    track.playCount = item.playCount;
    track.lastPlayedAt = wholeSecondsSince1970(item.lastPlayedDate);
    track.rating = std::clamp<int64_t>(item.rating, 0, 100);
    track.ratingComputed = item.isRatingComputed;
    track.favourite = item.loved || (!loved.empty() && loved.count(item.persistentID) > 0);
    track.catalogID = "";
    return track;
}

} // namespace qb
