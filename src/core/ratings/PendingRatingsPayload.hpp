#pragma once

#include "core/ratings/RatingsPayload.hpp"

namespace qb {

// A ratings page waiting in the queue; due when nextAttemptAt <= now.
struct PendingRatingsPayload {
    RatingsPayload payload;
    int64_t attempts = 0;
    int64_t nextAttemptAt = 0;

    bool operator==(const PendingRatingsPayload&) const = default;
    void write(JsonWriter& out) const;
    static PendingRatingsPayload read(jsonread::Value json);
};

} // namespace qb
