#include "core/common/UrlQuery.hpp"

#include <gtest/gtest.h>

using namespace qb;
using urlquery::QueryItem;

TEST(UrlQuery, EncodingKeepsOnlyUnreservedCharacters) {
    EXPECT_EQ(urlquery::percentEncode("Az09-._~"), "Az09-._~");
    EXPECT_EQ(urlquery::percentEncode("a b&c=d+e#f%g/h?i"), "a%20b%26c%3Dd%2Be%23f%25g%2Fh%3Fi");
    EXPECT_EQ(urlquery::percentEncode("é🎸"), "%C3%A9%F0%9F%8E%B8");
    EXPECT_EQ(urlquery::percentEncode(std::string("\x00\x01\x7f", 3)), "%00%01%7F");
}

TEST(UrlQuery, AnyTextSurvivesEncodingAndDecoding) {
    const std::vector<std::string> texts = {
        "AC/DC & Friends + 🎸", "a=b=c",      "#hash", "100%", "%41",      "plus+sign",
        " lead trail ",        "こんにちは", "",      "&&&",  "?x=1&y=2", std::string(5000, '&')};
    for (const auto& text : texts) {
        auto query = urlquery::buildQuery({{"artist", text}, {"track", text}});
        auto items = urlquery::parseQuery(query);
        ASSERT_TRUE(items) << text;
        EXPECT_EQ(*items, (std::vector<QueryItem>{{"artist", text}, {"track", text}})) << text;
    }
}

TEST(UrlQuery, DecodingLeavesPlusAndRejectsBrokenEscapes) {
    EXPECT_EQ(urlquery::percentDecode("a+b%2B%2f%3A"), "a+b+/:");
    EXPECT_EQ(urlquery::percentDecode("%e2%82%AC"), "€");
    for (const char* broken :
         {"%", "%4", "%G1", "%4G", "abc%", "%%41", "%FF", "%C3", "%ED%A0%80", "%C0%AF"})
        EXPECT_EQ(urlquery::percentDecode(broken), std::nullopt) << broken;
}

TEST(UrlQuery, ParsingDistinguishesMissingFromEmptyValuesAndKeepsOrder) {
    auto items = urlquery::parseQuery("code&code=&base_url=x%3Dy=z&=v&&last=1");
    ASSERT_TRUE(items);
    EXPECT_EQ(*items, (std::vector<QueryItem>{{"code", std::nullopt},
                                              {"code", ""},
                                              {"base_url", "x=y=z"},
                                              {"", "v"},
                                              {"", std::nullopt},
                                              {"last", "1"}}));
    EXPECT_EQ(urlquery::firstItem(*items, "code")->value, std::nullopt);
    EXPECT_EQ(urlquery::firstItem(*items, "last")->value, "1");
    EXPECT_EQ(urlquery::firstItem(*items, "missing"), nullptr);

    EXPECT_EQ(urlquery::parseQuery(""), std::vector<QueryItem>{});
    EXPECT_EQ(urlquery::parseQuery("a=1&b=%ZZ"), std::nullopt);
    EXPECT_EQ(urlquery::parseQuery("%ZZ=1"), std::nullopt);
}
