#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qb {

// "qz_" + 16 lower-case hex digits of the 64-bit FNV-1a hash of the parts joined with "|".
// Repeating a computation yields the same identifier, which is what lets queues drop repeats.
std::string stableIdentifier(const std::vector<std::string>& parts);

// A library persistent ID as exactly 16 upper-case hex digits.
std::string formatPersistentID(uint64_t persistentID);

} // namespace qb
