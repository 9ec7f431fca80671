#include "platform/linux/library/StrawberryLibrarySource.hpp"

#include "PlayerLibraryFiles.hpp"
#include "core/common/CaptureError.hpp"
#include "core/library/ITunesLibraryScanner.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace qb {
namespace {

using test::StrawberryDatabase;
using test::StrawberrySong;
using test::TempDir;
using test::tracksOf;

std::string failure(const std::filesystem::path& file) {
    StrawberryLibrarySource source(file);
    try {
        source.reloadData();
    } catch (const CaptureError& error) {
        EXPECT_EQ(error.kind(), CaptureError::Kind::libraryUnavailable);
        return error.detail();
    }
    ADD_FAILURE() << "read " << file;
    return {};
}

const StrawberrySong joga{.url = "file:///home/u/Music/Bj%C3%B6rk/Homogenic/01%20J%C3%B3ga.flac",
                          .title = "J\xC3\xB3ga",
                          .artist = "Bj\xC3\xB6rk",
                          .album = "Homogenic",
                          .albumArtist = "Bj\xC3\xB6rk",
                          .length = 305'493'000'000,
                          .playCount = 12,
                          .lastPlayed = 1733700000,
                          .rating = "0.800000011920929"};

TEST(StrawberryLibrarySource, ReadsTheLocalCollectionAsStrawberryWritesIt) {
    TempDir dir;
    {
        StrawberryDatabase db(dir / "strawberry.db");
        db.add(joga);
        // Never played, no length, unrated; no artist, so the album-artist.
        db.add({.url = "file:///home/u/Music/New/song.opus",
                .title = "New",
                .albumArtist = "Various Artists"});
        // Two tracks of one CUE sheet share the audio file.
        db.add({.url = "file:///home/u/Music/Live/concert.flac",
                .title = "Intro",
                .artist = "Band",
                .length = 183'000'000'000,
                .playCount = 2,
                .lastPlayed = 1733600000,
                .rating = "1",
                .cuePath = "/home/u/Music/Live/concert.cue"});
        db.add({.url = "file:///home/u/Music/Live/concert.flac",
                .beginning = 183'000'000'000,
                .title = "Second",
                .artist = "Band",
                .length = 240'000'000'000,
                .rating = "0", // cleared by the user
                .cuePath = "/home/u/Music/Live/concert.cue"});
        // The file is gone; counts read from its tags, so never played here.
        db.add({.url = "file:///media/u/DRIVE/gone.mp3",
                .title = "Gone",
                .artist = "\xD0\x9A\xD0\xB8\xD0\xBD\xD0\xBE",
                .length = 999'999,
                .playCount = 7,
                .rating = "0.5",
                .unavailable = true});
        // Streaming services' and devices' copies are not the collection.
        for (const char* table : {"subsonic_songs", "tidal_songs", "device_1_songs"})
            db.add({.url = std::string(table) + ":1",
                    .title = "Stream",
                    .artist = "S",
                    .playCount = 9},
                   table);
    }
    StrawberryLibrarySource source(dir / "strawberry.db");
    ASSERT_TRUE(source.reloadData());
    EXPECT_TRUE(source.playlists().empty());
    const std::vector<LibraryTrack> expected = {
        {"8DFF9CCA3C31A034", "Bj\xC3\xB6rk", "Homogenic", "J\xC3\xB3ga", 305493, "", 12, 1733700000,
         "Bj\xC3\xB6rk", 80, false, false},
        {"22645CF14F3E077D", "Various Artists", "", "New", std::nullopt, "", 0, std::nullopt,
         "Various Artists", 0, false, false},
        {"3543C89027EFEA6F", "Band", "", "Intro", 183000, "", 2, 1733600000, "", 100, false, false},
        {"71E76D4C6A87FF87", "Band", "", "Second", 240000, "", 0, std::nullopt, "", 0, false,
         false},
        {"70151503BAECB409", "\xD0\x9A\xD0\xB8\xD0\xBD\xD0\xBE", "", "Gone", std::nullopt, "", 7,
         std::nullopt, "", 50, false, false},
    };
    EXPECT_EQ(tracksOf(source), expected);
}

TEST(StrawberryLibrarySource, OlderSchemas) {
    TempDir dir;
    // Before schema 13 there were no ratings: every song is unrated.
    {
        StrawberryDatabase db(dir / "v12.db", false);
        db.execute("CREATE TABLE schema_version (version INTEGER NOT NULL);"
                   "INSERT INTO schema_version VALUES (12);"
                   "CREATE TABLE songs (title TEXT, album TEXT, artist TEXT, albumartist TEXT,"
                   " beginning INTEGER NOT NULL DEFAULT 0, length INTEGER NOT NULL DEFAULT 0,"
                   " url TEXT NOT NULL, playcount INTEGER NOT NULL DEFAULT 0,"
                   " lastplayed INTEGER NOT NULL DEFAULT -1);"
                   "INSERT INTO songs (title, artist, url, playcount, length)"
                   " VALUES ('T', 'A', 'file:///m/a.mp3', 4, 2000000);");
    }
    StrawberryLibrarySource old(dir / "v12.db");
    ASSERT_TRUE(old.reloadData());
    const std::vector<LibraryTrack> unrated = {
        {"7FC4EA9B329C6169", "A", "", "T", 2, "", 4, std::nullopt, "", 0, false, false}};
    EXPECT_EQ(tracksOf(old), unrated);

    {
        StrawberryDatabase db(dir / "v9.db", false);
        db.execute("CREATE TABLE schema_version (version INTEGER NOT NULL);"
                   "INSERT INTO schema_version VALUES (9);"
                   "CREATE TABLE songs (title TEXT, album TEXT, artist TEXT, albumartist TEXT,"
                   " beginning INTEGER, length INTEGER, url TEXT NOT NULL);");
        StrawberryDatabase other(dir / "other.db", false);
        other.execute("CREATE TABLE tracks (name TEXT);");
    }
    EXPECT_EQ(failure(dir / "v9.db"),
              (dir / "v9.db").string() +
                  ": the songs table of Strawberry schema version 9 has no column playcount, "
                  "lastplayed");
    EXPECT_EQ(failure(dir / "other.db"),
              (dir / "other.db").string() + ": not a Strawberry library: it has no songs table");
}

// Strawberry writes while the worker reads: the read waits for the writer, then sees what
// it committed.
TEST(StrawberryLibrarySource, WaitsForAWriterHoldingTheLock) {
    TempDir dir;
    StrawberryDatabase writer(dir / "strawberry.db");
    writer.add(joga);
    writer.execute("BEGIN EXCLUSIVE; UPDATE songs SET playcount = playcount + 1;");
    std::thread commit([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        writer.execute("COMMIT");
    });
    StrawberryLibrarySource source(dir / "strawberry.db");
    EXPECT_TRUE(source.reloadData());
    commit.join();
    const auto songs = source.mediaItems();
    ASSERT_EQ(songs.size(), 1u);
    EXPECT_EQ(songs[0].playCount, 13);
    // The read left no lock behind.
    EXPECT_EQ(writer.execute("BEGIN EXCLUSIVE; COMMIT;"), SQLITE_OK);
}

// Where a user switched the database to WAL, commits sit in the "-wal" file until a
// checkpoint; reading through SQLite sees them, a copy of the main file would not.
TEST(StrawberryLibrarySource, SeesCommitsStillInTheWriteAheadLog) {
    TempDir dir;
    StrawberryDatabase writer(dir / "strawberry.db");
    writer.execute("PRAGMA journal_mode = WAL; PRAGMA wal_autocheckpoint = 0;");
    writer.add(joga);
    writer.execute("UPDATE songs SET playcount = 20");
    ASSERT_GT(std::filesystem::file_size(dir / "strawberry.db-wal"), 0u);
    StrawberryLibrarySource source(dir / "strawberry.db");
    ASSERT_TRUE(source.reloadData());
    const auto songs = source.mediaItems();
    ASSERT_EQ(songs.size(), 1u);
    EXPECT_EQ(songs[0].playCount, 20);
}

} // namespace
} // namespace qb
