#include "core/player/PlayerSessionAccumulator.hpp"

#include <atomic>
#include <gtest/gtest.h>
#include <regex>
#include <thread>

using namespace qb;

namespace {

constexpr double T = 1'700'000'000.0;

MusicPlayerInfoSample item(std::string artist, std::string track, bool playing = true,
                           std::optional<int64_t> durationMs = 200000, std::string pid = "") {
    return {std::move(artist), std::move(track), "Album", playing, durationMs, std::move(pid)};
}

// Session identifiers s1, s2, ... in order of opening.
struct Fixture {
    int made = 0;
    PlayerSessionAccumulator acc{[this] { return "s" + std::to_string(++made); }};
};

} // namespace

TEST(PlayerSessionAccumulatorTest, PlayPausePlayStopWalkthrough) {
    Fixture f;
    EXPECT_FALSE(f.acc.observe(item("Alpha", "Beta"), T, 1000));
    EXPECT_FALSE(f.acc.observe(item("Alpha", "Beta", false), T + 100, 1100));
    EXPECT_FALSE(f.acc.observe(item("Alpha", "Beta", true), T + 160, 1160));
    auto record = f.acc.observe(std::nullopt, T + 200, 1200);
    ASSERT_TRUE(record);
    PlayerSessionRecord expected;
    expected.sessionID = "s1";
    expected.artist = "Alpha";
    expected.track = "Beta";
    expected.album = "Album";
    expected.durationMS = 200000;
    expected.firstObservedAt = static_cast<int64_t>(T);
    expected.lastObservedAt = static_cast<int64_t>(T) + 200;
    expected.playingMS = 140000;
    expected.pausedMS = 60000;
    expected.wallObservedMS = 200000;
    expected.unobservedMS = 0;
    expected.finaliseReason = PlayerSessionEnd::playerStopped;
    expected.boundaryObserved = false;
    EXPECT_EQ(*record, expected);
}

TEST(PlayerSessionAccumulatorTest, TrackChangeClosesTheSessionAndMarksTheBoundary) {
    Fixture f;
    f.acc.observe(item("Alpha", "One"), T, 0);
    auto first = f.acc.observe(item("Alpha", "Two"), T + 30, 30);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->track, "One");
    EXPECT_EQ(first->finaliseReason, PlayerSessionEnd::trackChanged);
    EXPECT_EQ(first->playingMS, 30000);
    auto second = f.acc.observe(std::nullopt, T + 40, 40);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->sessionID, "s2");
    EXPECT_EQ(second->track, "Two");
    EXPECT_TRUE(second->boundaryObserved);
    EXPECT_EQ(second->firstObservedAt, static_cast<int64_t>(T) + 30);
}

TEST(PlayerSessionAccumulatorTest, StopsDecideWhetherTheNextStartWasSeen) {
    Fixture f;
    // A stop right after creation closes nothing and does not mark a boundary.
    EXPECT_FALSE(f.acc.observe(std::nullopt, T, 0));
    f.acc.observe(item("A", "1"), T + 1, 1);
    EXPECT_FALSE(f.acc.observe(std::nullopt, T + 2, 2)->boundaryObserved);
    // Two stops in a row: the second returns nothing and the boundary survives it.
    EXPECT_FALSE(f.acc.observe(std::nullopt, T + 3, 3));
    f.acc.observe(item("A", "2"), T + 4, 4);
    EXPECT_TRUE(f.acc.observe(std::nullopt, T + 5, 5)->boundaryObserved);
}

TEST(PlayerSessionAccumulatorTest, DiscardDropsTheSessionAndTheBoundary) {
    Fixture f;
    f.acc.observe(item("A", "1"), T, 0);
    f.acc.observe(item("A", "2"), T + 1, 1);
    f.acc.discard();
    EXPECT_FALSE(f.acc.observe(std::nullopt, T + 2, 2));
    f.acc.observe(item("A", "3"), T + 3, 3);
    auto record = f.acc.observe(std::nullopt, T + 4, 4);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->track, "3");
    EXPECT_FALSE(record->boundaryObserved);
    // After a stop-closed session, discard also forgets the stop.
    f.acc.discard();
    f.acc.observe(item("A", "4"), T + 5, 5);
    EXPECT_FALSE(f.acc.observe(std::nullopt, T + 6, 6)->boundaryObserved);
}

