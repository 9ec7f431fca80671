#include "platform/linux/library/LibraryLocator.hpp"

#include "core/common/CaptureError.hpp"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qb {

namespace {

struct Place {
    LibraryKind kind;
    std::filesystem::path path;
};

// XDG base directories count only when absolute.
std::optional<std::filesystem::path> absoluteVariable(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] != '/') return std::nullopt;
    return std::filesystem::path(value);
}

std::filesystem::path homeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') return home;
    if (const passwd* user = ::getpwuid(::getuid()); user != nullptr && user->pw_dir != nullptr)
        return user->pw_dir;
    return {};
}

// The music folder that xdg-user-dirs records, when it is not ~/Music: localised desktops
// name it in the user's language.
std::optional<std::filesystem::path> xdgMusicFolder(const std::filesystem::path& home) {
    const auto config = absoluteVariable("XDG_CONFIG_HOME").value_or(home / ".config");
    std::ifstream dirs(config / "user-dirs.dirs");
    constexpr std::string_view key = "XDG_MUSIC_DIR=\"";
    for (std::string line; std::getline(dirs, line);) {
        if (line.rfind(key, 0) != 0) continue;
        std::string value = line.substr(key.size());
        value.resize(std::min(value.find('"'), value.size()));
        if (value.rfind("$HOME", 0) == 0) value = home.string() + value.substr(5);
        while (value.size() > 1 && value.back() == '/')
            value.pop_back();
        // A folder the user switched off points at home itself.
        if (value.empty() || value[0] != '/' || value == home.string()) return std::nullopt;
        return std::filesystem::path(value);
    }
    return std::nullopt;
}

// Every place searched, in order of preference among equally recent libraries.
std::vector<Place> searchedPlaces() {
    const std::filesystem::path home = homeFolder();
    const auto dataHome = absoluteVariable("XDG_DATA_HOME");
    std::vector<Place> places;
    auto add = [&](LibraryKind kind, const std::filesystem::path& path) {
        if (path.is_absolute()) places.push_back({kind, path});
    };
    // Without a home folder the places under it are relative, and `add` drops them.
    const std::filesystem::path data = dataHome.value_or(home / ".local/share");
    const std::filesystem::path flatpak = home / ".var/app";
    add(LibraryKind::rhythmbox, data / "rhythmbox/rhythmdb.xml");
    add(LibraryKind::rhythmbox, flatpak / "org.gnome.Rhythmbox3/data/rhythmbox/rhythmdb.xml");
    add(LibraryKind::rhythmbox, home / ".gnome2/rhythmbox/rhythmdb.xml");
    add(LibraryKind::strawberry, data / "strawberry/strawberry/strawberry.db");
    add(LibraryKind::strawberry,
        flatpak / "org.strawberrymusicplayer.strawberry/data/strawberry/strawberry/strawberry.db");
    if (home.empty()) return places;

    std::vector<std::filesystem::path> musicFolders;
    if (auto xdg = xdgMusicFolder(home); xdg && *xdg != home / "Music")
        musicFolders.push_back(*xdg);
    musicFolders.push_back(home / "Music");
    for (const auto& folder : musicFolders)
        for (const char* name :
             {"Library.xml", "iTunes/iTunes Music Library.xml", "iTunes/iTunes Library.xml"})
            add(LibraryKind::libraryExport, folder / name);
    return places;
}

// A modification time, seconds and nanoseconds.
using Stamp = std::pair<time_t, long>;

// When the library last changed; nothing when there is no such file.
std::optional<Stamp> lastChange(const Place& place) {
    struct stat info {};
    if (::stat(place.path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    Stamp changed(info.st_mtim.tv_sec, info.st_mtim.tv_nsec);
    // A WAL database commits to its "-wal" file and reaches the main file only at checkpoints.
    struct stat wal {};
    if (place.kind == LibraryKind::strawberry &&
        ::stat((place.path.string() + "-wal").c_str(), &wal) == 0)
        changed = std::max(changed, Stamp(wal.st_mtim.tv_sec, wal.st_mtim.tv_nsec));
    return changed;
}

LocatedLibrary locatedAt(LibraryKind kind, const std::filesystem::path& path) {
    LocatedLibrary library;
    library.kind = kind;
    library.path = path;
    library.watchFolder = path.parent_path();
    library.watchNames = {path.filename().string()};
    if (kind == LibraryKind::strawberry)
        library.watchNames.push_back(path.filename().string() + "-wal");
    return library;
}

std::string label(LibraryKind kind, const std::filesystem::path& path) {
    std::string text(libraryKindName(kind));
    if (kind == LibraryKind::rhythmbox || kind == LibraryKind::strawberry) text += " library";
    return text + " " + path.string();
}

[[noreturn]] void nothingFound(const std::vector<Place>& places) {
    std::string detail = "no music library found; looked for";
    for (LibraryKind kind :
         {LibraryKind::rhythmbox, LibraryKind::strawberry, LibraryKind::libraryExport}) {
        std::string paths;
        for (const Place& place : places) {
            if (place.kind != kind) continue;
            if (!paths.empty()) paths += ", ";
            paths += place.path.string();
        }
        if (paths.empty()) continue;
        if (kind == LibraryKind::libraryExport)
            detail += " an exported Library.xml at ";
        else
            detail.append(" ").append(libraryKindName(kind)).append("'s library at ");
        detail.append(paths).append(";");
    }
    throw CaptureError::libraryUnavailable(detail + " or set " + libraryFileVariable +
                                           " to a library file");
}

} // namespace

std::string LocatedLibrary::description() const {
    std::string text = label(kind, path);
    if (named) return text + " (named by " + libraryFileVariable + ")";
    for (size_t i = 0; i < passedOver.size(); ++i)
        text +=
            (i == 0 ? " (chosen over " : ", ") + label(passedOver[i].first, passedOver[i].second);
    return passedOver.empty() ? text : text + ")";
}

LocatedLibrary locateLibrary() {
    if (const char* named = std::getenv(libraryFileVariable); named != nullptr && *named != '\0') {
        const std::filesystem::path path = std::filesystem::absolute(named);
        LocatedLibrary library = locatedAt(libraryKindOfFile(path), path);
        library.named = true;
        return library;
    }

    const std::vector<Place> places = searchedPlaces();
    // An export is a snapshot that never changes as the user listens; a player's is live.
    auto rank = [](const Place& place, const Stamp& changed) {
        return std::pair(place.kind != LibraryKind::libraryExport, changed);
    };
    std::vector<Place> found;
    size_t best = 0;
    std::pair<bool, Stamp> bestRank{};
    for (const Place& place : places) {
        const auto changed = lastChange(place);
        if (!changed) continue;
        // Of equals, the place searched first.
        if (found.empty() || rank(place, *changed) > bestRank) {
            best = found.size();
            bestRank = rank(place, *changed);
        }
        found.push_back(place);
    }
    if (found.empty()) nothingFound(places);

    LocatedLibrary library = locatedAt(found[best].kind, found[best].path);
    for (size_t i = 0; i < found.size(); ++i)
        if (i != best) library.passedOver.emplace_back(found[i].kind, found[i].path);
    return library;
}

} // namespace qb
