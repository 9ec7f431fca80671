// Renders what the user sees to PNG files, so a person (and the suite) can look at it:
//
//   quillabrenta-screenshots DIR          the popover in each state, the icon with each badge
//                                         at 1x and 2x, and the menu (offscreen platform)
//   quillabrenta-screenshots --grab FILE  the whole screen of the current display

#include "app/CompanionPresenter.hpp"
#include "app/MenuBarIcon.hpp"
#include "app/TraySurface.hpp"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QScreen>

#include <cstdio>
#include <cstring>

using namespace qb;
using namespace qb::app;

namespace {

bool save(const QImage& image, const QString& file) {
    if (image.save(file)) return true;
    std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
    return false;
}

QImage renderWidget(QWidget& widget, qreal ratio) {
    widget.adjustSize();
    QImage image(widget.size() * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    widget.render(&image);
    return image;
}

CaptureServiceStatus status(bool connected, bool paused, int64_t pending, std::string error,
                            bool scanned = true) {
    CaptureServiceStatus s;
    s.installID = "5d0c3f9e-2b1a-4c8e-9f00-0123456789ab";
    s.connected = connected;
    s.paused = paused;
    s.pending = pending;
    s.lastError = std::move(error);
    if (scanned) s.lastScanAt = 1'765'300'000;
    return s;
}

CompanionViewState playing(std::string album, bool paused) {
    CompanionViewState state;
    state.hero = CompanionViewState::NowPlaying{"Beyoncé", "Déjà vu", std::move(album), paused};
    state.captureHealth = CaptureDisplayState::capturing();
    state.accountEmail = "listener@example.com";
    return state;
}

// Each state the popover can be in, by file name.
std::vector<std::pair<QString, CompanionViewState>> popoverStates() {
    std::vector<std::pair<QString, CompanionViewState>> states;
    states.emplace_back("popover-signed-out", CompanionViewState::disconnected());

    CompanionViewState idle;
    idle.hero = CompanionViewState::Idle{};
    idle.captureHealth = CaptureDisplayState::waitingForListening();
    idle.accountEmail = "listener@example.com";
    states.emplace_back("popover-idle", idle);

    CompanionViewState full = playing("B'Day", false);
    full.personalContext = CompanionPersonalContext{12, 3, 7};
    full.receipt = CompanionCaptureReceipt{"Queen", "Bohemian Rhapsody", 1, 1};
    states.emplace_back("popover-playing", full);

    CompanionViewState trackOnly = playing("", true);
    trackOnly.personalContext = CompanionPersonalContext{1, std::nullopt, std::nullopt};
    states.emplace_back("popover-paused-track-rank", trackOnly);

    CompanionViewState noRanks = playing("B'Day", false);
    noRanks.personalContext = CompanionPersonalContext{};
    states.emplace_back("popover-no-ranks", noRanks);

    CompanionViewState offlinePaused = playing("B'Day", false);
    offlinePaused.captureHealth = CaptureDisplayState::offlineRetrying();
    offlinePaused.capturePaused = true;
    states.emplace_back("popover-capture-paused", offlinePaused);

    CompanionViewState offline = playing("B'Day", false);
    offline.captureHealth = CaptureDisplayState::offlineRetrying();
    states.emplace_back("popover-offline", offline);

    CompanionViewState attention = playing("B'Day", false);
    attention.captureHealth = CaptureDisplayState::attentionNeeded("payload_rejected_422");
    states.emplace_back("popover-attention", attention);

    CompanionViewState longTexts =
        playing("An Album Whose Title Goes On And On Past The Edge", false);
    std::get<CompanionViewState::NowPlaying>(longTexts.hero).track =
        "A Very Long Song Title That Needs More Than One Line And Then Some More Words";
    longTexts.accountEmail = "a.very.long.address.for.someone@subdomain.example.com";
    longTexts.receipt = CompanionCaptureReceipt{"X", "Another Song With A Long Name Indeed", 1, 1};
    states.emplace_back("popover-long-texts", longTexts);
    return states;
}

const char* badgeName(MenuBarIcon::Badge badge) {
    switch (badge) {
    case MenuBarIcon::Badge::none:
        return "none";
    case MenuBarIcon::Badge::dot:
        return "dot";
    case MenuBarIcon::Badge::ring:
        return "ring";
    case MenuBarIcon::Badge::triangle:
        return "triangle";
    }
    return "?";
}

int renderAll(const QString& directory) {
    QDir().mkpath(directory);
    bool ok = true;
    CompanionPopover popover;
    for (const auto& [name, state] : popoverStates()) {
        popover.present(CompanionPresenter::present(state));
        ok &= save(renderWidget(popover, 1), directory + "/" + name + ".png");
        ok &= save(renderWidget(popover, 2), directory + "/" + name + "@2x.png");
    }
    for (auto badge : {MenuBarIcon::Badge::none, MenuBarIcon::Badge::dot, MenuBarIcon::Badge::ring,
                       MenuBarIcon::Badge::triangle}) {
        for (bool dimmed : {false, true}) {
            for (int ratio : {1, 2}) {
                const QString name = QString("icon-%1%2@%3x.png")
                                         .arg(badgeName(badge), dimmed ? "-dimmed" : "")
                                         .arg(ratio);
                ok &= save(MenuBarIcon::image(badge, dimmed, Qt::black, ratio),
                           directory + "/" + name);
            }
        }
    }
    // Without the mark resource: the zigzag.
    ok &= save(MenuBarIcon::image(MenuBarIcon::Badge::none, false, Qt::black, 2, QImage()),
               directory + "/icon-fallback@2x.png");

    TraySurface surface;
    StatusView view{status(true, false, 3, "http_503"), "listener@example.com", true};
    view.status.diagnostics = CaptureDiagnostics{};
    view.status.diagnostics->metrics.trackCount = 11;
    view.status.diagnostics->metrics.totalMS = 2500;
    view.status.ratings = RatingsSyncSummary{0, 1'765'300'000, 1234, 56, true, ""};
    surface.showStatus(view);
    surface.showNowPlaying("Now: Beyoncé \u2013 Déjà vu");
    ok &= save(renderWidget(surface.menu(), 2), directory + "/menu@2x.png");
    return ok ? 0 : 1;
}

int grabScreen(const QString& file) {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) {
        std::fputs("no screen to grab\n", stderr);
        return 1;
    }
    return save(screen->grabWindow(0).toImage(), file) ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    const bool grab = argc == 3 && std::strcmp(argv[1], "--grab") == 0;
    if (argc != 2 && !grab) {
        std::fputs("usage: quillabrenta-screenshots DIR | --grab FILE\n", stderr);
        return 2;
    }
    if (!grab) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);
    return grab ? grabScreen(argv[2]) : renderAll(argv[1]);
}
