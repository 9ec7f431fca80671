#include "platform/linux/dbus/MprisPlayerState.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace qb;

TEST(MprisPlayerStateTest, MapsStatusAndMetadataToThePlayerInfoKeys) {
    MprisPlayerState state;
    state.playbackStatus = "Paused";
    state.metadata = {"Beta", "Alpha", "Gamma", 215000, std::nullopt};
    EXPECT_EQ(state.playerInfo(), (PlayerInfo{{"Player State", std::string("paused")},
                                              {"Name", std::string("Beta")},
                                              {"Artist", std::string("Alpha")},
                                              {"Album", std::string("Gamma")},
                                              {"Total Time", int64_t{215000}}}));
    // Unknown parts are left out rather than sent empty.
    EXPECT_TRUE(MprisPlayerState{}.playerInfo().empty());
}

TEST(MprisPlayerStateTest, OnlyTheThreeMprisStatusWordsCount) {
    EXPECT_EQ(MprisPlayerState::playerStateText("Playing"), "playing");
    EXPECT_EQ(MprisPlayerState::playerStateText("Paused"), "paused");
    EXPECT_EQ(MprisPlayerState::playerStateText("Stopped"), "stopped");
    EXPECT_FALSE(MprisPlayerState::playerStateText("playing"));
    EXPECT_FALSE(MprisPlayerState::playerStateText(""));
}

TEST(MprisPlayerStateTest, ChangesReplaceOnlyWhatTheyAnnounce) {
    MprisPlayerState state;
    state.playbackStatus = "Playing";
    state.metadata = {"Beta", "Alpha", "Gamma", 215000, std::nullopt};

    MprisPropertiesChange pause;
    pause.statusAnnounced = true;
    pause.playbackStatus = "Paused";
    state.apply(pause);
    EXPECT_EQ(state.metadata.title, "Beta");
    EXPECT_FALSE(state.isPlaying());

    // New metadata comes whole: the album of the last item does not linger.
    MprisPropertiesChange next;
    next.metadataAnnounced = true;
    next.metadata.title = "Epsilon";
    next.metadata.artist = "Delta";
    state.apply(next);
    EXPECT_EQ(state.metadata, (MprisMetadata{"Epsilon", "Delta", std::nullopt, std::nullopt, std::nullopt}));
    EXPECT_EQ(state.playbackStatus, "Paused");

    // A status announced with a wrong type leaves no stale status behind.
    MprisPropertiesChange wrong;
    wrong.statusAnnounced = true;
    state.apply(wrong);
    EXPECT_FALSE(state.playbackStatus);
}

TEST(MprisPlayerStateTest, LengthsBecomeWholeMillisecondsOrNothing) {
    EXPECT_EQ(MprisPlayerState::lengthMs(int64_t{215'000'999}), 215000);
    EXPECT_EQ(MprisPlayerState::lengthMs(uint64_t{90'000'500}), 90000);
    EXPECT_EQ(MprisPlayerState::lengthMs(123'456'789.9), 123456);
    EXPECT_EQ(MprisPlayerState::lengthMs(std::numeric_limits<uint64_t>::max()),
              static_cast<int64_t>(std::numeric_limits<uint64_t>::max() / 1000));
    // "Unknown" as players say it: 0, -1, under a millisecond, not a number.
    EXPECT_FALSE(MprisPlayerState::lengthMs(int64_t{0}));
    EXPECT_FALSE(MprisPlayerState::lengthMs(int64_t{-1}));
    EXPECT_FALSE(MprisPlayerState::lengthMs(std::numeric_limits<int64_t>::min()));
    EXPECT_FALSE(MprisPlayerState::lengthMs(uint64_t{999}));
    EXPECT_FALSE(MprisPlayerState::lengthMs(-5000.0));
    EXPECT_FALSE(MprisPlayerState::lengthMs(std::nan("")));
    EXPECT_FALSE(MprisPlayerState::lengthMs(INFINITY));
    EXPECT_FALSE(MprisPlayerState::lengthMs(1e300));
}
