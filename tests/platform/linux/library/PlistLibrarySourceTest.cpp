#include "platform/linux/library/PlistLibrarySource.hpp"

#include "TestSupport.hpp"
#include "core/common/CaptureError.hpp"
#include "core/library/ITunesLibraryScanner.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>

namespace qb {
namespace {

using test::TempDir;

std::string plist(const std::string& tracks, const std::string& playlists = "") {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple Computer//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n<dict>\n"
           "\t<key>Major Version</key><integer>1</integer>\n"
           "\t<key>Tracks</key>\n\t<dict>\n" +
           tracks + "\t</dict>\n\t<key>Playlists</key>\n\t<array>\n" + playlists +
           "\t</array>\n</dict>\n</plist>\n";
}

std::string track(int id, const std::string& body) {
    const std::string number = std::to_string(id);
    return "\t\t<key>" + number + "</key>\n\t\t<dict>\n\t\t\t<key>Track ID</key><integer>" +
           number + "</integer>\n" + body + "\t\t</dict>\n";
}

std::string song(int id, const std::string& name, const std::string& extra = "") {
    char pid[17];
    std::snprintf(pid, sizeof pid, "%016X", id);
    return track(id, "<key>Name</key><string>" + name +
                         "</string><key>Artist</key><string>Artist</string>"
                         "<key>Persistent ID</key><string>" +
                         pid + "</string>" + extra);
}

std::string playlist(int distinguishedKind, const std::vector<int>& trackIDs,
                     bool itemsFirst = false) {
    std::string items = "<key>Playlist Items</key><array>";
    for (int id : trackIDs)
        items += "<dict><key>Track ID</key><integer>" + std::to_string(id) + "</integer></dict>";
    items += "</array>";
    const std::string kind =
        "<key>Distinguished Kind</key><integer>" + std::to_string(distinguishedKind) + "</integer>";
    return "<dict><key>Name</key><string>P</string>" + (itemsFirst ? items + kind : kind + items) +
           "</dict>";
}

struct Loaded {
    TempDir dir;
    PlistLibrarySource source{dir / "Library.xml"};
};

std::unique_ptr<Loaded> load(const std::string& xml) {
    auto loaded = std::make_unique<Loaded>();
    test::writeFile(loaded->dir / "Library.xml", xml);
    EXPECT_TRUE(loaded->source.reloadData());
    return loaded;
}

std::string failure(const std::string& xml) {
    TempDir dir;
    test::writeFile(dir / "Library.xml", xml);
    PlistLibrarySource source(dir / "Library.xml");
    try {
        source.reloadData();
    } catch (const CaptureError& error) {
        EXPECT_EQ(error.kind(), CaptureError::Kind::libraryUnavailable);
        EXPECT_NE(error.detail().find((dir / "Library.xml").string()), std::string::npos);
        EXPECT_TRUE(source.mediaItems().empty());
        return error.detail();
    }
    ADD_FAILURE() << "no error for: " << xml.substr(0, 200);
    return {};
}

const LibraryMediaItem* byTitle(const std::vector<LibraryMediaItem>& items, const std::string& t) {
    auto it = std::find_if(items.begin(), items.end(),
                           [&](const LibraryMediaItem& i) { return i.title == t; });
    return it == items.end() ? nullptr : &*it;
}

std::filesystem::path realExport() {
    return test::sharedDir() / "data" / "library-itunes-12.3.xml";
}

// Real-world exports stay out of the repository; a fresh clone has none beside it.
#define SKIP_WITHOUT_REAL_EXPORT()                                                                 \
    if (!std::filesystem::exists(realExport())) {                                                  \
        if (test::inCI()) GTEST_FAIL() << "missing " << realExport();                              \
        GTEST_SKIP() << "missing " << realExport();                                                \
    }

TEST(PlistLibrarySource, ReadsARealExport) {
    SKIP_WITHOUT_REAL_EXPORT();
    PlistLibrarySource source(realExport());
    ASSERT_TRUE(source.reloadData());
    const auto& items = source.mediaItems();
    EXPECT_EQ(items.size(), 404u);
    std::map<int64_t, int> kinds;
    for (const auto& item : items)
        ++kinds[item.mediaKind];
    EXPECT_EQ(kinds[mediakind::song], 271);
    EXPECT_EQ(kinds[mediakind::podcast], 83);
    EXPECT_EQ(kinds[mediakind::audiobook], 8);
    EXPECT_EQ(kinds[mediakind::homeVideo] + kinds[mediakind::movie] + kinds[mediakind::tvShow], 42);
    EXPECT_EQ(kinds[mediakind::movie], 1);
    EXPECT_EQ(kinds[mediakind::tvShow], 4);
    EXPECT_TRUE(source.playlists().empty());

    const LibraryMediaItem* dust = byTitle(items, "Another One Bites The Dust");
    ASSERT_NE(dust, nullptr);
    EXPECT_EQ(dust->persistentID, 0x21130E105F3B8845u);
    ASSERT_TRUE(dust->artist && dust->artist->name);
    EXPECT_EQ(*dust->artist->name, "Queen");
    ASSERT_TRUE(dust->album);
    EXPECT_EQ(dust->album->title, "Greatest Hits");
    EXPECT_EQ(dust->album->albumArtist, std::nullopt);
    EXPECT_EQ(dust->totalTime, 217103);
    EXPECT_EQ(dust->playCount, 55);
    EXPECT_EQ(dust->lastPlayedDate, 1436037790.0); // Play Date UTC, not the 1904-based Play Date
    EXPECT_EQ(dust->rating, 100);
    EXPECT_FALSE(dust->isRatingComputed); // only the album rating is computed
    EXPECT_FALSE(dust->loved);

    const LibraryMediaItem* rock = byTitle(items, "Rock & Roll");
    ASSERT_NE(rock, nullptr);
    EXPECT_EQ(rock->persistentID, 0x21130E105F3B8871u);
    EXPECT_EQ(rock->playCount, 109);

    source.unloadData();
    EXPECT_TRUE(source.mediaItems().empty());
}

TEST(PlistLibrarySource, ScansTheRealExportIntoSongsOnly) {
    SKIP_WITHOUT_REAL_EXPORT();
    ITunesLibraryScanner scanner([] { return std::make_unique<PlistLibrarySource>(realExport()); },
                                 [] { return uint64_t{0}; });
    const LibraryScan scan = scanner.scan();
    // 271 songs, of which 17 have neither artist nor album artist.
    EXPECT_EQ(scan.tracks.size(), 254u);
    for (const LibraryTrack& t : scan.tracks) {
        EXPECT_EQ(t.persistentID.size(), 16u);
        EXPECT_FALSE(t.favourite);
        EXPECT_EQ(t.title.find("Wisdom of Crowds"), std::string::npos); // audiobooks
        EXPECT_NE(t.title, "PY4INF-01-Intro.mp3");                      // podcast
    }
}

TEST(PlistLibrarySource, ReadsTheSampleExport) {
    ITunesLibraryScanner scanner(
        [] {
            return std::make_unique<PlistLibrarySource>(test::sourceDir() / "samples" /
                                                        "Library.xml");
        },
        [] { return uint64_t{0}; });
    const LibraryScan scan = scanner.scan();
    std::map<std::string, LibraryTrack> byName;
    for (const auto& t : scan.tracks)
        byName[t.title] = t;
    EXPECT_EQ(scan.tracks.size(), 11u);
    EXPECT_TRUE(byName.at("Clair de lune").favourite);     // Loved and Favorited
    EXPECT_TRUE(byName.at("夜に駆ける").favourite);        // Favorited only
    EXPECT_TRUE(byName.at("Bohemian Rhapsody").favourite); // Loved only
    EXPECT_FALSE(byName.at("Déjà vu").favourite);          // <false/>
    EXPECT_TRUE(byName.at("Déjà vu").ratingComputed);
    EXPECT_EQ(byName.at("Déjà vu").album, "B\u2019Day");
    EXPECT_EQ(byName.at("Ederlezi").artist, "Goran Bregović");
    EXPECT_EQ(byName.at("Simon & Garfunkel Medley").durationMS, std::nullopt);
    EXPECT_EQ(byName.at("Mas Que Nada").artist, "Sérgio Mendes & Brasil '66");
    EXPECT_EQ(byName.at("Ya Rayah").lastPlayedAt, 1731323471);
    EXPECT_EQ(byName.count("Interlude"), 0u);             // blank artist
    EXPECT_EQ(byName.count("The Daily: A New Year"), 0u); // podcast
    EXPECT_EQ(byName.count("Live at Wembley"), 0u);       // video
    EXPECT_EQ(byName.count("Chapter 1"), 0u);             // audiobook
}

TEST(PlistLibrarySource, MapsTrackFields) {
    auto loaded = load(plist(track(
        7, "<key>Name</key><string>R&#38;B &#x1F3B5; &amp; more</string>"
           "<key>Artist</key><string>Ar</string><key>Album</key><string>Al</string>"
           "<key>Album Artist</key><string>AA</string><key>Total Time</key><integer>1234</integer>"
           "<key>Play Count</key><integer>-3</integer>"
           "<key>Play Date</key><integer>3518868190</integer>"
           "<key>Rating</key><integer>140</integer><key>Rating Computed</key><true/>"
           "<key>Persistent ID</key><string>00000000000000ff</string>"
           "<key>Sort Name</key><dict><key>Name</key><string>ignored</string></dict>")));
    const auto& items = loaded->source.mediaItems();
    ASSERT_EQ(items.size(), 1u);
    const LibraryMediaItem& item = items[0];
    EXPECT_EQ(item.title, "R&B \xF0\x9F\x8E\xB5 & more");
    EXPECT_EQ(item.artist->name, "Ar");
    EXPECT_EQ(item.album->title, "Al");
    EXPECT_EQ(item.album->albumArtist, "AA");
    EXPECT_EQ(item.totalTime, 1234);
    EXPECT_EQ(item.playCount, -3);
    EXPECT_EQ(item.lastPlayedDate, std::nullopt); // "Play Date" alone is not used
    EXPECT_EQ(item.rating, 140);                  // clamping is the scanner's job
    EXPECT_TRUE(item.isRatingComputed);
    EXPECT_EQ(item.persistentID, 255u);
    EXPECT_EQ(item.mediaKind, mediakind::song);
}

TEST(PlistLibrarySource, TakesTheFavouriteFromLovedOrFavorited) {
    auto loaded = load(plist(
        song(1, "loved", "<key>Loved</key><true/>") +
        song(2, "favorited", "<key>Favorited</key><true/>") +
        song(3, "both false", "<key>Loved</key><false/><key>Favorited</key><false/>") +
        song(4, "favorited not loved", "<key>Favorited</key><true/><key>Loved</key><false/>") +
        song(5, "plain")));
    const auto& items = loaded->source.mediaItems();
    ASSERT_EQ(items.size(), 5u);
    EXPECT_TRUE(items[0].loved);
    EXPECT_TRUE(items[1].loved);
    EXPECT_FALSE(items[2].loved);
    EXPECT_TRUE(items[3].loved);
    EXPECT_FALSE(items[4].loved);
}

TEST(PlistLibrarySource, KeepsOnlySongsAsSongs) {
    const std::string tracks =
        song(1, "song", "<key>Podcast</key><false/><key>Has Video</key><false/>") +
        song(2, "podcast", "<key>Podcast</key><true/>") +
        song(3, "home video", "<key>Has Video</key><true/>") +
        song(4, "movie", "<key>Movie</key><true/>") + song(5, "tv", "<key>TV Show</key><true/>") +
        song(6, "music video", "<key>Music Video</key><true/>") +
        song(7, "itunes u", "<key>iTunesU</key><true/>") +
        song(8, "audiobook file", "<key>Location</key><string>file:///a/B.M4B</string>") +
        song(9, "audiobook by playlist", "<key>Location</key><string>file:///a/b.m4a</string>") +
        song(10, "voice memo") + song(11, "in music playlist") +
        song(12, "book", "<key>Location</key><string>file:///x.epub</string>");
    // The audiobook playlist lists its items before its kind; kinds must still apply.
    auto loaded =
        load(plist(tracks, playlist(5, {9}, true) + playlist(17, {10, 999}) + playlist(4, {1, 11}) +
                               "<dict><key>Name</key><string>Empty</string>"
                               "<key>Distinguished Kind</key><integer>5</integer></dict>"));
    std::map<std::string, int64_t> kinds;
    for (const auto& item : loaded->source.mediaItems())
        kinds[item.title] = item.mediaKind;
    EXPECT_EQ(kinds.at("song"), mediakind::song);
    EXPECT_EQ(kinds.at("podcast"), mediakind::podcast);
    EXPECT_EQ(kinds.at("home video"), mediakind::homeVideo);
    EXPECT_EQ(kinds.at("movie"), mediakind::movie);
    EXPECT_EQ(kinds.at("tv"), mediakind::tvShow);
    EXPECT_EQ(kinds.at("music video"), mediakind::musicVideo);
    EXPECT_EQ(kinds.at("itunes u"), mediakind::iTunesU);
    EXPECT_EQ(kinds.at("audiobook file"), mediakind::audiobook);
    EXPECT_EQ(kinds.at("audiobook by playlist"), mediakind::audiobook);
    EXPECT_EQ(kinds.at("voice memo"), mediakind::voiceMemo);
    EXPECT_EQ(kinds.at("in music playlist"), mediakind::song);
    EXPECT_EQ(kinds.at("book"), mediakind::book);
}

TEST(PlistLibrarySource, AppliesPlaylistsThatComeBeforeTheTracks) {
    const std::string xml = "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
                            "<key>Playlists</key><array>" +
                            playlist(17, {1}) + "</array><key>Tracks</key><dict>" +
                            song(1, "memo") + "</dict></dict></plist>";
    auto loaded = load(xml);
    const auto items = loaded->source.mediaItems();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].mediaKind, mediakind::voiceMemo);
}

