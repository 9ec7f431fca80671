#include "core/PendingRatingsPayload.hpp"

namespace qb {

Json PendingRatingsPayload::toJson() const {
    return {
        {"payload", payload.toJson()}, {"attempts", attempts}, {"nextAttemptAt", nextAttemptAt}};
}

PendingRatingsPayload PendingRatingsPayload::fromJson(const Json& j) {
    json::requireObject(j, "pending ratings page");
    PendingRatingsPayload p;
    p.payload = RatingsPayload::fromJson(json::require(j, "payload"));
    p.attempts = json::requireInt(j, "attempts");
    p.nextAttemptAt = json::requireInt(j, "nextAttemptAt");
    return p;
}

} // namespace qb
