#include "core/capture/QueuePolicy.hpp"

#include "core/common/CaptureError.hpp"

#include <algorithm>

namespace qb::QueuePolicy {

bool isEvidenceFree(const PendingPayload& payload) {
    const ReconcilePayload& body = payload.payload;
    return !body.containsCompletions() && !body.hasObservations() &&
           !body.completionLibrary.isBaseline;
}

std::vector<PendingPayload> append(const std::vector<PendingPayload>& payloads,
                                   const std::vector<PendingPayload>& queue) {
    std::vector<PendingPayload> updated = queue;
    for (const PendingPayload& payload : payloads) {
        const bool queued =
            std::any_of(updated.begin(), updated.end(),
                        [&](const PendingPayload& p) { return p.id == payload.id; });
        if (queued) continue;
        if (isEvidenceFree(payload)) {
            if (updated.empty()) {
                updated.push_back(payload);
                continue;
            }
            auto last = std::find_if(updated.rbegin(), updated.rend(), isEvidenceFree);
            if (last != updated.rend()) {
                *last = payload;
                continue;
            }
        }
        if (updated.size() >= maxPendingPayloads) throw CaptureError::queueFull();
        updated.push_back(payload);
    }
    return updated;
}

} // namespace qb::QueuePolicy
