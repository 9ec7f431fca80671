#include "core/nowplaying/NowPlayingObserver.hpp"
#include "core/player/PlayerSessionAccumulator.hpp"
#include "platform/linux/dbus/MprisPlayerBridge.hpp"
#include "platform/linux/dbus/PollMainLoop.hpp"
#include "platform/linux/dbus/SdBusPointers.hpp"

#include "DesktopProcesses.hpp"
#include "TestSupport.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

using namespace qb;
using namespace qb::test;
using namespace std::chrono_literals;

namespace {

struct Report {
    bool stop = false;
    MusicPlayerInfoSample sample;
    bool operator==(const Report&) const = default;
};

class RecordingReporter : public NowPlayingReporting {
  public:
    std::vector<Report> reports;
    bool send(const std::string& artist, const std::string& track, const std::string& album,
              bool playing, std::optional<int64_t> durationMs,
              const std::string& libraryPersistentID, const std::string&, const std::string&,
              int64_t) override {
        reports.push_back(
            {false, {artist, track, album, playing, durationMs, libraryPersistentID}});
        return true;
    }
    void sendStopped(const std::string&, const std::string&, int64_t) override {
        reports.push_back({true, {}});
    }
};

double uptimeSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The bridge feeding a real observer, whose samples feed a real session accumulator, all on
// the test's thread as they would on the main thread.
struct Harness {
    PollMainLoop loop;
    MprisPlayerBridge bridge;
    RecordingReporter reporter;
    std::shared_ptr<NowPlayingObserver> observer;
    PlayerSessionAccumulator sessions;
    std::vector<PlayerInfo> infos;
    std::vector<PlayerSessionRecord> records;
    int quits = 0;
    int switches = 0;
    int restarts = 0;

    explicit Harness(const std::string& preferred = {}) : bridge(preferred) {
        observer = NowPlayingObserver::create(
            reporter, [] { return std::string("install-1"); }, bridge, loop, systemWallTime,
            MprisPlayerBridge::playerIdentifier);
        bridge.setOnPlayerInfo([this](const PlayerInfo& info) {
            infos.push_back(info);
            observer->playerInfoChanged(info);
        });
        bridge.setOnPlayerQuit([this](const std::string& identifier) {
            ++quits;
            observer->runningApplicationTerminated(identifier);
        });
        bridge.setOnPlayerSwitched([this] { ++switches; });
        bridge.setOnPlayerRestarted([this] { ++restarts; });
        observer->setOnSampleChange([this](const std::optional<MusicPlayerInfoSample>& sample) {
            if (auto record = sessions.observe(sample, systemWallTime(), uptimeSeconds()))
                records.push_back(*record);
        });
        observer->start();
        loop.add(bridge);
    }

    bool waitFor(const std::function<bool()>& done) { return loop.runUntil(done, 15s); }
    bool waitForTrack(const std::string& track, bool playing) {
        return waitFor([&] {
            const auto& current = observer->current();
            return current && current->track == track && current->playing == playing;
        });
    }
    // Until the last delivered map satisfies check.
    bool waitForInfo(const std::function<bool(const PlayerInfo&)>& check) {
        return waitFor([&] { return !infos.empty() && check(infos.back()); });
    }
};

std::optional<std::string> text(const PlayerInfo& info, const std::string& key) {
    auto it = info.find(key);
    if (it == info.end()) return std::nullopt;
    if (auto* value = std::get_if<std::string>(&it->second)) return *value;
    return std::nullopt;
}

const char* alphaBeta = R"({"status": "Playing", "metadata": {
    "mpris:trackid": ["o", "/org/mpris/MediaPlayer2/track/1"], "xesam:title": ["s", "Beta"],
    "xesam:artist": ["as", ["Alpha", "Second Artist"]], "xesam:album": ["s", "Gamma"],
    "mpris:length": ["x", 215000999]}})";