TEST(PlistLibrarySource, ReadsTracksWithoutOptionalKeys) {
    auto loaded = load(plist(track(1, "<key>Name</key><string/>") + track(2, "")));
    const auto& items = loaded->source.mediaItems();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].persistentID, 0u); // no Persistent ID: the scanner leaves it out
    EXPECT_EQ(items[0].title, "");
    EXPECT_FALSE(items[0].artist);
    EXPECT_FALSE(items[0].album);
    EXPECT_EQ(items[0].lastPlayedDate, std::nullopt);
}

TEST(PlistLibrarySource, ReadsAnEmptyLibrary) {
    auto loaded = load("<plist version=\"1.0\"><dict><key>Tracks</key><dict/></dict></plist>");
    EXPECT_TRUE(loaded->source.mediaItems().empty());
}

TEST(PlistLibrarySource, ConvertsPlayDatesToSecondsSince1970) {
    auto loaded =
        load(plist(song(1, "a", "<key>Play Date UTC</key><date>1970-01-01T00:00:00Z</date>") +
                   song(2, "b", "<key>Play Date UTC</key><date>2024-02-29T23:59:59Z</date>") +
                   song(3, "c", "<key>Play Date UTC</key><date>1969-12-31T23:59:59Z</date>")));
    const auto& items = loaded->source.mediaItems();
    EXPECT_EQ(items[0].lastPlayedDate, 0.0);
    EXPECT_EQ(items[1].lastPlayedDate, 1709251199.0);
    EXPECT_EQ(items[2].lastPlayedDate, -1.0);
}

