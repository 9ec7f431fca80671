#include "core/common/SingleInstanceGuard.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace qb {

bool SingleInstanceGuard::acquire(const std::filesystem::path& lockFileURL) {
    release();
    int fd = ::open(lockFileURL.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return true;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    fileDescriptor_ = fd;
    return true;
}

void SingleInstanceGuard::release() {
    if (fileDescriptor_ < 0) return;
    ::flock(fileDescriptor_, LOCK_UN);
    ::close(fileDescriptor_);
    fileDescriptor_ = -1;
}

} // namespace qb