TEST(MprisBridgeTest, FollowsPlayingPausedTrackChangeAndStop) {
    PrivateBus bus;
    Emitter player("testplayer");
    // Set before the bridge exists: it must learn the state by asking, not from a signal.
    player.command(std::string(alphaBeta).insert(1, "\"signal\": false, "));

    Harness h;
    ASSERT_TRUE(h.bridge.start());
    ASSERT_TRUE(h.waitForTrack("Beta", true));
    EXPECT_EQ(*h.observer->current(),
              (MusicPlayerInfoSample{"Alpha, Second Artist", "Beta", "Gamma", true, 215000, ""}));
    EXPECT_EQ(h.bridge.followedPlayer(), "org.mpris.MediaPlayer2.testplayer");
    EXPECT_TRUE(h.bridge.isPlayerRunning());

    player.command(R"({"status": "Paused"})");
    ASSERT_TRUE(h.waitForTrack("Beta", false));

    // Lengths as uint64 and as double are read too; the album is gone with the new metadata.
    player.command(R"({"status": "Playing", "metadata": {"xesam:title": ["s", "Epsilon"],
        "xesam:artist": ["as", ["Delta"]], "mpris:length": ["t", 90000500]}})");
    ASSERT_TRUE(h.waitForTrack("Epsilon", true));
    EXPECT_EQ(*h.observer->current(),
              (MusicPlayerInfoSample{"Delta", "Epsilon", "", true, 90000, ""}));
    player.command(R"({"metadata": {"xesam:title": ["s", "Zeta"],
        "xesam:artist": ["as", ["Delta"]], "mpris:length": ["d", 123456789.0]}})");
    ASSERT_TRUE(h.waitForTrack("Zeta", true));
    EXPECT_EQ(h.observer->current()->durationMs, 123456);

    // A player may only name what changed; the bridge then asks for the values.
    player.command(R"({"invalidate": true, "metadata": {"xesam:title": ["s", "Kappa"],
        "xesam:artist": ["as", ["Delta"]]}})");
    ASSERT_TRUE(h.waitForTrack("Kappa", true));

    player.command(R"({"status": "Stopped"})");
    ASSERT_TRUE(h.waitFor([&] { return !h.observer->current(); }));
    ASSERT_FALSE(h.reporter.reports.empty());
    EXPECT_TRUE(h.reporter.reports.back().stop);
    // Stopped is not gone: the player still owns its name.
    EXPECT_TRUE(h.bridge.isPlayerRunning());
    EXPECT_EQ(h.quits, 0);

    // Sessions: Beta ended by the change to Epsilon, Epsilon by Zeta, Zeta by Kappa, Kappa
    // by the stop.
    ASSERT_EQ(h.records.size(), 4u);
    EXPECT_EQ(h.records[0].track, "Beta");
    EXPECT_EQ(h.records[0].finaliseReason, PlayerSessionEnd::trackChanged);
    EXPECT_EQ(h.records[3].track, "Kappa");
    EXPECT_EQ(h.records[3].finaliseReason, PlayerSessionEnd::playerStopped);
}