TEST(PlistLibrarySource, ReportsMalformedXmlWithPosition) {
    const std::string mismatched =
        failure("<plist version=\"1.0\"><dict>\n<key>Tracks</key><dict></array>");
    EXPECT_NE(mismatched.find("mismatched tag"), std::string::npos) << mismatched;
    EXPECT_NE(mismatched.find("line 2"), std::string::npos) << mismatched;

    EXPECT_NE(failure("").find("the file is empty"), std::string::npos);
    EXPECT_NE(failure(plist(song(1, "bad \xFF byte"))).find("line"), std::string::npos);
    EXPECT_NE(failure(plist(song(1, "&unknown;"))).find("undefined entity &unknown;"),
              std::string::npos);
    EXPECT_NE(failure("<plist version=\"1.0\"><dict><key>&unknown;</key></dict></plist>")
                  .find("undefined entity"),
              std::string::npos);

    SKIP_WITHOUT_REAL_EXPORT();
    const std::string whole = test::readFile(realExport());
    const std::string truncated = failure(whole.substr(0, whole.size() / 2));
    EXPECT_NE(truncated.find("line"), std::string::npos) << truncated;
}

TEST(PlistLibrarySource, RefusesXmlThatIsNotALibraryExport) {
    EXPECT_NE(failure("<html><body/></html>").find("not a property list"), std::string::npos);
    EXPECT_NE(
        failure("<plist version=\"1.0\"><dict><key>Name</key><string>x</string></dict></plist>")
            .find("no \"Tracks\""),
        std::string::npos);
    EXPECT_NE(failure("<plist version=\"1.0\"><array/></plist>").find("not a <dict>"),
              std::string::npos);
    EXPECT_NE(failure("<plist version=\"1.0\"><dict><key>Tracks</key><array/></dict></plist>")
                  .find("\"Tracks\" is not a <dict>"),
              std::string::npos);
    EXPECT_NE(failure("<plist version=\"1.0\"><dict><key>Tracks</key><string/></dict></plist>")
                  .find("\"Tracks\" is not a <dict>"),
              std::string::npos);
    EXPECT_NE(failure(plist("<key>1</key><string>x</string>")).find("a track is not a <dict>"),
              std::string::npos);
    EXPECT_NE(failure(plist(song(1, "x"), "<dict><key>Playlist Items</key><dict/></dict>"))
                  .find("\"Playlist Items\" is not an <array>"),
              std::string::npos);
    EXPECT_NE(failure(plist(song(1, "x", "<banana/>"))).find("unexpected element <banana>"),
              std::string::npos);
    EXPECT_NE(failure(plist(track(1, "<key>Name</key>"))).find("<key> without a value"),
              std::string::npos);
    EXPECT_NE(failure(plist(track(1, "<string>orphan</string>"))).find("without a <key>"),
              std::string::npos);
    EXPECT_NE(failure("<plist version=\"1.0\"></plist>").find("empty <plist>"), std::string::npos);
}

