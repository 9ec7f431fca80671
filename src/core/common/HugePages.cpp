#include "core/common/HugePages.hpp"

#include <cstdint>
#include <sys/mman.h>

namespace qb {

void adviseHugePages(void* data, size_t bytes) {
#ifdef MADV_HUGEPAGE
    // Only whole huge pages inside the buffer can be advised.
    constexpr uintptr_t huge = uintptr_t{2} << 20;
    const auto start = reinterpret_cast<uintptr_t>(data);
    const uintptr_t begin = (start + huge - 1) & ~(huge - 1);
    const uintptr_t end = (start + bytes) & ~(huge - 1);
    if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)data;
    (void)bytes;
#endif
}

} // namespace qb
