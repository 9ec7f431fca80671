#include "core/common/CapturePaths.hpp"

#include "core/common/FileIO.hpp"

#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qb::CapturePaths {

namespace {
std::filesystem::path userDataDirectory() {
    // XDG asks to ignore relative values.
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && xdg[0] == '/') return xdg;
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
        if (const passwd* entry = ::getpwuid(::getuid())) home = entry->pw_dir;
    }
    return std::filesystem::path(home ? home : ".") / ".local" / "share";
}
} // namespace

std::filesystem::path applicationSupportDirectory() {
    auto directory = userDataDirectory() / "QuillabrentaCapture";
    fileio::createDirectoriesQuietly(directory);
    // What the user listens to is theirs alone.
    ::chmod(directory.c_str(), 0700);
    return directory;
}

std::filesystem::path singleInstanceLockURL() {
    return applicationSupportDirectory() / "capture.lock";
}

} // namespace qb::CapturePaths
