// Every library file source turns a file it cannot take whole into "Music library
// unavailable", naming the file; none passes a broken file off as an empty library.

#include "PlayerLibraryFiles.hpp"
#include "core/common/CaptureError.hpp"
#include "platform/linux/library/LibraryScannerFactory.hpp"

#include <gtest/gtest.h>

namespace qb {
namespace {

using test::TempDir;

// A valid library of the kind, large enough to cut in the middle.
std::string validLibrary(LibraryKind kind, const TempDir& dir) {
    switch (kind) {
    case LibraryKind::rhythmbox: {
        std::string entries;
        for (int i = 0; i < 100; ++i)
            entries += test::rhythmboxSong("T", "A", "file:///m/" + std::to_string(i) + ".mp3");
        return test::rhythmdbFile(entries);
    }
    case LibraryKind::strawberry: {
        {
            test::StrawberryDatabase db(dir / "valid.db");
            db.execute("BEGIN");
            for (int i = 0; i < 100; ++i)
                db.add({.url = "file:///m/" + std::to_string(i) + ".flac", .title = "T"});
            db.execute("COMMIT");
        }
        return test::readFile(dir / "valid.db");
    }
    default:
        return test::readFile(test::sourceDir() / "samples/Library.xml");
    }
}

class LibraryFileFailures : public ::testing::TestWithParam<LibraryKind> {
  protected:
    TempDir dir;
    std::filesystem::path file = dir / "library";

    // The detail after "<file>: ", checking that the source read nothing.
    std::string failure() {
        auto source = openLibrary(GetParam(), file);
        try {
            source->reloadData();
        } catch (const CaptureError& error) {
            EXPECT_EQ(error.kind(), CaptureError::Kind::libraryUnavailable);
            EXPECT_TRUE(source->mediaItems().empty());
            const std::string prefix = file.string() + ": ";
            EXPECT_EQ(error.detail().rfind(prefix, 0), 0u) << error.detail();
            return error.detail().substr(std::min(prefix.size(), error.detail().size()));
        }
        ADD_FAILURE() << "the library was read";
        return {};
    }
};

TEST_P(LibraryFileFailures, MissingOrAFolder) {
    EXPECT_EQ(failure(), "cannot read: No such file or directory");
    std::filesystem::create_directory(file);
    EXPECT_EQ(failure(), "cannot read: it is a directory");
}

TEST_P(LibraryFileFailures, EmptyCutShortOrOfAnotherFormat) {
    test::writeFile(file, "");
    EXPECT_NE(failure(), "");
    const std::string valid = validLibrary(GetParam(), dir);
    ASSERT_GT(valid.size(), 8192u);
    // SQLite notices a missing page, not a few bytes missing at the end of the last one.
    std::vector<size_t> cuts = {4096};
    if (GetParam() != LibraryKind::strawberry) cuts.push_back(valid.size() - 2);
    for (size_t length : cuts) {
        test::writeFile(file, valid.substr(0, length));
        EXPECT_NE(failure(), "") << "cut at " << length;
    }
    test::writeFile(file, R"({"mediaItems": []})");
    EXPECT_NE(failure(), "");
}

INSTANTIATE_TEST_SUITE_P(Sources, LibraryFileFailures,
                         ::testing::Values(LibraryKind::rhythmbox, LibraryKind::strawberry,
                                           LibraryKind::libraryExport),
                         [](const auto& info) {
                             return std::string(info.param == LibraryKind::rhythmbox ? "Rhythmbox"
                                                : info.param == LibraryKind::strawberry
                                                    ? "Strawberry"
                                                    : "LibraryXml");
                         });

} // namespace
} // namespace qb
