#include "platform/linux/library/LibraryScannerFactory.hpp"

#include "core/library/ITunesLibraryScanner.hpp"
#include "platform/linux/library/JsonLibrarySource.hpp"
#include "platform/linux/library/PlistLibrarySource.hpp"
#include "platform/linux/library/RhythmboxLibrarySource.hpp"
#include "platform/linux/library/StrawberryLibrarySource.hpp"
#include "platform/linux/process/ResidentMemory.hpp"

namespace qb {

std::unique_ptr<LibrarySource> openLibrary(LibraryKind kind, const std::filesystem::path& path) {
    switch (kind) {
    case LibraryKind::rhythmbox:
        return std::make_unique<RhythmboxLibrarySource>(path);
    case LibraryKind::strawberry:
        return std::make_unique<StrawberryLibrarySource>(path);
    case LibraryKind::jsonFixture:
        return JsonLibrarySource::open(path);
    case LibraryKind::libraryExport:
        break;
    }
    return std::make_unique<PlistLibrarySource>(path);
}

std::unique_ptr<LibrarySource> openLibraryFile(const std::filesystem::path& path) {
    return openLibrary(libraryKindOfFile(path), path);
}

std::unique_ptr<MusicLibraryScanning> makeLibraryScanner() {
    return std::make_unique<ITunesLibraryScanner>(
        [] {
            const LocatedLibrary library = locateLibrary();
            return openLibrary(library.kind, library.path);
        },
        currentResidentBytes);
}

} // namespace qb
