#include "core/player/MusicPlayerInfoParser.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using namespace qb;
using Outcome = MusicPlayerInfoOutcome;

namespace {

PlayerInfo playing(PlayerInfo extra = {}) {
    PlayerInfo info{{"Player State", std::string("Playing")},
                    {"Artist", std::string("Alpha")},
                    {"Name", std::string("Beta")}};
    for (auto& [key, value] : extra)
        info[key] = value;
    return info;
}

MusicPlayerInfoSample sampleOf(const PlayerInfo& info) {
    Outcome outcome = MusicPlayerInfoParser::parse(info);
    EXPECT_EQ(outcome.kind, Outcome::Kind::sample);
    return outcome.sample.value_or(MusicPlayerInfoSample{});
}

} // namespace

TEST(MusicPlayerInfoParserTest, StateDecidesTheOutcome) {
    EXPECT_EQ(MusicPlayerInfoParser::parse({{"Player State", std::string("Stopped")}}),
              Outcome::stopped());
    // A stop reads nothing else, even a nameless item.
    EXPECT_EQ(MusicPlayerInfoParser::parse(
                  {{"Player State", std::string(" STOPPED\t")}, {"Artist", int64_t{3}}}),
              Outcome::stopped());
    EXPECT_EQ(MusicPlayerInfoParser::parse({}), Outcome::ignored());
    for (const char* state : {"play", "playing.", "Paused!", "", "stop", "playing\n", "\nplaying"})
        EXPECT_EQ(MusicPlayerInfoParser::parse(playing({{"Player State", std::string(state)}})),
                  Outcome::ignored())
            << state;
    // Non-text states read as empty.
    EXPECT_EQ(MusicPlayerInfoParser::parse(playing({{"Player State", true}})), Outcome::ignored());
    EXPECT_EQ(MusicPlayerInfoParser::parse(playing({{"Player State", int64_t{1}}})),
              Outcome::ignored());
}

TEST(MusicPlayerInfoParserTest, HorizontalWhitespaceAroundTheStateIsTrimmed) {
    EXPECT_TRUE(sampleOf(playing({{"Player State", std::string(" playing\t")}})).playing);
    // No-break space and ideographic space are space separators too.
    EXPECT_TRUE(sampleOf(playing({{"Player State", std::string("\u00A0PLAYING\u3000")}})).playing);
    EXPECT_FALSE(sampleOf(playing({{"Player State", std::string("paused")}})).playing);
}

TEST(MusicPlayerInfoParserTest, PausedSampleWithoutAlbum) {
    MusicPlayerInfoSample s = sampleOf({{"Player State", std::string("Paused")},
                                        {"Artist", std::string("  Alpha ")},
                                        {"Name", std::string("\tBeta\u2003")}});
    EXPECT_EQ(s, (MusicPlayerInfoSample{"Alpha", "Beta", "", false, std::nullopt, ""}));
}

TEST(MusicPlayerInfoParserTest, ArtistAndNameMustBeNonEmptyText) {
    EXPECT_EQ(MusicPlayerInfoParser::parse(playing({{"Artist", std::string("   ")}})),
              Outcome::ignored());
    EXPECT_EQ(MusicPlayerInfoParser::parse(playing({{"Name", std::string("\t\u00A0")}})),
              Outcome::ignored());
    EXPECT_EQ(MusicPlayerInfoParser::parse(playing({{"Artist", true}})), Outcome::ignored());
    EXPECT_EQ(MusicPlayerInfoParser::parse(playing({{"Name", std::monostate{}}})),
              Outcome::ignored());
    PlayerInfo noName = playing();
    noName.erase("Name");
    EXPECT_EQ(MusicPlayerInfoParser::parse(noName), Outcome::ignored());
    // A number stands for its decimal text.
    EXPECT_EQ(sampleOf(playing({{"Artist", int64_t{1999}}, {"Name", 2.5}})).track, "2.5");
    EXPECT_EQ(sampleOf(playing({{"Artist", int64_t{1999}}})).artist, "1999");
}

