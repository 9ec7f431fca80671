#pragma once

#include <filesystem>
#include <optional>

// The per-user base directories of the XDG Base Directory specification. Relative values of
// the variables are invalid there and are ignored.
namespace qb::xdg {

std::filesystem::path home();
// $XDG_CONFIG_HOME, default ~/.config.
std::filesystem::path configHome();
// $XDG_DATA_HOME, default ~/.local/share.
std::filesystem::path dataHome();
// $XDG_RUNTIME_DIR, absent when unset: it has no fallback.
std::optional<std::filesystem::path> runtimeDirectory();

} // namespace qb::xdg
