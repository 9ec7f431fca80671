#include "core/capture/PendingPayload.hpp"

#include "core/common/StableIdentifier.hpp"

namespace qb {

PendingPayload
PendingPayload::attaching(const std::vector<PlayerSessionObservation>& observations) const {
    if (observations.empty()) return *this;
    std::vector<std::string> parts{id, "observations"};
    for (const auto& o : observations)
        parts.push_back(o.observationID);
    PendingPayload copy = *this;
    copy.id = stableIdentifier(parts);
    copy.payload.observations = observations;
    copy.attempts = 0;
    copy.nextAttemptAt = 0;
    copy.lastError.clear();
    return copy;
}

Json PendingPayload::toJson() const {
    return {{"id", id},
            {"payload", payload.toJson()},
            {"queuedAt", queuedAt},
            {"attempts", attempts},
            {"nextAttemptAt", nextAttemptAt},
            {"lastError", lastError}};
}

PendingPayload PendingPayload::fromJson(const Json& j) {
    json::requireObject(j, "pending payload");
    PendingPayload p;
    p.id = json::requireString(j, "id");
    p.payload = ReconcilePayload::fromJson(json::require(j, "payload"));
    p.queuedAt = json::requireInt(j, "queuedAt");
    p.attempts = json::requireInt(j, "attempts");
    p.nextAttemptAt = json::requireInt(j, "nextAttemptAt");
    p.lastError = json::requireString(j, "lastError");
    return p;
}

} // namespace qb
