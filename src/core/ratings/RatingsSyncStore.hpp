#pragma once

#include "core/ratings/RatingsSyncState.hpp"

#include <filesystem>

namespace qb {

// Reads and writes "ratings-sync.json" whole; holds no lock and no open file.
class RatingsSyncStore {
  public:
    // Creates the directory quietly; a failure shows at the first write.
    explicit RatingsSyncStore(const std::filesystem::path& directory);

    const std::filesystem::path& fileURL() const { return fileURL_; }
    bool exists() const;
    // A missing file gives the fresh state. Throws CaptureError.
    RatingsSyncState load() const;
    // Atomic replacement, so a failure leaves the old file. Throws CaptureError.
    void save(const RatingsSyncState& state) const;
    void createIfMissing() const;
    // Throws FileError when an existing file cannot be deleted.
    void reset() const;

  private:
    std::filesystem::path fileURL_;
};

} // namespace qb
