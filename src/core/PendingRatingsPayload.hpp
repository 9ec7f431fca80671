#pragma once

#include "core/RatingsPayload.hpp"

namespace qb {

// A ratings page waiting in the queue; due when nextAttemptAt <= now.
struct PendingRatingsPayload {
    RatingsPayload payload;
    int64_t attempts = 0;
    int64_t nextAttemptAt = 0;

    bool operator==(const PendingRatingsPayload&) const = default;
    Json toJson() const;
    static PendingRatingsPayload fromJson(const Json& json);
};

} // namespace qb
