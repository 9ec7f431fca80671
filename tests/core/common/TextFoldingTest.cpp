#include "core/common/TextFolding.hpp"

#include <gtest/gtest.h>

using namespace qb;

TEST(TextFolding, FoldsWidthCaseAndDiacritics) {
    EXPECT_EQ(foldForMatching("ＡＢＣ"), "abc");
    EXPECT_EQ(foldForMatching("ＡＢＣ"), foldForMatching("abc"));
    EXPECT_EQ(foldForMatching("Beyoncé"), "beyonce");
    EXPECT_EQ(foldForMatching("BEYONCE\u0301"), "beyonce"); // decomposed accent
    EXPECT_EQ(foldForMatching("Ｂｅｙｏｎｃé"), "beyonce");
    EXPECT_EQ(foldForMatching("Mötley Crüe"), "motley crue");
    EXPECT_EQ(foldForMatching("Sigur Rós"), foldForMatching("SIGUR ROS"));
}

TEST(TextFolding, HalfWidthKatakanaMatchesUsualForm) {
    // Half-width "ｶﾞ" carries its voiced mark separately; both forms lose the mark.
    EXPECT_EQ(foldForMatching("ｶﾞｷﾞ"), foldForMatching("ガギ"));
    EXPECT_EQ(foldForMatching("ｱｲｳ"), "アイウ");
}

TEST(TextFolding, SharpSFoldsToDoubleS) {
    // Full case folding: ß and capital ẞ both become "ss".
    EXPECT_EQ(foldForMatching("Straße"), "strasse");
    EXPECT_EQ(foldForMatching("STRASSE"), foldForMatching("Straße"));
    EXPECT_EQ(foldForMatching("\u1E9E"), "ss");
}

TEST(TextFolding, GreekAndCyrillicCase) {
    EXPECT_EQ(foldForMatching("ΣΟΦΊΑ"), foldForMatching("σοφια"));
    EXPECT_EQ(foldForMatching("ὈΔΥΣΣΕΎΣ"), foldForMatching("οδυσσευς")); // final sigma
    EXPECT_EQ(foldForMatching("ПРИВЕТ"), "привет");
    EXPECT_EQ(foldForMatching("Ёлка"), foldForMatching("елка"));
}

TEST(TextFolding, KeepsOtherCompatibilityFormsAndHangul) {
    EXPECT_NE(foldForMatching("x²"), foldForMatching("x2")); // superscript is not a width form
    EXPECT_EQ(foldForMatching("한국"), "한국");              // composed again after NFD
    EXPECT_EQ(foldForMatching("İstanbul"), foldForMatching("istanbul")); // no Turkic rule
}

TEST(TextFolding, TrimsWhitespaceAndLineEndsAfterFolding) {
    EXPECT_EQ(foldForMatching("  Abc \n"), "abc");
    EXPECT_EQ(foldForMatching("\t\r\nAbc\u00A0\u2028"), "abc");
    EXPECT_EQ(foldForMatching("\u3000ＡＢＣ\u3000"), "abc"); // ideographic space
    EXPECT_EQ(foldForMatching("a  b"), "a  b");              // inner space kept
    EXPECT_EQ(foldForMatching(""), "");
    EXPECT_EQ(foldForMatching(" \n "), "");
}

TEST(TextFolding, TrimLeavesInnerTextUntouched) {
    EXPECT_EQ(trimWhitespaceAndNewlines("  Ab C\n"), "Ab C");
    EXPECT_EQ(trimWhitespaceAndNewlines("\u2003Beyoncé\u0085"), "Beyoncé");
    EXPECT_EQ(trimWhitespaceAndNewlines("\u200B x"), "\u200B x"); // zero-width space is not white
    EXPECT_EQ(trimWhitespaceAndNewlines(" \xFF x \xC3"), "\xFF x \xC3");
    EXPECT_EQ(trimWhitespaceAndNewlines("\n\t "), "");
}

TEST(TextFolding, InvalidUtf8IsSafe) {
    const std::string broken[] = {"\xFF",       "abc\xC3",          "\xE2\x82",
                                  "\x80\x80 x", "\xF4\x90\x80\x80", std::string("a\0b", 3)};
    for (const auto& text : broken) {
        std::string folded = foldForMatching(text);
        EXPECT_EQ(foldForMatching(folded), folded) << "folding is idempotent";
    }
    EXPECT_EQ(foldForMatching("A\xFF"), "a\uFFFD");
}
