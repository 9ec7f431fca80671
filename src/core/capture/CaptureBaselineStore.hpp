#pragma once

#include "core/capture/CaptureBaseline.hpp"

#include <filesystem>

namespace qb {

// Persists the baseline snapshot in "capture-baseline.json" in the state directory.
class CaptureBaselineStore {
  public:
    // Creates the directory if needed; a failure shows up at the first save.
    explicit CaptureBaselineStore(const std::filesystem::path& directory);

    // A fresh, empty baseline when there is no file. Throws CaptureError.
    CaptureBaseline load() const;
    // Replaces the file atomically. Throws CaptureError; the old file is then unchanged.
    void save(const CaptureBaseline& baseline) const;
    // Writes it beside the file, for a capture pass to commit (PassCommit).
    void stage(const CaptureBaseline& baseline) const;
    // Deletes the file if present; throws FileError when that fails.
    void reset() const;
    const std::filesystem::path& fileURL() const { return fileURL_; }

  private:
    void write(const std::filesystem::path& file, const CaptureBaseline& baseline) const;

    std::filesystem::path fileURL_;
};

} // namespace qb
