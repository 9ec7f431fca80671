#pragma once

#include <cstdint>

namespace qb {

// Resident memory of this process in bytes (from /proc/self/statm); 0 when it cannot be read.
uint64_t currentResidentBytes();

} // namespace qb
