#include "core/service/CaptureDisplayState.hpp"

namespace qb {

CaptureDisplayState CaptureDisplayState::attentionNeeded(std::string message) {
    return CaptureDisplayState(Kind::attentionNeeded, std::move(message));
}

CaptureDisplayState CaptureDisplayState::from(const CaptureServiceStatus& status) {
    if (!status.connected) return signInRequired();
    if (status.lastError.starts_with("payload_rejected_")) return attentionNeeded(status.lastError);
    if (status.pending > 0 && !status.lastError.empty()) return offlineRetrying();
    if (!status.lastScanAt) return waitingForListening();
    return capturing();
}

} // namespace qb
