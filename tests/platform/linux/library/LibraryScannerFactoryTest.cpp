#include "platform/linux/library/LibraryScannerFactory.hpp"

#include "TestSupport.hpp"
#include "core/common/CaptureError.hpp"
#include "platform/linux/library/JsonLibrarySource.hpp"
#include "platform/linux/library/PlistLibrarySource.hpp"

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

class LibraryVariable : public ::testing::Test {
  protected:
    void TearDown() override { ::unsetenv(libraryFileVariable); }
};

TEST(LibraryScannerFactory, TellsTheFormatsApartByContent) {
    test::TempDir dir;
    test::writeFile(dir / "library.xml", "\xEF\xBB\xBF\n  {\"mediaItems\": []}");
    test::writeFile(dir / "library.json",
                    "\n<plist version=\"1.0\"><dict><key>Tracks</key><dict/></dict></plist>");
    auto json = openLibraryFile(dir / "library.xml");
    EXPECT_NE(dynamic_cast<JsonLibrarySource*>(json.get()), nullptr);
    auto plist = openLibraryFile(dir / "library.json");
    EXPECT_NE(dynamic_cast<PlistLibrarySource*>(plist.get()), nullptr);
    EXPECT_TRUE(plist->reloadData());
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

TEST_F(LibraryVariable, TellsTheUserWhatToSet) {
    ::unsetenv(libraryFileVariable);
    const std::string unset = failure([] { makeLibraryScanner()->scan(); });
    EXPECT_NE(unset.find("set QUILLABRENTA_LIBRARY"), std::string::npos) << unset;
    ::setenv(libraryFileVariable, "", 1);
    EXPECT_EQ(failure([] { makeLibraryScanner()->scan(); }), unset);
}

TEST_F(LibraryVariable, ReadsTheVariableAtScanTime) {
    test::TempDir dir;
    auto scanner = makeLibraryScanner();
    test::writeFile(dir / "lib.json", R"({"mediaItems": [{"persistentID": 42, "mediaKind": 2,
        "title": "T", "artist": {"name": "A"}, "totalTime": 1, "playCount": 0, "rating": 0,
        "isRatingComputed": false}]})");
    ::setenv(libraryFileVariable, (dir / "lib.json").c_str(), 1);
    const LibraryScan scan = scanner->scan();
    ASSERT_EQ(scan.tracks.size(), 1u);
    EXPECT_GT(scan.metrics.residentBeforeBytes, 0u);
    EXPECT_GT(scan.metrics.residentAfterReleaseBytes, 0u);

    ::setenv(libraryFileVariable, (test::sourceDir() / "samples" / "Library.xml").c_str(), 1);
    EXPECT_EQ(scanner->scan().tracks.size(), 11u);
}

} // namespace
} // namespace qb
