#pragma once

#include "core/library/LibrarySource.hpp"
#include "core/library/MusicLibraryScanning.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <unordered_set>

namespace qb {

// Reads the whole library once through a LibrarySource, keeps its songs and measures the
// read. Every failure leaves as CaptureError::libraryUnavailable; nothing partial is returned.
class ITunesLibraryScanner : public MusicLibraryScanning {
  public:
    // Resident memory in bytes; 0 when the reading fails.
    using ResidentMemoryReader = std::function<uint64_t()>;
    // Monotonic time in nanoseconds.
    using MonotonicClock = std::function<int64_t()>;

    static constexpr size_t maximumTextCharacters = 500;

    ITunesLibraryScanner(LibraryOpener openLibrary, ResidentMemoryReader residentBytes,
                         MonotonicClock monotonicNanoseconds = steadyNanoseconds);

    LibraryScan scan() override;

    static int64_t steadyNanoseconds();

    // The track for one media item, or nothing when the item is left out. The item's texts
    // move into the track.
    static std::optional<LibraryTrack> trackFor(LibraryMediaItem& item,
                                                const std::unordered_set<uint64_t>& loved);

  private:
    LibraryScan read();

    LibraryOpener openLibrary_;
    ResidentMemoryReader residentBytes_;
    MonotonicClock now_;
};

} // namespace qb
