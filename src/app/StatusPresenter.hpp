#pragma once

#include "app/MenuBarIcon.hpp"
#include "app/ShellSurface.hpp"

#include <QLocale>

#include <optional>
#include <string>

namespace qb::app {

// Every title and visibility of the operational menu, and the status item's look, for one status.
struct StatusPresentation {
    std::string captureState;
    std::string accountState;
    std::string lastScan;
    std::string pending;
    std::optional<std::string> diagnostics; // absent: the line is hidden
    std::optional<std::string> ratings;     // absent: the line is hidden
    std::string pauseTitle;
    bool launchAtLogin = false;
    MenuBarIcon::Badge badge = MenuBarIcon::Badge::none;
    bool dimmed = false;
    std::string tooltip;

    bool operator==(const StatusPresentation&) const = default;
};

namespace StatusPresenter {

StatusPresentation present(const StatusView& view, const QLocale& locale = QLocale());
// The ratings line of a summary.
std::string ratingsTitle(const RatingsSyncSummary& ratings, const QLocale& locale = QLocale());

} // namespace StatusPresenter
} // namespace qb::app
