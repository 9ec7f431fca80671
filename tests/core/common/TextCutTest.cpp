#include "core/common/TextCut.hpp"

#include <gtest/gtest.h>

#include <string>

namespace qb {
namespace {

std::string repeat(const std::string& unit, size_t count) {
    std::string out;
    for (size_t i = 0; i < count; ++i)
        out += unit;
    return out;
}

TEST(TextCut, KeepsShortTextsWhole) {
    EXPECT_EQ(firstCharacters("", 500), "");
    EXPECT_EQ(firstCharacters("Queen", 500), "Queen");
    EXPECT_EQ(firstCharacters("Björk", 5), "Björk");
    EXPECT_EQ(firstCharacters("  padded  ", 500), "  padded  ");
}

TEST(TextCut, CountsCharactersNotBytes) {
    // 600 two-byte letters: 1200 bytes, cut to 500 letters.
    const std::string text = repeat("é", 600);
    const std::string cut = firstCharacters(text, 500);
    EXPECT_EQ(cut, repeat("é", 500));
    EXPECT_EQ(firstCharacters(repeat("a", 600), 500), repeat("a", 500));
    EXPECT_EQ(firstCharacters(repeat("夜", 3) + "x", 3), repeat("夜", 3));
}

TEST(TextCut, KeepsCombiningMarksWithTheirBase) {
    const std::string decomposed = "e\xCC\x81"; // e + COMBINING ACUTE ACCENT
    EXPECT_EQ(firstCharacters(repeat(decomposed, 600), 500), repeat(decomposed, 500));
    // A letter with many marks is still one character.
    const std::string heavy = "a\xCC\x81\xCC\x82\xCC\x83\xCC\x84";
    EXPECT_EQ(firstCharacters(heavy + "b" + "c", 2), heavy + "b");
}

TEST(TextCut, KeepsEmojiSequencesWhole) {
    const std::string family = "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F"
                               "\x91\xA7";                        // man ZWJ woman ZWJ girl
    const std::string flag = "\xF0\x9F\x87\xAF\xF0\x9F\x87\xB5";  // regional indicators J P
    const std::string thumb = "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD"; // thumbs up + skin tone
    EXPECT_EQ(firstCharacters(family + flag + thumb, 1), family);
    EXPECT_EQ(firstCharacters(family + flag + thumb, 2), family + flag);
    EXPECT_EQ(firstCharacters(repeat(flag, 501), 500), repeat(flag, 500));
    EXPECT_EQ(firstCharacters("\r\nx", 1), "\r\n");
}

TEST(TextCut, RepairsIllFormedUTF8) {
    EXPECT_EQ(firstCharacters("a\xFF"
                              "b",
                              500),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(firstCharacters("\xC3", 500), "\xEF\xBF\xBD"); // truncated sequence
    EXPECT_EQ(firstCharacters("\xED\xA0\x80", 500).find('\xED'), std::string::npos); // surrogate
    EXPECT_EQ(firstCharacters("\xC0\xAF", 500).find('\xC0'), std::string::npos);     // overlong
    // Long ill-formed texts are repaired and then cut.
    const std::string cut = firstCharacters(repeat("\x80", 700), 500);
    EXPECT_EQ(cut, repeat("\xEF\xBF\xBD", 500));
    const std::string mixed = firstCharacters(repeat("x\xF0\x9F", 400), 500);
    EXPECT_EQ(mixed, repeat("x\xEF\xBF\xBD", 250));
}

TEST(TextCut, KeepsEmbeddedNulls) {
    const std::string text("a\0b", 3);
    EXPECT_EQ(firstCharacters(text, 500), text);
}

} // namespace
} // namespace qb
