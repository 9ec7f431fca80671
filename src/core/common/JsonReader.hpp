#pragma once

// Reads large state files in one forward pass with simdjson's On-Demand API: no document is
// built, values are decoded where the reader asks for them and everything else is skipped.
// On a 27 MB ratings file this takes about a third of the time and three quarters of the
// memory of a token tape built from a SAX parser (bench/state_json_bench). The rules are those
// of JsonFields: a required key must be present, not null and of the right type; an optional
// key may be missing or null; unknown keys are ignored; of repeated keys the last one counts;
// failures throw DecodeError with the same texts.

#include "core/common/JsonFields.hpp"

#include <simdjson.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qb::jsonread {

using Value = simdjson::ondemand::value;
using Object = simdjson::ondemand::object;
using Array = simdjson::ondemand::array;

[[noreturn]] void failMalformed(const simdjson::simdjson_error& error);

// read(Value root) over the whole text; the root's members are read in one pass. A text with
// spare capacity for the parser's padding (as fileio::readWholeFile leaves) is not copied.
// Throws DecodeError("malformed JSON: ...") on malformed input, invalid UTF-8 included.
template <typename F> auto parse(const std::string& text, F&& read) {
    simdjson::padded_string copy;
    simdjson::padded_string_view padded(text.data(), text.size(), text.capacity());
    if (text.capacity() - text.size() < simdjson::SIMDJSON_PADDING) {
        copy = simdjson::padded_string(text);
        padded = copy;
    }
    simdjson::ondemand::parser parser;
    try {
        simdjson::ondemand::document document = parser.iterate(padded);
        return read(document.get_value().value());
    } catch (const simdjson::simdjson_error& error) {
        failMalformed(error);
    }
}

// key names the value in error texts.
int64_t asInt(Value value, std::string_view key);
std::string asString(Value value, std::string_view key);
bool asBool(Value value, std::string_view key);
std::optional<int64_t> optionalInt(Value value, std::string_view key);
Array asArray(Value value, std::string_view key);
Object asObject(Value value, std::string_view what);
// True, having consumed it, when the value is null.
bool takeNull(Value& value);

// f(std::string_view key, Value value) for each member, in document order.
template <typename F> void forEachMember(Object object, F&& f) {
    for (auto field : object) {
        const std::string_view key = field.unescaped_key();
        f(key, field.value().value());
    }
}
// f(Value element) for each element, in order.
template <typename F> void forEachElement(Array array, F&& f) {
    for (auto element : array)
        f(element.value());
}

// The required keys of one object, named by a static array, checked once all its members
// were read.
class RequiredKeys {
  public:
    template <unsigned N>
    explicit RequiredKeys(const char* const (&names)[N]) : names_(names), count_(N) {
        static_assert(N <= 32);
    }
    void seen(unsigned index) { seen_ |= 1u << index; }
    // Throws DecodeError naming the first key that never came.
    void check() const;

  private:
    const char* const* names_;
    unsigned count_;
    unsigned seen_ = 0;
};

} // namespace qb::jsonread
