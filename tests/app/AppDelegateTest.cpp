// The shell's composition root with every platform service replaced: a hand-driven clock and
// timers, scripted alerts and service answers, an in-memory key store, and the real capture
// controller running the real capture pass over a fake library.
#include "app/AppDelegate.hpp"
#include "CaptureControllerHarness.hpp"
#include "core/capture/CaptureRuntimeStore.hpp"
#include "core/common/FileIO.hpp"
#include "core/player/NonLibrarySessionStore.hpp"

#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <map>
#include <thread>

using namespace qb;
using namespace qb::app;
using namespace qb::test;

namespace {

constexpr double startTime = 1'700'000'000.0;
const std::string base = "https://svc.example";

// Timers and the wall clock move together, by hand.
class ManualTime : public TimerStarting, public RepeatingTimerStarting {
  public:
    // Read by the capture pass on the controller's queue.
    std::atomic<double> now = startTime;

    std::unique_ptr<Timer> start(double seconds, bool repeating,
                                 std::function<void()> fire) override {
        auto entry = std::make_shared<Entry>(
            Entry{now + seconds, repeating ? seconds : 0, std::move(fire), true});
        entries_.push_back(entry);
        return std::make_unique<Handle>(entry);
    }
    void startRepeating(double seconds, std::function<void()> tick) override {
        forever_.push_back(start(seconds, true, std::move(tick)));
    }
    // Fires every timer that falls due up to now + seconds, in time order.
    void advance(double seconds) {
        const double until = now + seconds;
        for (;;) {
            std::shared_ptr<Entry> next;
            for (const auto& e : entries_)
                if (e->live && e->due <= until && (!next || e->due < next->due)) next = e;
            if (!next) break;
            now = next->due;
            if (next->interval > 0)
                next->due += next->interval;
            else
                next->live = false;
            auto fire = next->fire;
            fire();
        }
        now = until;
    }

  private:
    struct Entry {
        double due;
        double interval;
        std::function<void()> fire;
        bool live;
    };
    struct Handle : Timer {
        explicit Handle(std::shared_ptr<Entry> e) : entry(std::move(e)) {}
        ~Handle() override { entry->live = false; }
        std::shared_ptr<Entry> entry;
    };
    std::vector<std::shared_ptr<Entry>> entries_;
    std::vector<std::unique_ptr<Timer>> forever_;
};

// Answers requests on its own thread, as the HTTP client does, from a script per path.
class FakeHttp : public HttpSending {
  public:
    FakeHttp() : thread_([this] { run(); }) {}
    ~FakeHttp() override {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    void send(HttpRequest request, std::function<void(HttpResponse)> completion) override {
        std::lock_guard lock(mutex_);
        const std::string path = request.url.substr(request.url.find('/', 8));
        const std::string key = path.substr(0, path.find('?'));
        HttpResponse answer{200, R"({"ok":true})", ""};
        if (auto it = answers_.find(key); it != answers_.end()) answer = it->second;
        requests_.push_back(request);
        queue_.push_back([completion = std::move(completion), answer] { completion(answer); });
        wake_.notify_all();
    }
    void answer(const std::string& path, HttpResponse response) {
        std::lock_guard lock(mutex_);
        answers_[path] = std::move(response);
    }
    std::vector<HttpRequest> requests(const std::string& path) const {
        std::lock_guard lock(mutex_);
        std::vector<HttpRequest> found;
        for (const auto& r : requests_)
            if (r.url.find(path) != std::string::npos) found.push_back(r);
        return found;
    }
    // True when something was still waiting to be answered.
    bool waitIdle() {
        std::unique_lock lock(mutex_);
        const bool busy = !queue_.empty() || running_;
        idle_.wait(lock, [this] { return queue_.empty() && !running_; });
        return busy;
    }

  private:
    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (queue_.empty()) return;
            auto task = std::move(queue_.front());
            queue_.pop_front();
            running_ = true;
            lock.unlock();
            task();
            lock.lock();
            running_ = false;
            idle_.notify_all();
        }
    }
    mutable std::mutex mutex_;
    std::condition_variable wake_, idle_;
    std::map<std::string, HttpResponse> answers_;
    std::vector<HttpRequest> requests_;
    std::deque<std::function<void()>> queue_;
    bool running_ = false;
    bool stopping_ = false;
    std::thread thread_;
};

