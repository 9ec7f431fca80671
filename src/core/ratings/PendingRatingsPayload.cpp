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

PendingRatingsPayload PendingRatingsPayload::read(jsonread::Value json) {
    using namespace jsonread;
    static constexpr const char* required[] = {"payload", "attempts", "nextAttemptAt"};
    RequiredKeys keys(required);
    PendingRatingsPayload p;
    forEachMember(asObject(json, "pending ratings page"), [&](std::string_view key, Value v) {
        if (key == "payload") {
            if (takeNull(v)) throw DecodeError("value for key \"payload\" is null");
            p.payload = RatingsPayload::read(v), keys.seen(0);
        } else if (key == "attempts")
            p.attempts = asInt(v, key), keys.seen(1);
        else if (key == "nextAttemptAt")
            p.nextAttemptAt = asInt(v, key), keys.seen(2);
    });
    keys.check();
    return p;
}

} // namespace qb
