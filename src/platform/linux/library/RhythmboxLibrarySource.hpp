#pragma once

#include "core/library/LibrarySource.hpp"

#include <filesystem>
#include <utility>

namespace qb {

// Rhythmbox's library, "rhythmdb.xml", read as a stream.
//
// Only entries of type "song" are songs: radio stations, podcasts, ignored files and the kept
// entries of disabled plugins are not. Rhythmbox leaves zero numbers out, so a missing element
// is zero: no <play-count> is no play, no <last-played> is never played, no <rating> is
// unrated. Hidden entries (the file is missing or its volume unmounted) are still songs.
// Durations are whole seconds; ratings are 0 to 5 stars, fractional after Rhythmbox merged
// entries, and become 0 to 100. Rhythmbox has no loved flag and no persistent ID: the ID is
// derived from the location, the key Rhythmbox keeps unique.
class RhythmboxLibrarySource : public LibrarySource {
  public:
    // Longest text kept of one element; the rest is dropped (the scanner keeps far less).
    static constexpr size_t maximumValueBytes = 1 << 20;

    explicit RhythmboxLibrarySource(std::filesystem::path path);

    // Reads the whole file. Throws CaptureError::libraryUnavailable, naming the file and the
    // problem, when it cannot be read, is empty or cut short, or is not a Rhythmbox library:
    // a file Rhythmbox failed to finish is never taken for an empty library.
    bool reloadData() override;
    const std::vector<LibraryPlaylist>& playlists() const override { return playlists_; }
    std::vector<LibraryMediaItem> mediaItems() override { return std::move(items_); }
    void unloadData() override;

  private:
    std::filesystem::path path_;
    std::vector<LibraryPlaylist> playlists_; // Rhythmbox keeps playlists in another file
    std::vector<LibraryMediaItem> items_;
};

} // namespace qb
