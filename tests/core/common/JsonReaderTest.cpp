#include "core/common/JsonReader.hpp"

#include <gtest/gtest.h>

#include <sstream>

using namespace qb;

namespace {

// The outcome of a read as text: the value, or the error message.
template <typename F> std::string outcome(F&& read) {
    try {
        std::ostringstream s;
        s << read();
        return s.str();
    } catch (const DecodeError& e) {
        return std::string("error: ") + e.what();
    }
}

// Reads member `key` of the root object (the last of repeated ones) with `get`, or fails as a
// reader of a required key would when it never comes.
template <typename Get> std::string readMember(const std::string& text, const char* key, Get get) {
    return outcome([&] {
        return jsonread::parse(text, [&](jsonread::Value root) {
            std::optional<std::string> found;
            jsonread::forEachMember(jsonread::asObject(root, "root"),
                                    [&](std::string_view name, jsonread::Value v) {
                                        if (name == key) found = outcome([&] { return get(v); });
                                    });
            if (!found) throw DecodeError("no value for key \"" + std::string(key) + "\"");
            return *found;
        });
    });
}

} // namespace

TEST(JsonReader, ReadsLikeJsonFields) {
    const std::string text = R"({"int":-5,"big":18446744073709551615,"max":9223372036854775807,
        "float":1.5,"text":"caf\u00e9 \ud83c\udfb5","flag":true,"nothing":null,
        "list":[1,[2,{"int":3}]],"object":{"int":4},"int":-6})";
    const Json dom = json::parse(text);
    for (const char* key :
         {"int", "big", "max", "float", "text", "flag", "nothing", "list", "object"}) {
        EXPECT_EQ(readMember(text, key, [&](jsonread::Value v) { return jsonread::asInt(v, key); }),
                  outcome([&] { return json::requireInt(dom, key); }))
            << key;
        EXPECT_EQ(
            readMember(text, key, [&](jsonread::Value v) { return jsonread::asString(v, key); }),
            outcome([&] { return json::requireString(dom, key); }))
            << key;
        EXPECT_EQ(
            readMember(text, key, [&](jsonread::Value v) { return jsonread::asBool(v, key); }),
            outcome([&] { return json::requireBool(dom, key); }))
            << key;
        EXPECT_EQ(readMember(text, key,
                             [&](jsonread::Value v) {
                                 return jsonread::optionalInt(v, key).value_or(-1);
                             }),
                  outcome([&] { return json::optionalInt(dom, key).value_or(-1); }))
            << key;
    }
    EXPECT_EQ(readMember(text, "list",
                         [](jsonread::Value v) {
                             size_t n = 0;
                             jsonread::forEachElement(jsonread::asArray(v, "list"),
                                                      [&](jsonread::Value) { ++n; });
                             return n;
                         }),
              "2");
    EXPECT_EQ(
        readMember(text, "text", [](jsonread::Value v) { return jsonread::asArray(v, "text"), 0; }),
        outcome([&] { return json::requireArray(dom, "text").size(); }));
    EXPECT_EQ(readMember(text, "list",
                         [](jsonread::Value v) { return jsonread::asObject(v, "list"), 0; }),
              "error: list is not a JSON object");
}

TEST(JsonReader, RequiredKeysNameTheFirstMissingOne) {
    static constexpr const char* required[] = {"a", "b", "c"};
    jsonread::RequiredKeys keys(required);
    keys.seen(0);
    keys.seen(2);
    EXPECT_EQ(outcome([&] { return keys.check(), 0; }), "error: no value for key \"b\"");
    keys.seen(1);
    EXPECT_EQ(outcome([&] { return keys.check(), 0; }), "0");
}

TEST(JsonReader, RefusesMalformedText) {
    for (const char* text :
         {"", "{", "{\"a\":}", "{\"a\":1,", "{\"a\":1", "\"\xff\"", "{\"a\":\"\xff\"}"}) {
        try {
            jsonread::parse(text, [](jsonread::Value root) {
                int64_t sum = 0;
                jsonread::forEachMember(jsonread::asObject(root, "root"),
                                        [&](std::string_view key, jsonread::Value v) {
                                            sum += jsonread::asInt(v, key);
                                        });
                return sum;
            });
            ADD_FAILURE() << "parsed: " << text;
        } catch (const DecodeError& e) {
            EXPECT_EQ(std::string(e.what()).rfind("malformed JSON", 0), 0u)
                << text << ": " << e.what();
        }
    }
}
