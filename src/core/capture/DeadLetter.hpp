#pragma once

#include "core/common/JsonFields.hpp"

namespace qb {

// The trace of a payload the service refused for good.
struct DeadLetter {
    std::string payloadID;
    int64_t rejectedAt = 0;
    std::string reason;

    bool operator==(const DeadLetter&) const = default;
    Json toJson() const {
        return {{"payloadID", payloadID}, {"rejectedAt", rejectedAt}, {"reason", reason}};
    }
    static DeadLetter fromJson(const Json& j) {
        json::requireObject(j, "dead letter");
        return {json::requireString(j, "payloadID"), json::requireInt(j, "rejectedAt"),
                json::requireString(j, "reason")};
    }
};

} // namespace qb
