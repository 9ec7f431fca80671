#include "core/common/JsonTape.hpp"

#include "core/common/HugePages.hpp"

#include <limits>

namespace qb {

namespace {
[[noreturn]] void fail(std::string_view key, std::string_view expectation) {
    throw DecodeError("value for key \"" + std::string(key) + "\" " + std::string(expectation));
}
} // namespace

// Receives the parser's events and appends one token per event.
class JsonTapeBuilder : public nlohmann::json_sax<Json> {
  public:
    explicit JsonTapeBuilder(JsonTape& tape) : tape_(tape) {}

    bool null() override { return scalar({JsonTape::Kind::null}); }
    bool boolean(bool value) override { return scalar({JsonTape::Kind::boolean, value}); }
    bool number_integer(number_integer_t value) override {
        return scalar({JsonTape::Kind::integer, false, 0, static_cast<uint64_t>(value)});
    }
    bool number_unsigned(number_unsigned_t value) override {
        if (value > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
            return scalar({JsonTape::Kind::hugeInteger});
        return scalar({JsonTape::Kind::integer, false, 0, value});
    }
    bool number_float(number_float_t, const string_t&) override {
        return scalar({JsonTape::Kind::fraction});
    }
    bool string(string_t& value) override {
        return scalar(textToken(JsonTape::Kind::string, value));
    }
    bool binary(binary_t&) override { return false; }
    bool key(string_t& value) override {
        ++tape_.tokens_[open_.back()].length;
        tape_.tokens_.push_back(textToken(JsonTape::Kind::key, value));
        return true;
    }
    bool start_object(std::size_t) override { return begin(JsonTape::Kind::beginObject); }
    bool end_object() override { return end(JsonTape::Kind::endObject); }
    bool start_array(std::size_t) override { return begin(JsonTape::Kind::beginArray); }
    bool end_array() override { return end(JsonTape::Kind::endArray); }
    bool parse_error(std::size_t, const std::string&,
                     const nlohmann::detail::exception& error) override {
        error_ = std::string("malformed JSON: ") + error.what();
        return false;
    }

    const std::string& error() const { return error_; }

  private:
    void countElement() {
        if (!open_.empty() && tape_.tokens_[open_.back()].kind == JsonTape::Kind::beginArray)
            ++tape_.tokens_[open_.back()].length;
    }
    bool scalar(JsonTape::Token token) {
        countElement();
        tape_.tokens_.push_back(token);
        return true;
    }
    JsonTape::Token textToken(JsonTape::Kind kind, const std::string& value) {
        if (value.size() > std::numeric_limits<uint32_t>::max())
            throw DecodeError("malformed JSON: a text longer than 4 GiB");
        JsonTape::Token token{kind, false, static_cast<uint32_t>(value.size()), tape_.text_.size()};
        tape_.text_ += value;
        return token;
    }
    bool begin(JsonTape::Kind kind) {
        countElement();
        open_.push_back(tape_.tokens_.size());
        tape_.tokens_.push_back({kind});
        return true;
    }
    bool end(JsonTape::Kind kind) {
        tape_.tokens_[open_.back()].payload = tape_.tokens_.size();
        open_.pop_back();
        tape_.tokens_.push_back({kind});
        return true;
    }

    JsonTape& tape_;
    std::vector<size_t> open_;
    std::string error_;
};

JsonTape JsonTape::parse(std::string_view text) {
    JsonTape tape;
    // The texts never outgrow the input, and a state file holds about one token per 7 to 30
    // bytes. Reserving for the densest case means no regrowth, which would copy tens of
    // megabytes for a large file; pages that stay unused cost no memory.
    reserveWithHugePages(tape.text_, text.size());
    reserveWithHugePages(tape.tokens_, text.size() / 6 + 16);
    JsonTapeBuilder builder(tape);
    if (!Json::sax_parse(text.begin(), text.end(), &builder)) {
        throw DecodeError(builder.error().empty() ? "malformed JSON" : builder.error());
    }
    return tape;
}

JsonTape::Value JsonTape::root() const {
    return Value(*this, 0);
}

std::string_view JsonTape::Value::text(size_t index) const {
    const Token& t = tape_->tokens_[index];
    return std::string_view(tape_->text_).substr(t.payload, t.length);
}

size_t JsonTape::Value::after(size_t index) const {
    const Token& t = tape_->tokens_[index];
    if (t.kind == Kind::beginObject || t.kind == Kind::beginArray) return t.payload + 1;
    return index + 1;
}

size_t JsonTape::Value::size() const {
    return isObject() || isArray() ? token().length : 0;
}

int64_t JsonTape::Value::asInt(std::string_view key) const {
    switch (token().kind) {
    case Kind::integer:
        return static_cast<int64_t>(token().payload);
    case Kind::hugeInteger:
        fail(key, "does not fit a 64-bit signed integer");
    default:
        fail(key, "is not an integer");
    }
}

std::string JsonTape::Value::asString(std::string_view key) const {
    if (token().kind != Kind::string) fail(key, "is not a string");
    return std::string(text(index_));
}

bool JsonTape::Value::asBool(std::string_view key) const {
    if (token().kind != Kind::boolean) fail(key, "is not a boolean");
    return token().flag;
}

const JsonTape::Value& JsonTape::Value::requireObject(std::string_view what) const {
    if (!isObject()) throw DecodeError(std::string(what) + " is not a JSON object");
    return *this;
}

std::optional<JsonTape::Value> JsonTape::Value::find(std::string_view key) const {
    std::optional<Value> found;
    forEachMember([&](std::string_view name, const Value& value) {
        if (name == key) found = value;
    });
    if (found && found->isNull()) return std::nullopt;
    return found;
}

JsonTape::Value JsonTape::Value::require(std::string_view key) const {
    if (!isObject())
        throw DecodeError("expected a JSON object holding \"" + std::string(key) + "\"");
    std::optional<Value> found;
    forEachMember([&](std::string_view name, const Value& value) {
        if (name == key) found = value;
    });
    if (!found) throw DecodeError("no value for key \"" + std::string(key) + "\"");
    if (found->isNull()) fail(key, "is null");
    return *found;
}

int64_t JsonTape::Value::requireInt(std::string_view key) const {
    return require(key).asInt(key);
}

std::string JsonTape::Value::requireString(std::string_view key) const {
    return require(key).asString(key);
}

bool JsonTape::Value::requireBool(std::string_view key) const {
    return require(key).asBool(key);
}

JsonTape::Value JsonTape::Value::requireArray(std::string_view key) const {
    Value value = require(key);
    if (!value.isArray()) fail(key, "is not an array");
    return value;
}

std::optional<int64_t> JsonTape::Value::optionalInt(std::string_view key) const {
    std::optional<Value> value = find(key);
    if (!value) return std::nullopt;
    return value->asInt(key);
}

} // namespace qb
