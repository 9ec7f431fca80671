#include "platform/linux/library/LibraryLocator.hpp"

#include "PlayerLibraryFiles.hpp"
#include "core/common/CaptureError.hpp"

#include <gtest/gtest.h>

#include <cctype>

#include <chrono>

namespace qb {
namespace {

using test::TemporaryHome;

// Creates the file (and its folders), last changed `age` ago.
void place(const std::filesystem::path& file, std::chrono::seconds age = {},
           const std::string& bytes = "x") {
    std::filesystem::create_directories(file.parent_path());
    test::writeFile(file, bytes);
    std::filesystem::last_write_time(file, std::filesystem::file_time_type::clock::now() - age);
}

LocatedLibrary expected(LibraryKind kind, const std::filesystem::path& path,
                        std::vector<std::string> watchNames) {
    LocatedLibrary library;
    library.kind = kind;
    library.path = path;
    library.watchFolder = path.parent_path();
    library.watchNames = std::move(watchNames);
    return library;
}

std::string failure() {
    try {
        locateLibrary();
    } catch (const CaptureError& error) {
        EXPECT_EQ(error.kind(), CaptureError::Kind::libraryUnavailable);
        return error.description();
    }
    ADD_FAILURE() << "a library was found";
    return {};
}

TEST(LibraryLocator, SaysWhatItLookedForWhereWhenNothingIsFound) {
    TemporaryHome home;
    const std::string h = home.path().string();
    EXPECT_EQ(failure(),
              "Music library unavailable: no music library found; looked for Rhythmbox's library "
              "at " +
                  h + "/.local/share/rhythmbox/rhythmdb.xml, " + h +
                  "/.var/app/org.gnome.Rhythmbox3/data/rhythmbox/rhythmdb.xml, " + h +
                  "/.gnome2/rhythmbox/rhythmdb.xml; Strawberry's library at " + h +
                  "/.local/share/strawberry/strawberry/strawberry.db, " + h +
                  "/.var/app/org.strawberrymusicplayer.strawberry/data/strawberry/strawberry/"
                  "strawberry.db; an exported Library.xml at " +
                  h + "/Music/Library.xml, " + h + "/Music/iTunes/iTunes Music Library.xml, " + h +
                  "/Music/iTunes/iTunes Library.xml; or set QUILLABRENTA_LIBRARY to a library "
                  "file");
    // A folder where the file should be is no library either.
    std::filesystem::create_directories(home / ".local/share/rhythmbox/rhythmdb.xml");
    EXPECT_EQ(failure().rfind("Music library unavailable: no music library found", 0), 0u);
}

struct Place {
    const char* file; // under HOME
    LibraryKind kind;
    std::vector<std::string> watchNames;
    const char* xdgDataHome = nullptr; // under HOME, or relative when it starts with '.'
    const char* userDirs = nullptr;    // the contents of ~/.config/user-dirs.dirs
};

class LibraryPlaces : public ::testing::TestWithParam<Place> {};

TEST_P(LibraryPlaces, FindsTheLibraryAtItsPlace) {
    TemporaryHome home;
    const Place& p = GetParam();
    if (p.xdgDataHome) {
        const std::string value =
            p.xdgDataHome[0] == '.' ? std::string(p.xdgDataHome) : (home / p.xdgDataHome).string();
        ::setenv("XDG_DATA_HOME", value.c_str(), 1);
    }
    if (p.userDirs) place(home / ".config/user-dirs.dirs", {}, p.userDirs);
    place(home / p.file);
    EXPECT_EQ(locateLibrary(), expected(p.kind, home / p.file, p.watchNames));
}

const std::vector<std::string> rhythmdb = {"rhythmdb.xml"};
const std::vector<std::string> strawberryDB = {"strawberry.db", "strawberry.db-wal"};

INSTANTIATE_TEST_SUITE_P(
    Places, LibraryPlaces,
    ::testing::Values(
        Place{".local/share/rhythmbox/rhythmdb.xml", LibraryKind::rhythmbox, rhythmdb},
        Place{"data/rhythmbox/rhythmdb.xml", LibraryKind::rhythmbox, rhythmdb, "data"},
        // A relative XDG_DATA_HOME is ignored, as the XDG rules say.
        Place{".local/share/rhythmbox/rhythmdb.xml", LibraryKind::rhythmbox, rhythmdb, ".data"},
        Place{".var/app/org.gnome.Rhythmbox3/data/rhythmbox/rhythmdb.xml", LibraryKind::rhythmbox,
              rhythmdb},
        Place{".gnome2/rhythmbox/rhythmdb.xml", LibraryKind::rhythmbox, rhythmdb},
        Place{".local/share/strawberry/strawberry/strawberry.db", LibraryKind::strawberry,
              strawberryDB},
        Place{"data/strawberry/strawberry/strawberry.db", LibraryKind::strawberry, strawberryDB,
              "data"},
        Place{".var/app/org.strawberrymusicplayer.strawberry/data/strawberry/strawberry/"
              "strawberry.db",
              LibraryKind::strawberry, strawberryDB},
        Place{"Music/Library.xml", LibraryKind::libraryExport, {"Library.xml"}},
        Place{"Music/iTunes/iTunes Music Library.xml",
              LibraryKind::libraryExport,
              {"iTunes Music Library.xml"}},
        Place{"Musik/iTunes/iTunes Library.xml",
              LibraryKind::libraryExport,
              {"iTunes Library.xml"},
              nullptr,
              "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n"
              "XDG_MUSIC_DIR=\"$HOME/Musik/\"\n"}),
    // Named by the place, so a failure says which one.
    [](const ::testing::TestParamInfo<Place>& info) {
        std::string name = std::to_string(info.index) + "_";
        for (char c : std::string(info.param.file))
            name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        return name;
    });

TEST(LibraryLocator, PrefersAPlayerThenTheLibraryChangedMostRecently) {
    TemporaryHome home;
    const auto rhythmbox = home / ".local/share/rhythmbox/rhythmdb.xml";
    const auto strawberry = home / ".local/share/strawberry/strawberry/strawberry.db";
    const auto exported = home / "Music/Library.xml";
    place(rhythmbox, std::chrono::seconds(100));
    place(strawberry, std::chrono::seconds(200));
    place(exported);
    // In WAL mode the latest commit is in the "-wal" file.
    place(strawberry.string() + "-wal", std::chrono::seconds(10));

    LocatedLibrary chosen = expected(LibraryKind::strawberry, strawberry, strawberryDB);
    chosen.passedOver = {{LibraryKind::rhythmbox, rhythmbox},
                         {LibraryKind::libraryExport, exported}};
    const LocatedLibrary found = locateLibrary();
    EXPECT_EQ(found, chosen);
    EXPECT_EQ(found.description(), "Strawberry library " + strawberry.string() +
                                       " (chosen over Rhythmbox library " + rhythmbox.string() +
                                       ", Library.xml export " + exported.string() + ")");

    place(rhythmbox);
    EXPECT_EQ(locateLibrary().path, rhythmbox);
    std::filesystem::remove(rhythmbox);
    std::filesystem::remove(strawberry);
    EXPECT_EQ(locateLibrary().description(), "Library.xml export " + exported.string());
}

TEST(LibraryLocator, TheVariableWinsAndItsFileIsToldByContent) {
    TemporaryHome home;
    place(home / ".local/share/strawberry/strawberry/strawberry.db");
    const auto named = home / "backup/library.dat";
    place(named, {}, test::rhythmdbFile(""));
    ::setenv(libraryFileVariable, named.c_str(), 1);

    LocatedLibrary chosen = expected(LibraryKind::rhythmbox, named, {"library.dat"});
    chosen.named = true;
    const LocatedLibrary found = locateLibrary();
    EXPECT_EQ(found, chosen);
    EXPECT_EQ(found.description(),
              "Rhythmbox library " + named.string() + " (named by QUILLABRENTA_LIBRARY)");

    ::setenv(libraryFileVariable, (home / "absent").c_str(), 1);
    EXPECT_EQ(failure(), "Music library unavailable: cannot read " + (home / "absent").string() +
                             ": No such file or directory");
}

} // namespace
} // namespace qb
