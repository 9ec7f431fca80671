#include "app/CommandLine.hpp"

#include <algorithm>

namespace qb::app {

std::optional<std::string> argument(const std::vector<std::string>& arguments,
                                    std::string_view after) {
    auto it = std::find(arguments.begin(), arguments.end(), after);
    if (it == arguments.end() || it + 1 == arguments.end()) return std::nullopt;
    return *(it + 1);
}

bool hasArgument(const std::vector<std::string>& arguments, std::string_view flag) {
    return std::find(arguments.begin(), arguments.end(), flag) != arguments.end();
}

} // namespace qb::app
