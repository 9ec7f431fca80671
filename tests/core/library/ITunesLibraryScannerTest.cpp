#include "core/library/ITunesLibraryScanner.hpp"

#include "core/common/CaptureError.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace qb {
namespace {

using Log = std::vector<std::string>;

class FakeLibrary : public LibrarySource {
  public:
    FakeLibrary(std::vector<LibraryMediaItem> items, std::vector<LibraryPlaylist> playlists,
                std::shared_ptr<Log> log, bool reloads = true)
        : items_(std::move(items)), playlists_(std::move(playlists)), log_(std::move(log)),
          reloads_(reloads) {}
    ~FakeLibrary() override { log_->push_back("released"); }

    bool reloadData() override {
        log_->push_back("reloadData");
        return reloads_;
    }
    const std::vector<LibraryPlaylist>& playlists() const override {
        log_->push_back("playlists");
        return playlists_;
    }
    std::vector<LibraryMediaItem> mediaItems() override {
        log_->push_back("mediaItems");
        return items_;
    }
    void unloadData() override { log_->push_back("unloadData"); }

  private:
    std::vector<LibraryMediaItem> items_;
    std::vector<LibraryPlaylist> playlists_;
    std::shared_ptr<Log> log_;
    bool reloads_;
};

LibraryMediaItem song(uint64_t id, std::string title, std::optional<std::string> artist) {
    LibraryMediaItem item;
    item.persistentID = id;
    item.title = std::move(title);
    if (artist) item.artist = LibraryArtist{std::move(artist)};
    item.totalTime = 200000;
    return item;
}

struct Harness {
    std::vector<LibraryMediaItem> items;
    std::vector<LibraryPlaylist> playlists;
    bool reloads = true;
    std::vector<uint64_t> residentReadings{1000, 2000, 3000, 1500};
    std::vector<int64_t> clockReadings{0, 0, 0, 0, 0, 0};
    std::shared_ptr<Log> log = std::make_shared<Log>();

    ITunesLibraryScanner scanner() {
        auto readings = std::make_shared<std::vector<uint64_t>>(residentReadings);
        auto times = std::make_shared<std::vector<int64_t>>(clockReadings);
        auto next = [](auto& list) {
            auto value = list->empty() ? 0 : list->front();
            if (!list->empty()) list->erase(list->begin());
            return value;
        };
        return ITunesLibraryScanner(
            [this] {
                log->push_back("open");
                return std::make_unique<FakeLibrary>(items, playlists, log, reloads);
            },
            [readings, next, log = log] {
                log->push_back("resident");
                return next(readings);
            },
            [times, next] { return next(times); });
    }

