#pragma once

#include <exception>
#include <string>

namespace qb {

// The one error of library capture and of every state store; its description is what the user sees.
class CaptureError : public std::exception {
  public:
    enum class Kind { libraryUnavailable, stateUnreadable, stateWriteFailed, queueFull };

    static CaptureError libraryUnavailable(std::string detail) {
        return {Kind::libraryUnavailable, std::move(detail)};
    }
    static CaptureError stateUnreadable(std::string detail) {
        return {Kind::stateUnreadable, std::move(detail)};
    }
    static CaptureError stateWriteFailed(std::string detail) {
        return {Kind::stateWriteFailed, std::move(detail)};
    }
    static CaptureError queueFull() { return {Kind::queueFull, {}}; }

    Kind kind() const { return kind_; }
    const std::string& detail() const { return detail_; }
    const std::string& description() const { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

    bool operator==(const CaptureError& other) const {
        return kind_ == other.kind_ && detail_ == other.detail_;
    }

  private:
    CaptureError(Kind kind, std::string detail);

    Kind kind_;
    std::string detail_;
    std::string description_;
};

} // namespace qb
