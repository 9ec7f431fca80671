#include "core/capture/CaptureDiagnostics.hpp"

namespace qb {

Json CaptureDiagnostics::toJson() const {
    return {{"trigger", trigger},
            {"scannedAt", scannedAt},
            {"isBaseline", isBaseline},
            {"newTracks", newTracks},
            {"resetTracks", resetTracks},
            {"positiveDeltas", positiveDeltas},
            {"emittedCompletions", emittedCompletions},
            {"metrics", metrics.toJson()}};
}

CaptureDiagnostics CaptureDiagnostics::fromJson(const Json& j) {
    json::requireObject(j, "diagnostics");
    CaptureDiagnostics d;
    d.trigger = json::requireString(j, "trigger");
    d.scannedAt = json::requireInt(j, "scannedAt");
    d.isBaseline = json::requireBool(j, "isBaseline");
    d.newTracks = json::requireInt(j, "newTracks");
    d.resetTracks = json::requireInt(j, "resetTracks");
    d.positiveDeltas = json::requireInt(j, "positiveDeltas");
    d.emittedCompletions = json::requireInt(j, "emittedCompletions");
    d.metrics = ScanMetrics::fromJson(json::require(j, "metrics"));
    return d;
}

} // namespace qb
