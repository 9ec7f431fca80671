#include "core/ratings/PendingRatingsPayload.hpp"

namespace qb {

void PendingRatingsPayload::write(JsonWriter& out) const {
    out.beginObject();
    out.member("attempts", attempts);
    out.member("nextAttemptAt", nextAttemptAt);
    out.key("payload");
    payload.write(out);
    out.endObject();
}

PendingRatingsPayload PendingRatingsPayload::read(const JsonTape::Value& j) {
    j.requireObject("pending ratings page");
    PendingRatingsPayload p;
    p.payload = RatingsPayload::read(j.require("payload"));
    p.attempts = j.requireInt("attempts");
    p.nextAttemptAt = j.requireInt("nextAttemptAt");
    return p;
}

} // namespace qb
