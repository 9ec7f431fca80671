#include "core/common/CaptureError.hpp"

namespace qb {

namespace {
std::string describe(CaptureError::Kind kind, const std::string& detail) {
    switch (kind) {
    case CaptureError::Kind::libraryUnavailable:
        return "Music library unavailable: " + detail;
    case CaptureError::Kind::stateUnreadable:
        return "Capture state unreadable: " + detail;
    case CaptureError::Kind::stateWriteFailed:
        return "Capture state write failed: " + detail;
    case CaptureError::Kind::queueFull:
        return "Upload queue full; baseline held";
    }
    return detail;
}
} // namespace

CaptureError::CaptureError(Kind kind, std::string detail)
    : kind_(kind), detail_(std::move(detail)), description_(describe(kind_, detail_)) {}

} // namespace qb
