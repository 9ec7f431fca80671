#include "core/ratings/RatingEntry.hpp"

namespace qb {

void RatingEntry::write(JsonWriter& out) const {
    out.beginObject();
    out.member("album", album);
    out.member("album_artist", albumArtist);
    out.member("artist", artist);
    out.member("favourite", favourite);
    out.member("persistent_id", persistentID);
    if (playCount) out.member("play_count", *playCount);
    out.member("rating", rating);
    out.member("rating_computed", ratingComputed);
    out.member("title", title);
    out.endObject();
}

RatingEntry RatingEntry::read(jsonread::Value json) {
    using namespace jsonread;
    static constexpr const char* required[] = {"persistent_id",   "artist",   "album_artist",
                                               "album",           "title",    "rating",
                                               "rating_computed", "favourite"};
    RequiredKeys keys(required);
    RatingEntry e;
    forEachMember(asObject(json, "rating entry"), [&](std::string_view key, Value v) {
        if (key == "persistent_id")
            e.persistentID = asString(v, key), keys.seen(0);
        else if (key == "artist")
            e.artist = asString(v, key), keys.seen(1);
        else if (key == "album_artist")
            e.albumArtist = asString(v, key), keys.seen(2);
        else if (key == "album")
            e.album = asString(v, key), keys.seen(3);
        else if (key == "title")
            e.title = asString(v, key), keys.seen(4);
        else if (key == "rating")
            e.rating = asInt(v, key), keys.seen(5);
        else if (key == "rating_computed")
            e.ratingComputed = asBool(v, key), keys.seen(6);
        else if (key == "favourite")
            e.favourite = asBool(v, key), keys.seen(7);
        else if (key == "play_count")
            e.playCount = optionalInt(v, key);
    });
    keys.check();
    return e;
}

} // namespace qb
