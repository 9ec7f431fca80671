#pragma once

#include "app/CompanionPopover.hpp"
#include "app/ShellSurface.hpp"
#include "app/StatusPresenter.hpp"

#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>

#include <functional>

namespace qb::app {

// The shell on a desktop: the status item (StatusNotifierItem where a watcher exists, XEmbed
// otherwise), the operational menu and the companion popover. Where the desktop has no tray,
// the popover opens as a small window when asked.
class TraySurface : public QObject, public ShellSurface {
  public:
    struct Commands {
        std::function<void()> statusItemClicked;
        std::function<void()> showOperationalMenu; // from the popover's settings button
        std::function<void()> connectAccount;
        std::function<void()> menuOpened;
        std::function<void()> scanNow;
        std::function<void()> openQuillabrenta;
        std::function<void()> togglePause;
        std::function<void()> toggleLaunchAtLogin;
        std::function<void()> forgetMac;
        std::function<void()> copyDiagnostics;
        std::function<void()> quit;
    };

    TraySurface();
    void setCommands(Commands commands);

    bool hasStatusItem() const;
    // For a second start on a desktop without a tray: the popover as a window.
    void showCompanionWindow();

    void showStatus(const StatusView& view) override;
    void showNowPlaying(const std::string& text) override;
    void showCompanion(const CompanionViewState& state) override;
    bool isPopoverShown() const override;
    void showPopover() override;
    void closePopover() override;
    void showOperationalMenu() override;

    QMenu& menu() { return menu_; }
    CompanionPopover& popover() { return popover_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QAction* addLine(const char* title);
    QAction* addCommand(const char* title, std::function<void()> Commands::*command,
                        const QKeySequence& key = {});
    void redrawIcon();
    // Where the status item is, or the pointer; invalid when neither is known.
    QRect anchor() const;

    Commands commands_;
    QSystemTrayIcon tray_;
    QMenu menu_;
    CompanionPopover popover_;
    StatusPresentation shown_;
    QAction* captureState_ = nullptr;
    QAction* accountState_ = nullptr;
    QAction* lastScan_ = nullptr;
    QAction* pending_ = nullptr;
    QAction* diagnostics_ = nullptr;
    QAction* ratings_ = nullptr;
    QAction* nowPlaying_ = nullptr;
    QAction* pause_ = nullptr;
    QAction* launchAtLogin_ = nullptr;
};

} // namespace qb::app
