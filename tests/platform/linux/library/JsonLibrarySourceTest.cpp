#include "platform/linux/library/JsonLibrarySource.hpp"

#include "TestSupport.hpp"
#include "core/common/CaptureError.hpp"
#include "core/library/ITunesLibraryScanner.hpp"

#include <gtest/gtest.h>

#include <string>

namespace qb {
namespace {

std::unique_ptr<JsonLibrarySource> parse(const std::string& text) {
    return JsonLibrarySource::parse(text, "fixture.json");
}

std::string failure(const std::string& text) {
    try {
        parse(text);
    } catch (const CaptureError& error) {
        EXPECT_EQ(error.kind(), CaptureError::Kind::libraryUnavailable);
        EXPECT_EQ(error.detail().rfind("fixture.json: ", 0), 0u) << error.detail();
        return error.detail().substr(std::string("fixture.json: ").size());
    }
    ADD_FAILURE() << "no error for " << text;
    return {};
}

// One valid item with `replacement` spliced in instead of the named key's value.
std::string itemWith(const std::string& key, const std::string& value) {
    std::string fields[][2] = {{"persistentID", "42"},       {"mediaKind", "2"}, {"title", "\"T\""},
                               {"totalTime", "1000"},        {"playCount", "3"}, {"rating", "80"},
                               {"isRatingComputed", "false"}};
    std::string out = "{\"mediaItems\": [{";
    bool first = true;
    for (auto& [name, v] : fields) {
        if (name == key && value.empty()) continue;
        out += (first ? "\"" : ", \"") + name + "\": " + (name == key ? value : v);
        first = false;
    }
    if (!value.empty() && key != "persistentID" && key != "mediaKind" && key != "title" &&
        key != "totalTime" && key != "playCount" && key != "rating" && key != "isRatingComputed")
        out += ", \"" + key + "\": " + value;
    return out + "}]}";
}

TEST(JsonLibrarySource, ReadsTheFixtureFormat) {
    auto source = parse(R"({
      "mediaItems": [
        {"persistentID": 18446744073709551615, "mediaKind": 2, "title": "T",
         "artist": {"name": "A"}, "album": {"title": "Al", "albumArtist": "AA"},
         "totalTime": 215000, "playCount": 3, "lastPlayedDate": 1733700000.5,
         "rating": 80, "isRatingComputed": true, "extra": {"nested": [1, {"x": null}]}},
        {"persistentID": 7, "mediaKind": 4, "title": "", "artist": {}, "album": {},
         "totalTime": 0, "playCount": 0, "rating": -1, "isRatingComputed": false},
        {"persistentID": 8, "mediaKind": 2, "title": "U", "artist": {"name": null},
         "album": {"title": null}, "totalTime": 1, "playCount": 1, "lastPlayedDate": 1700000000,
         "rating": 0, "isRatingComputed": false},
        {"persistentID": 9, "mediaKind": 2, "title": "V", "artist": null, "album": null,
         "totalTime": 1, "playCount": 1, "lastPlayedDate": null, "rating": 0,
         "isRatingComputed": false}
      ],
      "playlists": [{"distinguishedKind": 52, "items": [42, 7]}, {"distinguishedKind": 0, "items": []}],
      "comment": "unknown keys are ignored"
    })");
    ASSERT_TRUE(source->reloadData());
    const auto& items = source->mediaItems();
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[0].persistentID, UINT64_MAX);
    EXPECT_EQ(items[0].mediaKind, 2);
    EXPECT_EQ(items[0].title, "T");
    EXPECT_EQ(items[0].artist->name, "A");
    EXPECT_EQ(items[0].album->title, "Al");
    EXPECT_EQ(items[0].album->albumArtist, "AA");
    EXPECT_EQ(items[0].totalTime, 215000);
    EXPECT_EQ(items[0].playCount, 3);
    EXPECT_EQ(items[0].lastPlayedDate, 1733700000.5);
    EXPECT_EQ(items[0].rating, 80);
    EXPECT_TRUE(items[0].isRatingComputed);
    EXPECT_FALSE(items[0].loved);

    EXPECT_EQ(items[1].mediaKind, 4);
    ASSERT_TRUE(items[1].artist);
    EXPECT_EQ(items[1].artist->name, std::nullopt);
    ASSERT_TRUE(items[1].album);
    EXPECT_EQ(items[1].album->title, std::nullopt);
    EXPECT_EQ(items[1].rating, -1);
    EXPECT_EQ(items[1].lastPlayedDate, std::nullopt);

