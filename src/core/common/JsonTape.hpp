#pragma once

// A parsed JSON document kept as one flat list of tokens over one text buffer. Reading a large
// state file this way costs a small fraction of the allocations of a DOM. The readers follow
// JsonFields: a required key must be present, not null and of the right type; an optional key
// may be missing or null; unknown keys are ignored; failures throw DecodeError with the same texts.

#include "core/common/JsonFields.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qb {

class JsonTape {
  public:
    class Value;

    // Throws DecodeError("malformed JSON: ...") on malformed input.
    static JsonTape parse(std::string_view text);
    Value root() const;

  private:
    enum class Kind : uint8_t {
        beginObject,
        endObject,
        beginArray,
        endArray,
        key,
        string,
        integer,
        hugeInteger, // above the signed 64-bit range
        fraction,
        boolean,
        null
    };
    struct Token {
        Kind kind;
        bool flag = false;    // boolean value
        uint32_t length = 0;  // text length (key, string) or number of members or elements
        uint64_t payload = 0; // text offset, integer bits, or the index of the matching end token
    };
    friend class JsonTapeBuilder;

    std::vector<Token> tokens_;
    std::string text_;
};

// A view of one value inside a tape; valid while the tape lives.
class JsonTape::Value {
  public:
    bool isNull() const { return token().kind == Kind::null; }
    bool isObject() const { return token().kind == Kind::beginObject; }
    bool isArray() const { return token().kind == Kind::beginArray; }
    // Members of an object or elements of an array.
    size_t size() const;

    // key names the value in error texts.
    int64_t asInt(std::string_view key) const;
    std::string asString(std::string_view key) const;
    bool asBool(std::string_view key) const;

    const Value& requireObject(std::string_view what) const;
    // Null counts as absent; of repeated keys the last one counts.
    std::optional<Value> find(std::string_view key) const;
    Value require(std::string_view key) const;
    int64_t requireInt(std::string_view key) const;
    std::string requireString(std::string_view key) const;
    bool requireBool(std::string_view key) const;
    Value requireArray(std::string_view key) const;
    std::optional<int64_t> optionalInt(std::string_view key) const;

    // f(std::string_view key, Value value) for each member, in document order.
    template <typename F> void forEachMember(F&& f) const {
        if (!isObject()) return;
        for (size_t i = index_ + 1; tape_->tokens_[i].kind == Kind::key; i = after(i + 1))
            f(text(i), Value(*tape_, i + 1));
    }
    // f(Value element) for each element, in order.
    template <typename F> void forEachElement(F&& f) const {
        if (!isArray()) return;
        for (size_t i = index_ + 1; tape_->tokens_[i].kind != Kind::endArray; i = after(i))
            f(Value(*tape_, i));
    }

  private:
    friend class JsonTape;
    Value(const JsonTape& tape, size_t index) : tape_(&tape), index_(index) {}
    const Token& token() const { return tape_->tokens_[index_]; }
    std::string_view text(size_t index) const;
    // The index just past the value that starts at index.
    size_t after(size_t index) const;

    const JsonTape* tape_;
    size_t index_;
};

} // namespace qb
