#pragma once

#include "app/CompanionPresenter.hpp"

#include <QWidget>

#include <functional>

class QVBoxLayout;

namespace qb::app {

// The companion: a dark panel 300 points wide with the wordmark and the capture chip, what
// plays (or why nothing shows), the user's ranks, the archive receipt and a footer with the
// account and the settings button. It draws one presentation and reports two clicks.
class CompanionPopover : public QWidget {
  public:
    static constexpr int width = 300;
    static constexpr int inset = 16;
    static constexpr int rowSpacing = 14;
    static const QColor background;
    static const QColor cyan;
    static const QColor magenta;

    CompanionPopover();

    void setOnConnectAccount(std::function<void()> callback) { onConnect_ = std::move(callback); }
    void setOnShowMenu(std::function<void()> callback) { onShowMenu_ = std::move(callback); }
    void present(const CompanionPresentation& presentation);
    const CompanionPresentation& presentation() const { return presentation_; }

    // A popup under the anchor (the status item, or the pointer as a one-point rectangle),
    // kept on its screen; without an anchor, the screen's top right corner.
    void popUp(const QRect& anchor);
    // A small normal window, for desktops without a tray.
    void showAsWindow();

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void rebuild();

    CompanionPresentation presentation_;
    std::function<void()> onConnect_;
    std::function<void()> onShowMenu_;
    QWidget* content_ = nullptr;
};

} // namespace qb::app
