#include "app/PollSourceNotifier.hpp"

#include <QSocketNotifier>

#include <poll.h>

namespace qb::app {

PollSourceNotifier::PollSourceNotifier(PollSource& source) : source_(source) {
    deadline_.setSingleShot(true);
    connect(&deadline_, &QTimer::timeout, this, [this] { dispatch(); });
}

PollSourceNotifier::~PollSourceNotifier() = default;

void PollSourceNotifier::watch(int fd) {
    // A notifier may be the one whose signal is running: let the loop delete it.
    for (QSocketNotifier* notifier : {read_, write_}) {
        if (!notifier) continue;
        notifier->setEnabled(false);
        notifier->deleteLater();
    }
    read_ = write_ = nullptr;
    fd_ = fd;
    if (fd < 0) return;
    read_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    write_ = new QSocketNotifier(fd, QSocketNotifier::Write, this);
    connect(read_, &QSocketNotifier::activated, this, [this] { dispatch(); });
    connect(write_, &QSocketNotifier::activated, this, [this] { dispatch(); });
}

void PollSourceNotifier::refresh() {
    const PollRequest request = source_.pollRequest();
    if (request.fd != fd_) watch(request.fd);
    if (read_) read_->setEnabled(request.events & POLLIN);
    // Writable is nearly always true: listen only while the source has output queued.
    if (write_) write_->setEnabled(request.events & POLLOUT);
    if (request.deadline) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            *request.deadline - std::chrono::steady_clock::now());
        deadline_.start(static_cast<int>(std::clamp<int64_t>(left.count() + 1, 0, INT32_MAX)));
    } else {
        deadline_.stop();
    }
}

void PollSourceNotifier::dispatch() {
    source_.dispatch();
    refresh();
}

} // namespace qb::app