TEST(PlayerSessionAccumulatorTest, SleepIsSetAsideBeyondTolerance) {
    Fixture f;
    f.acc.observe(item("A", "1", false), T, 50);
    auto slept = f.acc.observe(std::nullopt, T + 3600, 60);
    EXPECT_EQ(slept->pausedMS, 10000);
    EXPECT_EQ(slept->playingMS, 0);
    EXPECT_EQ(slept->unobservedMS, 3590000);
    EXPECT_EQ(slept->wallObservedMS, 3600000);

    f.acc.observe(item("A", "1"), T + 4000, 100);
    auto withinTolerance = f.acc.observe(std::nullopt, T + 4012, 108);
    EXPECT_EQ(withinTolerance->playingMS, 8000);
    EXPECT_EQ(withinTolerance->unobservedMS, 0);

    // Exactly 5 s apart is still within tolerance.
    f.acc.observe(item("A", "1"), T + 5000, 200);
    EXPECT_EQ(f.acc.observe(std::nullopt, T + 5015, 210)->unobservedMS, 0);
}

TEST(PlayerSessionAccumulatorTest, ClockAnomaliesCreditNothing) {
    Fixture f;
    f.acc.observe(item("A", "1"), T, 100);
    // Wall clock set back: nothing credited, the later wall time is kept.
    f.acc.observe(item("A", "1"), T - 60, 110);
    auto back = f.acc.observe(std::nullopt, T - 50, 120);
    EXPECT_EQ(back->playingMS, 0);
    EXPECT_EQ(back->unobservedMS, 0);
    EXPECT_EQ(back->lastObservedAt, static_cast<int64_t>(T));
    EXPECT_EQ(back->wallObservedMS, 0);

    // Uptime going backwards credits nothing for that step; the wall advance counts as unseen.
    f.acc.observe(item("A", "1"), T + 100, 500);
    f.acc.observe(item("A", "1"), T + 110, 400);
    auto resumed = f.acc.observe(std::nullopt, T + 120, 510);
    EXPECT_EQ(resumed->playingMS, 10000);
    EXPECT_EQ(resumed->unobservedMS, 10000);
}

TEST(PlayerSessionAccumulatorTest, NonFiniteClocksNeitherCrashNorCredit) {
    Fixture f;
    const double nan = std::nan("");
    const double inf = std::numeric_limits<double>::infinity();
    f.acc.observe(item("A", "1"), T, 0);
    f.acc.observe(item("A", "1"), nan, 10);
    f.acc.observe(item("A", "1"), T + 20, nan);
    f.acc.observe(item("A", "1"), T + 30, 30);
    auto record = f.acc.observe(std::nullopt, inf, inf);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->playingMS, 10000);
    EXPECT_EQ(record->lastObservedAt, static_cast<int64_t>(T) + 30);

    f.acc.observe(item("A", "2"), nan, nan);
    auto opened = f.acc.observe(std::nullopt, T, 5);
    EXPECT_EQ(opened->firstObservedAt, 0);
    EXPECT_EQ(opened->playingMS, 0);
    EXPECT_EQ(opened->wallObservedMS, 0);
}

TEST(PlayerSessionAccumulatorTest, PersistentIdentifierDecidesIdentity) {
    Fixture f;
    f.acc.observe(item("A", "1", true, 1, "00AA"), T, 0);
    // Surrounding white space of the identifier does not matter; metadata does not either.
    EXPECT_FALSE(f.acc.observe(item("Other", "Name", true, 1, " 00AA\n"), T + 1, 1));
    auto split = f.acc.observe(item("A", "1", true, 1, ""), T + 2, 2);
    ASSERT_TRUE(split);
    EXPECT_EQ(split->libraryPersistentID, "00AA");
    EXPECT_EQ(split->artist, "A");
    EXPECT_EQ(split->finaliseReason, PlayerSessionEnd::trackChanged);
}

