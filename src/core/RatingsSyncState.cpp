#include "core/RatingsSyncState.hpp"

namespace qb {

RatingsSyncSummary RatingsSyncState::summary() const {
    RatingsSyncSummary s;
    s.pending = static_cast<int64_t>(pending.size());
    s.lastSyncedAt = lastSyncedAt;
    s.userRated = userRated;
    s.favourites = favourites;
    s.baselineSent = !serverBaselineSnapshotID.empty();
    s.lastError = lastError;
    return s;
}

Json RatingsSyncState::toJson() const {
    Json queue = Json::array();
    for (const auto& p : pending)
        queue.push_back(p.toJson());
    Json j = {{"schemaVersion", schemaVersion},
              {"baselineSnapshotID", baselineSnapshotID},
              {"serverBaselineSnapshotID", serverBaselineSnapshotID},
              {"pending", std::move(queue)},
              {"userRated", userRated},
              {"favourites", favourites},
              {"lastError", lastError}};
    if (baseline) {
        Json map = Json::object();
        for (const auto& [id, state] : *baseline)
            map[id] = state.toJson();
        j["baseline"] = std::move(map);
    }
    json::putOptional(j, "lastQueuedAt", lastQueuedAt);
    json::putOptional(j, "lastSyncedAt", lastSyncedAt);
    json::putOptional(j, "lastChangeQueuedAt", lastChangeQueuedAt);
    json::putOptional(j, "lastAvailabilityCheckAt", lastAvailabilityCheckAt);
    json::putOptional(j, "lastPlayCountRefreshAt", lastPlayCountRefreshAt);
    return j;
}

RatingsSyncState RatingsSyncState::fromJson(const Json& j) {
    json::requireObject(j, "ratings state");
    RatingsSyncState s;
    s.schemaVersion = json::requireInt(j, "schemaVersion");
    if (const Json* map = json::find(j, "baseline")) {
        json::requireObject(*map, "value for key \"baseline\"");
        RatingBaseline baseline;
        baseline.reserve(map->size());
        for (const auto& [id, state] : map->items())
            baseline.emplace(id, RatingState::fromJson(state));
        s.baseline = std::move(baseline);
    }
    s.baselineSnapshotID = json::requireString(j, "baselineSnapshotID");
    s.serverBaselineSnapshotID = json::requireString(j, "serverBaselineSnapshotID");
    const Json& queue = json::requireArray(j, "pending");
    s.pending.reserve(queue.size());
    for (const auto& p : queue)
        s.pending.push_back(PendingRatingsPayload::fromJson(p));
    s.lastQueuedAt = json::optionalInt(j, "lastQueuedAt");
    s.lastSyncedAt = json::optionalInt(j, "lastSyncedAt");
    s.lastChangeQueuedAt = json::optionalInt(j, "lastChangeQueuedAt");
    s.lastAvailabilityCheckAt = json::optionalInt(j, "lastAvailabilityCheckAt");
    s.lastPlayCountRefreshAt = json::optionalInt(j, "lastPlayCountRefreshAt");
    s.userRated = json::requireInt(j, "userRated");
    s.favourites = json::requireInt(j, "favourites");
    s.lastError = json::requireString(j, "lastError");
    return s;
}

} // namespace qb
