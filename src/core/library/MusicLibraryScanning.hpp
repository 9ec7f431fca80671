#pragma once

#include "core/library/LibraryScan.hpp"

namespace qb {

// A source of whole-library scans; fails with CaptureError (libraryUnavailable).
class MusicLibraryScanning {
  public:
    virtual ~MusicLibraryScanning() = default;
    virtual LibraryScan scan() = 0;
};

} // namespace qb
