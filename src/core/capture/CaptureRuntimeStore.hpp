#pragma once

#include "core/capture/CaptureRuntimeState.hpp"

#include <filesystem>

namespace qb {

// Persists the install identity, upload queue and status in "capture-runtime.json".
class CaptureRuntimeStore {
  public:
    // Creates the directory if needed; a failure shows up at the first save.
    explicit CaptureRuntimeStore(const std::filesystem::path& directory);

    // Without a file: a new state with a fresh install ID, not yet saved. Throws CaptureError.
    CaptureRuntimeState load() const;
    // Replaces the file atomically. Throws CaptureError; the old file is then unchanged.
    void save(const CaptureRuntimeState& state) const;
    // Writes it beside the file, as the commit point of a capture pass (PassCommit).
    void stage(const CaptureRuntimeState& state) const;
    bool exists() const;
    // Deletes the file if present; throws FileError when that fails.
    void reset() const;
    const std::filesystem::path& fileURL() const { return fileURL_; }

  private:
    void write(const std::filesystem::path& file, const CaptureRuntimeState& state) const;

    std::filesystem::path fileURL_;
};

} // namespace qb
