#pragma once

// The data a music library offers the scanner, shaped after the iTunesLibrary framework:
// open the library, reload its data, read its playlists and media items, unload it.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace qb {

// Media kinds as the iTunesLibrary framework numbers them.
namespace mediakind {
inline constexpr int64_t unknown = 1;
inline constexpr int64_t song = 2;
inline constexpr int64_t movie = 3;
inline constexpr int64_t podcast = 4;
inline constexpr int64_t audiobook = 5;
inline constexpr int64_t musicVideo = 7;
inline constexpr int64_t tvShow = 8;
inline constexpr int64_t homeVideo = 12;
inline constexpr int64_t ringtone = 14;
inline constexpr int64_t voiceMemo = 17;
inline constexpr int64_t iTunesU = 18;
inline constexpr int64_t book = 19;
} // namespace mediakind

// The framework's distinguished kind of the loved-songs playlist.
inline constexpr int64_t lovedSongsPlaylistKind = 52;

struct LibraryArtist {
    std::optional<std::string> name;
};

struct LibraryAlbum {
    std::optional<std::string> title;
    std::optional<std::string> albumArtist;
};

struct LibraryMediaItem {
    uint64_t persistentID = 0;
    int64_t mediaKind = mediakind::song;
    int64_t totalTime = 0; // milliseconds
    int64_t playCount = 0;
    int64_t rating = 0;
    std::optional<double> lastPlayedDate; // seconds since 1970, fractional
    std::string title;
    std::optional<LibraryArtist> artist;
    std::optional<LibraryAlbum> album;
    bool isRatingComputed = false;
    // Exported libraries carry the favourite on the item ("Loved"/"Favorited") and have no
    // loved-songs playlist; the scanner counts either.
    bool loved = false;
};

struct LibraryPlaylist {
    int64_t distinguishedKind = 0;
    std::vector<uint64_t> itemPersistentIDs;
};

// Opening a library failed on the platform's side.
class LibraryOpenError : public std::runtime_error {
  public:
    LibraryOpenError(std::string domain, int64_t code, std::string description)
        : std::runtime_error(domain + " " + std::to_string(code) + ": " + description),
          domain_(std::move(domain)), code_(code), description_(std::move(description)) {}

    const std::string& domain() const { return domain_; }
    int64_t code() const { return code_; }
    const std::string& description() const { return description_; }

  private:
    std::string domain_;
    int64_t code_;
    std::string description_;
};

// An opened library. Any operation may also throw CaptureError with a specific detail.
class LibrarySource {
  public:
    virtual ~LibrarySource() = default;
    virtual bool reloadData() = 0;
    virtual const std::vector<LibraryPlaylist>& playlists() const = 0;
    // Hands the loaded items over in library order; the library keeps none, so the texts
    // can move on into the scan instead of being copied (a large library is read once).
    virtual std::vector<LibraryMediaItem> mediaItems() = 0;
    virtual void unloadData() = 0;
};

// Opens the library afresh; throws LibraryOpenError (or CaptureError) when it cannot.
using LibraryOpener = std::function<std::unique_ptr<LibrarySource>()>;

} // namespace qb
