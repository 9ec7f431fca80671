#pragma once

#include "core/service/CaptureServiceStatus.hpp"

#include <string>

namespace qb {

// Five-way summary of capture health, shared by the status menu and the popover.
class CaptureDisplayState {
  public:
    enum class Kind {
        attentionNeeded,
        capturing,
        waitingForListening,
        offlineRetrying,
        signInRequired
    };

    CaptureDisplayState() = default; // signInRequired

    // A payload was refused by the service; the message is the status's lastError.
    static CaptureDisplayState attentionNeeded(std::string message);
    static CaptureDisplayState capturing() { return CaptureDisplayState(Kind::capturing); }
    static CaptureDisplayState waitingForListening() {
        return CaptureDisplayState(Kind::waitingForListening);
    }
    static CaptureDisplayState offlineRetrying() {
        return CaptureDisplayState(Kind::offlineRetrying);
    }
    static CaptureDisplayState signInRequired() {
        return CaptureDisplayState(Kind::signInRequired);
    }

    // First match wins: not connected, payload refused, retrying, no scan yet, capturing.
    // Pause and scanning play no part.
    static CaptureDisplayState from(const CaptureServiceStatus& status);

    Kind kind() const { return kind_; }
    // Empty except for attentionNeeded.
    const std::string& message() const { return message_; }

    bool operator==(const CaptureDisplayState&) const = default;

  private:
    explicit CaptureDisplayState(Kind kind, std::string message = {})
        : kind_(kind), message_(std::move(message)) {}

    Kind kind_ = Kind::signInRequired;
    std::string message_;
};

} // namespace qb