TEST(MusicPlayerInfoParserTest, LineBreaksAreKeptInsideValues) {
    MusicPlayerInfoSample s = sampleOf(
        playing({{"Artist", std::string(" Alpha\n")}, {"Album", std::string("\nGamma ")}}));
    EXPECT_EQ(s.artist, "Alpha\n");
    EXPECT_EQ(s.album, "\nGamma");
}

TEST(MusicPlayerInfoParserTest, AlbumOfWrongTypeIsEmpty) {
    EXPECT_EQ(sampleOf(playing({{"Album", false}})).album, "");
    EXPECT_EQ(sampleOf(playing({{"Album", std::string(" Gamma ")}})).album, "Gamma");
}

TEST(MusicPlayerInfoParserTest, TotalTimeOnlyFromNumbers) {
    EXPECT_EQ(sampleOf(playing({{"Total Time", int64_t{215000}}})).durationMs, 215000);
    EXPECT_EQ(sampleOf(playing({{"Total Time", int64_t{0}}})).durationMs, 0);
    EXPECT_EQ(sampleOf(playing({{"Total Time", int64_t{-5}}})).durationMs, -5);
    EXPECT_EQ(sampleOf(playing({{"Total Time", std::numeric_limits<int64_t>::max()}})).durationMs,
              std::numeric_limits<int64_t>::max());
    EXPECT_EQ(sampleOf(playing({{"Total Time", 215000.9}})).durationMs, 215000);
    EXPECT_EQ(sampleOf(playing({{"Total Time", -1.5}})).durationMs, -1);
    EXPECT_EQ(sampleOf(playing({{"Total Time", -9223372036854775808.0}})).durationMs,
              std::numeric_limits<int64_t>::min());

    for (PlayerInfoValue notANumber :
         {PlayerInfoValue(std::string("215000")), PlayerInfoValue(true), PlayerInfoValue()})
        EXPECT_EQ(sampleOf(playing({{"Total Time", notANumber}})).durationMs, std::nullopt);
    const double inf = std::numeric_limits<double>::infinity();
    for (double unrepresentable : {std::nan(""), inf, -inf, 9223372036854775808.0, 1e300, -1e300})
        EXPECT_EQ(sampleOf(playing({{"Total Time", unrepresentable}})).durationMs, std::nullopt)
            << unrepresentable;
}

TEST(MusicPlayerInfoParserTest, PersistentIdIsUntrimmedText) {
    EXPECT_EQ(sampleOf(playing({{"Library PersistentID", int64_t{-6101834571331812437}}}))
                  .libraryPersistentID,
              "-6101834571331812437");
    EXPECT_EQ(sampleOf(playing({{"Library PersistentID", std::numeric_limits<int64_t>::min()}}))
                  .libraryPersistentID,
              "-9223372036854775808");
    EXPECT_EQ(
        sampleOf(playing({{"Library PersistentID", std::string(" 1A2B \t")}})).libraryPersistentID,
        " 1A2B \t");
    EXPECT_EQ(sampleOf(playing({{"Library PersistentID", true}})).libraryPersistentID, "");
    EXPECT_EQ(sampleOf(playing()).libraryPersistentID, "");
}

TEST(MusicPlayerInfoParserTest, KeysAreCaseSensitive) {
    EXPECT_EQ(MusicPlayerInfoParser::parse({{"player state", std::string("playing")},
                                            {"Artist", std::string("A")},
                                            {"Name", std::string("B")}}),
              Outcome::ignored());
    EXPECT_EQ(sampleOf(playing({{"total time", int64_t{5}}})).durationMs, std::nullopt);
}

TEST(MusicPlayerInfoParserTest, MalformedUtf8IsKeptNotTrimmedPastAndNeverCrashes) {
    const std::string broken = "\xff\xfe Art\xc3";
    MusicPlayerInfoSample s = sampleOf(playing({{"Artist", " " + broken + " "},
                                                {"Name", std::string("\xe2\x80")},
                                                {"Album", std::string("\xe2\x80\xa8 \x80")}}));
    EXPECT_EQ(s.artist, broken);
    EXPECT_EQ(s.track, "\xe2\x80");
    EXPECT_EQ(s.album, "\xe2\x80\xa8 \x80");
    EXPECT_EQ(MusicPlayerInfoParser::parse({{"Player State", std::string("\xc0\xa0playing")}}),
              Outcome::ignored());
}
