#include "core/companion/CompanionRefreshCoordinator.hpp"

#include <gtest/gtest.h>

using namespace qb;
using Request = CompanionRefreshCoordinator::RefreshRequest;

namespace {
struct Coordinator {
    double now = 1000.9;
    CompanionRefreshCoordinator coordinator{[this] { return now; }};
    CompanionRefreshCoordinator* operator->() { return &coordinator; }
};
} // namespace

TEST(CompanionRefreshCoordinator, WalksThroughATrackChangeAndTheEndOfPlayback) {
    Coordinator c;
    // A fresh coordinator remembers the first track and asks nothing yet.
    EXPECT_EQ(c->trackChanged("A", "T1"), std::nullopt);
    EXPECT_EQ(c->contextRefreshPendingKey(), CompanionRefreshCoordinator::key("A", "T1"));
    EXPECT_EQ(c->currentSince(), 1000);

    // The first acceptance asks for the current track's context; a second one does not.
    c.now = 1010;
    EXPECT_EQ(c->publishAccepted("A", "T1"), (Request{"A", "T1", 1000}));
    EXPECT_EQ(c->publishAccepted("A", "T1"), std::nullopt);
    EXPECT_EQ(c->contextRefreshPendingKey(), "");

    // A new track asks about the one that ended, with the time it began.
    c.now = 1200;
    EXPECT_EQ(c->trackChanged("A", "T2"), (Request{"A", "T1", 1000}));
    EXPECT_EQ(c->pendingArtist(), "A");
    EXPECT_EQ(c->pendingTrack(), "T1");
    EXPECT_EQ(c->captureUploadSucceeded(), (Request{"A", "T1", 1000}));

    // Repeated samples of the same track change nothing.
    c.now = 1300;
    EXPECT_EQ(c->trackChanged("A", "T2"), std::nullopt);
    EXPECT_EQ(c->currentSince(), 1200);

    // An acceptance for a track that is no longer current is ignored.
    EXPECT_EQ(c->publishAccepted("A", "T1"), std::nullopt);
    EXPECT_EQ(c->contextRefreshPendingKey(), CompanionRefreshCoordinator::key("A", "T2"));

    // The end of playback makes the playing track pending and leaves no current track.
    c.now = 1400;
    EXPECT_EQ(c->trackChanged("", ""), (Request{"A", "T2", 1200}));
    EXPECT_EQ(c->contextRefreshPendingKey(), "");
    EXPECT_EQ(c->currentArtist(), "");
    EXPECT_EQ(c->currentSince(), 1400);
    EXPECT_EQ(c->currentConfirmationCheck(), (Request{"A", "T2", 1200}));
    // Asked again on every check until another change, and nothing more when nothing plays.
    EXPECT_EQ(c->captureUploadSucceeded(), (Request{"A", "T2", 1200}));
    EXPECT_EQ(c->trackChanged("", ""), std::nullopt);
    EXPECT_EQ(c->publishAccepted("", ""), std::nullopt);

    // Playback starting again keeps the pending track until the next change.
    c.now = 1500;
    EXPECT_EQ(c->trackChanged("B", "U"), std::nullopt);
    EXPECT_EQ(c->currentConfirmationCheck(), (Request{"A", "T2", 1200}));
    EXPECT_EQ(c->publishAccepted("B", "U"), (Request{"B", "U", 1500}));
}

TEST(CompanionRefreshCoordinator, NothingIsPendingBeforeTheFirstChangeOrAfterReset) {
    Coordinator c;
    EXPECT_EQ(c->captureUploadSucceeded(), std::nullopt);
    EXPECT_EQ(c->currentConfirmationCheck(), std::nullopt);
    c->trackChanged("A", "T1");
    EXPECT_EQ(c->captureUploadSucceeded(), std::nullopt);
    c->trackChanged("A", "T2");
    ASSERT_TRUE(c->currentConfirmationCheck());

    c.now = 5000;
    c->reset();
    EXPECT_EQ(c->currentConfirmationCheck(), std::nullopt);
    EXPECT_EQ(c->contextRefreshPendingKey(), "");
    EXPECT_EQ(c->currentSince(), 0);
    EXPECT_EQ(c->pendingSince(), 0);
    EXPECT_EQ(c->publishAccepted("A", "T2"), std::nullopt);
    // The clock survives a reset.
    c->trackChanged("A", "T3");
    EXPECT_EQ(c->currentSince(), 5000);
}

TEST(CompanionRefreshCoordinator, KeysSeparateArtistFromTitle) {
    EXPECT_NE(CompanionRefreshCoordinator::key("AB", "C"),
              CompanionRefreshCoordinator::key("A", "BC"));
    EXPECT_EQ(CompanionRefreshCoordinator::key("A", "T"), std::string("A\x01T"));

    Coordinator c;
    c->trackChanged("AB", "C");
    EXPECT_EQ(c->trackChanged("A", "BC"), (Request{"AB", "C", 1000}));
    EXPECT_EQ(c->publishAccepted("AB", "C"), std::nullopt);
    EXPECT_EQ(c->publishAccepted("A", "BC"), (Request{"A", "BC", 1000}));
}

TEST(CompanionRefreshCoordinator, HalfKnownTracksArmNothingAndAreNotPending) {
    Coordinator c;
    c->trackChanged("A", "");
    EXPECT_EQ(c->contextRefreshPendingKey(), "");
    EXPECT_EQ(c->publishAccepted("A", ""), std::nullopt);
    EXPECT_EQ(c->trackChanged("A", "T"), std::nullopt);
    EXPECT_EQ(c->currentConfirmationCheck(), std::nullopt);
}
