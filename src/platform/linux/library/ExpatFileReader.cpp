#include "platform/linux/library/ExpatFileReader.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qb {

namespace {

constexpr int readChunkBytes = 256 * 1024;

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

std::string position(XML_Parser parser) {
    return " at line " + std::to_string(XML_GetCurrentLineNumber(parser)) + ", column " +
           std::to_string(XML_GetCurrentColumnNumber(parser) + 1);
}

} // namespace

ExpatFileReader::ExpatFileReader() : parser_(XML_ParserCreate(nullptr)) {
    if (!parser_) return;
    XML_SetUserData(parser_, this);
    XML_SetEntityDeclHandler(parser_, [](void* data, const XML_Char*, int, const XML_Char*, int,
                                         const XML_Char*, const XML_Char*, const XML_Char*,
                                         const XML_Char*) {
        // Entities are the vehicle of expansion attacks; library files never declare any.
        static_cast<ExpatFileReader*>(data)->fail("entity declarations are not allowed");
    });
    XML_SetSkippedEntityHandler(parser_, [](void* data, const XML_Char* name, int) {
        // Library files use character references only; an unknown entity would drop text.
        static_cast<ExpatFileReader*>(data)->fail(std::string("reference to undefined entity &") +
                                                  name + ";");
    });
}

ExpatFileReader::~ExpatFileReader() {
    if (parser_) XML_ParserFree(parser_);
}

void ExpatFileReader::fail(const std::string& message) {
    if (failed()) return;
    error_ = message + position(parser_);
    XML_StopParser(parser_, XML_FALSE);
}

std::string ExpatFileReader::parseFile(const std::filesystem::path& path) {
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) return std::string("cannot read: ") + std::strerror(errno);
    struct stat info {};
    if (::fstat(file.get(), &info) == 0 && S_ISDIR(info.st_mode))
        return "cannot read: it is a directory";
    if (!parser_) return "cannot create an XML parser";
    if (info.st_size > 0) sized(static_cast<uint64_t>(info.st_size));

    bool sawBytes = false;
    for (;;) {
        void* buffer = XML_GetBuffer(parser_, readChunkBytes);
        if (!buffer) return "out of memory while reading";
        const ssize_t count = ::read(file.get(), buffer, readChunkBytes);
        if (count < 0) {
            if (errno == EINTR) continue;
            return std::string("cannot read: ") + std::strerror(errno);
        }
        const bool last = count == 0;
        // A crash between the player's write and its rename can leave an empty file.
        if (last && !sawBytes) return "the file is empty";
        sawBytes = true;
        if (XML_ParseBuffer(parser_, static_cast<int>(count), last) != XML_STATUS_OK) {
            if (failed()) return error_;
            return XML_ErrorString(XML_GetErrorCode(parser_)) + position(parser_);
        }
        if (last) return error_;
    }
}

} // namespace qb
