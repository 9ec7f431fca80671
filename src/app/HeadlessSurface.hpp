#pragma once

#include "app/ShellSurface.hpp"

namespace qb::app {

// The shell where nothing can be shown (no display: Qt's offscreen platform). Capture,
// uploads, now playing and pairing go on all the same.
class HeadlessSurface : public ShellSurface {
  public:
    void showStatus(const StatusView&) override {}
    void showNowPlaying(const std::string&) override {}
    void showCompanion(const CompanionViewState&) override {}
    bool isPopoverShown() const override { return false; }
    void showPopover() override {}
    void closePopover() override {}
    void showOperationalMenu() override {}
};

} // namespace qb::app
