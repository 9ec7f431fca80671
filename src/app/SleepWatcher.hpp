#pragma once

#include <QObject>

#include <functional>

namespace qb::app {

// Tells when the computer woke from sleep: logind's PrepareForSleep(false) on the system bus.
// Without a system bus (a container, a bare session) there is nothing to hear and it stays quiet.
class SleepWatcher : public QObject {
    Q_OBJECT

  public:
    explicit SleepWatcher(std::function<void()> woke);
    bool listening() const { return listening_; }

  private slots:
    void prepareForSleep(bool sleeping);

  private:
    std::function<void()> woke_;
    bool listening_ = false;
};

} // namespace qb::app