TEST(MprisBridgeTest, WrongTypedValuesAreLeftOutWithoutHarm) {
    PrivateBus bus;
    Harness h;
    ASSERT_TRUE(h.bridge.start());
    Emitter player("testplayer");
    player.command(R"({"status": "Playing", "metadata": {"xesam:title": ["s", "Beta"],
        "xesam:artist": ["i", 7], "mpris:length": ["s", "215000000"],
        "xesam:album": ["as", ["Gamma"]]}})");
    ASSERT_TRUE(h.waitForInfo([](const PlayerInfo& info) { return text(info, "Name") == "Beta"; }));
    const PlayerInfo info = h.infos.back();
    EXPECT_EQ(info.count("Artist"), 0u);
    EXPECT_EQ(info.count("Total Time"), 0u);
    EXPECT_EQ(info.count("Album"), 0u);
    EXPECT_EQ(text(info, "Player State"), "playing");
    // Without an artist the parser has nothing to report.
    EXPECT_FALSE(h.observer->current());

    // Usable metadata with an unusable length: a sample without duration.
    player.command(R"({"metadata": {"xesam:title": ["s", "Beta"],
        "xesam:artist": ["as", ["Alpha"]], "mpris:length": ["s", "215000000"]}})");
    ASSERT_TRUE(h.waitForTrack("Beta", true));
    EXPECT_FALSE(h.observer->current()->durationMs);
    // An empty artist list and the "unknown" length -1.
    player.command(R"({"metadata": {"xesam:title": ["s", "Eta"],
        "xesam:artist": ["as", []], "mpris:length": ["x", -1]}})");
    ASSERT_TRUE(h.waitForInfo([](const PlayerInfo& i) { return text(i, "Name") == "Eta"; }));
    EXPECT_EQ(h.infos.back().count("Artist"), 0u);
    EXPECT_EQ(h.infos.back().count("Total Time"), 0u);

    // The whole Metadata with the wrong type: no item at all, the state stays.
    player.command(R"({"metadata": ["s", "not a dictionary"]})");
    ASSERT_TRUE(h.waitForInfo([](const PlayerInfo& i) { return !i.count("Name"); }));
    EXPECT_EQ(h.infos.back(), (PlayerInfo{{"Player State", std::string("playing")}}));
    // A status of the wrong type, and an unknown status word, are left out the same way.
    player.command(R"({"status": ["i", 3]})");
    ASSERT_TRUE(h.waitForInfo([](const PlayerInfo& i) { return i.empty(); }));
    player.command(R"({"status": "Playing"})");
    ASSERT_TRUE(h.waitForInfo([](const PlayerInfo& i) { return !i.empty(); }));
    player.command(R"({"status": "Buffering"})");
    ASSERT_TRUE(h.waitForInfo([](const PlayerInfo& i) { return i.empty(); }));

    // Still following, still listening.
    player.command(R"({"status": "Playing", "metadata": {"xesam:title": ["s", "Theta"],
        "xesam:artist": ["as", ["Iota"]]}})");
    ASSERT_TRUE(h.waitForTrack("Theta", true));
    EXPECT_TRUE(h.bridge.isPlayerRunning());
}

TEST(MprisBridgeTest, QuittingPlayerEndsTheItemWithAStopReport) {
    PrivateBus bus;
    Harness h;
    ASSERT_TRUE(h.bridge.start());
    Emitter player("testplayer");
    player.command(alphaBeta);
    ASSERT_TRUE(h.waitForTrack("Beta", true));

    player.quit();
    ASSERT_TRUE(h.waitFor([&] { return h.quits == 1; }));
    EXPECT_FALSE(h.observer->current());
    EXPECT_FALSE(h.bridge.isPlayerRunning());
    EXPECT_FALSE(h.bridge.followedPlayer());
    // The same state may arrive twice (signal and answer to the first question); the stop
    // report comes once, last.
    auto stops = std::count_if(h.reporter.reports.begin(), h.reporter.reports.end(),
                               [](const Report& report) { return report.stop; });
    EXPECT_EQ(stops, 1);
    EXPECT_TRUE(h.reporter.reports.back().stop);
    ASSERT_EQ(h.records.size(), 1u);
    EXPECT_EQ(h.records[0].finaliseReason, PlayerSessionEnd::playerStopped);
}

