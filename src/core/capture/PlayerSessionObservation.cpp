#include "core/capture/PlayerSessionObservation.hpp"

namespace qb {

Json PlayerSessionObservation::toJson() const {
    return {{"observation_id", observationID},
            {"player_evidence_id", playerEvidenceID},
            {"install_id", installID},
            {"capture_lane", captureLane},
            {"source", source},
            {"device_context", deviceContext},
            {"track_title", trackTitle},
            {"artist_name", artistName},
            {"album_title", albumTitle},
            {"duration_ms", durationMS},
            {"first_observed_at", firstObservedAt},
            {"last_observed_at", lastObservedAt},
            {"observed_at", observedAt},
            {"observed_progress_ms", observedProgressMS},
            {"wall_observed_ms", wallObservedMS},
            {"paused_ms", pausedMS},
            {"finalise_reason", finaliseReason},
            {"lifecycle_context", lifecycleContext},
            {"evidence_version", evidenceVersion},
            {"captured_at", capturedAt}};
}

PlayerSessionObservation PlayerSessionObservation::fromJson(const Json& j) {
    json::requireObject(j, "observation");
    PlayerSessionObservation o;
    o.observationID = json::requireString(j, "observation_id");
    o.playerEvidenceID = json::requireString(j, "player_evidence_id");
    o.installID = json::requireString(j, "install_id");
    o.captureLane = json::requireString(j, "capture_lane");
    o.source = json::requireString(j, "source");
    o.deviceContext = json::requireString(j, "device_context");
    o.trackTitle = json::requireString(j, "track_title");
    o.artistName = json::requireString(j, "artist_name");
    o.albumTitle = json::requireString(j, "album_title");
    o.durationMS = json::requireInt(j, "duration_ms");
    o.firstObservedAt = json::requireInt(j, "first_observed_at");
    o.lastObservedAt = json::requireInt(j, "last_observed_at");
    o.observedAt = json::requireInt(j, "observed_at");
    o.observedProgressMS = json::requireInt(j, "observed_progress_ms");
    o.wallObservedMS = json::requireInt(j, "wall_observed_ms");
    o.pausedMS = json::requireInt(j, "paused_ms");
    o.finaliseReason = json::requireString(j, "finalise_reason");
    o.lifecycleContext = json::requireString(j, "lifecycle_context");
    o.evidenceVersion = json::requireInt(j, "evidence_version");
    o.capturedAt = json::requireInt(j, "captured_at");
    return o;
}

} // namespace qb
