#pragma once

#include "core/library/LibrarySource.hpp"

#include <filesystem>
#include <utility>

namespace qb {

// The music library as exported to "Library.xml" (an XML property list with a "Tracks"
// dictionary and a "Playlists" array), read as a stream so that a large export never exists
// as a document tree.
//
// Only songs keep media kind 2: podcasts, videos, audiobooks, voice memos, tones, iTunes U
// and books get their own kinds from the item's flags, its location or the distinguished
// playlist holding it (the translated "Kind" text is never used). The favourite flag comes
// from "Loved" or "Favorited"; exports have no loved-songs playlist, so `playlists` is empty.
class PlistLibrarySource : public LibrarySource {
  public:
    // Deepest nesting of dictionaries and arrays accepted.
    static constexpr size_t maximumDepth = 64;
    // Longest text kept of one value; the rest is dropped (the scanner keeps far less).
    static constexpr size_t maximumValueBytes = 1 << 20;

    explicit PlistLibrarySource(std::filesystem::path path);

    // Reads the whole export. Throws CaptureError::libraryUnavailable, naming the file, the
    // problem and its line and column, when the file cannot be read, is not well-formed XML
    // or is not a music library export.
    bool reloadData() override;
    const std::vector<LibraryPlaylist>& playlists() const override { return playlists_; }
    std::vector<LibraryMediaItem> mediaItems() override { return std::move(items_); }
    void unloadData() override;

  private:
    std::filesystem::path path_;
    std::vector<LibraryPlaylist> playlists_;
    std::vector<LibraryMediaItem> items_;
};

} // namespace qb
