#include "core/RatingsPayload.hpp"

namespace qb {

Json RatingsPayload::toJson() const {
    Json list = Json::array();
    for (const auto& e : entries)
        list.push_back(e.toJson());
    return {{"install_id", installID},
            {"sync_id", syncID},
            {"kind", kind},
            {"snapshot_id", snapshotID},
            {"page", page},
            {"pages", pages},
            {"observed_at", observedAt},
            {"library_song_count", librarySongCount},
            {"entries", std::move(list)}};
}

RatingsPayload RatingsPayload::fromJson(const Json& j) {
    json::requireObject(j, "ratings payload");
    RatingsPayload p;
    p.installID = json::requireString(j, "install_id");
    p.syncID = json::requireString(j, "sync_id");
    p.kind = json::requireString(j, "kind");
    p.snapshotID = json::requireString(j, "snapshot_id");
    p.page = json::requireInt(j, "page");
    p.pages = json::requireInt(j, "pages");
    p.observedAt = json::requireInt(j, "observed_at");
    p.librarySongCount = json::requireInt(j, "library_song_count");
    const Json& list = json::requireArray(j, "entries");
    p.entries.reserve(list.size());
    for (const auto& e : list)
        p.entries.push_back(RatingEntry::fromJson(e));
    return p;
}

} // namespace qb
