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

RatingsSyncState RatingsSyncState::decode(const std::string& text) {
    using namespace jsonread;
    return parse(text, [](Value root) {
        static constexpr const char* required[] = {
            "schemaVersion", "baselineSnapshotID", "serverBaselineSnapshotID",
            "pending",       "userRated",          "favourites",
            "lastError"};
        RequiredKeys keys(required);
        RatingsSyncState s;
        forEachMember(asObject(root, "ratings state"), [&](std::string_view key, Value v) {
            if (key == "schemaVersion")
                s.schemaVersion = asInt(v, key), keys.seen(0);
            else if (key == "baseline") {
                if (takeNull(v)) {
                    s.baseline.reset();
                    return;
                }
                RatingBaseline baseline;
                forEachMember(asObject(v, "value for key \"baseline\""), [&](std::string_view id,
                                                                             Value state) {
                    baseline.insert_or_assign(std::string(id), RatingState::read(state));
                });
                s.baseline = std::move(baseline);
            } else if (key == "baselineSnapshotID") {
                s.baselineSnapshotID = asString(v, key), keys.seen(1);
            } else if (key == "serverBaselineSnapshotID") {
                s.serverBaselineSnapshotID = asString(v, key), keys.seen(2);
            } else if (key == "pending") {
                s.pending.clear();
                forEachElement(asArray(v, key), [&](Value page) {
                    s.pending.push_back(PendingRatingsPayload::read(page));
                });
                keys.seen(3);
            } else if (key == "lastQueuedAt")
                s.lastQueuedAt = optionalInt(v, key);
            else if (key == "lastSyncedAt")
                s.lastSyncedAt = optionalInt(v, key);
            else if (key == "lastChangeQueuedAt")
                s.lastChangeQueuedAt = optionalInt(v, key);
            else if (key == "lastAvailabilityCheckAt")
                s.lastAvailabilityCheckAt = optionalInt(v, key);
            else if (key == "lastPlayCountRefreshAt")
                s.lastPlayCountRefreshAt = optionalInt(v, key);
            else if (key == "userRated")
                s.userRated = asInt(v, key), keys.seen(4);
            else if (key == "favourites")
                s.favourites = asInt(v, key), keys.seen(5);
            else if (key == "lastError")
                s.lastError = asString(v, key), keys.seen(6);
        });
        keys.check();
        return s;
    });
}

} // namespace qb
