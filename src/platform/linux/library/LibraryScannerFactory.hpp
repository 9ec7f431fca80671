#pragma once

#include "core/library/LibrarySource.hpp"
#include "core/library/MusicLibraryScanning.hpp"
#include "platform/linux/library/LibraryLocator.hpp"

#include <filesystem>
#include <memory>

namespace qb {

// The source for a library of the given kind; nothing is read before reloadData (a JSON
// fixture excepted, which may fail to open as the fixture says).
std::unique_ptr<LibrarySource> openLibrary(LibraryKind kind, const std::filesystem::path& path);

// Opens a library file, telling the formats apart by content (see libraryKindOfFile).
// Throws CaptureError::libraryUnavailable (or LibraryOpenError from a fixture).
std::unique_ptr<LibrarySource> openLibraryFile(const std::filesystem::path& path);

// The production scanner: each scan locates the library afresh (locateLibrary), so a player
// installed or a variable set later is seen at the next scan; resident memory from the kernel.
std::unique_ptr<MusicLibraryScanning> makeLibraryScanner();

} // namespace qb