TEST(MprisBridgeTest, FollowsThePlayerThatPlays) {
    PrivateBus bus;
    Harness h;
    ASSERT_TRUE(h.bridge.start());
    Emitter one("one");
    Emitter two("two");
    one.command(R"({"status": "Paused", "metadata": {"xesam:title": ["s", "One"],
        "xesam:artist": ["as", ["First"]]}})");
    two.command(R"({"status": "Paused", "metadata": {"xesam:title": ["s", "Two"],
        "xesam:artist": ["as", ["Second"]]}})");
    // Nobody plays yet: nobody is followed, and paused players are not reported.
    ASSERT_TRUE(h.waitFor([&] { return h.bridge.knownPlayers() == 2; }));
    EXPECT_FALSE(h.bridge.isPlayerRunning());
    EXPECT_TRUE(h.infos.empty());

    two.command(R"({"status": "Playing"})");
    ASSERT_TRUE(h.waitForTrack("Two", true));
    EXPECT_EQ(h.bridge.followedPlayer(), "org.mpris.MediaPlayer2.two");

    // The other one starts playing while the followed one plays: it keeps its place.
    one.command(R"({"status": "Playing"})");
    two.command(R"({"metadata": {"xesam:title": ["s", "Two"], "xesam:artist": ["as", ["Second"]],
        "xesam:album": ["s", "Still here"]}})");
    ASSERT_TRUE(
        h.waitForInfo([](const PlayerInfo& i) { return text(i, "Album") == "Still here"; }));
    for (const PlayerInfo& info : h.infos)
        EXPECT_NE(text(info, "Name"), "One");

    // The followed one pauses while the other plays: the one that plays is followed, after a
    // stop of the old item and the switch.
    two.command(R"({"status": "Paused"})");
    ASSERT_TRUE(h.waitForTrack("One", true));
    EXPECT_EQ(h.quits, 1);
    EXPECT_EQ(h.switches, 1);
    EXPECT_EQ(h.bridge.followedPlayer(), "org.mpris.MediaPlayer2.one");
    ASSERT_GE(h.reporter.reports.size(), 2u);
    EXPECT_TRUE(h.reporter.reports[h.reporter.reports.size() - 2].stop);
    EXPECT_EQ(h.reporter.reports.back().sample.track, "One");

    // A paused player that starts again while the followed one is paused takes over too.
    one.command(R"({"status": "Paused"})");
    ASSERT_TRUE(h.waitForTrack("One", false));
    two.command(R"({"status": "Playing"})");
    ASSERT_TRUE(h.waitForTrack("Two", true));
    EXPECT_EQ(h.switches, 2);
}

TEST(MprisBridgeTest, MirrorsAndPhonesAreNotFollowedAndArtistsAreJoined) {
    PrivateBus bus;
    Harness h;
    ASSERT_TRUE(h.bridge.start());
    Emitter mirror("playerctld");
    Emitter phone("kdeconnect.mpris_000001");
    for (Emitter* e : {&mirror, &phone})
        e->command(R"({"status": "Playing", "metadata": {"xesam:title": ["s", "Elsewhere"],
            "xesam:artist": ["as", ["Someone"]]}})");
    Emitter player("testplayer");
    player.command(R"({"status": "Playing", "metadata": {"xesam:title": ["s", "Here"],
        "xesam:artist": ["s", "Solo Artist"]}})");
    ASSERT_TRUE(h.waitForTrack("Here", true));
    EXPECT_EQ(h.observer->current()->artist, "Solo Artist");
    EXPECT_EQ(h.bridge.followedPlayer(), "org.mpris.MediaPlayer2.testplayer");
    player.command(R"({"metadata": {"xesam:title": ["s", "Duet"],
        "xesam:artist": ["as", ["One", "", "Two"]]}})");
    ASSERT_TRUE(h.waitForTrack("Duet", true));
    EXPECT_EQ(h.observer->current()->artist, "One, Two");
    EXPECT_EQ(h.switches, 0);
    EXPECT_TRUE(MprisPlayerBridge::isMirrorOrRemote("org.mpris.MediaPlayer2.kdeconnect"));
    EXPECT_FALSE(MprisPlayerBridge::isMirrorOrRemote("org.mpris.MediaPlayer2.kdeconnectx"));
}

// A loop or a repeat replays the same song; only a seek to its start or a new track id tells.
TEST(MprisBridgeTest, AReplayOfTheSameSongIsReportedAsARestart) {
    PrivateBus bus;
    Harness h;
    h.bridge.setReplayThreshold(200ms);
    ASSERT_TRUE(h.bridge.start());
    Emitter player("testplayer");
    player.command(alphaBeta);
    ASSERT_TRUE(h.waitForTrack("Beta", true));

    // Signals of one player arrive in order: once its status is back, a seek sent before it
    // has been handled.
    size_t seen = 0;
    auto handled = [&] {
        seen = h.infos.size();
        player.command(R"({"status": "Playing"})");
        return h.waitFor([&] { return h.infos.size() > seen; });
    };
    player.command(R"({"seeked": 0})");        // too soon after the start: the user scrubbing back
    player.command(R"({"seeked": 90000000})"); // forward, not to the start
    ASSERT_TRUE(handled());
    EXPECT_EQ(h.restarts, 0);
    h.loop.runFor(250ms); // past the threshold, the song playing
    player.command(R"({"seeked": 500000})");
    ASSERT_TRUE(h.waitFor([&] { return h.restarts == 1; }));

    // The same song under a new track id, as a repeating playlist gives it.
    player.command(
        std::string(alphaBeta).replace(std::string(alphaBeta).find("track/1"), 7, "track/2"));
    ASSERT_TRUE(h.waitFor([&] { return h.restarts == 2; }));
    EXPECT_EQ(h.quits, 0);
}

