#pragma once

#include "core/library/LibrarySource.hpp"

#include <filesystem>
#include <utility>

namespace qb {

// Strawberry's library, the "songs" table of its SQLite database "strawberry.db".
//
// Only "songs" is read: it is the local collection. The streaming services' tables and the
// devices' tables in the same file hold copies whose counts Strawberry does not keep.
// Lengths are nanoseconds (-1 unknown), last played is seconds (-1 never), the rating is 0
// to 1 (-1 or 0 unrated) and becomes 0 to 100. Songs whose file went missing stay songs.
// Strawberry has no loved flag and no persistent ID: the ID is derived from url and
// beginning, the pair Strawberry keeps unique (CUE tracks share a url).
//
// The database is opened read-only and read in one short transaction through SQLite, never
// copied: a copy could miss what the journal or a WAL holds. While Strawberry writes, the read
// waits for up to `busyTimeoutMilliseconds` rather than fail.
class StrawberryLibrarySource : public LibrarySource {
  public:
    static constexpr int busyTimeoutMilliseconds = 30'000;

    explicit StrawberryLibrarySource(std::filesystem::path path);

    // Reads every song. Throws CaptureError::libraryUnavailable, naming the file and the
    // problem, when the database cannot be read, stays locked, is not Strawberry's, or has a
    // schema without a column the scan needs (naming the schema version).
    bool reloadData() override;
    const std::vector<LibraryPlaylist>& playlists() const override { return playlists_; }
    std::vector<LibraryMediaItem> mediaItems() override { return std::move(items_); }
    void unloadData() override;

  private:
    std::filesystem::path path_;
    std::vector<LibraryPlaylist> playlists_; // no loved-songs playlist exists
    std::vector<LibraryMediaItem> items_;
};

} // namespace qb
