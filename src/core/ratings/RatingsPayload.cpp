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

RatingsPayload RatingsPayload::read(jsonread::Value json) {
    using namespace jsonread;
    static constexpr const char* required[] = {
        "install_id",         "sync_id", "kind", "snapshot_id", "page", "pages", "observed_at",
        "library_song_count", "entries"};
    RequiredKeys keys(required);
    RatingsPayload p;
    forEachMember(asObject(json, "ratings payload"), [&](std::string_view key, Value v) {
        if (key == "install_id")
            p.installID = asString(v, key), keys.seen(0);
        else if (key == "sync_id")
            p.syncID = asString(v, key), keys.seen(1);
        else if (key == "kind")
            p.kind = asString(v, key), keys.seen(2);
        else if (key == "snapshot_id")
            p.snapshotID = asString(v, key), keys.seen(3);
        else if (key == "page")
            p.page = asInt(v, key), keys.seen(4);
        else if (key == "pages")
            p.pages = asInt(v, key), keys.seen(5);
        else if (key == "observed_at")
            p.observedAt = asInt(v, key), keys.seen(6);
        else if (key == "library_song_count")
            p.librarySongCount = asInt(v, key), keys.seen(7);
        else if (key == "entries") {
            p.entries.clear();
            forEachElement(asArray(v, key),
                           [&](Value e) { p.entries.push_back(RatingEntry::read(e)); });
            keys.seen(8);
        }
    });
    keys.check();
    return p;
}

std::string RatingsPayload::encode() const {
    JsonWriter out;
    write(out);
    return out.take();
}

RatingsPayload RatingsPayload::decode(const std::string& text) {
    return jsonread::parse(text, [](jsonread::Value root) { return read(root); });
}

} // namespace qb
