#pragma once

#include <chrono>
#include <optional>

namespace qb {

// What a source wants the main loop to wait for before its next dispatch.
struct PollRequest {
    int fd = -1;      // negative: nothing to watch
    short events = 0; // poll(2) events
    // Dispatch no later than this, even without activity on fd.
    std::optional<std::chrono::steady_clock::time_point> deadline;
};

// Something the poll main loop drives: it asks what to wait for, waits, then lets the source
// handle whatever is ready (dispatch must not block).
class PollSource {
  public:
    virtual ~PollSource() = default;
    virtual PollRequest pollRequest() = 0;
    virtual void dispatch() = 0;
};

} // namespace qb
