#pragma once

#include "app/Alerting.hpp"
#include "app/ClipboardWriting.hpp"
#include "app/DiagnosticsText.hpp"
#include "app/ShellSurface.hpp"
#include "app/TimerStarting.hpp"
#include "app/UrlOpening.hpp"
#include "core/account/CredentialStoring.hpp"
#include "core/account/PairingClient.hpp"
#include "core/common/Clock.hpp"
#include "core/common/HttpSending.hpp"
#include "core/common/LoginItemRegistering.hpp"
#include "core/companion/CompanionContextClient.hpp"
#include "core/companion/CompanionRefreshCoordinator.hpp"
#include "core/companion/HttpCompanionContextTransport.hpp"
#include "core/nowplaying/HttpNowPlayingTransport.hpp"
#include "core/nowplaying/NowPlayingObserver.hpp"
#include "core/nowplaying/NowPlayingUploader.hpp"
#include "core/player/PlayerSessionAccumulator.hpp"
#include "core/ratings/HttpRatingsTransport.hpp"
#include "core/service/CaptureController.hpp"
#include "core/service/HttpReconcileTransport.hpp"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qb::app {

// The composition root of the running application: creates every component once, wires their
// callbacks, turns desktop events into debounced scan requests, runs the timers, handles the
// pairing callback and carries out the user's commands. Main thread only, except where a
// handler says otherwise. Every platform service arrives through the environment, so the
// whole shell runs in tests without a desktop.
class AppDelegate : public std::enable_shared_from_this<AppDelegate> {
  public:
    static constexpr const char* alertTitle = "Quillabrenta for Mac";
    static constexpr double periodicSeconds = 1200;
    static constexpr double libraryChangedDelay = 8;
    static constexpr double playerBoundaryDelay = 8;
    static constexpr double wakeDelay = 3;
    static constexpr double applicationActiveDelay = 1;

    struct Environment {
        std::filesystem::path stateDirectory;
        std::optional<std::filesystem::path> executable; // absent: it could not be found
        std::function<std::shared_ptr<CaptureWorkerRunning>(const std::filesystem::path& executable,
                                                            const std::filesystem::path& directory)>
            makeWorker;
        HttpSending& http;
        CredentialStoring& credentials;
        PlayerRunningChecking& player;
        TimerStarting& timers;
        RepeatingTimerStarting& heartbeat;
        Executor mainExecutor;
        Alerting& alerts;
        UrlOpening& browser;
        ClipboardWriting& clipboard;
        LoginItemRegistering& loginItem;
        ShellSurface& surface;
        // Subscribes the desktop's events to the handlers below (start-up, after the surface).
        std::function<void()> registerTriggers;
        std::function<void()> terminate;
        // After each scan: the library may have moved (another player, a new export).
        std::function<void()> scanCompleted;
        // The library the scans read, for the diagnostics; empty when none was found.
        std::function<std::string()> libraryDescription;
        bool playerCaptureEnabled = false;
        std::string productionBaseURL;
        DiagnosticsFacts facts; // launchAtLogin is read afresh
        WallClock clock = systemWallTime;
        UptimeClock uptime = systemUptime;
        std::string playerIdentifier = NowPlayingObserver::musicPlayerIdentifier;
    };

    static std::shared_ptr<AppDelegate> create(Environment environment);

    // The start-up sequence; the application then runs until terminated.
    void start();
    bool started() const { return service_ != nullptr; }

    // Desktop events.
    void libraryChanged();
    void playerInfoChanged(const PlayerInfo& info);
    void playerQuit(const std::string& identifier);
    // Another player is followed now: its session did not start at a boundary anybody saw.
    void playerSwitched();
    // The followed player started its song over: one play ended, another begins.
    void playerRestarted();
    void didWake();
    void applicationBecameActive();
    void openURLs(const std::vector<std::string>& urls);

    // The user's commands.
    void scanNow();
    void openQuillabrenta();
    void togglePause();
    void toggleLaunchAtLogin();
    void connectAccount();
    void forgetMac();
    void copyDiagnostics();
    void quit();
    void statusItemClicked();
    void showOperationalMenu();

    void applyNewCredential(const UploadCredential& credential);
    void render(const CaptureServiceStatus& status);
    void refreshCompanionState();
    std::string diagnosticsText() const;

    const CaptureServiceStatus& status() const { return status_; }
    const std::shared_ptr<CaptureController>& service() const { return service_; }
    const std::shared_ptr<NowPlayingObserver>& nowPlaying() const { return nowPlaying_; }
    PlayerSessionAccumulator* playerSessions() const { return playerSessions_.get(); }

  private:
    explicit AppDelegate(Environment environment);

    void registerPeriodicTimer();
    void scheduleScan(const std::string& trigger, double delay);
    void sampleChanged(const std::optional<MusicPlayerInfoSample>& sample);
    void credentialRejected();
    void backfillAccountEmailIfNeeded();
    void handleExchange(PairingClient::ExchangeResult result);
    // The stored credential's e-mail; empty without one.
    std::string accountEmail() const;
    bool usableCredentialStored() const;
    void renderStatusView();
    void alert(const std::string& text);
    // The last rendered install ID, so that a report need not wait for a running scan.
    std::string installID();
    // Posts to the main thread while this object exists.
    void onMain(std::function<void(AppDelegate&)> task);

    Environment env_;
    PairingClient pairing_;
    std::shared_ptr<CaptureController> service_;
    std::unique_ptr<HttpReconcileTransport> reconcileTransport_;
    std::unique_ptr<HttpRatingsTransport> ratingsTransport_;
    std::unique_ptr<HttpNowPlayingTransport> nowPlayingTransport_;
    std::shared_ptr<NowPlayingUploader> nowPlayingUploader_;
    std::shared_ptr<NowPlayingObserver> nowPlaying_;
    std::unique_ptr<HttpCompanionContextTransport> companionTransport_;
    std::shared_ptr<CompanionContextClient> companionContext_;
    CompanionRefreshCoordinator refreshCoordinator_;
    std::unique_ptr<PlayerSessionAccumulator> playerSessions_;
    std::unique_ptr<Timer> periodicTimer_;
    std::unique_ptr<Timer> debounceTimer_;
    CaptureServiceStatus status_;
    std::string nowPlayingText_;
};

} // namespace qb::app
