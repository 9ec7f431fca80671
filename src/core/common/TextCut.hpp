#pragma once

#include <cstddef>
#include <string>

namespace qb {

// The first `count` user-perceived characters (extended grapheme clusters) of `text`.
// Ill-formed UTF-8 is repaired first, each bad sequence becoming U+FFFD, so the result is
// always valid UTF-8 and can be written to JSON.
// A text that needs no change is returned as it came, without copying.
std::string firstCharacters(std::string text, size_t count);

} // namespace qb