TEST(PlayerSessionAccumulatorTest, FoldedArtistAndTrackMatchWithoutIdentifier) {
    Fixture f;
    f.acc.observe(item("Beyoncé", "Halo"), T, 0);
    EXPECT_FALSE(f.acc.observe(item("BEYONCE", "halo ", false), T + 1, 1));
    EXPECT_FALSE(f.acc.observe(item("ＢＥＹＯＮＣＥ", "ＨＡＬＯ"), T + 2, 2));
    auto record = f.acc.observe(item("Beyoncé", "Halo (Live)"), T + 3, 3);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->artist, "Beyoncé");
    EXPECT_EQ(record->playingMS, 2000);
    EXPECT_EQ(record->pausedMS, 1000);
    // The album plays no part in the identity.
    MusicPlayerInfoSample otherAlbum = item("Beyoncé", "Halo (Live)");
    otherAlbum.album = "Elsewhere";
    EXPECT_FALSE(f.acc.observe(otherAlbum, T + 4, 4));
}

TEST(PlayerSessionAccumulatorTest, MissingDurationIsFilledOnceLater) {
    Fixture f;
    f.acc.observe(item("A", "1", true, std::nullopt), T, 0);
    f.acc.observe(item("A", "1", true, std::nullopt), T + 1, 1);
    f.acc.observe(item("A", "1", true, 180000), T + 2, 2);
    f.acc.observe(item("A", "1", true, 999), T + 3, 3);
    EXPECT_EQ(f.acc.observe(std::nullopt, T + 4, 4)->durationMS, 180000);
}

TEST(PlayerSessionAccumulatorTest, EpochSecondsTruncateAndMillisecondsRoundDown) {
    Fixture f;
    f.acc.observe(item("A", "1"), T + 0.9, 0);
    auto record = f.acc.observe(std::nullopt, T + 2.0006, 1.1006);
    EXPECT_EQ(record->firstObservedAt, static_cast<int64_t>(T));
    EXPECT_EQ(record->lastObservedAt, static_cast<int64_t>(T) + 2);
    EXPECT_EQ(record->playingMS, 1100);
    EXPECT_EQ(record->wallObservedMS, 1100);

    // Before 1970, truncation goes toward zero.
    f.acc.observe(item("A", "1"), -10.9, 0);
    EXPECT_EQ(f.acc.observe(std::nullopt, -10.5, 0.4)->firstObservedAt, -10);
}

TEST(PlayerSessionAccumulatorTest, DefaultIdentifiersAreLowerCaseUuids) {
    PlayerSessionAccumulator acc;
    acc.observe(item("A", "1"), T, 0);
    auto first = acc.observe(item("A", "2"), T + 1, 1);
    auto second = acc.observe(std::nullopt, T + 2, 2);
    const std::regex uuid("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
    EXPECT_TRUE(std::regex_match(first->sessionID, uuid)) << first->sessionID;
    EXPECT_TRUE(std::regex_match(second->sessionID, uuid)) << second->sessionID;
    EXPECT_NE(first->sessionID, second->sessionID);
}

TEST(PlayerSessionAccumulatorTest, ObserveAndDiscardFromTwoThreads) {
    std::atomic<int> made{0};
    PlayerSessionAccumulator acc([&] { return std::to_string(++made); });
    std::atomic<bool> done{false};
    std::thread discarder([&] {
        while (!done)
            acc.discard();
    });
    int records = 0;
    for (int i = 0; i < 20000; ++i) {
        std::optional<MusicPlayerInfoSample> sample;
        if (i % 3 != 2) sample = item("A", std::to_string(i % 7));
        if (auto record = acc.observe(sample, T + i, i)) {
            ++records;
            EXPECT_FALSE(record->sessionID.empty());
            EXPECT_GE(record->playingMS, 0);
        }
    }
    done = true;
    discarder.join();
    EXPECT_LE(records, made.load());
}
