#include "core/companion/CompanionViewState.hpp"

#include <gtest/gtest.h>

using namespace qb;
using View = CompanionViewState;

namespace {

CaptureServiceStatus connectedStatus() {
    CaptureServiceStatus status;
    status.installID = "id";
    status.connected = true;
    status.lastScanAt = 100;
    return status;
}

MusicPlayerInfoSample sample(std::string artist, std::string track, std::string album = "Album",
                             bool playing = true) {
    MusicPlayerInfoSample s;
    s.artist = std::move(artist);
    s.track = std::move(track);
    s.album = std::move(album);
    s.playing = playing;
    return s;
}

const double now = 1'700'000'000.5;
const CompanionCaptureReceipt freshReceipt{"A", "Old", 1'699'999'000, 1'700'000'000};
const CompanionContext contextAT{"A", "T", {1, 2, 3}};

} // namespace

TEST(CaptureDisplayState, FirstMatchingRuleWins) {
    auto status = connectedStatus();
    EXPECT_EQ(CaptureDisplayState::from(status), CaptureDisplayState::capturing());

    // Paused and scanning play no part.
    status.paused = true;
    status.scanning = true;
    EXPECT_EQ(CaptureDisplayState::from(status), CaptureDisplayState::capturing());

    status.lastError = "http_500";
    EXPECT_EQ(CaptureDisplayState::from(status), CaptureDisplayState::capturing());
    status.pending = 1;
    EXPECT_EQ(CaptureDisplayState::from(status), CaptureDisplayState::offlineRetrying());

    status.lastError = "payload_rejected_422";
    status.pending = 3;
    EXPECT_EQ(CaptureDisplayState::from(status),
              CaptureDisplayState::attentionNeeded("payload_rejected_422"));
    EXPECT_EQ(CaptureDisplayState::from(status).message(), "payload_rejected_422");

    status.connected = false;
    EXPECT_EQ(CaptureDisplayState::from(status), CaptureDisplayState::signInRequired());

    auto waiting = connectedStatus();
    waiting.lastScanAt.reset();
    waiting.pending = 5;
    EXPECT_EQ(CaptureDisplayState::from(waiting), CaptureDisplayState::waitingForListening());
    waiting.lastError = "credential_rejected_401";
    EXPECT_EQ(CaptureDisplayState::from(waiting), CaptureDisplayState::offlineRetrying());

    // "payload_rejected_" must begin the text.
    auto embedded = connectedStatus();
    embedded.lastError = "old payload_rejected_400";
    EXPECT_EQ(CaptureDisplayState::from(embedded), CaptureDisplayState::capturing());
}

TEST(CaptureDisplayState, AttentionMessagesTakePartInEquality) {
    EXPECT_NE(CaptureDisplayState::attentionNeeded("payload_rejected_400"),
              CaptureDisplayState::attentionNeeded("payload_rejected_422"));
    EXPECT_NE(CaptureDisplayState::attentionNeeded(""), CaptureDisplayState::capturing());
    EXPECT_EQ(CaptureDisplayState(), CaptureDisplayState::signInRequired());
}

TEST(CompanionViewState, NotConnectedShowsExactlyTheDisconnectedState) {
    auto status = connectedStatus();
    status.connected = false;
    status.paused = true;
    auto state =
        View::build(status, sample("A", "T"), "a@example.com", contextAT, freshReceipt, now);
    EXPECT_EQ(state, View::disconnected());
    EXPECT_TRUE(std::holds_alternative<View::SignedOut>(state.hero));
    EXPECT_EQ(state.captureHealth, CaptureDisplayState::signInRequired());
    EXPECT_FALSE(state.capturePaused);
    EXPECT_EQ(state.accountEmail, "");
}

TEST(CompanionViewState, HeroShowsOnlyASampleWithArtistAndTrack) {
    auto status = connectedStatus();
    auto idle = View::build(status, std::nullopt, "a@example.com", contextAT, freshReceipt, now);
    EXPECT_TRUE(std::holds_alternative<View::Idle>(idle.hero));
    EXPECT_FALSE(idle.personalContext);
    EXPECT_EQ(idle.receipt, freshReceipt);
    EXPECT_EQ(idle.accountEmail, "a@example.com");

    EXPECT_TRUE(std::holds_alternative<View::Idle>(
        View::build(status, sample("A", ""), "", contextAT, std::nullopt, now).hero));
    EXPECT_TRUE(std::holds_alternative<View::Idle>(
        View::build(status, sample("", "T"), "", contextAT, std::nullopt, now).hero));

    auto paused =
        View::build(status, sample("A", "T", "", false), "", std::nullopt, std::nullopt, now);
    EXPECT_EQ(paused.hero, View::Hero(View::NowPlaying{"A", "T", "", true}));
    auto playing =
        View::build(status, sample("A", "T", "Al", true), "", std::nullopt, std::nullopt, now);
    EXPECT_EQ(playing.hero, View::Hero(View::NowPlaying{"A", "T", "Al", false}));
}

TEST(CompanionViewState, RanksBelongOnlyToTheTrackShown) {
    auto status = connectedStatus();
    EXPECT_EQ(
        View::build(status, sample("A", "T"), "", contextAT, std::nullopt, now).personalContext,
        contextAT.personalContext);
    EXPECT_FALSE(
        View::build(status, sample("A", "T2"), "", contextAT, std::nullopt, now).personalContext);
    EXPECT_FALSE(
        View::build(status, sample("B", "T"), "", contextAT, std::nullopt, now).personalContext);
    // A context without ranks still belongs to the track.
    CompanionContext bare{"A", "T", {}};
    auto state = View::build(status, sample("A", "T"), "", bare, std::nullopt, now);
    ASSERT_TRUE(state.personalContext);
    EXPECT_TRUE(state.personalContext->isEmpty());
}

TEST(CompanionViewState, ReceiptIsShownForItsWindowOnly) {
    auto status = connectedStatus();
    auto receiptAt = [&](double discoveredAgo) {
        CompanionCaptureReceipt receipt = freshReceipt;
        receipt.discoveredAt = 1'700'000'000;
        return View::build(status, std::nullopt, "", std::nullopt, receipt,
                           1'700'000'000.0 + discoveredAgo)
            .receipt.has_value();
    };
    EXPECT_TRUE(receiptAt(0));
    EXPECT_TRUE(receiptAt(180));
    EXPECT_FALSE(receiptAt(180.5));
    EXPECT_FALSE(receiptAt(181));
    // Discovered with a clock ahead of now: hidden until now catches up.
    EXPECT_FALSE(receiptAt(-0.5));
    EXPECT_FALSE(receiptAt(-60));
    EXPECT_EQ(View::receiptVisibleWindowSeconds, 180.0);
}

TEST(CompanionViewState, CarriesHealthAndPauseFromTheStatus) {
    auto status = connectedStatus();
    status.paused = true;
    status.lastError = "payload_rejected_400";
    status.pending = 2;
    auto state = View::build(status, std::nullopt, "", std::nullopt, std::nullopt, now);
    EXPECT_TRUE(state.capturePaused);
    EXPECT_EQ(state.captureHealth, CaptureDisplayState::attentionNeeded("payload_rejected_400"));
}