    ASSERT_TRUE(items[2].artist);
    EXPECT_EQ(items[2].artist->name, std::nullopt);
    EXPECT_EQ(items[2].lastPlayedDate, 1700000000.0);
    EXPECT_FALSE(items[3].artist);
    EXPECT_FALSE(items[3].album);

    ASSERT_EQ(source->playlists().size(), 2u);
    EXPECT_EQ(source->playlists()[0].distinguishedKind, 52);
    EXPECT_EQ(source->playlists()[0].itemPersistentIDs, (std::vector<uint64_t>{42, 7}));
    EXPECT_TRUE(source->playlists()[1].itemPersistentIDs.empty());
}

TEST(JsonLibrarySource, AnEmptyObjectIsAnEmptyLibrary) {
    auto source = parse("{}");
    EXPECT_TRUE(source->reloadData());
    EXPECT_TRUE(source->mediaItems().empty());
    EXPECT_TRUE(source->playlists().empty());
}

TEST(JsonLibrarySource, FailsToOpenWhenTheFixtureSaysSo) {
    try {
        parse(R"({"libraryOpenError": {"domain": "D", "code": 5, "description": "text"},
                  "mediaItems": []})");
        FAIL() << "no error";
    } catch (const LibraryOpenError& error) {
        EXPECT_EQ(error.domain(), "D");
        EXPECT_EQ(error.code(), 5);
        EXPECT_EQ(error.description(), "text");
    }
    EXPECT_EQ(failure(R"({"libraryOpenError": {"domain": "D", "description": "text"}})"),
              "libraryOpenError has no \"code\"");
}

TEST(JsonLibrarySource, ReloadFailsWhenTheFixtureSaysSo) {
    EXPECT_FALSE(parse(R"({"reloadDataFails": true})")->reloadData());
    EXPECT_TRUE(parse(R"({"reloadDataFails": false})")->reloadData());
}

TEST(JsonLibrarySource, ScansThroughTheScanner) {
    test::TempDir dir;
    test::writeFile(dir / "library.json",
                    R"({"mediaItems": [{"persistentID": 42, "mediaKind": 2, "title": "T",
                        "artist": {"name": "A"}, "totalTime": 215000, "playCount": 3,
                        "rating": 80, "isRatingComputed": false}],
                        "playlists": [{"distinguishedKind": 52, "items": [42]}]})");
    test::writeFile(dir / "locked.json",
                    R"({"libraryOpenError": {"domain": "D", "code": 5, "description": "text"}})");
    test::writeFile(dir / "stale.json", R"({"reloadDataFails": true})");
    auto scannerFor = [&](const std::string& name) {
        return ITunesLibraryScanner([path = dir / name] { return JsonLibrarySource::open(path); },
                                    [] { return uint64_t{0}; });
    };
    const LibraryScan scan = scannerFor("library.json").scan();
    ASSERT_EQ(scan.tracks.size(), 1u);
    EXPECT_EQ(scan.tracks[0].persistentID, "000000000000002A");
    EXPECT_TRUE(scan.tracks[0].favourite);

    try {
        scannerFor("locked.json").scan();
        FAIL() << "no error";
    } catch (const CaptureError& error) {
        EXPECT_EQ(error.description(), "Music library unavailable: D 5: text");
    }
    try {
        scannerFor("stale.json").scan();
        FAIL() << "no error";
    } catch (const CaptureError& error) {
        EXPECT_EQ(error.description(), "Music library unavailable: reloadData returned false");
    }
    try {
        scannerFor("absent.json").scan();
        FAIL() << "no error";
    } catch (const CaptureError& error) {
        EXPECT_NE(error.detail().find("absent.json"), std::string::npos);
        EXPECT_NE(error.detail().find("No such file"), std::string::npos);
    }
}

TEST(JsonLibrarySource, ReportsMalformedJsonWithItsPosition) {
    const std::string detail = failure("{\"mediaItems\": [\n{\"persistentID\": 1,,}]}");
    EXPECT_EQ(detail.rfind("malformed JSON: ", 0), 0u) << detail;
    EXPECT_NE(detail.find("line 2"), std::string::npos) << detail;
    EXPECT_NE(failure("{} trailing").find("malformed JSON"), std::string::npos);
    EXPECT_NE(failure("").find("malformed JSON"), std::string::npos);
    EXPECT_NE(failure("{\"title\": \"bad \xFF byte\"}").find("malformed JSON"), std::string::npos);
}

