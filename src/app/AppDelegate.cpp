#include "app/AppDelegate.hpp"

#include "core/account/AccountEmailBackfill.hpp"
#include "core/account/AccountSwitchPolicy.hpp"
#include "core/common/ServiceEndpoints.hpp"

namespace qb::app {

namespace {
constexpr double reconcileTimeoutSeconds = 20;
constexpr double ratingsTimeoutSeconds = 30;
constexpr double nowPlayingTimeoutSeconds = 10;
constexpr double companionTimeoutSeconds = 10;
} // namespace

std::shared_ptr<AppDelegate> AppDelegate::create(Environment environment) {
    return std::shared_ptr<AppDelegate>(new AppDelegate(std::move(environment)));
}

// No I/O here: the start-up does it, in its order.
AppDelegate::AppDelegate(Environment environment)
    : env_(std::move(environment)), pairing_(env_.http, env_.productionBaseURL, env_.clock),
      refreshCoordinator_(env_.clock) {}

void AppDelegate::onMain(std::function<void(AppDelegate&)> task) {
    env_.mainExecutor([weak = weak_from_this(), task = std::move(task)] {
        if (auto self = weak.lock()) task(*self);
    });
}

void AppDelegate::start() {
    // 1. Accessory mode is the Qt side's: no main window, and closing a window does not quit.
    if (!env_.executable) {
        alert("Could not locate the signed capture executable.");
        env_.terminate();
        return;
    }
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    auto credentialProvider = [weak]() -> std::optional<UploadCredential> {
        if (auto self = weak.lock()) return self->env_.credentials.load();
        return std::nullopt;
    };

    reconcileTransport_ =
        std::make_unique<HttpReconcileTransport>(env_.http, reconcileTimeoutSeconds);
    ratingsTransport_ = std::make_unique<HttpRatingsTransport>(env_.http, ratingsTimeoutSeconds);
    CaptureController::Options options;
    options.stateDirectory = env_.stateDirectory;
    options.worker = env_.makeWorker(*env_.executable, env_.stateDirectory);
    options.transport =
        std::shared_ptr<ReconcileTransport>(reconcileTransport_.get(), [](auto*) {});
    options.ratingsTransport =
        std::shared_ptr<RatingsTransport>(ratingsTransport_.get(), [](auto*) {});
    options.credentialProvider = credentialProvider;
    options.mainExecutor = env_.mainExecutor;
    options.clock = env_.clock;
    service_ = CaptureController::make(std::move(options));

    // The controller already delivers on the main executor.
    service_->setOnStatusChange([weak](const CaptureServiceStatus& status) {
        if (auto self = weak.lock()) self->render(status);
    });

    if (env_.playerCaptureEnabled) {
        playerSessions_ = std::make_unique<PlayerSessionAccumulator>();
        service_->prepareNonLibrarySessions();
    } else {
        service_->discardNonLibrarySessions(); // a disabled feature leaves no journal behind
    }

    service_->setOnCredentialRejected([weak] {
        if (auto self = weak.lock()) self->credentialRejected();
    });

    nowPlayingTransport_ =
        std::make_unique<HttpNowPlayingTransport>(env_.http, nowPlayingTimeoutSeconds);
    nowPlayingUploader_ =
        NowPlayingUploader::create(*nowPlayingTransport_, credentialProvider, env_.clock);
    nowPlaying_ = NowPlayingObserver::create(
        *nowPlayingUploader_,
        [weak]() -> std::string {
            if (auto self = weak.lock()) return self->installID();
            return {};
        },
        env_.player, env_.heartbeat, env_.clock, env_.playerIdentifier);

    nowPlaying_->setOnNowPlayingChange([weak](const std::string& text) {
        if (auto self = weak.lock()) {
            self->nowPlayingText_ = text.empty() ? "" : "Now: " + text;
            self->env_.surface.showNowPlaying(self->nowPlayingText_);
        }
    });

    companionTransport_ =
        std::make_unique<HttpCompanionContextTransport>(env_.http, companionTimeoutSeconds);
    companionContext_ = CompanionContextClient::create(*companionTransport_, credentialProvider,
                                                       env_.mainExecutor, env_.clock);
    companionContext_->setOnContextChange([weak](const std::optional<CompanionContext>&) {
        if (auto self = weak.lock()) self->refreshCompanionState();
    });
    companionContext_->setOnReceiptChange([weak](const std::optional<CompanionCaptureReceipt>&) {
        if (auto self = weak.lock()) self->refreshCompanionState();
    });

    nowPlaying_->setOnSampleChange([weak](const std::optional<MusicPlayerInfoSample>& sample) {
        if (auto self = weak.lock()) self->sampleChanged(sample);
    });

    nowPlayingUploader_->setOnAccepted([weak](const std::string& artist, const std::string& track) {
        auto self = weak.lock();
        if (!self) return;
        self->onMain([artist, track](AppDelegate& app) {
            if (auto request = app.refreshCoordinator_.publishAccepted(artist, track))
                app.companionContext_->refresh(request->artist, request->track, request->since);
        });
    });

    // 14–15: the surface exists already and reports to the commands below.
    env_.registerTriggers();
    registerPeriodicTimer();

    render(service_->status());

    nowPlaying_->setEnabled(!status_.paused);
    nowPlaying_->start();

    service_->scan("launch", false);
    service_->refreshRatingsAvailability(true);
    backfillAccountEmailIfNeeded();
}

void AppDelegate::registerPeriodicTimer() {
    periodicTimer_ = env_.timers.start(periodicSeconds, true, [this] {
        scheduleScan("periodic", 0);
        service_->refreshRatingsAvailability(false);
    });
}

// One pending request at most: a later one replaces an earlier one, trigger included. The
// controller then applies its minimum interval and trailing scan.
void AppDelegate::scheduleScan(const std::string& trigger, double delay) {
    debounceTimer_.reset();
    debounceTimer_ = env_.timers.start(delay, false, [this, trigger] {
        debounceTimer_.reset();
        service_->scan(trigger, false);
    });
}

void AppDelegate::libraryChanged() {
    if (started()) scheduleScan("library_changed", libraryChangedDelay);
}

void AppDelegate::playerInfoChanged(const PlayerInfo& info) {
    if (!started()) return;
    nowPlaying_->playerInfoChanged(info);
    scheduleScan("music_boundary_hint", playerBoundaryDelay);
}

void AppDelegate::playerQuit(const std::string& identifier) {
    if (!started()) return;
    nowPlaying_->runningApplicationTerminated(identifier);
    scheduleScan("music_boundary_hint", playerBoundaryDelay);
}

void AppDelegate::playerSwitched() {
    if (playerSessions_) playerSessions_->discard();
}

void AppDelegate::playerRestarted() {
    if (!started() || !playerSessions_) return;
    const std::optional<MusicPlayerInfoSample>& current = nowPlaying_->current();
    if (!current) return;
    // A stop and the same song again, as the accumulator would have seen them.
    const MusicPlayerInfoSample sample = *current;
    sampleChanged(std::nullopt);
    sampleChanged(sample);
    scheduleScan("music_boundary_hint", playerBoundaryDelay);
}

void AppDelegate::didWake() {
    if (started()) scheduleScan("wake", wakeDelay);
}

void AppDelegate::applicationBecameActive() {
    if (started()) scheduleScan("application_active", applicationActiveDelay);
}

void AppDelegate::sampleChanged(const std::optional<MusicPlayerInfoSample>& sample) {
    if (playerSessions_) {
        std::optional<PlayerSessionRecord> record =
            playerSessions_->observe(sample, env_.clock(), env_.uptime());
        // Without a usable credential nobody could receive it.
        if (record && usableCredentialStored()) service_->recordPlayerSession(std::move(*record));
    }
    const std::string artist = sample ? sample->artist : "";
    const std::string track = sample ? sample->track : "";
    onMain([artist, track](AppDelegate& app) {
        if (auto request = app.refreshCoordinator_.trackChanged(artist, track))
            app.companionContext_->refresh(request->artist, request->track, request->since);
        app.refreshCompanionState();
    });
}

// On the controller's work queue: only the key store and asynchronous calls.
void AppDelegate::credentialRejected() {
    if (playerSessions_) playerSessions_->discard();
    env_.credentials.clear();
    service_->noteCredentialChanged();
    nowPlayingUploader_->noteCredentialChanged();
}

std::string AppDelegate::installID() {
    if (!status_.installID.empty()) return status_.installID;
    return service_->installID();
}

std::string AppDelegate::accountEmail() const {
    const std::optional<UploadCredential> credential = env_.credentials.load();
    return credential ? credential->accountEmail : "";
}

bool AppDelegate::usableCredentialStored() const {
    const std::optional<UploadCredential> credential = env_.credentials.load();
    return credential && credential->isUsable();
}

void AppDelegate::alert(const std::string& text) {
    env_.alerts.show({alertTitle, text, {}});
}

void AppDelegate::render(const CaptureServiceStatus& status) {
    const CaptureServiceStatus previous = std::exchange(status_, status);
    if (status_.lastScanAt != previous.lastScanAt && env_.scanCompleted) env_.scanCompleted();
    if (status_.lastUploadAt && previous.lastUploadAt != status_.lastUploadAt) {
        if (auto request = refreshCoordinator_.currentConfirmationCheck())
            companionContext_->refresh(request->artist, request->track, request->since);
    }
    renderStatusView();
    refreshCompanionState();
}

void AppDelegate::renderStatusView() {
    env_.surface.showStatus({status_, accountEmail(), env_.loginItem.isRegistered()});
}

void AppDelegate::refreshCompanionState() {
    if (!started()) return;
    env_.surface.showCompanion(CompanionViewState::build(
        status_, nowPlaying_->current(), accountEmail(), companionContext_->currentContext(),
        companionContext_->currentReceipt(), env_.clock()));
}

std::string AppDelegate::diagnosticsText() const {
    DiagnosticsFacts facts = env_.facts;
    facts.launchAtLogin = env_.loginItem.isRegistered();
    if (env_.libraryDescription) facts.library = env_.libraryDescription();
    return app::diagnosticsText(status_, facts);
}

void AppDelegate::openURLs(const std::vector<std::string>& urls) {
    const std::string prefix = std::string(PairingClient::callbackScheme) + ":";
    for (const std::string& url : urls) {
        if (url.rfind(prefix, 0) != 0) continue;
        std::weak_ptr<AppDelegate> weak = weak_from_this();
        pairing_.exchange(url, installID(), [weak](PairingClient::ExchangeResult result) {
            auto self = weak.lock();
            if (!self) return;
            self->onMain([result = std::move(result)](AppDelegate& app) mutable {
                app.handleExchange(std::move(result));
            });
        });
    }
}

void AppDelegate::handleExchange(PairingClient::ExchangeResult result) {
    if (const auto* error = std::get_if<PairingError>(&result)) {
        alert(error->description);
        return;
    }
    applyNewCredential(std::get<UploadCredential>(result));
}

void AppDelegate::applyNewCredential(const UploadCredential& credential) {
    const std::optional<UploadCredential> previous = env_.credentials.load();
    if (AccountSwitchPolicy::isAccountSwitch(previous, credential)) {
        const int64_t pending = service_->status().pending;
        const std::string text =
            pending < 1 ? "This Mac was connected to a different Quillabrenta account. Switching "
                          "starts a fresh capture baseline for the new account."
                        : "This Mac has " + std::to_string(pending) +
                              " pending play(s) queued for the previous account. Switching "
                              "accounts discards them and starts a fresh capture baseline for "
                              "the new account.";
        if (env_.alerts.show(
                {"Switch Quillabrenta account?", text, {"Switch Account", "Cancel"}}) != 0)
            return;
        if (playerSessions_) playerSessions_->discard();
        try {
            service_->reset();
        } catch (const std::exception& error) {
            alert(error.what());
            return;
        }
        status_.installID.clear(); // a reset makes a new one
        if (playerSessions_) service_->prepareNonLibrarySessions();
        refreshCoordinator_.reset();
    }
    if (!env_.credentials.save(credential)) {
        alert("Could not store the capture credential securely.");
        return;
    }
    service_->noteCredentialChanged();
    nowPlayingUploader_->noteCredentialChanged();
    nowPlaying_->setEnabled(!status_.paused);
    companionContext_->noteAccountChanged();
    service_->drain();
}

void AppDelegate::backfillAccountEmailIfNeeded() {
    const std::optional<UploadCredential> stored = env_.credentials.load();
    if (!accountEmailBackfill::isNeeded(stored)) return;
    const UploadCredential requested = *stored;
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    pairing_.fetchIdentity(requested, [weak, requested](std::optional<std::string> email) {
        auto self = weak.lock();
        if (!self || !email || email->empty()) return;
        self->onMain([requested, email](AppDelegate& app) {
            auto update = accountEmailBackfill::credentialToSave(requested, email,
                                                                 app.env_.credentials.load());
            if (update && app.env_.credentials.save(*update)) app.render(app.service_->status());
        });
    });
}

void AppDelegate::scanNow() {
    service_->scan("manual", true);
}

void AppDelegate::openQuillabrenta() {
    env_.browser.open(pairing_.productionBaseURL() + endpoints::livePagePath);
}

void AppDelegate::togglePause() {
    const bool paused = status_.paused;
    if (!paused && playerSessions_) playerSessions_->discard();
    service_->setPaused(!paused);
    nowPlaying_->setEnabled(paused);
    status_.paused = !paused;
    renderStatusView();
    refreshCompanionState();
}

void AppDelegate::toggleLaunchAtLogin() {
    try {
        env_.loginItem.setRegistered(!env_.loginItem.isRegistered());
    } catch (const std::exception& error) {
        alert(std::string("Could not change Launch at login: ") + error.what());
    }
    renderStatusView();
}

void AppDelegate::connectAccount() {
    const std::optional<std::string> url = pairing_.connectURL(installID());
    if (!url) {
        alert("Could not build the Quillabrenta connection URL.");
        return;
    }
    env_.browser.open(*url);
}

void AppDelegate::forgetMac() {
    const size_t answer = env_.alerts.show(
        {"Disconnect this Mac?",
         "This disconnects the account and removes the local capture baseline and pending "
         "uploads. The next scan starts a new forward-only baseline.",
         {"Disconnect Mac", "Cancel"}});
    if (answer != 0) return;
    if (const auto credential = env_.credentials.load(); credential && credential->isUsable())
        pairing_.disconnect(*credential);
    if (playerSessions_) playerSessions_->discard();
    env_.credentials.clear();
    nowPlaying_->setEnabled(false);
    nowPlayingUploader_->noteCredentialChanged();
    companionContext_->noteAccountChanged();
    refreshCoordinator_.reset();
    try {
        service_->reset();
    } catch (const std::exception& error) {
        alert(error.what());
    }
    status_.installID.clear();
    if (playerSessions_) service_->prepareNonLibrarySessions();
}

void AppDelegate::copyDiagnostics() {
    env_.clipboard.setText(diagnosticsText());
}

void AppDelegate::quit() {
    env_.terminate();
}

void AppDelegate::statusItemClicked() {
    if (env_.surface.isPopoverShown()) {
        env_.surface.closePopover();
        return;
    }
    if (auto request = refreshCoordinator_.currentConfirmationCheck())
        companionContext_->refresh(request->artist, request->track, request->since);
    refreshCompanionState();
    env_.surface.showPopover();
    // Opening the popover is this accessory application's way of becoming active.
    applicationBecameActive();
}

void AppDelegate::showOperationalMenu() {
    env_.surface.closePopover();
    env_.surface.showOperationalMenu(); // opening it counts as becoming active (the surface says)
}

} // namespace qb::app
