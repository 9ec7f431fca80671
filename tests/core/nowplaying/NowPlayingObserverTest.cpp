#include "core/nowplaying/NowPlayingObserver.hpp"

#include <gtest/gtest.h>

using namespace qb;

namespace {

struct Report {
    bool stop = false;
    MusicPlayerInfoSample sample; // play reports
    std::string reason;           // stop reports
    std::string installID;
    std::string deviceLabel;
    int64_t at = 0;
    bool operator==(const Report&) const = default;
};

class FakeReporter : public NowPlayingReporting {
  public:
    std::vector<Report> reports;
    bool send(const std::string& artist, const std::string& track, const std::string& album,
              bool playing, std::optional<int64_t> durationMs,
              const std::string& libraryPersistentID, const std::string& installID,
              const std::string& deviceLabel, int64_t at) override {
        reports.push_back({false,
                           {artist, track, album, playing, durationMs, libraryPersistentID},
                           "",
                           installID,
                           deviceLabel,
                           at});
        return true;
    }
    void sendStopped(const std::string& reason, const std::string& installID, int64_t at) override {
        reports.push_back({true, {}, reason, installID, "", at});
    }
};

struct FakePlayer : PlayerRunningChecking {
    bool running = true;
    bool isPlayerRunning() override { return running; }
};

struct FakeTimers : RepeatingTimerStarting {
    std::vector<double> intervals;
    std::vector<std::function<void()>> ticks;
    void startRepeating(double intervalSeconds, std::function<void()> tick) override {
        intervals.push_back(intervalSeconds);
        ticks.push_back(std::move(tick));
    }
    void fire() {
        for (auto& tick : ticks)
            tick();
    }
};

PlayerInfo broadcast(const std::string& state, const std::string& artist = "Alpha",
                     const std::string& track = "Beta") {
    return {{"Player State", state},
            {"Artist", artist},
            {"Name", track},
            {"Album", std::string("Gamma")},
            {"Total Time", int64_t{215000}},
            {"Library PersistentID", std::string("00AA")}};
}

const MusicPlayerInfoSample alphaBeta{"Alpha", "Beta", "Gamma", true, 215000, "00AA"};

struct Fixture {
    FakeReporter reporter;
    FakePlayer player;
    FakeTimers timers;
    double now = 1'700'000'000.9;
    std::shared_ptr<NowPlayingObserver> observer = NowPlayingObserver::create(
        reporter, [] { return std::string("install-1"); }, player, timers, [this] { return now; });
    std::vector<std::string> texts;
    std::vector<std::optional<MusicPlayerInfoSample>> samples;

    Fixture() {
        observer->setOnNowPlayingChange([this](const std::string& t) { texts.push_back(t); });
        observer->setOnSampleChange(
            [this](const std::optional<MusicPlayerInfoSample>& s) { samples.push_back(s); });
        observer->start();
    }

