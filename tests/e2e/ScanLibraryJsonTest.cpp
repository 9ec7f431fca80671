#include "TestSupport.hpp"
#include "core/library/LibraryScan.hpp"

#include <gtest/gtest.h>

using namespace qb;
using namespace qb::test;

namespace {

// In an empty home, so no player library of this machine's user is found.
ProcessResult dump(const std::optional<std::string>& library) {
    static const TempDir home;
    return runProcess(executablePath(), {"--scan-library-json"},
                      {{"QUILLABRENTA_LIBRARY", library},
                       {"HOME", home.path().string()},
                       {"XDG_DATA_HOME", std::nullopt},
                       {"XDG_CONFIG_HOME", std::nullopt}});
}

const char* fixture = R"({
  "mediaItems": [
    {"persistentID": 42, "mediaKind": 2, "title": "Song", "artist": {"name": "Artist"},
     "album": {"title": "Album", "albumArtist": "AA"}, "totalTime": 215000, "playCount": 3,
     "lastPlayedDate": 1733700000.5, "rating": 80, "isRatingComputed": false},
    {"persistentID": 7, "mediaKind": 2, "title": "Other", "artist": {},
     "album": {"albumArtist": "Fallback"}, "totalTime": 0, "playCount": 0, "rating": 120,
     "isRatingComputed": true},
    {"persistentID": 9, "mediaKind": 8, "title": "Podcast", "artist": {"name": "P"},
     "totalTime": 1, "playCount": 1, "rating": 0, "isRatingComputed": false}
  ],
  "playlists": [{"distinguishedKind": 52, "items": [7]}]
})";

} // namespace

TEST(ScanLibraryJson, PrintsOneCompactScanWithoutLineEnd) {
    TempDir dir;
    writeFile(dir / "library.json", fixture);
    auto result = dump((dir / "library.json").string());
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    ASSERT_FALSE(result.out.empty());
    EXPECT_NE(result.out.back(), '\n');
    EXPECT_EQ(result.out.find('\n'), std::string::npos);

    auto scan = LibraryScan::fromJson(Json::parse(result.out));
    ASSERT_EQ(scan.tracks.size(), 2u);
    EXPECT_EQ(scan.metrics.trackCount, 2);
    const auto& first = scan.tracks[0];
    EXPECT_EQ(first.persistentID, "000000000000002A");
    EXPECT_EQ(first.lastPlayedAt, 1733700000);
    EXPECT_EQ(first.durationMS, 215000);
    EXPECT_FALSE(first.favourite);
    const auto& second = scan.tracks[1];
    EXPECT_EQ(second.artist, "Fallback");
    EXPECT_EQ(second.rating, 100);
    EXPECT_EQ(second.durationMS, std::nullopt);
    EXPECT_TRUE(second.favourite);
    // Absent optionals leave their keys out.
    EXPECT_EQ(Json::parse(result.out)["tracks"][1].count("durationMS"), 0u);
}

TEST(ScanLibraryJson, FailuresPrintTheMessageOnStandardErrorWithStatusOne) {
    TempDir dir;
    writeFile(
        dir / "open-error.json",
        R"({"libraryOpenError": {"domain": "D", "code": 5, "description": "text"}, "mediaItems": []})");
    writeFile(dir / "reload.json", R"({"reloadDataFails": true, "mediaItems": []})");
    writeFile(dir / "broken.json", R"({"mediaItems": [)");
    writeFile(dir / "broken.xml", "<?xml version=\"1.0\"?><plist><dict><key>Tracks</key><dict>");

    auto openError = dump((dir / "open-error.json").string());
    EXPECT_EQ(openError.status, 1);
    EXPECT_EQ(openError.out, "");
    EXPECT_EQ(openError.err, "Music library unavailable: D 5: text");

    auto reload = dump((dir / "reload.json").string());
    EXPECT_EQ(reload.status, 1);
    EXPECT_EQ(reload.err, "Music library unavailable: reloadData returned false");

    for (const char* name : {"broken.json", "broken.xml", "missing.xml"}) {
        auto broken = dump((dir / name).string());
        EXPECT_EQ(broken.status, 1) << name;
        EXPECT_EQ(broken.out, "") << name;
        EXPECT_EQ(broken.err.rfind("Music library unavailable: ", 0), 0u) << broken.err;
        EXPECT_NE(broken.err.back(), '\n');
    }

    auto unset = dump(std::nullopt);
    EXPECT_EQ(unset.status, 1);
    EXPECT_NE(unset.err.find("QUILLABRENTA_LIBRARY"), std::string::npos) << unset.err;
}

TEST(ScanLibraryJson, ReadsTheBundledSampleAndARealExport) {
    auto sample = dump((sourceDir() / "samples" / "Library.xml").string());
    ASSERT_EQ(sample.status, 0) << sample.err;
    auto sampleScan = LibraryScan::fromJson(Json::parse(sample.out));
    EXPECT_GE(sampleScan.tracks.size(), 8u);

    auto real = sharedDir() / "data" / "library-itunes-12.3.xml";
    if (!std::filesystem::exists(real)) {
        if (inCI()) GTEST_FAIL() << "missing " << real;
        GTEST_SKIP() << "missing " << real;
    }
    auto export_ = dump(real.string());
    ASSERT_EQ(export_.status, 0) << export_.err;
    auto scan = LibraryScan::fromJson(Json::parse(export_.out));
    EXPECT_GT(scan.tracks.size(), 100u);
    for (const auto& t : scan.tracks)
        EXPECT_EQ(t.persistentID.size(), 16u);
}

TEST(ScanLibraryJson, LargeScansArriveWholeAndWriteFailuresAreReported) {
    // Enough text to pass through the output in several pieces.
    TempDir dir;
    Json items = Json::array();
    const std::string longTitle(300, 'x');
    for (int i = 1; i <= 6000; ++i)
        items.push_back({{"persistentID", i},
                         {"mediaKind", 2},
                         {"title", longTitle + std::to_string(i)},
                         {"artist", {{"name", "A \"quoted\" \xC3\xA9"}}},
                         {"totalTime", 1000},
                         {"playCount", i},
                         {"rating", 0},
                         {"isRatingComputed", false}});
    writeFile(dir / "large.json", Json{{"mediaItems", items}, {"playlists", Json::array()}}.dump());

    auto whole = dump((dir / "large.json").string());
    ASSERT_EQ(whole.status, 0) << whole.err;
    EXPECT_GT(whole.out.size(), 2u << 20);
    auto scan = LibraryScan::fromJson(Json::parse(whole.out));
    ASSERT_EQ(scan.tracks.size(), 6000u);
    EXPECT_EQ(scan.tracks[5999].title, longTitle + "6000");
    EXPECT_EQ(scan.tracks[5999].artist, "A \"quoted\" \xC3\xA9");
    EXPECT_EQ(scan.metrics.trackCount, 6000);

    // A full disk must not pass for a printed scan.
    auto full = runProcess("/bin/sh",
                           {"-c", "exec \"$0\" --scan-library-json >/dev/full", executablePath()},
                           {{"QUILLABRENTA_LIBRARY", (dir / "large.json").string()}});
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(full.err.rfind("cannot write the library scan: ", 0), 0u) << full.err;
}
