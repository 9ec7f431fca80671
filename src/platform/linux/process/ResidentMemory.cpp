#include "platform/linux/process/ResidentMemory.hpp"

#include <cstdio>
#include <unistd.h>

namespace qb {

uint64_t currentResidentBytes() {
    FILE* f = std::fopen("/proc/self/statm", "r");
    if (!f) return 0;
    unsigned long long size = 0, resident = 0;
    int fields = std::fscanf(f, "%llu %llu", &size, &resident);
    std::fclose(f);
    long page = ::sysconf(_SC_PAGESIZE);
    if (fields != 2 || page <= 0) return 0;
    return static_cast<uint64_t>(resident) * static_cast<uint64_t>(page);
}

} // namespace qb
