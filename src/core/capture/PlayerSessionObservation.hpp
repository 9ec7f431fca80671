#pragma once

#include "core/common/JsonFields.hpp"

namespace qb {

// One qualifying player session as the service receives it; same form on the wire and on disk.
struct PlayerSessionObservation {
    std::string observationID;
    std::string playerEvidenceID;
    std::string installID;
    std::string captureLane;
    std::string source;
    std::string deviceContext;
    std::string trackTitle;
    std::string artistName;
    std::string albumTitle;
    int64_t durationMS = 0;
    int64_t firstObservedAt = 0;
    int64_t lastObservedAt = 0;
    int64_t observedAt = 0;
    int64_t observedProgressMS = 0;
    int64_t wallObservedMS = 0;
    int64_t pausedMS = 0;
    std::string finaliseReason;
    std::string lifecycleContext;
    int64_t evidenceVersion = 1;
    int64_t capturedAt = 0;

    bool operator==(const PlayerSessionObservation&) const = default;
    Json toJson() const;
    static PlayerSessionObservation fromJson(const Json& json);
};

} // namespace qb
