#include "platform/linux/library/LibraryScannerFactory.hpp"

#include "PlayerLibraryFiles.hpp"
#include "core/common/CaptureError.hpp"
#include "platform/linux/library/JsonLibrarySource.hpp"
#include "platform/linux/library/PlistLibrarySource.hpp"
#include "platform/linux/library/RhythmboxLibrarySource.hpp"
#include "platform/linux/library/StrawberryLibrarySource.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace qb {
namespace {

std::string failure(const std::function<void()>& action) {
    try {
        action();
    } catch (const CaptureError& error) {
        EXPECT_EQ(error.kind(), CaptureError::Kind::libraryUnavailable);
        return error.detail();
    }
    ADD_FAILURE() << "no error";
    return {};
}

// File names say nothing: a copy may be called anything.
TEST(LibraryScannerFactory, TellsTheFormatsApartByContent) {
    test::TempDir dir;
    test::writeFile(dir / "library.xml", "\xEF\xBB\xBF\n  {\"mediaItems\": []}");
    test::writeFile(dir / "library.json",
                    "\n<plist version=\"1.0\"><dict><key>Tracks</key><dict/></dict></plist>");
    test::writeFile(dir / "Library.xml", "<?xml version=\"1.0\" standalone=\"yes\"?>\n"
                                         "<!-- saved by hand -->\n<rhythmdb version=\"2.0\">\n"
                                         "</rhythmdb>\n");
    { test::StrawberryDatabase db(dir / "rhythmdb.xml"); }
    auto json = openLibraryFile(dir / "library.xml");
    EXPECT_NE(dynamic_cast<JsonLibrarySource*>(json.get()), nullptr);
    auto plist = openLibraryFile(dir / "library.json");
    EXPECT_NE(dynamic_cast<PlistLibrarySource*>(plist.get()), nullptr);
    EXPECT_TRUE(plist->reloadData());
    auto rhythmbox = openLibraryFile(dir / "Library.xml");
    EXPECT_NE(dynamic_cast<RhythmboxLibrarySource*>(rhythmbox.get()), nullptr);
    EXPECT_TRUE(rhythmbox->reloadData());
    auto strawberry = openLibraryFile(dir / "rhythmdb.xml");
    EXPECT_NE(dynamic_cast<StrawberryLibrarySource*>(strawberry.get()), nullptr);
    EXPECT_TRUE(strawberry->reloadData());
}

TEST(LibraryScannerFactory, RefusesFilesThatAreNeither) {
    test::TempDir dir;
    test::writeFile(dir / "empty", "");
    test::writeFile(dir / "blank", " \n\t");
    test::writeFile(dir / "text", "Artist,Title\n");
    EXPECT_NE(failure([&] { openLibraryFile(dir / "empty"); }).find("the file is empty"),
              std::string::npos);
    EXPECT_NE(failure([&] { openLibraryFile(dir / "blank"); }).find("the file is empty"),
              std::string::npos);
    const std::string text = failure([&] { openLibraryFile(dir / "text"); });
    EXPECT_NE(text.find("not a library file"), std::string::npos) << text;
    EXPECT_NE(text.find("Library.xml"), std::string::npos) << text;
    const std::string missing = failure([&] { openLibraryFile(dir / "absent"); });
    EXPECT_EQ(missing, "cannot read " + (dir / "absent").string() + ": No such file or directory");
    EXPECT_EQ(failure([&] { openLibraryFile(dir.path()); }),
              "cannot read " + dir.path().string() + ": Is a directory");
}

// The worker's scanner is made once per process, but a test may keep one: each scan finds
// the library again.
TEST(LibraryScannerFactory, LocatesTheLibraryAtEachScan) {
    test::TemporaryHome home;
    auto scanner = makeLibraryScanner();
    const std::string none = failure([&] { scanner->scan(); });
    EXPECT_EQ(none.rfind("no music library found; looked for Rhythmbox's library at ", 0), 0u)
        << none;

    std::filesystem::create_directories(home / ".local/share/rhythmbox");
    test::saveRhythmdb(home / ".local/share/rhythmbox/rhythmdb.xml",
                       test::rhythmboxSong("T", "A", "file:///m/a.mp3", {{"play-count", "2"}}));
    const LibraryScan scan = scanner->scan();
    ASSERT_EQ(scan.tracks.size(), 1u);
    EXPECT_EQ(scan.tracks[0].playCount, 2);
    EXPECT_GT(scan.metrics.residentBeforeBytes, 0u);
    EXPECT_GT(scan.metrics.residentAfterReleaseBytes, 0u);

    ::setenv(libraryFileVariable, (test::sourceDir() / "samples" / "Library.xml").c_str(), 1);
    EXPECT_EQ(scanner->scan().tracks.size(), 11u);
}

} // namespace
} // namespace qb
