#pragma once

#include <cstdint>
#include <filesystem>

namespace qb {

// An advisory lock on a file; the kernel drops it with the process, so a crash never blocks.
class SingleInstanceGuard {
  public:
    SingleInstanceGuard() = default;
    ~SingleInstanceGuard() { release(); }
    SingleInstanceGuard(const SingleInstanceGuard&) = delete;
    SingleInstanceGuard& operator=(const SingleInstanceGuard&) = delete;

    // True when this process may go on: the lock was taken, or the file could not be opened.
    bool acquire(const std::filesystem::path& lockFileURL);
    void release();
    int32_t fileDescriptor() const { return fileDescriptor_; }

  private:
    int32_t fileDescriptor_ = -1;
};

} // namespace qb
