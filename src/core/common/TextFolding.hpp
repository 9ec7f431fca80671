#pragma once

#include <string>

namespace qb {

// Locale-free folding of letter case, diacritics and character width, then trimming of
// white space and line ends at both ends. Used wherever artist and title are compared.
std::string foldForMatching(const std::string& text);

// Removes white space and line ends (Unicode) at both ends.
std::string trimWhitespaceAndNewlines(const std::string& text);

} // namespace qb
