#include "platform/linux/library/RhythmboxLibrarySource.hpp"

#include "PlayerLibraryFiles.hpp"
#include "core/common/CaptureError.hpp"
#include "core/library/ITunesLibraryScanner.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

namespace qb {
namespace {

using test::rhythmboxEntry;
using test::rhythmboxSong;
using test::TempDir;
using test::tracksOf;

TEST(RhythmboxLibrarySource, ReadsSongsAsRhythmboxWritesThem) {
    TempDir dir;
    const std::string entries =
        rhythmboxEntry(
            "song", {{"title", "J&#xF3;ga"},
                     {"genre", "Electronic"},
                     {"artist", "Bj&#xF6;rk"},
                     {"album", "Homogenic"},
                     {"track-number", "1"},
                     {"duration", "305"},
                     {"file-size", "11534336"},
                     {"location", "file:///home/u/Music/Bj%C3%B6rk/Homogenic/01%20J%C3%B3ga.flac"},
                     {"mtime", "1700000000"},
                     {"first-seen", "1700000100"},
                     {"last-seen", "1733700500"},
                     {"rating", "4"},
                     {"play-count", "12"},
                     {"last-played", "1733700000"},
                     {"date", "729025"},
                     {"media-type", "audio/x-flac"},
                     {"keyword", "favourite-ish"},
                     {"replaygain-track-gain", "-6.5"}, // obsolete, in files of old versions
                     {"album-artist", "Bj&#xF6;rk"},
                     {"mb-trackid", "7f8e4a2b-0000-4000-8000-000000000001"}}) +
        // Never played: no counts, no rating, no duration; no artist, so the album-artist.
        rhythmboxEntry("song",
                       {{"title", "Rock &amp; Roll &lt;Live&gt; \"1972\""},
                        {"genre", ""},
                        {"artist", ""},
                        {"album", "Live &#x2014; 1972"},
                        {"location", "file:///home/u/Music/Various/Rock%20&amp;%20Roll.mp3"},
                        {"first-seen", "1733000000"},
                        {"last-seen", "1733700000"},
                        {"date", "0"},
                        {"media-type", "audio/mpeg"},
                        {"album-artist", "Various Artists"}}) +
        rhythmboxEntry("iradio", {{"title", "Radio"},
                                  {"genre", ""},
                                  {"artist", ""},
                                  {"album", ""},
                                  {"location", "http://stream.example/radio"},
                                  {"play-count", "40"},
                                  {"date", "0"},
                                  {"media-type", "application/octet-stream"}}) +
        rhythmboxEntry("podcast-post", {{"title", "Episode"},
                                        {"genre", "Podcast"},
                                        {"artist", "Show"},
                                        {"album", "Show"},
                                        {"location", "file:///home/u/Podcasts/ep1.mp3"},
                                        {"mountpoint", "https://feed.example/ep1.mp3"},
                                        {"play-count", "2"},
                                        {"date", "0"},
                                        {"media-type", "audio/mpeg"},
                                        {"status", "100"}}) +
        rhythmboxEntry("ignore", {{"title", ""},
                                  {"genre", ""},
                                  {"artist", ""},
                                  {"album", ""},
                                  {"location", "file:///home/u/Music/cover.jpg"},
                                  {"date", "0"},
                                  {"media-type", "application/octet-stream"}}) +
        // Hidden (its drive is unmounted), a rating averaged when Rhythmbox merged entries.
        rhythmboxEntry("song",
                       {{"title", "Night&#x1F3B5;"},
                        {"genre", ""},
                        {"artist", "&#x41A;&#x438;&#x43D;&#x43E;"},
                        {"album", "Group&#13;Blood"},
                        {"duration", "1"},
                        {"location", "file:///media/u/DRIVE/%D0%9A%D0%B8%D0%BD%D0%BE/track.ogg"},
                        {"mountpoint", "file:///media/u/DRIVE"},
                        {"rating", "3.3333333333333335"},
                        {"play-count", "3"},
                        {"last-played", "1600000000"},
                        {"date", "0"},
                        {"media-type", "audio/x-vorbis"},
                        {"hidden", "1"}}) +
        // A disabled plugin's entries are written back after all others, properties as text.
        rhythmboxEntry("grilo", {{"title", "Elsewhere"}, {"location", "grilo://x"}});
    test::writeFile(dir / "rhythmdb.xml", test::rhythmdbFile(entries));

    RhythmboxLibrarySource source(dir / "rhythmdb.xml");
    ASSERT_TRUE(source.reloadData());
    EXPECT_TRUE(source.playlists().empty());
    const std::vector<LibraryTrack> expected = {
        {"9770FF1BB441F278", "Bj\xC3\xB6rk", "Homogenic", "J\xC3\xB3ga", 305000, "", 12, 1733700000,
         "Bj\xC3\xB6rk", 80, false, false},
        {"62DF61D5CD4BFA3A", "Various Artists", "Live \xE2\x80\x94 1972",
         "Rock & Roll <Live> \"1972\"", std::nullopt, "", 0, std::nullopt, "Various Artists", 0,
         false, false},
        {"6128F0CD704C95C8", "\xD0\x9A\xD0\xB8\xD0\xBD\xD0\xBE", "Group\rBlood",
         "Night\xF0\x9F\x8E\xB5", 1000, "", 3, 1600000000, "", 67, false, false},
    };
    EXPECT_EQ(tracksOf(source), expected);
}

TEST(RhythmboxLibrarySource, RefusesWhatIsNotARhythmboxLibrary) {
    TempDir dir;
    auto failure = [&](const std::string& text) {
        test::writeFile(dir / "rhythmdb.xml", text);
        RhythmboxLibrarySource source(dir / "rhythmdb.xml");
        try {
            source.reloadData();
        } catch (const CaptureError& error) {
            EXPECT_EQ(error.kind(), CaptureError::Kind::libraryUnavailable);
            return error.detail();
        }
        ADD_FAILURE() << "read: " << text;
        return std::string();
    };
    const std::string prefix = (dir / "rhythmdb.xml").string() + ": ";
    EXPECT_EQ(failure("<?xml version=\"1.0\"?>\n<plist version=\"1.0\"><dict/></plist>\n"),
              prefix + "not a Rhythmbox library: the root element is <plist> at line 2, column 1");
    EXPECT_EQ(failure("<!DOCTYPE rhythmdb [<!ENTITY a \"b\">]><rhythmdb/>"),
              prefix + "entity declarations are not allowed at line 1, column 32");
    // An empty library is a library (a fresh install); a file without entries is read as one.
    test::writeFile(dir / "fresh.xml", test::rhythmdbFile(""));
    RhythmboxLibrarySource fresh(dir / "fresh.xml");
    EXPECT_TRUE(fresh.reloadData());
    EXPECT_TRUE(fresh.mediaItems().empty());
}

// Rhythmbox saves by renaming a new file over the old one. Each read must see one version
// whole, however often the name is replaced during it.
TEST(RhythmboxLibrarySource, ReadsOneVersionOfAFileReplacedWhileItIsRead) {
    TempDir dir;
    auto version = [](int plays) {
        std::string entries;
        for (int i = 0; i < 4000; ++i)
            entries += rhythmboxSong("Song " + std::to_string(i), "Artist",
                                     "file:///m/" + std::to_string(i) + ".mp3",
                                     {{"play-count", std::to_string(plays)}});
        return test::rhythmdbFile(entries);
    };
    test::writeFile(dir / "one.xml", version(1));
    test::writeFile(dir / "two.xml", version(2));
    test::writeFile(dir / "rhythmdb.xml", version(1));

    std::atomic<bool> reading = true;
    std::thread saver([&] {
        for (int i = 0; reading; ++i) {
            std::filesystem::copy_file(dir / (i % 2 ? "one.xml" : "two.xml"), dir / "tmp",
                                       std::filesystem::copy_options::overwrite_existing);
            std::filesystem::rename(dir / "tmp", dir / "rhythmdb.xml");
        }
    });
    std::set<std::set<int64_t>> versionsSeen;
    for (int pass = 0; pass < 20; ++pass) {
        RhythmboxLibrarySource source(dir / "rhythmdb.xml");
        ASSERT_TRUE(source.reloadData());
        std::set<int64_t> counts;
        const auto items = source.mediaItems();
        EXPECT_EQ(items.size(), 4000u);
        for (const LibraryMediaItem& item : items)
            counts.insert(item.playCount);
        versionsSeen.insert(counts);
    }
    reading = false;
    saver.join();
    for (const auto& counts : versionsSeen)
        EXPECT_EQ(counts.size(), 1u) << "a read mixed two versions";
}

} // namespace
} // namespace qb
