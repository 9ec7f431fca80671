#pragma once

#include "core/companion/CompanionViewState.hpp"
#include "core/service/CaptureServiceStatus.hpp"

#include <string>

namespace qb::app {

// What the status item and the operational menu show, besides the status itself.
struct StatusView {
    CaptureServiceStatus status;
    std::string accountEmail; // of the stored credential; empty without one
    bool launchAtLogin = false;

    bool operator==(const StatusView&) const = default;
};

// The visible shell: the status item, its menu and the companion popover. It draws what it is
// given and reports the user's clicks to the application; it decides nothing.
class ShellSurface {
  public:
    virtual ~ShellSurface() = default;
    virtual void showStatus(const StatusView& view) = 0;
    // "Now: …" in the menu; empty hides the line.
    virtual void showNowPlaying(const std::string& text) = 0;
    virtual void showCompanion(const CompanionViewState& state) = 0;
    virtual bool isPopoverShown() const = 0;
    virtual void showPopover() = 0;
    virtual void closePopover() = 0;
    virtual void showOperationalMenu() = 0;
};

} // namespace qb::app
