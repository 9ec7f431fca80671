#pragma once

#include "core/library/LibrarySource.hpp"
#include "core/library/MusicLibraryScanning.hpp"

#include <filesystem>
#include <memory>

namespace qb {

// Names the library file: an exported "Library.xml" or a JSON library fixture.
inline constexpr const char* libraryFileVariable = "QUILLABRENTA_LIBRARY";

// Opens a library file, telling the two formats apart by their first bytes.
// Throws CaptureError::libraryUnavailable (or LibraryOpenError from a fixture).
std::unique_ptr<LibrarySource> openLibraryFile(const std::filesystem::path& path);

// Opens the file QUILLABRENTA_LIBRARY names at the time of the call.
std::unique_ptr<LibrarySource> openConfiguredLibrary();

// The production scanner: the configured library file, resident memory from the kernel.
std::unique_ptr<MusicLibraryScanning> makeLibraryScanner();

} // namespace qb
