#pragma once

// Library files as the players write them: Rhythmbox's rhythmdb.xml and Strawberry's SQLite
// database at schema 23.

#include "TestSupport.hpp"
#include "core/library/ITunesLibraryScanner.hpp"
#include "core/library/LibrarySource.hpp"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qb::test {

// The tracks a source yields, as the scanner keeps them.
inline std::vector<LibraryTrack> tracksOf(LibrarySource& source) {
    std::vector<LibraryTrack> tracks;
    for (LibraryMediaItem& item : source.mediaItems())
        if (auto track = ITunesLibraryScanner::trackFor(item, {})) tracks.push_back(*track);
    return tracks;
}

// One <entry> of rhythmdb.xml. Values are written as given, so a test spells out the escapes
// Rhythmbox writes (every non-ASCII character as &#x…;, & < > as entities).
inline std::string
rhythmboxEntry(const std::string& type,
               const std::vector<std::pair<std::string, std::string>>& elements) {
    std::string text = "  <entry type=\"" + type + "\">\n";
    for (const auto& [name, value] : elements)
        text += "    <" + name + ">" + value + "</" + name + ">\n";
    return text + "  </entry>\n";
}

// A song with the elements Rhythmbox writes for every song (and nothing it leaves out when
// zero), `extra` added before <media-type> where the counts and the rating go.
inline std::string
rhythmboxSong(const std::string& title, const std::string& artist, const std::string& location,
              const std::vector<std::pair<std::string, std::string>>& extra = {}) {
    std::vector<std::pair<std::string, std::string>> elements = {
        {"title", title},           {"genre", "Rock"},      {"artist", artist},
        {"album", "Album"},         {"location", location}, {"first-seen", "1700000000"},
        {"last-seen", "1733700000"}};
    elements.insert(elements.end(), extra.begin(), extra.end());
    elements.push_back({"date", "0"});
    elements.push_back({"media-type", "audio/mpeg"});
    return rhythmboxEntry("song", elements);
}

inline std::string rhythmdbFile(const std::string& entries) {
    return "<?xml version=\"1.0\" standalone=\"yes\"?>\n<rhythmdb version=\"2.0\">\n" + entries +
           "</rhythmdb>\n";
}

// Writes the file as Rhythmbox saves it: a temporary file renamed over the library.
inline void saveRhythmdb(const std::filesystem::path& file, const std::string& entries) {
    const std::filesystem::path temporary = file.string() + ".tmp";
    writeFile(temporary, rhythmdbFile(entries));
    std::filesystem::rename(temporary, file);
}

// A row of Strawberry's songs table, the columns a scan reads; the rest take their defaults.
struct StrawberrySong {
    std::string url{};
    int64_t beginning = 0;
    std::string title{};
    std::string artist{};
    std::string album{};
    std::string albumArtist{};
    int64_t length = -1; // nanoseconds
    int64_t playCount = 0;
    int64_t lastPlayed = -1;
    // Qt binds Strawberry's float rating as text: "-1", "0.800000011920929", "1".
    std::string rating = "-1";
    bool unavailable = false;
    std::string cuePath{}; // NULL when empty
};

class StrawberryDatabase {
  public:
    // Creates the file with Strawberry's schema, or opens it as it is.
    explicit StrawberryDatabase(const std::filesystem::path& file, bool createSchema = true) {
        if (sqlite3_open(file.c_str(), &db_) != SQLITE_OK) ADD_FAILURE() << sqlite3_errmsg(db_);
        if (createSchema)
            execute(
                readFile(sourceDir() / "tests/platform/linux/library/strawberry-schema-23.sql"));
    }
    ~StrawberryDatabase() { sqlite3_close(db_); }
    StrawberryDatabase(const StrawberryDatabase&) = delete;
    StrawberryDatabase& operator=(const StrawberryDatabase&) = delete;

    sqlite3* get() const { return db_; }

    // Returns the SQLite status; anything but OK is a test failure unless `mayFail`.
    int execute(const std::string& sql, bool mayFail = false) {
        char* message = nullptr;
        const int status = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message);
        if (status != SQLITE_OK && !mayFail) ADD_FAILURE() << sql.substr(0, 80) << ": " << message;
        sqlite3_free(message);
        return status;
    }

    // Inserts as Strawberry's collection backend does: source 2 (collection), filetype FLAC.
    void add(const StrawberrySong& song, const std::string& table = "songs") {
        const std::string sql =
            "INSERT INTO " + table +
            " (url, beginning, title, artist, album, albumartist, length, playcount, lastplayed,"
            " rating, unavailable, cue_path, source, filetype, directory_id, mtime, ctime,"
            " filesize, effective_albumartist)"
            " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, 2, 2, 1, 1700000000, 1700000000, 4096,"
            " ?)";
        sqlite3_stmt* statement = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr), SQLITE_OK)
            << sqlite3_errmsg(db_);
        auto text = [&](int index, const std::string& value) {
            sqlite3_bind_text(statement, index, value.c_str(), static_cast<int>(value.size()),
                              SQLITE_TRANSIENT);
        };
        text(1, song.url);
        sqlite3_bind_int64(statement, 2, song.beginning);
        text(3, song.title);
        text(4, song.artist);
        text(5, song.album);
        text(6, song.albumArtist);
        sqlite3_bind_int64(statement, 7, song.length);
        sqlite3_bind_int64(statement, 8, song.playCount);
        sqlite3_bind_int64(statement, 9, song.lastPlayed);
        text(10, song.rating);
        sqlite3_bind_int(statement, 11, song.unavailable ? 1 : 0);
        if (song.cuePath.empty())
            sqlite3_bind_null(statement, 12);
        else
            text(12, song.cuePath);
        text(13, song.albumArtist.empty() ? song.artist : song.albumArtist);
        EXPECT_EQ(sqlite3_step(statement), SQLITE_DONE) << sqlite3_errmsg(db_);
        sqlite3_finalize(statement);
    }

  private:
    sqlite3* db_ = nullptr;
};

// A fresh HOME for the process, without the variables that would point elsewhere; the old
// environment comes back with the object.
class TemporaryHome {
  public:
    TemporaryHome() {
        for (const char* name : variables) {
            const char* value = std::getenv(name);
            saved_.emplace_back(value ? std::optional<std::string>(value) : std::nullopt);
            ::unsetenv(name);
        }
        ::setenv("HOME", dir_.path().c_str(), 1);
    }
    ~TemporaryHome() {
        for (size_t i = 0; i < std::size(variables); ++i) {
            if (saved_[i])
                ::setenv(variables[i], saved_[i]->c_str(), 1);
            else
                ::unsetenv(variables[i]);
        }
    }
    TemporaryHome(const TemporaryHome&) = delete;
    TemporaryHome& operator=(const TemporaryHome&) = delete;

    const std::filesystem::path& path() const { return dir_.path(); }
    std::filesystem::path operator/(const std::string& name) const { return dir_ / name; }

  private:
    static constexpr const char* variables[] = {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME",
                                                "QUILLABRENTA_LIBRARY"};
    TempDir dir_;
    std::vector<std::optional<std::string>> saved_;
};

} // namespace qb::test
