#pragma once

#include "core/library/LibrarySource.hpp"

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

namespace qb {

// A library described by a JSON fixture:
//   { "libraryOpenError": {"domain", "code", "description"},   optional: opening fails
//     "reloadDataFails": true,                                   optional
//     "mediaItems": [ {"persistentID", "mediaKind", "title", "artist": {"name"},
//                      "album": {"title", "albumArtist"}, "totalTime", "playCount",
//                      "lastPlayedDate", "rating", "isRatingComputed"} ],
//     "playlists": [ {"distinguishedKind", "items": [persistent IDs]} ] }
// The file is read as a stream of events, so no document tree is ever built.
class JsonLibrarySource : public LibrarySource {
  public:
    // Throws LibraryOpenError when the fixture says so, and CaptureError::libraryUnavailable
    // when the file cannot be read or does not follow the format.
    static std::unique_ptr<JsonLibrarySource> open(const std::filesystem::path& path);
    // `origin` names the text in error details.
    static std::unique_ptr<JsonLibrarySource> parse(std::string_view text,
                                                    const std::string& origin);

    bool reloadData() override;
    const std::vector<LibraryPlaylist>& playlists() const override { return playlists_; }
    std::vector<LibraryMediaItem> mediaItems() override { return std::move(items_); }
    void unloadData() override;

  private:
    JsonLibrarySource() = default;

    bool reloadDataFails_ = false;
    std::vector<LibraryPlaylist> playlists_;
    std::vector<LibraryMediaItem> items_;
};

} // namespace qb
