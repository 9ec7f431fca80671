#include "core/common/JsonWriter.hpp"
#include "core/common/JsonFields.hpp"

#include <gtest/gtest.h>

using namespace qb;

namespace {
std::string written(std::string_view text) {
    JsonWriter out;
    out.value(text);
    return out.take();
}
} // namespace

TEST(JsonWriter, NestsAndSeparatesLikeCompactDump) {
    JsonWriter out;
    out.beginObject();
    out.key("a");
    out.beginArray();
    out.value(int64_t{1});
    out.beginObject();
    out.endObject();
    out.beginArray();
    out.endArray();
    out.value(true);
    out.endArray();
    out.member("b", INT64_MIN);
    out.member("c", INT64_MAX);
    out.member("d", false);
    out.member("e", "text");
    out.endObject();
    Json expected = {{"a", {1, Json::object(), Json::array(), true}},
                     {"b", INT64_MIN},
                     {"c", INT64_MAX},
                     {"d", false},
                     {"e", "text"}};
    EXPECT_EQ(out.text(), expected.dump());
}

TEST(JsonWriter, EscapesTextsAsDumpDoes) {
    std::string controls;
    for (char c = 0; c < 0x20; ++c)
        controls += c;
    for (const std::string& text :
         {std::string("plain"), std::string("quote \" and \\ backslash"), controls,
          std::string("\x7f"), std::string("caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xb5"),
          std::string("\xef\xbf\xbf\xf4\x8f\xbf\xbf"), std::string()})
        EXPECT_EQ(written(text), Json(text).dump()) << text;
}

TEST(JsonWriter, RefusesInvalidUtf8) {
    for (const std::string& text :
         {std::string("\x80"), std::string("\xc0\x80"), std::string("\xc1\xbf"),
          std::string("\xe0\x80\x80"), std::string("\xed\xa0\x80"), std::string("\xf4\x90\x80\x80"),
          std::string("\xf5\x80\x80\x80"), std::string("ok \xe2\x82"), std::string("\xc3(")}) {
        EXPECT_THROW(written(text), DecodeError) << text;
        EXPECT_THROW(json::dump(Json(text)), DecodeError) << text;
    }
    try {
        written("ab\xff");
        FAIL();
    } catch (const DecodeError& e) {
        EXPECT_STREQ(e.what(), "cannot encode JSON: invalid UTF-8 byte at index 2: 0xFF");
    }
}

TEST(JsonWriter, TextTakenInPiecesJoinsToTheSameDocument) {
    JsonWriter out;
    std::string joined;
    auto flush = [&] {
        joined += out.text();
        out.clear();
    };
    out.beginArray();
    for (int64_t i = 0; i < 3; ++i) {
        out.beginObject();
        flush();
        out.member("n", i);
        flush();
        out.endObject();
        flush();
    }
    out.endArray();
    flush();
    EXPECT_EQ(joined, R"([{"n":0},{"n":1},{"n":2}])");
}