TEST(MprisBridgeTest, PreferredPlayerIsFollowedEvenWhenPausedAndCanBeChanged) {
    PrivateBus bus;
    Emitter one("one");
    Emitter two("two.instance42");
    one.command(R"({"status": "Playing", "metadata": {"xesam:title": ["s", "One"],
        "xesam:artist": ["as", ["First"]]}})");
    two.command(R"({"status": "Paused", "metadata": {"xesam:title": ["s", "Two"],
        "xesam:artist": ["as", ["Second"]]}})");

    Harness h("two");
    ASSERT_TRUE(h.bridge.start());
    ASSERT_TRUE(h.waitForTrack("Two", false));
    EXPECT_EQ(h.bridge.followedPlayer(), "org.mpris.MediaPlayer2.two.instance42");

    // Switching the preference leaves the old player with a stop, then takes the new one.
    h.bridge.follow("org.mpris.MediaPlayer2.one");
    EXPECT_EQ(h.quits, 1);
    ASSERT_TRUE(h.waitForTrack("One", true));
    EXPECT_EQ(h.bridge.followedPlayer(), "org.mpris.MediaPlayer2.one");
}

TEST(MprisBridgeTest, LosingTheBusCountsAsThePlayerQuitting) {
    PrivateBus bus;
    Harness h;
    ASSERT_TRUE(h.bridge.start());
    Emitter player("testplayer");
    player.command(alphaBeta);
    ASSERT_TRUE(h.waitForTrack("Beta", true));

    bus.stop();
    ASSERT_TRUE(h.waitFor([&] { return !h.bridge.connected(); }));
    EXPECT_EQ(h.quits, 1);
    EXPECT_FALSE(h.observer->current());
    EXPECT_TRUE(h.reporter.reports.back().stop);
    EXPECT_FALSE(h.bridge.isPlayerRunning());
    // Nothing left to wait for, and nothing breaks when the loop goes on.
    EXPECT_LT(h.bridge.pollRequest().fd, 0);
    h.loop.runFor(100ms);
}

// A real MPRIS player: mpv with the mpv-mpris plugin, on generated and tagged audio.
std::optional<std::string> mprisPlugin() {
    for (const char* path : {"/usr/lib/mpv-mpris/mpris.so", "/etc/mpv/scripts/mpris.so",
                             "/usr/lib/x86_64-linux-gnu/mpv/scripts/mpris.so"})
        if (std::filesystem::exists(path)) return std::string(path);
    return std::nullopt;
}

void makeTone(const std::filesystem::path& file, const std::vector<std::string>& tags,
              const std::string& frequency) {
    std::vector<std::string> arguments{"-n", "-r", "44100", "-c", "2"};
    for (const auto& tag : tags) {
        arguments.push_back("--comment");
        arguments.push_back(tag);
    }
    for (const std::string& part :
         {file.string(), std::string("synth"), std::string("30"), std::string("sine"), frequency})
        arguments.push_back(part);
    auto result = test::runProcess("/usr/bin/sox", arguments);
    ASSERT_EQ(result.status, 0) << result.err;
}

void callMpv(sd_bus* bus, const char* interface, const char* member) {
    sdbus::Error error;
    int r = sd_bus_call_method(bus, "org.mpris.MediaPlayer2.mpv", "/org/mpris/MediaPlayer2",
                               interface, member, error.get(), nullptr, "");
    ASSERT_GE(r, 0) << member << ": " << (error.error.message ? error.error.message : "");
}

