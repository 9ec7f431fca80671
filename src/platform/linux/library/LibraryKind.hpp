#pragma once

#include <filesystem>
#include <string_view>

namespace qb {

enum class LibraryKind { rhythmbox, strawberry, libraryExport, jsonFixture };

// "Rhythmbox", "Strawberry", "Library.xml export", "JSON fixture".
std::string_view libraryKindName(LibraryKind kind);

// Tells the formats apart by their first bytes, whatever the file is called: an SQLite
// header is Strawberry's, an XML document whose root is <rhythmdb> Rhythmbox's, other XML an
// export, and '{' a fixture. Throws CaptureError::libraryUnavailable when the file cannot be
// read, is empty or is none of them.
LibraryKind libraryKindOfFile(const std::filesystem::path& path);

} // namespace qb
