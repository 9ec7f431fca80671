#include "app/StatusPresenter.hpp"

#include "app/DisplayFormat.hpp"
#include "core/service/CaptureDisplayState.hpp"

#include <cstdio>

namespace qb::app::StatusPresenter {

namespace {
using Kind = CaptureDisplayState::Kind;
using Badge = MenuBarIcon::Badge;

std::string displayTitle(Kind kind) {
    switch (kind) {
    case Kind::capturing:
        return "Capturing";
    case Kind::waitingForListening:
        return "Waiting for playback";
    case Kind::offlineRetrying:
        return "Offline — will retry";
    case Kind::signInRequired:
        return "Sign-in required";
    case Kind::attentionNeeded:
        return "Needs attention";
    }
    return {};
}

Badge badgeFor(Kind kind) {
    switch (kind) {
    case Kind::offlineRetrying:
        return Badge::ring;
    case Kind::signInRequired:
        return Badge::dot;
    case Kind::attentionNeeded:
        return Badge::triangle;
    default:
        return Badge::none;
    }
}

std::string tooltipFor(const CaptureServiceStatus& status, Kind kind) {
    const std::string name = "Quillabrenta for Mac — ";
    switch (kind) {
    case Kind::capturing:
        return name + "Listening Capture is active";
    case Kind::waitingForListening:
        return name + "waiting for listening";
    case Kind::offlineRetrying:
        return name + "offline, will retry (" + std::to_string(status.pending) + " pending)";
    case Kind::signInRequired:
        return name + "sign-in required";
    case Kind::attentionNeeded:
        return name + "needs attention (" + status.lastError + ")";
    }
    return {};
}
} // namespace

std::string ratingsTitle(const RatingsSyncSummary& ratings, const QLocale& locale) {
    const std::string counts = DisplayFormat::count(ratings.userRated, locale) + " stars · " +
                               DisplayFormat::count(ratings.favourites, locale) + " Favourites";
    if (ratings.pending >= 1)
        return "Apple ratings: sending (" + std::to_string(ratings.pending) + " left) · " + counts;
    if (!ratings.lastSyncedAt) return "Apple ratings: waiting for first scan";
    return "Apple ratings: " + counts + " · synced " +
           DisplayFormat::time(ratings.lastSyncedAt, locale);
}

StatusPresentation present(const StatusView& view, const QLocale& locale) {
    const CaptureServiceStatus& status = view.status;
    const Kind kind = CaptureDisplayState::from(status).kind();
    StatusPresentation p;
    p.captureState = "Listening Capture: " + std::string(status.paused     ? "Paused"
                                                         : status.scanning ? "Scanning..."
                                                                           : displayTitle(kind));
    if (!status.connected)
        p.accountState = "Account: Connect required";
    else if (!view.accountEmail.empty())
        p.accountState = "Account: " + view.accountEmail;
    else
        p.accountState = "Account: Connected";
    p.lastScan = "Last scan: " + DisplayFormat::time(status.lastScanAt, locale);
    p.pending = "Pending: " + std::to_string(status.pending);
    if (status.diagnostics) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.1fs",
                      static_cast<double>(status.diagnostics->metrics.totalMS) / 1000.0);
        p.diagnostics = "Library: " + std::to_string(status.diagnostics->metrics.trackCount) +
                        " tracks · " + seconds;
    }
    if (status.ratings) p.ratings = ratingsTitle(*status.ratings, locale);
    p.pauseTitle = status.paused ? "Resume capture" : "Pause capture";
    p.launchAtLogin = view.launchAtLogin;
    p.dimmed = status.paused;
    p.badge = badgeFor(kind);
    p.tooltip = tooltipFor(status, kind);
    return p;
}

} // namespace qb::app::StatusPresenter
