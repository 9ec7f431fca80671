#pragma once

// Strict readers for decoding records: a required key must be present with the right type,
// an optional key may be missing or null, unknown keys are ignored. Failures throw DecodeError.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace qb {

using Json = nlohmann::json;

class DecodeError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

namespace json {

const Json& requireObject(const Json& value, std::string_view what);
const Json& require(const Json& object, std::string_view key);
// Null counts as absent.
const Json* find(const Json& object, std::string_view key);

int64_t asInt(const Json& value, std::string_view key);
uint64_t asUInt(const Json& value, std::string_view key);
std::string asString(const Json& value, std::string_view key);
bool asBool(const Json& value, std::string_view key);

int64_t requireInt(const Json& object, std::string_view key);
uint64_t requireUInt(const Json& object, std::string_view key);
std::string requireString(const Json& object, std::string_view key);
bool requireBool(const Json& object, std::string_view key);
const Json& requireArray(const Json& object, std::string_view key);

std::optional<int64_t> optionalInt(const Json& object, std::string_view key);
std::optional<std::string> optionalString(const Json& object, std::string_view key);

// Compact text; invalid UTF-8 in a string throws instead of being written.
std::string dump(const Json& value);
// Parses a whole document; throws DecodeError with the parser's position on malformed input.
Json parse(std::string_view text);

template <typename T> void putOptional(Json& object, const char* key, const std::optional<T>& v) {
    if (v) object[key] = *v;
}

} // namespace json
} // namespace qb
