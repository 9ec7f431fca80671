#pragma once

#include <filesystem>

// A capture pass changes the upload queue (the runtime state), the baseline and the session
// journal together; a kill between two of those writes must leave all of them or none, or the
// next pass diffs against an old baseline and sends plays that are already queued a second
// time. So each new file is first staged beside its target as "<name>.next", the staged
// runtime state last: it is the commit point. Then the staged files are moved over their
// targets, the runtime state last again. Whoever reads the directory next settles a pass that
// was cut short: committed, it is completed; not committed, it is dropped.
namespace qb::PassCommit {

inline constexpr const char* stagedSuffix = ".next";

std::filesystem::path staged(const std::filesystem::path& file);

// Moves every staged file of the directory over its target when the runtime state is among
// them, and deletes them otherwise. Throws CaptureError when a file cannot be moved or deleted;
// then nothing in the directory may be written until it succeeds.
void settle(const std::filesystem::path& directory);

} // namespace qb::PassCommit
