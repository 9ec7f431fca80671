#include "core/common/JsonTape.hpp"

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

} // namespace

TEST(JsonTape, ReadsLikeJsonFields) {
    const std::string text = R"({"int":-5,"big":18446744073709551615,"max":9223372036854775807,
        "float":1.5,"text":"caf\u00e9 \ud83c\udfb5","flag":true,"nothing":null,
        "list":[1,[2,{"int":3}]],"object":{"int":4}})";
    const Json dom = json::parse(text);
    const JsonTape tape = JsonTape::parse(text);
    const JsonTape::Value root = tape.root();
    for (const char* key :
         {"int", "big", "max", "float", "text", "flag", "nothing", "list", "object", "missing"}) {
        EXPECT_EQ(outcome([&] { return root.requireInt(key); }),
                  outcome([&] { return json::requireInt(dom, key); }))
            << key;
        EXPECT_EQ(outcome([&] { return root.requireString(key); }),
                  outcome([&] { return json::requireString(dom, key); }))
            << key;
        EXPECT_EQ(outcome([&] { return root.requireBool(key); }),
                  outcome([&] { return json::requireBool(dom, key); }))
            << key;
        EXPECT_EQ(outcome([&] { return root.optionalInt(key).value_or(-1); }),
                  outcome([&] { return json::optionalInt(dom, key).value_or(-1); }))
            << key;
        EXPECT_EQ(outcome([&] { return root.requireArray(key).size(); }),
                  outcome([&] { return json::requireArray(dom, key).size(); }))
            << key;
    }
    EXPECT_EQ(root.require("object").requireInt("int"), 4);
    EXPECT_EQ(outcome([&] { return root.require("list").requireInt("int"); }),
              outcome([&] { return json::requireInt(dom["list"], "int"); }));
    EXPECT_THROW(root.require("list").requireObject("list"), DecodeError);
}

TEST(JsonTape, WalksMembersAndElementsInOrder) {
    const JsonTape tape =
        JsonTape::parse(R"({"a":[1,{"x":[2,3]},[]],"b":{"c":{"d":1}},"a":"last","e":[]})");
    const JsonTape::Value root = tape.root();
    EXPECT_EQ(root.size(), 4u);
    std::vector<std::string> keys;
    root.forEachMember(
        [&](std::string_view key, const JsonTape::Value&) { keys.emplace_back(key); });
    EXPECT_EQ(keys, (std::vector<std::string>{"a", "b", "a", "e"}));
    // Of repeated keys the last counts, as in a DOM.
    EXPECT_EQ(root.requireString("a"), "last");
    EXPECT_EQ(root.require("b").require("c").requireInt("d"), 1);
    EXPECT_EQ(root.requireArray("e").size(), 0u);

    const JsonTape list = JsonTape::parse(R"([1,{"x":[2,3]},[],-4])");
    std::vector<int64_t> numbers;
    list.root().forEachElement([&](const JsonTape::Value& v) {
        if (!v.isObject() && !v.isArray()) numbers.push_back(v.asInt("n"));
    });
    EXPECT_EQ(numbers, (std::vector<int64_t>{1, -4}));
    EXPECT_EQ(list.root().size(), 4u);
}

TEST(JsonTape, RefusesMalformedText) {
    for (const char* text : {"", "{", "{\"a\":}", "[1,]", "{} x", "{\"a\":1", "\"\xff\""}) {
        try {
            JsonTape::parse(text);
            ADD_FAILURE() << "parsed: " << text;
        } catch (const DecodeError& e) {
            EXPECT_EQ(std::string(e.what()).rfind("malformed JSON", 0), 0u) << e.what();
        }
    }
}

TEST(JsonTape, DeepNestingIsHandledWithoutRecursion) {
    const std::string text = std::string(100000, '[') + std::string(100000, ']');
    const JsonTape tape = JsonTape::parse(text);
    EXPECT_EQ(tape.root().size(), 1u);
    EXPECT_THROW(tape.root().requireInt("x"), DecodeError);
}
