#include "core/RatingEntry.hpp"

namespace qb {

Json RatingEntry::toJson() const {
    Json j = {{"persistent_id", persistentID},
              {"artist", artist},
              {"album_artist", albumArtist},
              {"album", album},
              {"title", title},
              {"rating", rating},
              {"rating_computed", ratingComputed},
              {"favourite", favourite}};
    json::putOptional(j, "play_count", playCount);
    return j;
}

RatingEntry RatingEntry::fromJson(const Json& j) {
    json::requireObject(j, "rating entry");
    RatingEntry e;
    e.persistentID = json::requireString(j, "persistent_id");
    e.artist = json::requireString(j, "artist");
    e.albumArtist = json::requireString(j, "album_artist");
    e.album = json::requireString(j, "album");
    e.title = json::requireString(j, "title");
    e.rating = json::requireInt(j, "rating");
    e.ratingComputed = json::requireBool(j, "rating_computed");
    e.favourite = json::requireBool(j, "favourite");
    e.playCount = json::optionalInt(j, "play_count");
    return e;
}

} // namespace qb
