#pragma once

#include "core/player/NonLibrarySessionJournal.hpp"

#include <filesystem>

namespace qb {

// Reads and writes "nonlibrary-player-sessions.json" whole. The file exists only while
// player-session capture is enabled; callers serialise access (no lock here).
class NonLibrarySessionStore {
  public:
    // Touches no file.
    explicit NonLibrarySessionStore(const std::filesystem::path& directory);

    const std::filesystem::path& fileURL() const { return fileURL_; }
    // Never fails.
    bool exists() const;
    // Throws CaptureError (stateUnreadable), also for a missing file.
    NonLibrarySessionJournal load() const;
    // Creates the directory, then replaces the file atomically. Throws CaptureError
    // (stateWriteFailed); the old file is then unchanged.
    void save(const NonLibrarySessionJournal& journal) const;
    // Writes it beside the file, for a capture pass to commit (PassCommit).
    void stage(const NonLibrarySessionJournal& journal) const;
    // Saves the empty journal when no file exists; an existing file is never read or changed.
    void createIfMissing() const;
    // Adds a finished session, keeping the newest 500. Without a file: does nothing.
    // An unreadable journal makes it fail and stays as it is.
    void append(const PlayerSessionRecord& record) const;
    // Deletes the file if present; throws FileError when that fails.
    void reset() const;

  private:
    void write(const std::filesystem::path& file, const NonLibrarySessionJournal& journal) const;

    std::filesystem::path fileURL_;
};

} // namespace qb
