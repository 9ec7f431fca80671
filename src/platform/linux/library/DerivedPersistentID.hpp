#pragma once

#include <cstdint>
#include <string_view>

namespace qb {

// Rhythmbox and Strawberry keep no 64-bit persistent ID, so one is derived from the key each
// player keeps unique: the 64-bit FNV-1a hash (offset basis 0xcbf29ce484222325, prime
// 0x100000001b3) of the key's bytes with every %XX escape decoded. Decoding first keeps the
// ID when a player rewrites the same URI with another choice of escapes.

// Rhythmbox: the entry's location.
uint64_t derivedPersistentID(std::string_view location);

// Strawberry: the url, "|", and the beginning in decimal nanoseconds (CUE tracks share a url).
uint64_t derivedPersistentID(std::string_view url, int64_t beginning);

} // namespace qb
