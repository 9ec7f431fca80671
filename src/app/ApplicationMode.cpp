#include "app/ApplicationMode.hpp"

#include "app/AppDelegate.hpp"
#include "app/HeadlessSurface.hpp"
#include "app/InstanceChannel.hpp"
#include "app/LibraryWatcher.hpp"
#include "app/PollSourceNotifier.hpp"
#include "app/QtDesktop.hpp"
#include "app/QtDialogs.hpp"
#include "app/QtTimers.hpp"
#include "app/SleepWatcher.hpp"
#include "app/TraySurface.hpp"
#include "core/common/CapturePaths.hpp"
#include "core/common/ServiceEndpoints.hpp"
#include "core/common/SingleInstanceGuard.hpp"
#include "core/player/NonLibraryCapture.hpp"
#include "platform/linux/dbus/MprisPlayerBridge.hpp"
#include "platform/linux/desktop/AutostartEntry.hpp"
#include "platform/linux/desktop/UserSettings.hpp"
#include "platform/linux/http/HttpClient.hpp"
#include "platform/linux/keystore/CredentialStore.hpp"
#include "platform/linux/library/LibraryLocator.hpp"
#include "platform/linux/process/SubprocessCaptureWorker.hpp"

#include <QApplication>
#include <QSysInfo>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

namespace qb::app {

namespace {

const std::string urlPrefix = std::string(PairingClient::callbackScheme) + ":";

std::vector<std::string> callbackURLs(const std::vector<std::string>& arguments) {
    std::vector<std::string> urls;
    for (size_t i = 1; i < arguments.size(); ++i)
        if (arguments[i].rfind(urlPrefix, 0) == 0) urls.push_back(arguments[i]);
    return urls;
}

std::optional<std::filesystem::path> ownExecutable() {
    std::error_code error;
    std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error || path.empty()) return std::nullopt;
    return path;
}

// Without any display the application still captures: Qt then draws nowhere.
void chooseHeadlessWithoutDisplay() {
    if (std::getenv("QT_QPA_PLATFORM")) return;
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if ((!x11 || !*x11) && (!wayland || !*wayland)) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
}

// A copy without a status item shows its companion as a window instead: an alert pointing
// at a menu bar that has no item would leave the user nowhere.
int alreadyRunning(const std::filesystem::path& socket) {
    if (InstanceChannel::send(socket, {{}, true}) == std::string("shown")) return 0;
    QtDialogs().show({"Quillabrenta for Mac is already running.",
                      "Only one copy can run at a time. Check the menu bar.",
                      {}});
    return 0;
}

} // namespace