TEST(JsonLibrarySource, NamesTheValueOfTheWrongType) {
    EXPECT_EQ(failure("[]"), "the document is not a JSON object");
    EXPECT_EQ(failure("42"), "the document is not a JSON object");
    EXPECT_EQ(failure(R"({"mediaItems": {}})"), "mediaItems is not an array");
    EXPECT_EQ(failure(R"({"mediaItems": [1]})"), "mediaItems[0] is not an object");
    EXPECT_EQ(failure(R"({"reloadDataFails": "yes"})"), "reloadDataFails is not a boolean");
    EXPECT_EQ(failure(itemWith("persistentID", "-1")),
              "mediaItems[0].persistentID is not an unsigned 64-bit integer");
    EXPECT_EQ(failure(itemWith("persistentID", "4.2")),
              "mediaItems[0].persistentID is not an unsigned 64-bit integer");
    EXPECT_EQ(failure(itemWith("persistentID", "\"2A\"")),
              "mediaItems[0].persistentID is not an unsigned 64-bit integer");
    EXPECT_EQ(failure(itemWith("title", "7")), "mediaItems[0].title is not a string");
    EXPECT_EQ(failure(itemWith("title", "null")), "mediaItems[0].title is not a string");
    EXPECT_EQ(failure(itemWith("playCount", "18446744073709551615")),
              "mediaItems[0].playCount does not fit a 64-bit signed integer");
    EXPECT_EQ(failure(itemWith("totalTime", "1.5")), "mediaItems[0].totalTime is not an integer");
    EXPECT_EQ(failure(itemWith("isRatingComputed", "1")),
              "mediaItems[0].isRatingComputed is not a boolean");
    EXPECT_EQ(failure(itemWith("lastPlayedDate", "\"2024-01-01\"")),
              "mediaItems[0].lastPlayedDate is not a number");
    EXPECT_EQ(failure(itemWith("artist", "\"A\"")), "mediaItems[0].artist is not an object");
    EXPECT_EQ(failure(itemWith("artist", "{\"name\": 5}")),
              "mediaItems[0].artist.name is not a string");
    EXPECT_EQ(failure(itemWith("album", "{\"albumArtist\": [\"x\"]}")),
              "mediaItems[0].album.albumArtist is not a string");
    EXPECT_EQ(failure(itemWith("rating", "")), "mediaItems[0] has no \"rating\"");
    EXPECT_EQ(failure(R"({"mediaItems": [{}, {}]})"), "mediaItems[0] has no \"persistentID\"");
    EXPECT_EQ(failure(R"({"playlists": [{"distinguishedKind": 52, "items": [1, "2"]}]})"),
              "playlists[0].items[1] is not an unsigned 64-bit integer");
    EXPECT_EQ(failure(R"({"playlists": [{"distinguishedKind": 52}]})"),
              "playlists[0] has no \"items\"");
    EXPECT_EQ(failure(R"({"playlists": [{"distinguishedKind": 52, "items": {}}]})"),
              "playlists[0].items is not an array");
    EXPECT_EQ(failure(R"({"libraryOpenError": "locked"})"), "libraryOpenError is not an object");
    EXPECT_EQ(failure(R"({"libraryOpenError": {"domain": "D", "code": "5", "description": "t"}})"),
              "libraryOpenError.code is not an integer");
}

TEST(JsonLibrarySource, CountsItemsInErrorLocations) {
    const std::string good = R"({"persistentID": 1, "mediaKind": 2, "title": "T", "totalTime": 1,
                                 "playCount": 1, "rating": 1, "isRatingComputed": false})";
    EXPECT_EQ(failure("{\"mediaItems\": [" + good + ", " + good + ", {\"title\": 5}]}"),
              "mediaItems[2].title is not a string");
}

TEST(JsonLibrarySource, SurvivesDeepNesting) {
    std::string deep = "{\"ignored\": ";
    for (int i = 0; i < 5000; ++i)
        deep += "[";
    for (int i = 0; i < 5000; ++i)
        deep += "]";
    deep += "}";
    EXPECT_TRUE(parse(deep)->mediaItems().empty());
}

} // namespace
} // namespace qb
