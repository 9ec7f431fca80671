#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <variant>

namespace qb {

// One value of the player's user-info map as bridged from the platform. Booleans stay apart
// from numbers so that a flag never reads as a length or an identifier; std::monostate stands
// for any value of another type.
using PlayerInfoValue = std::variant<std::monostate, int64_t, double, std::string, bool>;

using PlayerInfo = std::map<std::string, PlayerInfoValue>;

} // namespace qb