class MemoryCredentials : public CredentialStoring {
  public:
    std::optional<UploadCredential> load() const override {
        std::lock_guard lock(mutex_);
        return stored;
    }
    bool save(const UploadCredential& credential) override {
        if (!credential.isUsable()) return false;
        std::lock_guard lock(mutex_);
        if (refuseSaves) {
            stored.reset();
            return false;
        }
        stored = credential;
        return true;
    }
    void clear() override {
        std::lock_guard lock(mutex_);
        stored.reset();
    }
    std::optional<UploadCredential> stored;
    bool refuseSaves = false;

  private:
    mutable std::mutex mutex_;
};

struct ScriptedAlerts : Alerting {
    size_t show(const Alert& alert) override {
        shown.push_back(alert);
        if (answers.empty()) return 0;
        const size_t answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::vector<Alert> shown;
    std::deque<size_t> answers;
};

struct Desktop : UrlOpening, ClipboardWriting {
    bool open(const std::string& url) override {
        opened.push_back(url);
        return true;
    }
    void setText(const std::string& text) override { clipboard = text; }
    std::vector<std::string> opened;
    std::string clipboard;
};

struct LoginItem : LoginItemRegistering {
    bool isRegistered() const override { return registered; }
    void setRegistered(bool value) override {
        if (failure) throw FileError(*failure);
        registered = value;
    }
    bool registered = false;
    std::optional<std::string> failure;
};

struct Surface : ShellSurface {
    void showStatus(const StatusView& view) override { statuses.push_back(view); }
    void showNowPlaying(const std::string& text) override { nowPlaying = text; }
    void showCompanion(const CompanionViewState& state) override { companion = state; }
    bool isPopoverShown() const override { return popover; }
    void showPopover() override { popover = true; }
    void closePopover() override { popover = false; }
    void showOperationalMenu() override { ++menus; }
    std::vector<StatusView> statuses;
    std::string nowPlaying;
    std::optional<CompanionViewState> companion;
    bool popover = false;
    int menus = 0;
};

struct Player : PlayerRunningChecking {
    bool isPlayerRunning() override { return true; }
};

PlayerInfo playing(const std::string& artist, const std::string& track, bool isPlaying = true) {
    return {{"Player State", PlayerInfoValue(std::string(isPlaying ? "Playing" : "Paused"))},
            {"Name", PlayerInfoValue(track)},
            {"Artist", PlayerInfoValue(artist)},
            {"Total Time", PlayerInfoValue(int64_t{200000})}};
}

UploadCredential credential(const std::string& token, const std::string& account,
                            const std::string& email = "") {
    return {token, base, 1, account, email};
}

class Shell {
  public:
    TempDir dir;
    ManualTime time;
    FakeHttp http;
    MemoryCredentials credentials;
    ScriptedAlerts alerts;
    Desktop desktop;
    LoginItem loginItem;
    Surface surface;
    Player player;
    ManualExecutor mainThread;
    FakeLibrary library;
    std::shared_ptr<TestWorker> worker = std::make_shared<TestWorker>();
    bool terminated = false;
    int triggersRegistered = 0;
    int scansCompleted = 0;
    std::shared_ptr<AppDelegate> app;

    explicit Shell(bool playerCapture = false,
                   std::optional<std::filesystem::path> executable = "/usr/bin/quillabrenta") {
        library.setTracks({song("000000000000000A", 1)});
        auto pass = std::make_shared<CaptureScanWorker>(library, CaptureBaselineStore(dir.path()),
                                                        CaptureRuntimeStore(dir.path()));
        worker->setBody([this, pass](const std::string& trigger) {
            return pass->run(trigger, wholeSeconds(time.now));
        });
        app = AppDelegate::create({
            .stateDirectory = dir.path(),
            .executable = executable,
            .makeWorker = [this](const auto&, const auto&) { return worker; },
            .http = http,
            .credentials = credentials,
            .player = player,
            .timers = time,
            .heartbeat = time,
            .mainExecutor = mainThread.executor(),
            .alerts = alerts,
            .browser = desktop,
            .clipboard = desktop,
            .loginItem = loginItem,
            .surface = surface,
            .registerTriggers = [this] { ++triggersRegistered; },
            .terminate = [this] { terminated = true; },
            .scanCompleted = [this] { ++scansCompleted; },
            .libraryDescription = [] { return std::string("Rhythmbox library /m/rhythmdb.xml"); },
            .playerCaptureEnabled = playerCapture,
            .productionBaseURL = base,
            .facts = {"1.0.0", "7", "Linux", "Debian GNU/Linux 12, kernel 6.1", false, ""},
            .clock = [this] { return time.now.load(); },
            .uptime = [this] { return time.now.load() - startTime; },
        });
    }

