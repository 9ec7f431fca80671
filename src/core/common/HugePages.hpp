#pragma once

#include <cstddef>

namespace qb {

// Asks for 2 MiB pages under a large buffer that is about to be filled. A big library fills
// tens of megabytes, and thousands of 4 KiB page faults cost more than the parse on some
// machines (virtual ones). Does nothing where the system has no such advice.
void adviseHugePages(void* data, size_t bytes);

// Reserves room for `count` elements and advises huge pages under it.
template <typename Vector> void reserveWithHugePages(Vector& vector, size_t count) {
    vector.reserve(count);
    adviseHugePages(vector.data(), vector.capacity() * sizeof(typename Vector::value_type));
}

} // namespace qb
