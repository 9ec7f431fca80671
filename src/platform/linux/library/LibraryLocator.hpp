#pragma once

#include "platform/linux/library/LibraryKind.hpp"

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace qb {

// Names the library file, of any of the four kinds; it wins over every place searched.
inline constexpr const char* libraryFileVariable = "QUILLABRENTA_LIBRARY";

// The library the scans read, and how to notice that it changed.
struct LocatedLibrary {
    LibraryKind kind = LibraryKind::rhythmbox;
    std::filesystem::path path;
    // Watch this folder, not the file: the players replace the file by rename. A name in
    // `watchNames` created, written (inotify IN_MODIFY: Strawberry keeps its database open,
    // so no close follows its writes) or renamed onto (IN_MOVED_TO: Rhythmbox's save) means
    // the library changed. For Strawberry that is the database and its "-wal" (where a WAL
    // database commits); the "-journal" and "-shm" files come and go with every write and
    // read, our own scan's included, so they are left out.
    std::filesystem::path watchFolder;
    std::vector<std::string> watchNames;
    // Named by QUILLABRENTA_LIBRARY rather than found.
    bool named = false;
    // Libraries found but not chosen.
    std::vector<std::pair<LibraryKind, std::filesystem::path>> passedOver;

    // One line for the diagnostics, e.g.
    // "Rhythmbox library /home/u/.local/share/rhythmbox/rhythmdb.xml".
    std::string description() const;

    bool operator==(const LocatedLibrary&) const = default;
};

// Finds the library from the environment at the time of the call: the file that
// QUILLABRENTA_LIBRARY names (its kind told by its content); otherwise Rhythmbox's and
// Strawberry's libraries under $XDG_DATA_HOME (default ~/.local/share), in Flatpak's data
// folders and at Rhythmbox's pre-2011 place; otherwise an exported Library.xml in the music
// folder (~/Music, and the XDG music folder where user-dirs.dirs moves it). Of several, a
// player's library comes before an export and, among equals, the one changed most recently.
// Throws CaptureError::libraryUnavailable saying what was looked for where when nothing is
// found, or when the named file cannot be read.
LocatedLibrary locateLibrary();

} // namespace qb
