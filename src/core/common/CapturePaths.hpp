#pragma once

#include <filesystem>

namespace qb::CapturePaths {

// The per-user state directory, "$XDG_DATA_HOME/QuillabrentaCapture" (default
// ~/.local/share/QuillabrentaCapture); created on the way, a failure to create it ignored.
std::filesystem::path applicationSupportDirectory();
std::filesystem::path singleInstanceLockURL();

} // namespace qb::CapturePaths
