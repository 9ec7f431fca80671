#include "app/SleepWatcher.hpp"

#include <QDBusConnection>

namespace qb::app {

SleepWatcher::SleepWatcher(std::function<void()> woke) : woke_(std::move(woke)) {
    QDBusConnection bus = QDBusConnection::systemBus();
    listening_ =
        bus.isConnected() && bus.connect("org.freedesktop.login1", "/org/freedesktop/login1",
                                         "org.freedesktop.login1.Manager", "PrepareForSleep", this,
                                         SLOT(prepareForSleep(bool)));
}

void SleepWatcher::prepareForSleep(bool sleeping) {
    if (!sleeping) woke_();
}

} // namespace qb::app
