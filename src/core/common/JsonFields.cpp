#include "core/common/JsonFields.hpp"

#include <limits>

namespace qb::json {

namespace {
[[noreturn]] void fail(std::string_view key, std::string_view expectation) {
    throw DecodeError("value for key \"" + std::string(key) + "\" " + std::string(expectation));
}
} // namespace

const Json& requireObject(const Json& value, std::string_view what) {
    if (!value.is_object()) throw DecodeError(std::string(what) + " is not a JSON object");
    return value;
}

const Json* find(const Json& object, std::string_view key) {
    if (!object.is_object()) return nullptr;
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) return nullptr;
    return &*it;
}

const Json& require(const Json& object, std::string_view key) {
    if (!object.is_object())
        throw DecodeError("expected a JSON object holding \"" + std::string(key) + "\"");
    auto it = object.find(key);
    if (it == object.end()) throw DecodeError("no value for key \"" + std::string(key) + "\"");
    if (it->is_null()) fail(key, "is null");
    return *it;
}

int64_t asInt(const Json& value, std::string_view key) {
    if (value.is_number_unsigned()) {
        if (value.get<uint64_t>() > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
            fail(key, "does not fit a 64-bit signed integer");
        return static_cast<int64_t>(value.get<uint64_t>());
    }
    if (value.is_number_integer()) return value.get<int64_t>();
    fail(key, "is not an integer");
}

uint64_t asUInt(const Json& value, std::string_view key) {
    if (value.is_number_unsigned()) return value.get<uint64_t>();
    if (value.is_number_integer()) fail(key, "is negative");
    fail(key, "is not an unsigned integer");
}

std::string asString(const Json& value, std::string_view key) {
    if (!value.is_string()) fail(key, "is not a string");
    return value.get<std::string>();
}

bool asBool(const Json& value, std::string_view key) {
    if (!value.is_boolean()) fail(key, "is not a boolean");
    return value.get<bool>();
}

int64_t requireInt(const Json& object, std::string_view key) {
    return asInt(require(object, key), key);
}
uint64_t requireUInt(const Json& object, std::string_view key) {
    return asUInt(require(object, key), key);
}
std::string requireString(const Json& object, std::string_view key) {
    return asString(require(object, key), key);
}
bool requireBool(const Json& object, std::string_view key) {
    return asBool(require(object, key), key);
}

const Json& requireArray(const Json& object, std::string_view key) {
    const Json& value = require(object, key);
    if (!value.is_array()) fail(key, "is not an array");
    return value;
}

std::optional<int64_t> optionalInt(const Json& object, std::string_view key) {
    const Json* value = find(object, key);
    if (!value) return std::nullopt;
    return asInt(*value, key);
}

std::optional<std::string> optionalString(const Json& object, std::string_view key) {
    const Json* value = find(object, key);
    if (!value) return std::nullopt;
    return asString(*value, key);
}

std::string dump(const Json& value) {
    try {
        return value.dump();
    } catch (const nlohmann::json::exception& e) {
        throw DecodeError(std::string("cannot encode JSON: ") + e.what());
    }
}

Json parse(std::string_view text) {
    // The parser treats a NUL byte as the end of input and would accept what precedes it.
    if (auto nul = text.find('\0'); nul != std::string_view::npos)
        throw DecodeError("malformed JSON: NUL byte at offset " + std::to_string(nul));
    try {
        return Json::parse(text.begin(), text.end());
    } catch (const nlohmann::json::exception& e) {
        // Also out_of_range, which the parser raises for numbers such as 1e400.
        throw DecodeError(std::string("malformed JSON: ") + e.what());
    }
}

} // namespace qb::json
