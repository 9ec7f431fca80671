#include "platform/linux/library/StrawberryLibrarySource.hpp"

#include "core/common/CaptureError.hpp"
#include "core/common/HugePages.hpp"
#include "platform/linux/library/DerivedPersistentID.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <set>
#include <sqlite3.h>
#include <stdexcept>
#include <sys/stat.h>

namespace qb {

namespace {

// What the scan needs of a song, in the order of the query.
constexpr const char* neededColumns[] = {"url",    "beginning", "title",
                                         "artist", "album",     "albumartist",
                                         "length", "playcount", "lastplayed"};
// Strawberry added ratings in schema 13; before that every song is unrated.
constexpr const char* ratingColumn = "rating";

std::string text(sqlite3_stmt* row, int column) {
    const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(row, column));
    if (!bytes) return {};
    return std::string(bytes, static_cast<size_t>(sqlite3_column_bytes(row, column)));
}

class Connection {
  public:
    explicit Connection(const std::filesystem::path& path) {
        // Read-only never creates the file, never rolls a journal back and never checkpoints.
        if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
            const std::runtime_error error(problem());
            sqlite3_close(db_);
            throw error;
        }
        sqlite3_busy_timeout(db_, StrawberryLibrarySource::busyTimeoutMilliseconds);
    }
    ~Connection() { sqlite3_close(db_); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    sqlite3* get() const { return db_; }

    void execute(const char* sql) {
        if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) fail();
    }

    [[noreturn]] void fail() const { throw std::runtime_error(problem()); }

  private:
    sqlite3* db_ = nullptr;

    std::string problem() const {
        std::string detail = db_ ? sqlite3_errmsg(db_) : "out of memory";
        const int code = db_ ? sqlite3_extended_errcode(db_) : SQLITE_NOMEM;
        if ((code & 0xFF) == SQLITE_BUSY)
            detail += " (Strawberry kept it busy for more than " +
                      std::to_string(StrawberryLibrarySource::busyTimeoutMilliseconds / 1000) +
                      " s)";
        if (code == SQLITE_READONLY_ROLLBACK)
            detail += " (a write was cut short; Strawberry rolls it back when it starts again)";
        return detail;
    }
};

class Statement {
  public:
    Statement(Connection& connection, const std::string& sql) : connection_(connection) {
        if (sqlite3_prepare_v2(connection.get(), sql.c_str(), -1, &statement_, nullptr) !=
            SQLITE_OK)
            connection.fail();
    }
    ~Statement() { sqlite3_finalize(statement_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // True while there is a row.
    bool step() {
        const int status = sqlite3_step(statement_);
        if (status == SQLITE_ROW) return true;
        if (status != SQLITE_DONE) connection_.fail();
        return false;
    }
    sqlite3_stmt* get() const { return statement_; }

  private:
    Connection& connection_;
    sqlite3_stmt* statement_ = nullptr;
};

std::string schemaVersion(Connection& connection) {
    try {
        Statement version(connection, "SELECT version FROM schema_version");
        if (version.step()) return text(version.get(), 0);
    } catch (const std::runtime_error&) {
    }
    return "unknown";
}

// The query for this schema, or a runtime_error naming what it lacks.
std::string songsQuery(Connection& connection) {
    std::set<std::string> columns;
    Statement info(connection, "SELECT name FROM pragma_table_info('songs')");
    while (info.step())
        columns.insert(text(info.get(), 0));
    if (columns.empty())
        throw std::runtime_error("not a Strawberry library: it has no songs table");

    std::string missing;
    std::string query = "SELECT ";
    for (const char* column : neededColumns) {
        if (columns.count(column) == 0)
            missing += (missing.empty() ? "" : ", ") + std::string(column);
        query += column;
        query += ", ";
    }
    if (!missing.empty())
        throw std::runtime_error("the songs table of Strawberry schema version " +
                                 schemaVersion(connection) + " has no column " + missing);
    query += columns.count(ratingColumn) > 0 ? ratingColumn : "-1";
    return query + " FROM songs ORDER BY ROWID";
}

LibraryMediaItem songOf(sqlite3_stmt* row) {
    LibraryMediaItem song;
    const std::string url = text(row, 0);
    song.persistentID = derivedPersistentID(url, sqlite3_column_int64(row, 1));
    song.title = text(row, 2);
    // Strawberry stores "" for a missing tag; the scanner then takes the album-artist.
    if (std::string artist = text(row, 3); !artist.empty())
        song.artist = LibraryArtist{std::move(artist)};
    song.album.emplace();
    song.album->title = text(row, 4);
    if (std::string albumArtist = text(row, 5); !albumArtist.empty())
        song.album->albumArtist = std::move(albumArtist);
    const int64_t nanoseconds = sqlite3_column_int64(row, 6);
    song.totalTime = nanoseconds > 0 ? nanoseconds / 1'000'000 : 0;
    song.playCount = sqlite3_column_int64(row, 7);
    if (const int64_t seconds = sqlite3_column_int64(row, 8); seconds > 0)
        song.lastPlayedDate = static_cast<double>(seconds);
    // Stored as 0.800000011920929 from a float, 1 as an integer, -1 or 0 for none.
    const double rating = sqlite3_column_double(row, 9);
    song.rating =
        std::isfinite(rating) && rating > 0 ? std::lround(std::min(rating, 1.0) * 100) : 0;
    return song;
}

void readSongs(const std::filesystem::path& path, std::vector<LibraryMediaItem>& items) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        throw std::runtime_error(std::string("cannot read: ") + std::strerror(errno));
    if (S_ISDIR(info.st_mode)) throw std::runtime_error("cannot read: it is a directory");

    Connection connection(path);
    // One read transaction: the schema check and the rows see the same version of the file,
    // and Strawberry's next write waits only as long as the read.
    connection.execute("BEGIN");
    {
        Statement songs(connection, songsQuery(connection));
        // A row takes about a kilobyte of the file, its indexes included.
        reserveWithHugePages(items, static_cast<size_t>(info.st_size) / 1024 + 16);
        while (songs.step())
            items.push_back(songOf(songs.get()));
    }
    connection.execute("COMMIT");
}

} // namespace

StrawberryLibrarySource::StrawberryLibrarySource(std::filesystem::path path)
    : path_(std::move(path)) {}

bool StrawberryLibrarySource::reloadData() {
    unloadData();
    try {
        readSongs(path_, items_);
    } catch (const std::runtime_error& error) {
        unloadData();
        throw CaptureError::libraryUnavailable(path_.string() + ": " + error.what());
    }
    return true;
}

void StrawberryLibrarySource::unloadData() {
    std::vector<LibraryMediaItem>().swap(items_);
}

} // namespace qb
