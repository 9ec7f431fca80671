#pragma once

namespace qb {

// Whether the followed music player is running right now.
class PlayerRunningChecking {
  public:
    virtual ~PlayerRunningChecking() = default;
    virtual bool isPlayerRunning() = 0;
};

} // namespace qb
