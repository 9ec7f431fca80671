#include "app/QtTimers.hpp"

#include <QTimer>

#include <cmath>

namespace qb::app {

namespace {
class QtTimer : public Timer {
  public:
    QtTimer(double seconds, bool repeating, std::function<void()> fire) {
        timer_.setSingleShot(!repeating);
        // Coarse timers let the system batch wake-ups; a scan a few milliseconds late is fine.
        timer_.setTimerType(Qt::CoarseTimer);
        QObject::connect(&timer_, &QTimer::timeout, std::move(fire));
        timer_.start(static_cast<int>(std::lround(std::max(0.0, seconds) * 1000)));
    }

  private:
    QTimer timer_;
};
} // namespace

std::unique_ptr<Timer> QtTimers::start(double seconds, bool repeating, std::function<void()> fire) {
    return std::make_unique<QtTimer>(seconds, repeating, std::move(fire));
}

void QtTimers::startRepeating(double intervalSeconds, std::function<void()> tick) {
    forever_.push_back(start(intervalSeconds, true, std::move(tick)));
}

} // namespace qb::app
