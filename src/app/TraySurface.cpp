#include "app/TraySurface.hpp"

#include <QApplication>
#include <QCursor>
#include <QEvent>

namespace qb::app {

TraySurface::TraySurface() {
    addLine("Quillabrenta for Mac");
    captureState_ = addLine("Listening Capture: Starting...");
    accountState_ = addLine("Account: Not connected");
    lastScan_ = addLine("Last scan: Never");
    pending_ = addLine("Pending: 0");
    diagnostics_ = addLine("");
    ratings_ = addLine("");
    nowPlaying_ = addLine("");
    for (QAction* hidden : {diagnostics_, ratings_, nowPlaying_})
        hidden->setVisible(false);
    menu_.addSeparator();
    addCommand("Scan now", &Commands::scanNow, QKeySequence(Qt::CTRL | Qt::Key_R));
    addCommand("Open Quillabrenta", &Commands::openQuillabrenta,
               QKeySequence(Qt::CTRL | Qt::Key_O));
    pause_ = addCommand("Pause capture", &Commands::togglePause);
    launchAtLogin_ = addCommand("Launch at login", &Commands::toggleLaunchAtLogin);
    launchAtLogin_->setCheckable(true);
    addCommand("Connect account", &Commands::connectAccount);
    addCommand("Disconnect this Mac...", &Commands::forgetMac);
    menu_.addSeparator();
    addCommand("Copy diagnostics", &Commands::copyDiagnostics);
    menu_.addSeparator();
    addCommand("Quit", &Commands::quit, QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(&menu_, &QMenu::aboutToShow, this, [this] {
        if (commands_.menuOpened) commands_.menuOpened();
    });

    popover_.setOnConnectAccount([this] {
        if (commands_.connectAccount) commands_.connectAccount();
    });
    popover_.setOnShowMenu([this] {
        if (commands_.showOperationalMenu) commands_.showOperationalMenu();
    });

    // A left click opens the companion; several panels only ever send a context-menu request,
    // and Linux users expect the menu on a right click, so it is the tray's context menu too.
    tray_.setContextMenu(&menu_);
    connect(&tray_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason why) {
                if (why == QSystemTrayIcon::Trigger && commands_.statusItemClicked)
                    commands_.statusItemClicked();
            });
    redrawIcon();
    tray_.setToolTip("Quillabrenta for Mac");
    tray_.show();
    // The icon is drawn in the panel's text colour, so it follows the desktop's theme.
    qApp->installEventFilter(this);
}

void TraySurface::setCommands(Commands commands) {
    commands_ = std::move(commands);
}

QAction* TraySurface::addLine(const char* title) {
    QAction* action = menu_.addAction(title);
    action->setEnabled(false);
    return action;
}

QAction* TraySurface::addCommand(const char* title, std::function<void()> Commands::*command,
                                 const QKeySequence& key) {
    QAction* action = menu_.addAction(title);
    if (!key.isEmpty()) action->setShortcut(key);
    connect(action, &QAction::triggered, this, [this, command] {
        if (commands_.*command) (commands_.*command)();
    });
    return action;
}

bool TraySurface::hasStatusItem() const {
    return QSystemTrayIcon::isSystemTrayAvailable() && tray_.isVisible();
}

bool TraySurface::eventFilter(QObject* watched, QEvent* event) {
    if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange) redrawIcon();
    return QObject::eventFilter(watched, event);
}

void TraySurface::redrawIcon() {
    const QColor ink = QApplication::palette().color(QPalette::WindowText);
    tray_.setIcon(MenuBarIcon::icon(shown_.badge, shown_.dimmed, ink));
}

void TraySurface::showStatus(const StatusView& view) {
    const StatusPresentation p = StatusPresenter::present(view);
    captureState_->setText(QString::fromStdString(p.captureState));
    accountState_->setText(QString::fromStdString(p.accountState));
    lastScan_->setText(QString::fromStdString(p.lastScan));
    pending_->setText(QString::fromStdString(p.pending));
    diagnostics_->setVisible(p.diagnostics.has_value());
    if (p.diagnostics) diagnostics_->setText(QString::fromStdString(*p.diagnostics));
    ratings_->setVisible(p.ratings.has_value());
    if (p.ratings) ratings_->setText(QString::fromStdString(*p.ratings));
    pause_->setText(QString::fromStdString(p.pauseTitle));
    launchAtLogin_->setChecked(p.launchAtLogin);
    const bool iconChanged = p.badge != shown_.badge || p.dimmed != shown_.dimmed;
    shown_ = p;
    if (iconChanged) redrawIcon();
    tray_.setToolTip(QString::fromStdString(p.tooltip));
}

void TraySurface::showNowPlaying(const std::string& text) {
    nowPlaying_->setText(QString::fromStdString(text));
    nowPlaying_->setVisible(!text.empty());
}

void TraySurface::showCompanion(const CompanionViewState& state) {
    popover_.present(CompanionPresenter::present(state));
}

bool TraySurface::isPopoverShown() const {
    return popover_.isVisible();
}

QRect TraySurface::anchor() const {
    const QRect item = tray_.geometry();
    if (item.isValid() && !item.isEmpty()) return item;
    const QPoint pointer = QCursor::pos();
    if (!pointer.isNull()) return QRect(pointer, QSize(1, 1));
    return {};
}

void TraySurface::showPopover() {
    // Wayland does not let a window place itself: there the compositor decides.
    popover_.popUp(anchor());
}

void TraySurface::closePopover() {
    popover_.hide();
}

void TraySurface::showCompanionWindow() {
    popover_.showAsWindow();
}

void TraySurface::showOperationalMenu() {
    const QRect at = anchor();
    // Popped up from the popover's window when there is no status item.
    menu_.popup(at.isValid() ? at.bottomLeft() + QPoint(0, 4) : QCursor::pos());
}

} // namespace qb::app
