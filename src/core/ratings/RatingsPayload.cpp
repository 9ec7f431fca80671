#include "core/ratings/RatingsPayload.hpp"

namespace qb {

void RatingsPayload::write(JsonWriter& out) const {
    out.beginObject();
    out.key("entries");
    out.beginArray();
    for (const auto& e : entries)
        e.write(out);
    out.endArray();
    out.member("install_id", installID);
    out.member("kind", kind);
    out.member("library_song_count", librarySongCount);
    out.member("observed_at", observedAt);
    out.member("page", page);
    out.member("pages", pages);
    out.member("snapshot_id", snapshotID);
    out.member("sync_id", syncID);
    out.endObject();
}

RatingsPayload RatingsPayload::read(const JsonTape::Value& j) {
    j.requireObject("ratings payload");
    RatingsPayload p;
    p.installID = j.requireString("install_id");
    p.syncID = j.requireString("sync_id");
    p.kind = j.requireString("kind");
    p.snapshotID = j.requireString("snapshot_id");
    p.page = j.requireInt("page");
    p.pages = j.requireInt("pages");
    p.observedAt = j.requireInt("observed_at");
    p.librarySongCount = j.requireInt("library_song_count");
    const JsonTape::Value list = j.requireArray("entries");
    p.entries.reserve(list.size());
    list.forEachElement(
        [&](const JsonTape::Value& e) { p.entries.push_back(RatingEntry::read(e)); });
    return p;
}

std::string RatingsPayload::encode() const {
    JsonWriter out;
    write(out);
    return out.take();
}

RatingsPayload RatingsPayload::decode(std::string_view text) {
    return read(JsonTape::parse(text).root());
}

} // namespace qb