TEST(MprisBridgeTest, RealPlayerMpvThroughObserverAndSessions) {
    auto plugin = mprisPlugin();
    if (!plugin || !std::filesystem::exists("/usr/bin/mpv") ||
        !std::filesystem::exists("/usr/bin/sox"))
        QB_SKIP_OR_FAIL("mpv, mpv-mpris or sox is not installed (scripts/install-deps)");
    test::TempDir dir;
    makeTone(dir / "one.flac", {"TITLE=Sine One", "ARTIST=Test Artist", "ALBUM=Test Album"}, "440");
    makeTone(dir / "two.flac", {"TITLE=Sine Two", "ARTIST=Other Artist"}, "660");

    PrivateBus bus;
    Harness h;
    ASSERT_TRUE(h.bridge.start());
    // Idle after stop, so that Stop is a state and Quit the departure.
    Child mpv({"/usr/bin/mpv", "--no-config", "--no-video", "--ao=null", "--idle=yes",
               "--no-terminal", "--script=" + *plugin, (dir / "one.flac").string(),
               (dir / "two.flac").string()},
              false);
    ASSERT_TRUE(h.waitForTrack("Sine One", true));
    EXPECT_EQ(*h.observer->current(),
              (MusicPlayerInfoSample{"Test Artist", "Sine One", "Test Album", true, 30000, ""}));
    EXPECT_EQ(h.bridge.followedPlayer(), "org.mpris.MediaPlayer2.mpv");

    sd_bus* raw = nullptr;
    ASSERT_GE(sd_bus_open_user(&raw), 0);
    sdbus::Bus control(raw);
    const char* player = "org.mpris.MediaPlayer2.Player";

    callMpv(control.get(), player, "Pause");
    ASSERT_TRUE(h.waitForTrack("Sine One", false));
    h.loop.runFor(300ms); // some paused time for the session
    callMpv(control.get(), player, "Play");
    ASSERT_TRUE(h.waitForTrack("Sine One", true));
    callMpv(control.get(), player, "Next");
    ASSERT_TRUE(h.waitForTrack("Sine Two", true));
    EXPECT_EQ(*h.observer->current(),
              (MusicPlayerInfoSample{"Other Artist", "Sine Two", "", true, 30000, ""}));

    callMpv(control.get(), player, "Stop");
    ASSERT_TRUE(h.waitFor([&] { return !h.observer->current(); }));
    EXPECT_TRUE(h.reporter.reports.back().stop);
    EXPECT_TRUE(h.bridge.isPlayerRunning());
    const size_t reportsAfterStop = h.reporter.reports.size();

    callMpv(control.get(), "org.mpris.MediaPlayer2", "Quit");
    ASSERT_TRUE(h.waitFor([&] { return h.quits == 1; }));
    EXPECT_FALSE(h.bridge.isPlayerRunning());
    // Already idle: the departure adds no second stop report.
    EXPECT_EQ(h.reporter.reports.size(), reportsAfterStop);

    // Every report names one of the two tracks, and the first is Sine One playing.
    ASSERT_FALSE(h.reporter.reports.empty());
    EXPECT_EQ(h.reporter.reports.front().sample.track, "Sine One");
    for (const Report& report : h.reporter.reports) {
        if (!report.stop) {
            EXPECT_TRUE(report.sample.track == "Sine One" || report.sample.track == "Sine Two");
        }
    }

    ASSERT_EQ(h.records.size(), 2u);
    const PlayerSessionRecord& first = h.records[0];
    EXPECT_EQ(first.track, "Sine One");
    EXPECT_EQ(first.artist, "Test Artist");
    EXPECT_EQ(first.durationMS, 30000);
    EXPECT_EQ(first.finaliseReason, PlayerSessionEnd::trackChanged);
    EXPECT_GE(first.pausedMS, 300);
    EXPECT_GT(first.playingMS, 0);
    const PlayerSessionRecord& second = h.records[1];
    EXPECT_EQ(second.track, "Sine Two");
    EXPECT_EQ(second.finaliseReason, PlayerSessionEnd::playerStopped);
    EXPECT_TRUE(second.boundaryObserved);
}

} // namespace
