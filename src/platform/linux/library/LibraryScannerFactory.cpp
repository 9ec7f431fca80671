#include "platform/linux/library/LibraryScannerFactory.hpp"

#include "core/common/CaptureError.hpp"
#include "core/library/ITunesLibraryScanner.hpp"
#include "platform/linux/library/JsonLibrarySource.hpp"
#include "platform/linux/library/PlistLibrarySource.hpp"
#include "platform/linux/process/ResidentMemory.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qb {

namespace {

enum class LibraryFormat { json, propertyList };

[[noreturn]] void cannotRead(const std::filesystem::path& path, int error) {
    throw CaptureError::libraryUnavailable("cannot read " + path.string() + ": " +
                                           std::strerror(error));
}

LibraryFormat sniff(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) cannotRead(path, errno);
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        ::close(fd);
        cannotRead(path, EISDIR);
    }
    unsigned char head[512];
    ssize_t count;
    do {
        count = ::read(fd, head, sizeof head);
    } while (count < 0 && errno == EINTR);
    const int readError = errno;
    ::close(fd);
    if (count < 0) cannotRead(path, readError);

    size_t i = 0;
    const auto length = static_cast<size_t>(count);
    if (length >= 2 &&
        ((head[0] == 0xFE && head[1] == 0xFF) || (head[0] == 0xFF && head[1] == 0xFE)))
        return LibraryFormat::propertyList; // UTF-16, which only the XML reader understands
    if (length >= 3 && head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF) i = 3;
    while (i < length && (head[i] == ' ' || head[i] == '\t' || head[i] == '\n' || head[i] == '\r'))
        ++i;
    if (i < length && head[i] == '{') return LibraryFormat::json;
    if (i < length && head[i] == '<') return LibraryFormat::propertyList;
    throw CaptureError::libraryUnavailable(
        path.string() + ": " + (i == length ? "the file is empty" : "not a library file") +
        "; expected an exported Library.xml or a JSON library fixture");
}

} // namespace

std::unique_ptr<LibrarySource> openLibraryFile(const std::filesystem::path& path) {
    if (sniff(path) == LibraryFormat::json) return JsonLibrarySource::open(path);
    return std::make_unique<PlistLibrarySource>(path);
}

std::unique_ptr<LibrarySource> openConfiguredLibrary() {
    const char* path = std::getenv(libraryFileVariable);
    if (path == nullptr || *path == '\0')
        throw CaptureError::libraryUnavailable(
            std::string("no library file: set ") + libraryFileVariable +
            " to the path of an exported Library.xml or a JSON library fixture");
    return openLibraryFile(path);
}

std::unique_ptr<MusicLibraryScanning> makeLibraryScanner() {
    return std::make_unique<ITunesLibraryScanner>(openConfiguredLibrary, currentResidentBytes);
}

} // namespace qb