    LibraryScan scan() { return scanner().scan(); }
};

CaptureError scanFailure(ITunesLibraryScanner scanner) {
    try {
        scanner.scan();
    } catch (const CaptureError& error) {
        return error;
    }
    ADD_FAILURE() << "scan did not fail";
    return CaptureError::queueFull();
}

TEST(ITunesLibraryScanner, TurnsSongsIntoTracks) {
    Harness h;
    LibraryMediaItem item = song(42, "Bohemian Rhapsody", "Queen");
    item.album = LibraryAlbum{"A Night at the Opera", "Queen Album Artist"};
    item.totalTime = 354320;
    item.playCount = 55;
    item.lastPlayedDate = 1733700000.9;
    item.rating = 80;
    item.isRatingComputed = true;
    h.items = {item};

    const LibraryScan scan = h.scan();
    ASSERT_EQ(scan.tracks.size(), 1u);
    const LibraryTrack& t = scan.tracks[0];
    EXPECT_EQ(t.persistentID, "000000000000002A");
    EXPECT_EQ(t.title, "Bohemian Rhapsody");
    EXPECT_EQ(t.artist, "Queen");
    EXPECT_EQ(t.album, "A Night at the Opera");
    EXPECT_EQ(t.albumArtist, "Queen Album Artist");
    EXPECT_EQ(t.durationMS, 354320);
    EXPECT_EQ(t.playCount, 55);
    EXPECT_EQ(t.lastPlayedAt, 1733700000);
    EXPECT_EQ(t.rating, 80);
    EXPECT_TRUE(t.ratingComputed);
    EXPECT_FALSE(t.favourite);
    EXPECT_EQ(t.catalogID, "");
    EXPECT_EQ(scan.metrics.trackCount, 1);
}

TEST(ITunesLibraryScanner, KeepsOnlySongsInLibraryOrderWithDuplicates) {
    Harness h;
    LibraryMediaItem podcast = song(2, "Episode", "Host");
    podcast.mediaKind = mediakind::podcast;
    LibraryMediaItem video = song(3, "Clip", "Band");
    video.mediaKind = mediakind::musicVideo;
    LibraryMediaItem unknownKind = song(5, "Odd", "Band");
    unknownKind.mediaKind = 258; // must not wrap to a song
    h.items = {song(9, "Z first", "A"), podcast, song(1, "A second", "B"), video, unknownKind,
               song(9, "Z again", "A")};

    const LibraryScan scan = h.scan();
    ASSERT_EQ(scan.tracks.size(), 3u);
    EXPECT_EQ(scan.tracks[0].title, "Z first");
    EXPECT_EQ(scan.tracks[1].title, "A second");
    EXPECT_EQ(scan.tracks[2].title, "Z again");
    EXPECT_EQ(scan.tracks[0].persistentID, scan.tracks[2].persistentID);
    EXPECT_EQ(scan.metrics.trackCount, 3);
}

TEST(ITunesLibraryScanner, FormatsPersistentIDsAsSixteenUpperCaseHexDigits) {
    Harness h;
    h.items = {song(0xABCDEF, "t", "a"), song(std::numeric_limits<uint64_t>::max(), "t", "a")};
    const LibraryScan scan = h.scan();
    ASSERT_EQ(scan.tracks.size(), 2u);
    EXPECT_EQ(scan.tracks[0].persistentID, "0000000000ABCDEF");
    EXPECT_EQ(scan.tracks[1].persistentID, "FFFFFFFFFFFFFFFF");
}

TEST(ITunesLibraryScanner, LeavesDurationOutBelowOneMillisecond) {
    Harness h;
    h.items = {song(1, "zero", "a"), song(2, "one", "a"), song(3, "negative", "a")};
    h.items[0].totalTime = 0;
    h.items[1].totalTime = 1;
    h.items[2].totalTime = -5;
    const LibraryScan scan = h.scan();
    ASSERT_EQ(scan.tracks.size(), 3u);
    EXPECT_EQ(scan.tracks[0].durationMS, std::nullopt);
    EXPECT_FALSE(scan.tracks[0].toJson().contains("durationMS"));
    EXPECT_EQ(scan.tracks[1].durationMS, 1);
    EXPECT_EQ(scan.tracks[2].durationMS, std::nullopt);
}

TEST(ITunesLibraryScanner, FallsBackToTheAlbumArtist) {
    Harness h;
    LibraryMediaItem noArtist = song(1, "no artist", std::nullopt);
    noArtist.album = LibraryAlbum{std::nullopt, "X"};
    LibraryMediaItem namelessArtist = song(2, "nameless", std::nullopt);
    namelessArtist.artist = LibraryArtist{};
    namelessArtist.album = LibraryAlbum{"Album", "Y"};
    LibraryMediaItem blankArtist = song(3, "blank", "  ");
    blankArtist.album = LibraryAlbum{std::nullopt, "Z"};
    LibraryMediaItem emptyArtist = song(4, "empty", "");
    emptyArtist.album = LibraryAlbum{std::nullopt, "Z"};
    LibraryMediaItem nothing = song(5, "nobody at all", std::nullopt);
    LibraryMediaItem blankAlbumArtist = song(6, "blank album artist", std::nullopt);
    blankAlbumArtist.album = LibraryAlbum{std::nullopt, "\n"};
    h.items = {noArtist, namelessArtist, blankArtist, emptyArtist, nothing, blankAlbumArtist};

    const LibraryScan scan = h.scan();
    ASSERT_EQ(scan.tracks.size(), 2u);
    EXPECT_EQ(scan.tracks[0].artist, "X");
    EXPECT_EQ(scan.tracks[0].album, "");
    EXPECT_EQ(scan.tracks[0].albumArtist, "X");
    EXPECT_EQ(scan.tracks[1].artist, "Y");
    EXPECT_EQ(scan.tracks[1].album, "Album");
}

TEST(ITunesLibraryScanner, SkipsBlankTitlesAndZeroIDsButStoresTextsUntrimmed) {
    Harness h;
    h.items = {song(0, "zero id", "a"),
               song(1, " \t\r\n", "a"),
               song(2, "\xC2\xA0\xE3\x80\x80\xE2\x80\xA8", "a"), // no-break, ideographic, line sep.
               song(3, "t", "\xC2\x85"),                         // next line
               song(4, "  Padded Title \n", " Padded Artist "),
               song(5, "\xE2\x80\x8B", "zero-width space is not white space")};

    const LibraryScan scan = h.scan();
    ASSERT_EQ(scan.tracks.size(), 2u);
    EXPECT_EQ(scan.tracks[0].title, "  Padded Title \n");
    EXPECT_EQ(scan.tracks[0].artist, " Padded Artist ");
    EXPECT_EQ(scan.tracks[1].persistentID, "0000000000000005");
}

TEST(ITunesLibraryScanner, CutsTextsToFiveHundredCharacters) {
    Harness h;
    std::string long600;
    for (int i = 0; i < 600; ++i)
        long600 += "é";
    std::string expected500;
    for (int i = 0; i < 500; ++i)
        expected500 += "é";
    LibraryMediaItem item = song(1, long600, long600);
    item.album = LibraryAlbum{long600, long600};
    h.items = {item};

    const LibraryScan scan = h.scan();
    ASSERT_EQ(scan.tracks.size(), 1u);
    EXPECT_EQ(scan.tracks[0].title, expected500);
    EXPECT_EQ(scan.tracks[0].artist, expected500);
    EXPECT_EQ(scan.tracks[0].album, expected500);
    EXPECT_EQ(scan.tracks[0].albumArtist, expected500);
}

TEST(ITunesLibraryScanner, JudgesBlanknessAfterTheCut) {
    Harness h;
    h.items = {song(1, std::string(600, ' ') + "late title", "a")};
    EXPECT_TRUE(h.scan().tracks.empty());
}

TEST(ITunesLibraryScanner, RepairsIllFormedTextSoTheScanStaysWritable) {
    Harness h;
    h.items = {song(1, "bad \xFF byte", "ok")};
    const LibraryScan scan = h.scan();
    ASSERT_EQ(scan.tracks.size(), 1u);
    EXPECT_EQ(scan.tracks[0].title, "bad \xEF\xBF\xBD byte");
    EXPECT_NO_THROW(scan.toJson().dump());
}

TEST(ITunesLibraryScanner, ClampsRatings) {
    Harness h;
    h.items = {song(1, "a", "a"), song(2, "b", "a"), song(3, "c", "a"), song(4, "d", "a")};
    h.items[0].rating = -10;
    h.items[1].rating = 120;
    h.items[2].rating = 0;
    h.items[3].rating = 100;
    const LibraryScan scan = h.scan();
    ASSERT_EQ(scan.tracks.size(), 4u);
    EXPECT_EQ(scan.tracks[0].rating, 0);
    EXPECT_EQ(scan.tracks[1].rating, 100);
    EXPECT_EQ(scan.tracks[2].rating, 0);
    EXPECT_EQ(scan.tracks[3].rating, 100);
}

TEST(ITunesLibraryScanner, TruncatesLastPlayedTowardZero) {
    Harness h;
    h.items = {song(1, "a", "a"), song(2, "b", "a"), song(3, "c", "a"), song(4, "d", "a"),
               song(5, "e", "a")};
    h.items[0].lastPlayedDate = 1733700000.999;
    h.items[1].lastPlayedDate = -1.5;
    h.items[3].lastPlayedDate = std::nan("");
    h.items[4].lastPlayedDate = 1e300;
    const LibraryScan scan = h.scan();
    ASSERT_EQ(scan.tracks.size(), 5u);
    EXPECT_EQ(scan.tracks[0].lastPlayedAt, 1733700000);
    EXPECT_EQ(scan.tracks[1].lastPlayedAt, -1);
    EXPECT_EQ(scan.tracks[2].lastPlayedAt, std::nullopt);
    EXPECT_EQ(scan.tracks[3].lastPlayedAt, std::nullopt);
    EXPECT_EQ(scan.tracks[4].lastPlayedAt, std::nullopt);
}

TEST(ITunesLibraryScanner, MarksFavouritesFromLovedPlaylistsAndItemFlags) {
    Harness h;
    LibraryMediaItem flagged = song(4, "flagged", "a");
    flagged.loved = true;
    LibraryMediaItem lovedPodcast = song(7, "episode", "host");
    lovedPodcast.mediaKind = mediakind::podcast;
    h.items = {song(1, "in loved", "a"), song(2, "in other", "a"), song(3, "in second loved", "a"),
               flagged, lovedPodcast};
    h.playlists = {LibraryPlaylist{52, {1, 7, 99}}, LibraryPlaylist{4, {2}},
                   LibraryPlaylist{52, {3}}};

    const LibraryScan scan = h.scan();
    ASSERT_EQ(scan.tracks.size(), 4u);
    EXPECT_TRUE(scan.tracks[0].favourite);
    EXPECT_FALSE(scan.tracks[1].favourite);
    EXPECT_TRUE(scan.tracks[2].favourite);
    EXPECT_TRUE(scan.tracks[3].favourite);
}

TEST(ITunesLibraryScanner, WithoutLovedPlaylistNothingIsFavourite) {
    Harness h;
    h.items = {song(1, "a", "a"), song(2, "b", "a")};
    h.playlists = {LibraryPlaylist{4, {1, 2}}};
    for (const LibraryTrack& t : h.scan().tracks)
        EXPECT_FALSE(t.favourite);
}

TEST(ITunesLibraryScanner, MeasuresDurationsInWholeMilliseconds) {
    Harness h;
    h.items = {song(1, "a", "a")};
    // start, load start, loaded, pass start, pass end, end
    h.clockReadings = {10'000'000, 11'000'000, 13'999'999, 14'000'000, 19'500'000, 22'999'999};
    const ScanMetrics m = h.scan().metrics;
    EXPECT_EQ(m.loadMS, 2);
    EXPECT_EQ(m.scanMS, 5);
    EXPECT_EQ(m.totalMS, 12);
}

TEST(ITunesLibraryScanner, ReadsMemoryAroundTheLoadAndAfterRelease) {
    {
        Harness h;
        h.residentReadings = {100, 500, 700, 300};
        const ScanMetrics m = h.scan().metrics;
        EXPECT_EQ(m.residentBeforeBytes, 100u);
        EXPECT_EQ(m.residentLoadedBytes, 700u);
        EXPECT_EQ(m.residentAfterReleaseBytes, 300u);
    }
    {
        Harness h;
        h.residentReadings = {100, 800, 700, 300};
        EXPECT_EQ(h.scan().metrics.residentLoadedBytes, 800u);
    }
    {
        Harness h; // a failed reading after loading is skipped
        h.residentReadings = {0, 0, 650, 0};
        const ScanMetrics m = h.scan().metrics;
        EXPECT_EQ(m.residentBeforeBytes, 0u);
        EXPECT_EQ(m.residentLoadedBytes, 650u);
        EXPECT_EQ(m.residentAfterReleaseBytes, 0u);
    }
    {
        Harness h; // a failed reading after the pass keeps the first
        h.residentReadings = {100, 500, 0, 200};
        EXPECT_EQ(h.scan().metrics.residentLoadedBytes, 500u);
    }
}

TEST(ITunesLibraryScanner, ReleasesTheLibraryBeforeTheLastMemoryReading) {
    Harness h;
    h.items = {song(1, "a", "a")};
    h.scan();
    const Log expected = {"resident",   "open",     "reloadData", "resident", "playlists",
                          "mediaItems", "resident", "unloadData", "released", "resident"};
    EXPECT_EQ(*h.log, expected);
}

TEST(ITunesLibraryScanner, ReportsOpenFailuresWithDomainCodeAndDescription) {
    ITunesLibraryScanner scanner(
        []() -> std::unique_ptr<LibrarySource> {
            throw LibraryOpenError("ITLibraryErrorDomain", 5, "The library is locked.");
        },
        [] { return uint64_t{0}; });
    const CaptureError error = scanFailure(std::move(scanner));
    EXPECT_EQ(error.kind(), CaptureError::Kind::libraryUnavailable);
    EXPECT_EQ(error.detail(), "ITLibraryErrorDomain 5: The library is locked.");
    EXPECT_EQ(error.description(),
              "Music library unavailable: ITLibraryErrorDomain 5: The library is locked.");
}

TEST(ITunesLibraryScanner, ReportsAFailedReload) {
    Harness h;
    h.items = {song(1, "a", "a")};
    h.reloads = false;
    const CaptureError error = scanFailure(h.scanner());
    EXPECT_EQ(error, CaptureError::libraryUnavailable("reloadData returned false"));
}

TEST(ITunesLibraryScanner, PassesCaptureErrorsThroughAndWrapsOthers) {
    ITunesLibraryScanner throwsCapture(
        []() -> std::unique_ptr<LibrarySource> {
            throw CaptureError::stateUnreadable("kept as it is");
        },
        [] { return uint64_t{0}; });
    EXPECT_EQ(scanFailure(std::move(throwsCapture)),
              CaptureError::stateUnreadable("kept as it is"));

    ITunesLibraryScanner throwsOther(
        []() -> std::unique_ptr<LibrarySource> { throw std::runtime_error("disk on fire"); },
        [] { return uint64_t{0}; });
    EXPECT_EQ(scanFailure(std::move(throwsOther)),
              CaptureError::libraryUnavailable("disk on fire"));

    ITunesLibraryScanner opensNothing([] { return std::unique_ptr<LibrarySource>(); },
                                      [] { return uint64_t{0}; });
    EXPECT_EQ(scanFailure(std::move(opensNothing)).kind(), CaptureError::Kind::libraryUnavailable);
}

TEST(ITunesLibraryScanner, OpensTheLibraryAfreshForEveryScan) {
    Harness h;
    h.items = {song(1, "a", "a")};
    ITunesLibraryScanner scanner = h.scanner();
    const LibraryScan first = scanner.scan();
    h.items.push_back(song(2, "b", "b"));
    const LibraryScan second = scanner.scan();
    EXPECT_EQ(first.tracks.size(), 1u);
    EXPECT_EQ(second.tracks.size(), 2u);
}

} // namespace
} // namespace qb
