#include "core/capture/CaptureBaseline.hpp"

namespace qb {

Json CaptureBaseline::toJson() const {
    Json entries = Json::object();
    for (const auto& [id, e] : snapshot) {
        Json entry = {{"playCount", e.playCount}, {"lastSeenAt", e.lastSeenAt}};
        json::putOptional(entry, "lastPlayedAt", e.lastPlayedAt);
        entries[id] = std::move(entry);
    }
    Json j = {{"schemaVersion", schemaVersion}, {"snapshot", std::move(entries)}};
    json::putOptional(j, "capturedAt", capturedAt);
    return j;
}

CaptureBaseline CaptureBaseline::fromJson(const Json& j) {
    json::requireObject(j, "baseline");
    CaptureBaseline b;
    b.schemaVersion = json::requireInt(j, "schemaVersion");
    b.capturedAt = json::optionalInt(j, "capturedAt");
    const Json& entries = json::require(j, "snapshot");
    json::requireObject(entries, "snapshot");
    for (const auto& [id, e] : entries.items()) {
        json::requireObject(e, "snapshot entry " + id);
        b.snapshot.emplace(id, SnapshotEntry{json::requireInt(e, "playCount"),
                                             json::optionalInt(e, "lastPlayedAt"),
                                             json::requireInt(e, "lastSeenAt")});
    }
    return b;
}

} // namespace qb
