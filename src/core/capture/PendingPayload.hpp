#pragma once

#include "core/capture/ReconcilePayload.hpp"

namespace qb {

// A payload waiting in the upload queue, with its retry bookkeeping.
struct PendingPayload {
    std::string id;
    ReconcilePayload payload;
    int64_t queuedAt = 0;
    int64_t attempts = 0;
    int64_t nextAttemptAt = 0;
    std::string lastError;

    // A copy carrying these observations under a new identifier derived from the old one.
    PendingPayload attaching(const std::vector<PlayerSessionObservation>& observations) const;

    bool operator==(const PendingPayload&) const = default;
    Json toJson() const;
    static PendingPayload fromJson(const Json& json);
};

} // namespace qb
