#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qb::app {

// The element right behind the first occurrence of `after` (program path included in the
// search); absent when the flag is missing or last. The value is not validated.
std::optional<std::string> argument(const std::vector<std::string>& arguments,
                                    std::string_view after);
bool hasArgument(const std::vector<std::string>& arguments, std::string_view flag);

} // namespace qb::app