int runApplication(int argc, char** argv) {
    chooseHeadlessWithoutDisplay();
    QApplication application(argc, argv);
    QApplication::setApplicationName("Quillabrenta for Mac");
    QApplication::setDesktopFileName("quillabrenta-capture");
    // An accessory: no main window, and closing the popover or an alert never quits.
    QApplication::setQuitOnLastWindowClosed(false);

    const std::vector<std::string> urls = callbackURLs(std::vector<std::string>(argv, argv + argc));
    const std::filesystem::path stateDirectory = CapturePaths::applicationSupportDirectory();
    const std::filesystem::path socket = InstanceChannel::socketPath(stateDirectory);

    SingleInstanceGuard guard;
    if (!guard.acquire(CapturePaths::singleInstanceLockURL())) {
        if (urls.empty()) return alreadyRunning(socket);
        if (InstanceChannel::send(socket, {urls, false})) return 0;
        std::fputs("Quillabrenta for Mac: the running copy did not take the connection link; "
                   "open it again in a moment.\n",
                   stderr);
        return 1;
    }

    const std::optional<std::filesystem::path> executable = ownExecutable();
    CredentialStore credentials;
    MprisPlayerBridge player(MprisPlayerBridge::preferenceFromEnvironment());
    PollSourceNotifier playerNotifier(player);
    QtTimers timers;
    QtDialogs dialogs;
    QtDesktop desktop;
    AutostartEntry loginItem(executable.value_or("quillabrenta"));
    std::unique_ptr<TraySurface> tray;
    std::unique_ptr<HeadlessSurface> headless;
    if (QtDialogs::canShowWindows())
        tray = std::make_unique<TraySurface>();
    else
        headless = std::make_unique<HeadlessSurface>();
    ShellSurface& surface = tray ? static_cast<ShellSurface&>(*tray) : *headless;
    // The tray's answer comes over D-Bus or X once the loop runs.
    QTimer::singleShot(3000, qApp, [&] {
        if (!tray || !tray->hasStatusItem())
            std::fputs("Quillabrenta for Mac: this desktop has no system tray, so there is no "
                       "status item; listening capture runs all the same.\n",
                       stderr);
    });
    InstanceChannel channel;
    std::unique_ptr<LibraryWatcher> libraryWatcher;
    std::optional<LocatedLibrary> library;
    std::unique_ptr<SleepWatcher> sleepWatcher;
    std::shared_ptr<AppDelegate> delegate;

    DiagnosticsFacts facts;
    facts.appVersion = std::string(QB_VERSION);
    facts.appBuild = std::string(QB_BUILD);
    facts.systemName =
        QSysInfo::kernelType() == "linux" ? "Linux" : QSysInfo::kernelType().toStdString();
    facts.systemVersion =
        (QSysInfo::prettyProductName() + ", kernel " + QSysInfo::kernelVersion()).toStdString();

    // Watches the library the scans read; looked for again after each scan.
    auto relocateLibrary = [&] {
        std::optional<LocatedLibrary> found;
        try {
            found = locateLibrary();
        } catch (const std::exception&) {
            // Nothing to watch: the scan's error says what was looked for.
        }
        const bool same = found && library && found->watchFolder == library->watchFolder &&
                          found->watchNames == library->watchNames;
        library = std::move(found);
        if (same) return;
        libraryWatcher.reset();
        if (library)
            libraryWatcher = std::make_unique<LibraryWatcher>(
                library->watchFolder, library->watchNames, [&] { delegate->libraryChanged(); });
    };

    auto registerTriggers = [&] {
        relocateLibrary();
        player.setOnPlayerInfo([&](const PlayerInfo& info) { delegate->playerInfoChanged(info); });
        player.setOnPlayerQuit([&](const std::string& id) { delegate->playerQuit(id); });
        player.setOnPlayerSwitched([&] { delegate->playerSwitched(); });
        player.setOnPlayerRestarted([&] { delegate->playerRestarted(); });
        if (!player.start())
            std::fputs("Quillabrenta for Mac: no session bus, so no media player is heard.\n",
                       stderr);
        playerNotifier.refresh();
        sleepWatcher = std::make_unique<SleepWatcher>([&] { delegate->didWake(); });
        const bool listening = channel.listen(socket, [&](const InstanceChannel::Request& request) {
            delegate->openURLs(request.urls);
            if (!request.show) return std::string("ok");
            if (!tray) return std::string("headless");
            if (tray->hasStatusItem()) return std::string("tray");
            delegate->refreshCompanionState();
            tray->showCompanionWindow();
            return std::string("shown");
        });
        if (!listening)
            std::fprintf(stderr,
                         "Quillabrenta for Mac: cannot listen on %s for connection links.\n",
                         socket.c_str());
    };

    delegate = AppDelegate::create({
        .stateDirectory = stateDirectory,
        .executable = executable,
        .makeWorker =
            [](const std::filesystem::path& exe, const std::filesystem::path& directory) {
                return std::make_shared<SubprocessCaptureWorker>(exe, directory);
            },
        .http = HttpClient::shared(),
        .credentials = credentials,
        .player = player,
        .timers = timers,
        .heartbeat = timers,
        .mainExecutor =
            [](std::function<void()> task) {
                QMetaObject::invokeMethod(qApp, std::move(task), Qt::QueuedConnection);
            },
        .alerts = dialogs,
        .browser = desktop,
        .clipboard = desktop,
        .loginItem = loginItem,
        .surface = surface,
        .registerTriggers = registerTriggers,
        .terminate = [] { QTimer::singleShot(0, qApp, &QCoreApplication::quit); },
        .scanCompleted = relocateLibrary,
        .libraryDescription = [&] { return library ? library->description() : std::string(); },
        .playerCaptureEnabled = UserSettings().flag(NonLibraryCapture::defaultsKey),
        .productionBaseURL = endpoints::effectiveBaseURL(),
        .facts = facts,
        .playerIdentifier = MprisPlayerBridge::playerIdentifier,
    });
    if (tray) {
        tray->setCommands({
            .statusItemClicked = [&] { delegate->statusItemClicked(); },
            .showOperationalMenu = [&] { delegate->showOperationalMenu(); },
            .connectAccount = [&] { delegate->connectAccount(); },
            // Opening the menu is this accessory application's way of becoming active.
            .menuOpened = [&] { delegate->applicationBecameActive(); },
            .scanNow = [&] { delegate->scanNow(); },
            .openQuillabrenta = [&] { delegate->openQuillabrenta(); },
            .togglePause = [&] { delegate->togglePause(); },
            .toggleLaunchAtLogin = [&] { delegate->toggleLaunchAtLogin(); },
            .forgetMac = [&] { delegate->forgetMac(); },
            .copyDiagnostics = [&] { delegate->copyDiagnostics(); },
            .quit = [&] { delegate->quit(); },
        });
    }
    delegate->start();
    // As the platform delivers an open-URL event at launch: once start-up is done.
    if (!urls.empty()) QTimer::singleShot(0, qApp, [&] { delegate->openURLs(urls); });
    const int status = QApplication::exec();
    delegate.reset();
    return status;
}

} // namespace qb::app
