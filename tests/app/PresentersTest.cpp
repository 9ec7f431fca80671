#include "app/CompanionPresenter.hpp"
#include "app/StatusPresenter.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

using namespace qb;
using namespace qb::app;
using Badge = MenuBarIcon::Badge;

namespace {

StatusView view(bool connected, int64_t pending = 0, std::string error = "",
                std::optional<int64_t> lastScanAt = 1'700'000'000) {
    StatusView v;
    v.status.installID = "install";
    v.status.connected = connected;
    v.status.pending = pending;
    v.status.lastError = std::move(error);
    v.status.lastScanAt = lastScanAt;
    return v;
}

class StatusPresenterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ::setenv("TZ", "UTC", 1);
        ::tzset();
    }
    StatusPresentation present(const StatusView& v) {
        return StatusPresenter::present(v, QLocale(QLocale::English, QLocale::UnitedKingdom));
    }
};

} // namespace

TEST_F(StatusPresenterTest, EachDisplayStateHasItsTitleBadgeAndTooltip) {
    const std::string at = "Last scan: 22:13";
    EXPECT_EQ(
        present(view(true)),
        (StatusPresentation{"Listening Capture: Capturing", "Account: Connected", at, "Pending: 0",
                            std::nullopt, std::nullopt, "Pause capture", false, Badge::none, false,
                            "Quillabrenta for Mac — Listening Capture is active"}));
    EXPECT_EQ(present(view(true, 0, "", std::nullopt)),
              (StatusPresentation{"Listening Capture: Waiting for playback", "Account: Connected",
                                  "Last scan: Never", "Pending: 0", std::nullopt, std::nullopt,
                                  "Pause capture", false, Badge::none, false,
                                  "Quillabrenta for Mac — waiting for listening"}));
    EXPECT_EQ(
        present(view(false)),
        (StatusPresentation{"Listening Capture: Sign-in required", "Account: Connect required", at,
                            "Pending: 0", std::nullopt, std::nullopt, "Pause capture", false,
                            Badge::dot, false, "Quillabrenta for Mac — sign-in required"}));
    EXPECT_EQ(present(view(true, 3, "http_503")),
              (StatusPresentation{"Listening Capture: Offline — will retry", "Account: Connected",
                                  at, "Pending: 3", std::nullopt, std::nullopt, "Pause capture",
                                  false, Badge::ring, false,
                                  "Quillabrenta for Mac — offline, will retry (3 pending)"}));
    EXPECT_EQ(present(view(true, 1, "payload_rejected_422")),
              (StatusPresentation{
                  "Listening Capture: Needs attention", "Account: Connected", at, "Pending: 1",
                  std::nullopt, std::nullopt, "Pause capture", false, Badge::triangle, false,
                  "Quillabrenta for Mac — needs attention (payload_rejected_422)"}));
}

TEST_F(StatusPresenterTest, PauseScanningAndTheOptionalLines) {
    // Paused wins over the error in the menu and dims the icon; the tooltip keeps the state.
    StatusView paused = view(true, 3, "http_503");
    paused.status.paused = true;
    paused.status.scanning = true;
    paused.accountEmail = "me@example.com";
    paused.launchAtLogin = true;
    const StatusPresentation p = present(paused);
    EXPECT_EQ(p.captureState, "Listening Capture: Paused");
    EXPECT_EQ(p.accountState, "Account: me@example.com");
    EXPECT_EQ(p.pauseTitle, "Resume capture");
    EXPECT_TRUE(p.dimmed);
    EXPECT_TRUE(p.launchAtLogin);
    EXPECT_EQ(p.badge, Badge::ring); // the icon draws no badge while dimmed
    EXPECT_EQ(p.tooltip, "Quillabrenta for Mac — offline, will retry (3 pending)");

    StatusView scanning = view(true);
    scanning.status.scanning = true;
    scanning.status.diagnostics = CaptureDiagnostics{};
    scanning.status.diagnostics->metrics.trackCount = 11;
    scanning.status.diagnostics->metrics.totalMS = 2500;
    EXPECT_EQ(present(scanning).captureState, "Listening Capture: Scanning...");
    EXPECT_EQ(present(scanning).diagnostics, "Library: 11 tracks · 2.5s");

    const QLocale uk(QLocale::English, QLocale::UnitedKingdom);
    EXPECT_EQ(StatusPresenter::ratingsTitle({0, std::nullopt, 4000, 12, false, ""}, uk),
              "Apple ratings: waiting for first scan");
    EXPECT_EQ(StatusPresenter::ratingsTitle({2, std::nullopt, 4000, 12, false, ""}, uk),
              "Apple ratings: sending (2 left) · 4,000 stars · 12 Favourites");
    EXPECT_EQ(StatusPresenter::ratingsTitle({0, 1'700'000'000, 1234567, 0, true, ""}, uk),
              "Apple ratings: 1,234,567 stars · 0 Favourites · synced 22:13");
}

TEST(CompanionPresenter, ChipHeroRanksReceiptAndFooter) {
    using P = CompanionPresentation;
    EXPECT_EQ(CompanionPresenter::present(CompanionViewState::disconnected()),
              (P{"Sign-in required",
                 P::ChipColour::magenta,
                 P::Hero::signedOut,
                 "",
                 "",
                 false,
                 {},
                 std::nullopt,
                 ""}));

    CompanionViewState idle;
    idle.hero = CompanionViewState::Idle{};
    idle.captureHealth = CaptureDisplayState::waitingForListening();
    EXPECT_EQ(
        CompanionPresenter::present(idle),
        (P{"Capturing", P::ChipColour::cyan, P::Hero::idle, "", "", false, {}, std::nullopt, ""}));

    CompanionViewState playing;
    playing.hero = CompanionViewState::NowPlaying{"Artist", "Track", "", true};
    playing.captureHealth = CaptureDisplayState::offlineRetrying();
    playing.capturePaused = true;
    playing.personalContext = CompanionPersonalContext{12, std::nullopt, std::nullopt};
    playing.receipt = CompanionCaptureReceipt{"Other", "Earlier Song", 1, 2};
    playing.accountEmail = "me@example.com";
    EXPECT_EQ(CompanionPresenter::present(playing), (P{"Capture paused",
                                                       P::ChipColour::dimWhite,
                                                       P::Hero::playing,
                                                       "Track",
                                                       "Artist",
                                                       true,
                                                       {{"TRACK", "#12"}},
                                                       "Earlier Song — Added to your Archive",
                                                       "me@example.com"}));

    playing.hero = CompanionViewState::NowPlaying{"Artist", "Track", "Album", false};
    playing.capturePaused = false;
    playing.personalContext = CompanionPersonalContext{};
    const P shown = CompanionPresenter::present(playing);
    EXPECT_EQ(shown.chipLabel, "Offline — retrying");
    EXPECT_EQ(shown.subtitle, "Artist \u00B7 Album");
    EXPECT_TRUE(shown.ranks.empty()); // no empty row

    playing.captureHealth = CaptureDisplayState::attentionNeeded("payload_rejected_422");
    playing.personalContext = CompanionPersonalContext{1, 2, 3};
    EXPECT_EQ(CompanionPresenter::present(playing).chipLabel, "Needs attention");
    EXPECT_EQ(CompanionPresenter::present(playing).ranks,
              (std::vector<P::Rank>{{"TRACK", "#1"}, {"ARTIST", "#2"}, {"ALBUM", "#3"}}));
}