    Report play(const MusicPlayerInfoSample& s) const {
        return {false, s, "", "install-1", "Mac", 1'700'000'000};
    }
    Report stop() const { return {true, {}, "stopped", "install-1", "", 1'700'000'000}; }
};

} // namespace

TEST(NowPlayingObserverTest, SampleBecomesCurrentAndIsReportedEveryTime) {
    Fixture f;
    f.observer->playerInfoChanged(broadcast("Playing"));
    f.observer->playerInfoChanged(broadcast("Playing"));
    EXPECT_EQ(f.observer->current(), alphaBeta);
    EXPECT_EQ(f.texts, (std::vector<std::string>{"Alpha \u2013 Beta", "Alpha \u2013 Beta"}));
    EXPECT_EQ(f.samples, (std::vector<std::optional<MusicPlayerInfoSample>>{alphaBeta, alphaBeta}));
    EXPECT_EQ(f.reporter.reports, (std::vector<Report>{f.play(alphaBeta), f.play(alphaBeta)}));
}

TEST(NowPlayingObserverTest, BroadcastsAreIgnoredWhileThePlayerIsNotRunning) {
    Fixture f;
    f.player.running = false;
    f.observer->playerInfoChanged(broadcast("Playing"));
    EXPECT_EQ(f.observer->current(), std::nullopt);
    EXPECT_TRUE(f.texts.empty());
    EXPECT_TRUE(f.reporter.reports.empty());

    // A stop broadcast then is ignored as well, so the current item stays.
    f.player.running = true;
    f.observer->playerInfoChanged(broadcast("Playing"));
    f.player.running = false;
    f.observer->playerInfoChanged(broadcast("Stopped"));
    EXPECT_EQ(f.observer->current(), alphaBeta);
}

TEST(NowPlayingObserverTest, UnusableBroadcastsChangeNothing) {
    Fixture f;
    f.observer->playerInfoChanged({});
    f.observer->playerInfoChanged(broadcast("Playing", "  "));
    f.observer->playerInfoChanged(broadcast("Stopped"));
    EXPECT_TRUE(f.texts.empty());
    EXPECT_TRUE(f.samples.empty());
    EXPECT_TRUE(f.reporter.reports.empty());
}

TEST(NowPlayingObserverTest, StopBroadcastClearsAndReportsOnce) {
    Fixture f;
    f.observer->playerInfoChanged(broadcast("Paused"));
    f.observer->playerInfoChanged(broadcast(" stopped "));
    f.observer->playerInfoChanged(broadcast("Stopped"));
    EXPECT_EQ(f.observer->current(), std::nullopt);
    EXPECT_EQ(f.texts.back(), "");
    EXPECT_EQ(f.samples.back(), std::nullopt);
    EXPECT_EQ(f.samples.size(), 2u);
    ASSERT_EQ(f.reporter.reports.size(), 2u);
    EXPECT_EQ(f.reporter.reports[1], f.stop());
}

TEST(NowPlayingObserverTest, PlayerQuitClearsOnlyForTheFollowedPlayer) {
    Fixture f;
    f.observer->playerInfoChanged(broadcast("Playing"));
    f.observer->runningApplicationTerminated("com.apple.Safari");
    f.observer->runningApplicationTerminated("");
    EXPECT_EQ(f.observer->current(), alphaBeta);
    f.observer->runningApplicationTerminated("com.apple.Music");
    EXPECT_EQ(f.observer->current(), std::nullopt);
    EXPECT_EQ(f.texts, (std::vector<std::string>{"Alpha \u2013 Beta", ""}));
    EXPECT_EQ(f.samples.back(), std::nullopt);
    EXPECT_EQ(f.reporter.reports.back(), f.stop());
    f.observer->runningApplicationTerminated("com.apple.Music");
    EXPECT_EQ(f.reporter.reports.size(), 2u);
}

TEST(NowPlayingObserverTest, DisablingAnnouncesNothingPlayingWithoutAStopReport) {
    Fixture f;
    f.observer->setEnabled(false);
    EXPECT_EQ(f.texts, std::vector<std::string>{""});
    EXPECT_EQ(f.samples, std::vector<std::optional<MusicPlayerInfoSample>>{std::nullopt});

    f.observer->playerInfoChanged(broadcast("Playing"));
    EXPECT_EQ(f.observer->current(), std::nullopt);
    f.observer->setEnabled(true);
    EXPECT_EQ(f.texts.size(), 1u);
    f.observer->playerInfoChanged(broadcast("Playing"));
    f.observer->setEnabled(false);
    EXPECT_EQ(f.observer->current(), std::nullopt);
    EXPECT_EQ(f.texts.back(), "");
    EXPECT_EQ(f.reporter.reports, std::vector<Report>{f.play(alphaBeta)});
    // Nothing is current any more, so the player quitting reports nothing either.
    f.observer->runningApplicationTerminated("com.apple.Music");
    EXPECT_EQ(f.reporter.reports.size(), 1u);
}

TEST(NowPlayingObserverTest, HeartbeatRepublishesTheCurrentSampleOnly) {
    Fixture f;
    ASSERT_EQ(f.timers.intervals, std::vector<double>{20.0});
    f.timers.fire();
    EXPECT_TRUE(f.reporter.reports.empty());

    f.observer->playerInfoChanged(broadcast("Paused"));
    MusicPlayerInfoSample paused = alphaBeta;
    paused.playing = false;
    f.now += 20;
    f.timers.fire();
    f.timers.fire();
    EXPECT_EQ(f.reporter.reports.size(), 3u);
    Report tick = f.play(paused);
    tick.at += 20;
    EXPECT_EQ(f.reporter.reports.back(), tick);
    // Ticks do not touch the shell's callbacks.
    EXPECT_EQ(f.texts.size(), 1u);
    EXPECT_EQ(f.samples.size(), 1u);

    f.player.running = false;
    f.timers.fire();
    f.player.running = true;
    f.observer->setEnabled(false);
    f.timers.fire();
    EXPECT_EQ(f.reporter.reports.size(), 3u);
}

TEST(NowPlayingObserverTest, TimerDoesNotKeepTheObserverAliveAndStartsOnce) {
    Fixture f;
    f.observer->start();
    EXPECT_EQ(f.timers.ticks.size(), 1u);
    f.observer->playerInfoChanged(broadcast("Playing"));
    f.observer.reset();
    f.timers.fire();
    EXPECT_EQ(f.reporter.reports.size(), 1u);
}

TEST(NowPlayingObserverTest, CallbacksMayChangeTheObserver) {
    Fixture f;
    f.observer->setOnSampleChange([&](const std::optional<MusicPlayerInfoSample>& s) {
        if (s) f.observer->setEnabled(false);
    });
    f.observer->playerInfoChanged(broadcast("Playing"));
    EXPECT_EQ(f.observer->current(), std::nullopt);
    // The broadcast that was being handled is still reported as it was.
    EXPECT_EQ(f.reporter.reports, std::vector<Report>{f.play(alphaBeta)});
}
