#include "core/ratings/RatingsSyncState.hpp"

#include <algorithm>

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

namespace {

void writeOptional(JsonWriter& out, std::string_view key, const std::optional<int64_t>& value) {
    if (value) out.member(key, *value);
}

void writeBaseline(JsonWriter& out, const RatingBaseline& baseline) {
    std::vector<const RatingBaseline::value_type*> sorted;
    sorted.reserve(baseline.size());
    for (const auto& item : baseline)
        sorted.push_back(&item);
    std::sort(sorted.begin(), sorted.end(),
              [](const auto* a, const auto* b) { return a->first < b->first; });
    out.beginObject();
    for (const auto* item : sorted) {
        out.key(item->first);
        item->second.write(out);
    }
    out.endObject();
}

} // namespace

std::string RatingsSyncState::encode() const {
    JsonWriter out;
    out.beginObject();
    if (baseline) {
        out.key("baseline");
        writeBaseline(out, *baseline);
    }
    out.member("baselineSnapshotID", baselineSnapshotID);
    out.member("favourites", favourites);
    writeOptional(out, "lastAvailabilityCheckAt", lastAvailabilityCheckAt);
    writeOptional(out, "lastChangeQueuedAt", lastChangeQueuedAt);
    out.member("lastError", lastError);
    writeOptional(out, "lastPlayCountRefreshAt", lastPlayCountRefreshAt);
    writeOptional(out, "lastQueuedAt", lastQueuedAt);
    writeOptional(out, "lastSyncedAt", lastSyncedAt);
    out.key("pending");
    out.beginArray();
    for (const auto& page : pending)
        page.write(out);
    out.endArray();
    out.member("schemaVersion", schemaVersion);
    out.member("serverBaselineSnapshotID", serverBaselineSnapshotID);
    out.member("userRated", userRated);
    out.endObject();
    return out.take();
}

RatingsSyncState RatingsSyncState::decode(std::string_view text) {
    const JsonTape tape = JsonTape::parse(text);
    const JsonTape::Value j = tape.root();
    j.requireObject("ratings state");
    RatingsSyncState s;
    s.schemaVersion = j.requireInt("schemaVersion");
    if (const auto map = j.find("baseline")) {
        map->requireObject("value for key \"baseline\"");
        RatingBaseline baseline;
        baseline.reserve(map->size());
        map->forEachMember([&](std::string_view id, const JsonTape::Value& state) {
            baseline.insert_or_assign(std::string(id), RatingState::read(state));
        });
        s.baseline = std::move(baseline);
    }
    s.baselineSnapshotID = j.requireString("baselineSnapshotID");
    s.serverBaselineSnapshotID = j.requireString("serverBaselineSnapshotID");
    const JsonTape::Value queue = j.requireArray("pending");
    s.pending.reserve(queue.size());
    queue.forEachElement([&](const JsonTape::Value& page) {
        s.pending.push_back(PendingRatingsPayload::read(page));
    });
    s.lastQueuedAt = j.optionalInt("lastQueuedAt");
    s.lastSyncedAt = j.optionalInt("lastSyncedAt");
    s.lastChangeQueuedAt = j.optionalInt("lastChangeQueuedAt");
    s.lastAvailabilityCheckAt = j.optionalInt("lastAvailabilityCheckAt");
    s.lastPlayCountRefreshAt = j.optionalInt("lastPlayCountRefreshAt");
    s.userRated = j.requireInt("userRated");
    s.favourites = j.requireInt("favourites");
    s.lastError = j.requireString("lastError");
    return s;
}

} // namespace qb
