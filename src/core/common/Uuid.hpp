#pragma once

#include <string>

namespace qb {

// A random (version 4) UUID in its lower-case 36-character text form.
std::string makeUuidV4();

} // namespace qb