TEST(PlistLibrarySource, RefusesValuesOfTheWrongTypeOrRange) {
    const std::string wrongType = failure(plist(track(1, "<key>Name</key><integer>5</integer>")));
    EXPECT_NE(wrongType.find("\"Name\" is not a <string>"), std::string::npos) << wrongType;
    EXPECT_NE(failure(plist(track(1, "<key>Play Count</key><string>5</string>")))
                  .find("\"Play Count\" is not an <integer>"),
              std::string::npos);
    EXPECT_NE(failure(plist(track(1, "<key>Loved</key><string>yes</string>")))
                  .find("\"Loved\" is not <true/> or <false/>"),
              std::string::npos);
    EXPECT_NE(failure(plist(track(1, "<key>Artist</key><dict/>"))).find("\"Artist\" is not"),
              std::string::npos);

    const std::string huge =
        failure(plist(track(1, "<key>Play Count</key><integer>99999999999999999999</integer>")));
    EXPECT_NE(huge.find("\"Play Count\" is not a 64-bit integer"), std::string::npos) << huge;
    EXPECT_NE(failure(plist(track(1, "<key>Total Time</key><integer>12abc</integer>")))
                  .find("\"Total Time\""),
              std::string::npos);
    EXPECT_NE(failure(plist(track(1, "<key>Persistent ID</key><string>XYZ</string>")))
                  .find("\"Persistent ID\""),
              std::string::npos);
    EXPECT_NE(failure(plist(track(1, "<key>Persistent ID</key><string>123456789ABCDEF01</string>")))
                  .find("\"Persistent ID\""),
              std::string::npos);
    EXPECT_NE(failure(plist(track(1, "<key>Play Date UTC</key><date>2015-13-04T19:23:10Z</date>")))
                  .find("\"Play Date UTC\""),
              std::string::npos);
}

