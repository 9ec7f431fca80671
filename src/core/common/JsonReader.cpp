#include "core/common/JsonReader.hpp"

namespace qb::jsonread {

namespace {
[[noreturn]] void fail(std::string_view key, std::string_view expectation) {
    throw DecodeError("value for key \"" + std::string(key) + "\" " + std::string(expectation));
}

using simdjson::ondemand::json_type;

// A required value of the wrong type; null gets its own text, as in JsonFields.
[[noreturn]] void wrongType(Value& value, std::string_view key, std::string_view expectation) {
    if (value.type() == json_type::null) fail(key, "is null");
    fail(key, expectation);
}
// A failed read that is not about the value's type means the text itself is broken (a cut
// file ends in the middle of a value).
void requireTypeError(simdjson::error_code error) {
    if (error != simdjson::INCORRECT_TYPE && error != simdjson::NUMBER_OUT_OF_RANGE)
        throw DecodeError(std::string("malformed JSON: ") + simdjson::error_message(error));
}
} // namespace

void failMalformed(const simdjson::simdjson_error& error) {
    throw DecodeError(std::string("malformed JSON: ") + error.what());
}

// Each getter tries the expected type first: a failed attempt leaves the value unread, so the
// error can still be classified.
int64_t asInt(Value value, std::string_view key) {
    int64_t number = 0;
    const auto error = value.get_int64().get(number);
    if (error == simdjson::SUCCESS) return number;
    requireTypeError(error);
    if (value.type() != json_type::number) wrongType(value, key, "is not an integer");
    if (value.get_number_type().value() == simdjson::ondemand::number_type::unsigned_integer)
        fail(key, "does not fit a 64-bit signed integer");
    fail(key, "is not an integer");
}

std::string asString(Value value, std::string_view key) {
    std::string_view text;
    const auto error = value.get_string().get(text);
    if (error == simdjson::SUCCESS) return std::string(text);
    requireTypeError(error);
    wrongType(value, key, "is not a string");
}

bool asBool(Value value, std::string_view key) {
    bool flag = false;
    const auto error = value.get_bool().get(flag);
    if (error == simdjson::SUCCESS) return flag;
    requireTypeError(error);
    wrongType(value, key, "is not a boolean");
}

std::optional<int64_t> optionalInt(Value value, std::string_view key) {
    if (takeNull(value)) return std::nullopt;
    return asInt(value, key);
}

Array asArray(Value value, std::string_view key) {
    Array array;
    const auto error = value.get_array().get(array);
    if (error == simdjson::SUCCESS) return array;
    requireTypeError(error);
    wrongType(value, key, "is not an array");
}

Object asObject(Value value, std::string_view what) {
    Object object;
    const auto error = value.get_object().get(object);
    if (error == simdjson::SUCCESS) return object;
    requireTypeError(error);
    throw DecodeError(std::string(what) + " is not a JSON object");
}

bool takeNull(Value& value) {
    return value.is_null().value();
}

void RequiredKeys::check() const {
    for (unsigned index = 0; index < count_; ++index)
        if (!(seen_ & (1u << index)))
            throw DecodeError("no value for key \"" + std::string(names_[index]) + "\"");
}

} // namespace qb::jsonread
