#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

namespace qb {

// A file-system failure with a readable description (the system's reason and the path).
class FileError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

namespace fileio {

std::string readWholeFile(const std::filesystem::path& path);

// Writes a temporary file beside the target, flushes it to disk and renames it over the
// target, so a reader sees either the old or the new content and a failure leaves the old.
void writeAtomically(const std::filesystem::path& path, std::string_view bytes);

// Renames a file over another in the same directory, durably; throws FileError.
void moveOver(const std::filesystem::path& from, const std::filesystem::path& to);

bool exists(const std::filesystem::path& path);
// Deletes the file when present; a failed deletion of an existing file throws FileError.
void removeIfExists(const std::filesystem::path& path);
// Creates the directory and its parents; failures are ignored (a later write reports them).
void createDirectoriesQuietly(const std::filesystem::path& directory);

} // namespace fileio
} // namespace qb