TEST(PlistLibrarySource, AcceptsTheExtremesOfSixtyFourBits) {
    auto loaded =
        load(plist(track(1, "<key>Play Count</key><integer>9223372036854775807</integer>"
                            "<key>Rating</key><integer>-9223372036854775808</integer>"
                            "<key>Persistent ID</key><string>FFFFFFFFFFFFFFFF</string>")));
    const LibraryMediaItem item = loaded->source.mediaItems().at(0);
    EXPECT_EQ(item.playCount, INT64_MAX);
    EXPECT_EQ(item.rating, INT64_MIN);
    EXPECT_EQ(item.persistentID, UINT64_MAX);
}

TEST(PlistLibrarySource, WithstandsHostileInput) {
    std::string deep;
    for (int i = 0; i < 10000; ++i)
        deep += "<array>";
    const std::string tooDeep = failure(plist(track(1, "<key>Nested</key>" + deep)));
    EXPECT_NE(tooDeep.find("nesting deeper than"), std::string::npos) << tooDeep;

    const std::string laughs = "<?xml version=\"1.0\"?>\n<!DOCTYPE plist [\n"
                               " <!ENTITY a \"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\">\n"
                               " <!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">\n"
                               " <!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">\n"
                               " <!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">\n"
                               " <!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">\n"
                               " <!ENTITY f \"&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;\">\n"
                               "]>\n<plist version=\"1.0\"><dict><key>Tracks</key><dict>" +
                               song(1, "&f;") + "</dict></dict></plist>";
    EXPECT_NE(failure(laughs).find("entity declarations are not allowed"), std::string::npos);

    const std::string external = "<?xml version=\"1.0\"?>\n<!DOCTYPE plist [\n"
                                 " <!ENTITY secret SYSTEM \"file:///etc/passwd\">\n]>\n"
                                 "<plist version=\"1.0\"><dict><key>Tracks</key><dict>" +
                                 song(1, "&secret;") + "</dict></dict></plist>";
    EXPECT_NE(failure(external).find("entity declarations are not allowed"), std::string::npos);

    // An enormous value is kept only up to the limit.
    const std::string longName(PlistLibrarySource::maximumValueBytes + 4096, 'x');
    auto loaded = load(plist(song(1, longName)));
    EXPECT_EQ(loaded->source.mediaItems().at(0).title.size(),
              PlistLibrarySource::maximumValueBytes);
}

TEST(PlistLibrarySource, ReportsAFileThatCannotBeRead) {
    TempDir dir;
    PlistLibrarySource missing(dir / "absent.xml");
    try {
        missing.reloadData();
        FAIL() << "no error";
    } catch (const CaptureError& error) {
        EXPECT_NE(error.detail().find("absent.xml: cannot read: No such file"), std::string::npos)
            << error.detail();
    }
}

} // namespace
} // namespace qb
