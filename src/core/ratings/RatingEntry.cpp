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

RatingEntry RatingEntry::read(const JsonTape::Value& j) {
    j.requireObject("rating entry");
    RatingEntry e;
    e.persistentID = j.requireString("persistent_id");
    e.artist = j.requireString("artist");
    e.albumArtist = j.requireString("album_artist");
    e.album = j.requireString("album");
    e.title = j.requireString("title");
    e.rating = j.requireInt("rating");
    e.ratingComputed = j.requireBool("rating_computed");
    e.favourite = j.requireBool("favourite");
    e.playCount = j.optionalInt("play_count");
    return e;
}

} // namespace qb
