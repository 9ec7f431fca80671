#include "platform/linux/library/LibraryKind.hpp"

#include "core/common/CaptureError.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace qb {

namespace {

[[noreturn]] void cannotRead(const std::filesystem::path& path, int error) {
    throw CaptureError::libraryUnavailable("cannot read " + path.string() + ": " +
                                           std::strerror(error));
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// The name of the root element, when the head of an XML document shows it: the declaration,
// comments and a document type declaration (without internal subset) come before it.
std::string_view rootElement(std::string_view xml) {
    for (;;) {
        while (!xml.empty() && isSpace(xml.front()))
            xml.remove_prefix(1);
        if (xml.size() < 2 || xml.front() != '<') return {};
        const std::string_view closing = xml.substr(0, 4) == "<!--"       ? "-->"
                                         : xml[1] == '?' || xml[1] == '!' ? ">"
                                                                          : "";
        if (closing.empty()) break;
        const size_t end = xml.find(closing);
        if (end == std::string_view::npos) return {};
        xml.remove_prefix(end + closing.size());
    }
    size_t length = 1;
    while (length < xml.size() && !isSpace(xml[length]) && xml[length] != '>' && xml[length] != '/')
        ++length;
    return xml.substr(1, length - 1);
}

} // namespace

std::string_view libraryKindName(LibraryKind kind) {
    switch (kind) {
    case LibraryKind::rhythmbox:
        return "Rhythmbox";
    case LibraryKind::strawberry:
        return "Strawberry";
    case LibraryKind::libraryExport:
        return "Library.xml export";
    case LibraryKind::jsonFixture:
        return "JSON fixture";
    }
    return "library";
}

LibraryKind libraryKindOfFile(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) cannotRead(path, errno);
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        ::close(fd);
        cannotRead(path, EISDIR);
    }
    char head[512];
    ssize_t count;
    do {
        count = ::read(fd, head, sizeof head);
    } while (count < 0 && errno == EINTR);
    const int readError = errno;
    ::close(fd);
    if (count < 0) cannotRead(path, readError);

    std::string_view text(head, static_cast<size_t>(count));
    if (text.substr(0, 16) == std::string_view("SQLite format 3\0", 16))
        return LibraryKind::strawberry;
    if (text.size() >= 2 &&
        ((text[0] == '\xFE' && text[1] == '\xFF') || (text[0] == '\xFF' && text[1] == '\xFE')))
        return LibraryKind::libraryExport; // UTF-16, which only the export reader understands
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    while (!text.empty() && isSpace(text.front()))
        text.remove_prefix(1);
    if (!text.empty() && text.front() == '{') return LibraryKind::jsonFixture;
    if (!text.empty() && text.front() == '<')
        return rootElement(text) == "rhythmdb" ? LibraryKind::rhythmbox
                                               : LibraryKind::libraryExport;
    throw CaptureError::libraryUnavailable(
        path.string() + ": " + (text.empty() ? "the file is empty" : "not a library file") +
        "; expected Rhythmbox's rhythmdb.xml, Strawberry's strawberry.db, an exported "
        "Library.xml or a JSON library fixture");
}

} // namespace qb
