#pragma once

#include "app/ShellSurface.hpp"

namespace qb::app {

// The shell where the desktop has no system tray (a bare X server, Wayland without a
// StatusNotifier host, the offscreen platform): nothing to draw, and capture, uploads, now
// playing and pairing go on all the same. Says so once on standard error.
class HeadlessSurface : public ShellSurface {
  public:
    HeadlessSurface();

    void showStatus(const StatusView&) override {}
    void showNowPlaying(const std::string&) override {}
    void showCompanion(const CompanionViewState&) override {}
    bool isPopoverShown() const override { return false; }
    void showPopover() override {}
    void closePopover() override {}
    void showOperationalMenu() override {}
};

} // namespace qb::app
