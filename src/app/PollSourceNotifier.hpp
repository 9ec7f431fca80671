#pragma once

#include "platform/linux/dbus/PollSource.hpp"

#include <QObject>
#include <QTimer>

class QSocketNotifier;

namespace qb::app {

// Drives a poll source (the sd-bus MPRIS bridge) from the Qt event loop: socket notifiers on
// its descriptor and a timer for its deadline, so D-Bus runs in the one main loop.
class PollSourceNotifier : public QObject {
  public:
    explicit PollSourceNotifier(PollSource& source);
    ~PollSourceNotifier() override;

    // Reads what the source waits for now; call after anything that may have changed it.
    void refresh();

  private:
    void dispatch();
    void watch(int fd);

    PollSource& source_;
    int fd_ = -1;
    QSocketNotifier* read_ = nullptr;
    QSocketNotifier* write_ = nullptr;
    QTimer deadline_;
};

} // namespace qb::app