    // Until the service, the network and the main thread have nothing left to do.
    void settle() {
        for (int round = 0; round < 50; ++round) {
            const bool network = http.waitIdle();
            if (app->service()) app->service()->status();
            const size_t ran = mainThread.runAll();
            if (!network && ran == 0) return;
        }
        FAIL() << "the shell did not settle";
    }
    void start() {
        app->start();
        settle();
    }
    // Later scans run at once instead of trailing the first by the minimum interval.
    void passMinimumInterval() {
        time.advance(CaptureController::minimumScanInterval + 1);
        settle();
    }
    std::vector<std::string> triggers() const { return worker->triggers(); }
};

TEST(AppDelegate, StartsUpInOrder) {
    Shell shell;
    shell.credentials.stored = credential("token-1", "acct-1");
    NonLibrarySessionStore journal(shell.dir.path());
    journal.createIfMissing(); // left by an earlier run with player capture on
    ASSERT_TRUE(journal.exists());

    shell.http.answer("/api/native/capture/mac/identity",
                      {200, R"({"ok":true,"account_email":"me@example.com"})", ""});
    shell.start();

    EXPECT_EQ(shell.triggersRegistered, 1);
    EXPECT_EQ(shell.triggers(), (std::vector<std::string>{"launch"}));
    EXPECT_EQ(shell.scansCompleted, 1); // the library is looked for again
    EXPECT_FALSE(journal.exists());     // player capture is off
    EXPECT_EQ(shell.app->playerSessions(), nullptr);
    EXPECT_TRUE(shell.app->nowPlaying()->enabled());
    // The forced availability check, and the e-mail filled in from the identity answer.
    EXPECT_EQ(shell.http.requests("/api/native/capture/ratings").at(0).method, "GET");
    EXPECT_EQ(shell.credentials.stored->accountEmail, "me@example.com");
    ASSERT_FALSE(shell.surface.statuses.empty());
    EXPECT_EQ(shell.surface.statuses.back().accountEmail, "me@example.com");
    EXPECT_FALSE(shell.surface.statuses.back().status.installID.empty());
    EXPECT_TRUE(shell.alerts.shown.empty());
    EXPECT_FALSE(shell.terminated);
}

TEST(AppDelegate, WithoutItsExecutableItSaysSoAndEnds) {
    Shell shell(false, std::nullopt);
    shell.start();
    EXPECT_EQ(shell.alerts.shown, (std::vector<Alert>{{"Quillabrenta for Mac",
                                                       "Could not locate the signed capture "
                                                       "executable.",
                                                       {}}}));
    EXPECT_TRUE(shell.terminated);
    EXPECT_EQ(shell.app->service(), nullptr);
    EXPECT_EQ(shell.triggersRegistered, 0);
}

// One pending request at most: each event replaces it, trigger and delay included.
struct DebounceCase {
    const char* name;
    std::vector<std::pair<double, std::string>> events; // seconds after the first, event
    std::string trigger;
    double scanAt; // seconds after the first event
};

class AppDelegateDebounce : public ::testing::TestWithParam<DebounceCase> {};

TEST_P(AppDelegateDebounce, OneScanRequestFollowsTheLastEvent) {
    const DebounceCase& c = GetParam();
    Shell shell;
    shell.start();
    shell.passMinimumInterval();
    const double first = shell.time.now;
    for (const auto& [at, event] : c.events) {
        shell.time.advance(first + at - shell.time.now);
        if (event == "player") shell.app->playerInfoChanged(playing("A", "T"));
        if (event == "library") shell.app->libraryChanged();
        if (event == "wake") shell.app->didWake();
        if (event == "active") shell.app->applicationBecameActive();
    }
    shell.time.advance(first + c.scanAt - 0.01 - shell.time.now);
    shell.settle();
    EXPECT_EQ(shell.triggers().size(), 1u) << "scanned too early";
    shell.time.advance(0.02);
    shell.settle();
    EXPECT_EQ(shell.triggers(), (std::vector<std::string>{"launch", c.trigger}));
    shell.time.advance(30);
    shell.settle();
    EXPECT_EQ(shell.triggers().size(), 2u) << "more than one request";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AppDelegateDebounce,
    ::testing::Values(DebounceCase{"ThreePlayerEvents",
                                   {{0, "player"}, {3, "player"}, {6, "player"}},
                                   "music_boundary_hint",
                                   14},
                      DebounceCase{
                          "WakeThenLibrary", {{0, "wake"}, {2, "library"}}, "library_changed", 10},
                      DebounceCase{"LibraryThenWake", {{0, "library"}, {2, "wake"}}, "wake", 5},
                      DebounceCase{"ApplicationActive", {{0, "active"}}, "application_active", 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AppDelegate, ThePeriodicTimerReplacesAPendingRequest) {
    Shell shell;
    shell.start();
    // Just before the periodic timer fires, a player event asks for a scan in 8 s.
    shell.time.advance(AppDelegate::periodicSeconds - 2);
    shell.settle();
    shell.app->playerInfoChanged(playing("A", "T"));
    const size_t availabilityChecks = shell.http.requests("/api/native/capture/ratings").size();
    shell.time.advance(2);
    shell.settle();
    EXPECT_EQ(shell.triggers(), (std::vector<std::string>{"launch", "periodic"}));
    shell.time.advance(20);
    shell.settle();
    EXPECT_EQ(shell.triggers().size(), 2u);
    // The unforced check is not due yet, so it sends nothing new.
    EXPECT_EQ(shell.http.requests("/api/native/capture/ratings").size(), availabilityChecks);
}

TEST(AppDelegate, PlayerSessionsAreJournalledOnlyWithAUsableCredential) {
    Shell shell(true);
    shell.start();
    ASSERT_NE(shell.app->playerSessions(), nullptr);
    NonLibrarySessionStore journal(shell.dir.path());
    ASSERT_TRUE(journal.exists());

    // The scan each change asks for runs before the clock moves on.
    auto play = [&](const std::string& track) {
        shell.app->playerInfoChanged(playing("Artist", track));
        shell.time.advance(AppDelegate::playerBoundaryDelay + 1);
        shell.settle();
        shell.time.advance(200 - AppDelegate::playerBoundaryDelay - 1);
        shell.settle();
    };
    play("One");
    play("Two"); // closes "One" while no credential is stored: dropped
    EXPECT_TRUE(journal.load().sessions.empty());

    shell.credentials.stored = credential("token-1", "acct-1");
    play("Three");
    play("Four");
    std::vector<std::pair<std::string, int64_t>> journalled;
    for (const auto& session : journal.load().sessions)
        journalled.emplace_back(session.track, session.playingMS);
    EXPECT_EQ(journalled,
              (std::vector<std::pair<std::string, int64_t>>{{"Two", 200000}, {"Three", 200000}}));
    EXPECT_EQ(shell.surface.nowPlaying, "Now: Artist \u2013 Four");
}

TEST(AppDelegate, AReplayEndsOneSessionAndASwitchStartsOneWithoutBoundary) {
    Shell shell(true);
    shell.credentials.stored = credential("token-1", "acct-1");
    shell.start();
    NonLibrarySessionStore journal(shell.dir.path());
    shell.app->playerInfoChanged(playing("Artist", "Loop"));
    shell.time.advance(200);
    shell.app->playerRestarted(); // the same song from its start
    shell.time.advance(100);
    shell.app->playerSwitched(); // another player: its session has no known start
    shell.app->playerInfoChanged(playing("Artist", "Other"));
    shell.time.advance(50);
    shell.app->playerInfoChanged(playing("Artist", "Third"));
    shell.settle();
    std::vector<std::tuple<std::string, int64_t, bool>> journalled;
    for (const auto& session : journal.load().sessions)
        journalled.emplace_back(session.track, session.playingMS, session.boundaryObserved);
    EXPECT_EQ(journalled, (std::vector<std::tuple<std::string, int64_t, bool>>{
                              {"Loop", 200000, false}, {"Other", 50000, false}}));
}

TEST(AppDelegate, PauseAndResume) {
    Shell shell(true);
    shell.credentials.stored = credential("token-1", "acct-1");
    shell.start();
    shell.app->playerInfoChanged(playing("Artist", "One"));
    shell.settle();
    ASSERT_EQ(shell.surface.nowPlaying, "Now: Artist \u2013 One");

    shell.app->togglePause();
    EXPECT_TRUE(shell.app->status().paused);
    EXPECT_FALSE(shell.app->nowPlaying()->enabled());
    EXPECT_EQ(shell.surface.nowPlaying, "");
    EXPECT_TRUE(shell.surface.companion->capturePaused);
    shell.settle();
    EXPECT_TRUE(shell.app->service()->status().paused);
    // The open session was discarded: resuming and changing track journals nothing.
    shell.app->togglePause();
    EXPECT_TRUE(shell.app->nowPlaying()->enabled());
    shell.app->playerInfoChanged(playing("Artist", "Two"));
    shell.settle();
    EXPECT_TRUE(NonLibrarySessionStore(shell.dir.path()).load().sessions.empty());
    EXPECT_FALSE(shell.surface.statuses.back().status.paused);
}

TEST(AppDelegate, DisconnectingThisMac) {
    Shell shell;
    shell.credentials.stored = credential("token-1", "acct-1", "me@example.com");
    shell.start();
    const std::string installID = shell.app->status().installID;

    shell.alerts.answers = {1}; // Cancel
    shell.app->forgetMac();
    EXPECT_EQ(shell.alerts.shown.back(),
              (Alert{"Disconnect this Mac?",
                     "This disconnects the account and removes the local capture baseline and "
                     "pending uploads. The next scan starts a new forward-only baseline.",
                     {"Disconnect Mac", "Cancel"}}));
    EXPECT_TRUE(shell.credentials.stored);

    shell.alerts.answers = {0};
    shell.app->forgetMac();
    shell.settle();
    EXPECT_FALSE(shell.credentials.stored);
    const auto disconnects = shell.http.requests("/api/native/capture/mac/disconnect");
    ASSERT_EQ(disconnects.size(), 1u);
    EXPECT_EQ(disconnects[0].method, "POST");
    EXPECT_FALSE(shell.app->nowPlaying()->enabled());
    const CaptureServiceStatus after = shell.app->service()->status();
    EXPECT_NE(after.installID, installID);
    EXPECT_FALSE(after.lastScanAt);
    EXPECT_FALSE(after.connected);
    EXPECT_EQ(shell.alerts.shown.size(), 2u);
}

TEST(AppDelegate, AdoptingACredential) {
    Shell shell;
    shell.credentials.stored = credential("token-1", "acct-1");
    // Two queued payloads and the launch scan's first report, which the service cannot take now.
    CaptureRuntimeStore store(shell.dir.path());
    CaptureRuntimeState seeded = store.load();
    for (int i = 0; i < 2; ++i)
        seeded.pending.push_back(pendingPayload("p" + std::to_string(i), i));
    store.save(seeded);
    shell.http.answer("/api/native/capture/reconcile", {503, "{}", ""});
    shell.start();
    ASSERT_EQ(shell.app->service()->status().pending, 3);

    // Same account, or no account on one side: saved without a question.
    shell.app->applyNewCredential(credential("token-2", "acct-1"));
    shell.app->applyNewCredential(credential("token-3", ""));
    EXPECT_TRUE(shell.alerts.shown.empty());
    EXPECT_EQ(shell.credentials.stored->token, "token-3");
    shell.credentials.stored = credential("token-3", "acct-1");

    const Alert question{"Switch Quillabrenta account?",
                         "This Mac has 3 pending play(s) queued for the previous account. "
                         "Switching accounts discards them and starts a fresh capture baseline "
                         "for the new account.",
                         {"Switch Account", "Cancel"}};
    shell.alerts.answers = {1};
    shell.app->applyNewCredential(credential("token-4", "acct-2"));
    EXPECT_EQ(shell.alerts.shown, std::vector<Alert>{question});
    EXPECT_EQ(shell.credentials.stored->token, "token-3");
    EXPECT_EQ(shell.app->service()->status().pending, 3);

    shell.alerts.answers = {0};
    shell.app->applyNewCredential(credential("token-4", "acct-2"));
    shell.settle();
    EXPECT_EQ(shell.credentials.stored->token, "token-4");
    EXPECT_EQ(shell.app->service()->status().pending, 0);

    // Back again with nothing pending: the other text.
    shell.alerts.answers = {1};
    shell.app->applyNewCredential(credential("token-5", "acct-1"));
    EXPECT_EQ(shell.alerts.shown.back().informativeText,
              "This Mac was connected to a different Quillabrenta account. Switching starts a "
              "fresh capture baseline for the new account.");

    shell.credentials.refuseSaves = true;
    shell.app->applyNewCredential(credential("token-6", "acct-2"));
    EXPECT_EQ(
        shell.alerts.shown.back(),
        (Alert{"Quillabrenta for Mac", "Could not store the capture credential securely.", {}}));
}

TEST(AppDelegate, PairingCallbacks) {
    Shell shell;
    shell.start();
    shell.app->openURLs({"https://elsewhere.example/?code=1",
                         "quillabrenta-capture://other?code=1&base_url=https%3A%2F%2Fsvc.example"});
    shell.settle();
    EXPECT_EQ(shell.alerts.shown,
              (std::vector<Alert>{
                  {"Quillabrenta for Mac", "Quillabrenta returned an invalid connection.", {}}}));

    shell.http.answer("/api/native/capture/mac/exchange", {410, "{}", ""});
    shell.app->openURLs(
        {"quillabrenta-capture://auth?code=old&base_url=https%3A%2F%2Fsvc.example"});
    shell.settle();
    EXPECT_EQ(shell.alerts.shown.back().informativeText,
              "The connection expired or was already used.");

    shell.http.answer("/api/native/capture/mac/exchange",
                      {200,
                       R"({"ok":true,"token":"fresh","base_url":"https://svc.example",)"
                       R"("account_id":"acct-9","account_email":"me@example.com"})",
                       ""});
    shell.app->openURLs(
        {"quillabrenta-capture://auth?code=good&base_url=https%3A%2F%2Fsvc.example"});
    shell.settle();
    ASSERT_TRUE(shell.credentials.stored);
    EXPECT_EQ(shell.credentials.stored->token, "fresh");
    EXPECT_EQ(shell.alerts.shown.size(), 2u);
    const auto exchanges = shell.http.requests("/api/native/capture/mac/exchange");
    EXPECT_EQ(Json::parse(exchanges.back().body),
              (Json{{"code", "good"}, {"install_id", shell.app->status().installID}}));
    EXPECT_TRUE(shell.app->status().connected);
}

TEST(AppDelegate, MenuCommands) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    QLocale::setDefault(QLocale::c());
    Shell shell;
    shell.start();
    shell.app->connectAccount();
    shell.app->openQuillabrenta();
    EXPECT_EQ(shell.desktop.opened,
              (std::vector<std::string>{
                  base + "/native/mac-capture/connect?install_id=" + shell.app->status().installID,
                  base + "/live"}));

    shell.app->toggleLaunchAtLogin();
    EXPECT_TRUE(shell.loginItem.registered);
    EXPECT_TRUE(shell.surface.statuses.back().launchAtLogin);
    shell.loginItem.failure = "permission denied: /home/u/.config/autostart";
    shell.app->toggleLaunchAtLogin();
    EXPECT_EQ(shell.alerts.shown.back().informativeText,
              "Could not change Launch at login: permission denied: /home/u/.config/autostart");
    EXPECT_TRUE(shell.surface.statuses.back().launchAtLogin);

    shell.app->copyDiagnostics();
    const std::string installID = shell.app->status().installID;
    EXPECT_EQ(shell.desktop.clipboard,
              "Quillabrenta for Mac diagnostics\nApp version: 1.0.0 (7)\n"
              "Linux: Debian GNU/Linux 12, kernel 6.1\nInstall ID: " +
                  installID +
                  "\nPaired: no\nLaunch at login: on\nLast scan: 22:13:20"
                  // The first scan's report waits for an account; the library line tells which one.
                  "\nLast upload: Never\nPending: 1\nLibrary: Rhythmbox library /m/rhythmdb.xml");

    shell.app->statusItemClicked();
    EXPECT_TRUE(shell.surface.popover);
    shell.app->showOperationalMenu();
    EXPECT_FALSE(shell.surface.popover);
    EXPECT_EQ(shell.surface.menus, 1);
    shell.app->quit();
    EXPECT_TRUE(shell.terminated);
}

TEST(AppDelegate, ARejectedCredentialIsForgotten) {
    Shell shell;
    shell.credentials.stored = credential("token-1", "acct-1");
    shell.http.answer("/api/native/capture/reconcile", {401, "{}", ""});
    shell.start();
    EXPECT_FALSE(shell.credentials.stored);
    EXPECT_FALSE(shell.app->service()->status().connected);
}

} // namespace
