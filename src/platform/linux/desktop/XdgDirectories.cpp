#include "platform/linux/desktop/XdgDirectories.hpp"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace qb::xdg {

namespace {
std::optional<std::filesystem::path> absoluteVariable(const char* name) {
    const char* value = std::getenv(name);
    if (value && value[0] == '/') return std::filesystem::path(value);
    return std::nullopt;
}
} // namespace

std::filesystem::path home() {
    if (const char* value = std::getenv("HOME"); value && *value) return value;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) return entry->pw_dir;
    return "/";
}

std::filesystem::path configHome() {
    return absoluteVariable("XDG_CONFIG_HOME").value_or(home() / ".config");
}

std::filesystem::path dataHome() {
    return absoluteVariable("XDG_DATA_HOME").value_or(home() / ".local" / "share");
}

std::optional<std::filesystem::path> runtimeDirectory() {
    return absoluteVariable("XDG_RUNTIME_DIR");
}

} // namespace qb::xdg
