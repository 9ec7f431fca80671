#pragma once

// Helpers shared by the fuzz targets.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace qb::fuzz {

// The readers that take a path read the input from an in-memory file, so a run touches no disk.
class MemoryFile {
  public:
    MemoryFile(const uint8_t* data, size_t size) : fd_(::memfd_create("fuzz", MFD_CLOEXEC)) {
        for (size_t done = 0; done < size;) {
            const ssize_t n = ::write(fd_, data + done, size - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
    }
    ~MemoryFile() { ::close(fd_); }
    std::filesystem::path path() const { return "/proc/self/fd/" + std::to_string(fd_); }

  private:
    int fd_;
};

inline std::string text(const uint8_t* data, size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}

} // namespace qb::fuzz
