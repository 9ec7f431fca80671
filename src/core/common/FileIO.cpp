#include "core/common/FileIO.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace qb::fileio {

namespace {
[[noreturn]] void failErrno(const std::string& what, const std::filesystem::path& path, int error) {
    throw FileError(what + " \"" + path.string() + "\": " + std::strerror(error));
}

class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

  private:
    int fd_;
};

std::string temporaryName(const std::filesystem::path& path) {
    static thread_local std::mt19937_64 random{std::random_device{}()};
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".%016llx.tmp", static_cast<unsigned long long>(random()));
    return path.string() + suffix;
}
} // namespace

std::string readWholeFile(const std::filesystem::path& path) {
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) failErrno("cannot open", path, errno);
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) failErrno("cannot inspect", path, errno);
    if (S_ISDIR(info.st_mode)) failErrno("cannot read", path, EISDIR);
    std::string bytes;
    // The slack lets a SIMD parser read past the end without copying the text.
    if (info.st_size > 0) bytes.reserve(static_cast<size_t>(info.st_size) + 64);
    char buffer[1 << 16];
    for (;;) {
        ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            failErrno("cannot read", path, errno);
        }
        if (n == 0) break;
        bytes.append(buffer, static_cast<size_t>(n));
    }
    return bytes;
}

void writeAtomically(const std::filesystem::path& path, std::string_view bytes) {
    const std::string temporary = temporaryName(path);
    Descriptor fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (fd.get() < 0) failErrno("cannot create", temporary, errno);
    auto abandon = [&](const std::string& what, int error) {
        ::close(fd.release());
        ::unlink(temporary.c_str());
        failErrno(what, temporary, error);
    };
    size_t written = 0;
    while (written < bytes.size()) {
        ssize_t n = ::write(fd.get(), bytes.data() + written, bytes.size() - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            abandon("cannot write", errno);
        }
        written += static_cast<size_t>(n);
    }
    if (::fsync(fd.get()) != 0) abandon("cannot flush", errno);
    if (::close(fd.release()) != 0) {
        int error = errno;
        ::unlink(temporary.c_str());
        failErrno("cannot close", temporary, error);
    }
    try {
        moveOver(temporary, path);
    } catch (const FileError&) {
        ::unlink(temporary.c_str());
        throw;
    }
}

void moveOver(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) failErrno("cannot replace", to, errno);
    // Make the rename itself durable.
    Descriptor directory(::open(to.parent_path().empty() ? "." : to.parent_path().c_str(),
                                O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.get() >= 0) ::fsync(directory.get());
}

bool exists(const std::filesystem::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

void removeIfExists(const std::filesystem::path& path) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) failErrno("cannot delete", path, errno);
}

void createDirectoriesQuietly(const std::filesystem::path& directory) {
    std::error_code ignored;
    std::filesystem::create_directories(directory, ignored);
}

} // namespace qb::fileio
