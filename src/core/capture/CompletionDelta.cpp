#include "core/capture/CompletionDelta.hpp"

namespace qb {

Json CompletionDelta::toJson() const {
    Json j = {{"track", track},
              {"artist", artist},
              {"album", album},
              {"persistent_id", persistentID},
              {"playback_store_id", playbackStoreID},
              {"play_count_before", playCountBefore},
              {"play_count_after", playCountAfter},
              {"snapshot_before_at", snapshotBeforeAt}};
    json::putOptional(j, "duration_ms", durationMS);
    json::putOptional(j, "last_played_before", lastPlayedBefore);
    json::putOptional(j, "last_played_after", lastPlayedAfter);
    return j;
}

CompletionDelta CompletionDelta::fromJson(const Json& j) {
    json::requireObject(j, "delta");
    CompletionDelta d;
    d.track = json::requireString(j, "track");
    d.artist = json::requireString(j, "artist");
    d.album = json::requireString(j, "album");
    d.durationMS = json::optionalInt(j, "duration_ms");
    d.persistentID = json::requireString(j, "persistent_id");
    d.playbackStoreID = json::requireString(j, "playback_store_id");
    d.playCountBefore = json::requireInt(j, "play_count_before");
    d.playCountAfter = json::requireInt(j, "play_count_after");
    d.lastPlayedBefore = json::optionalInt(j, "last_played_before");
    d.lastPlayedAfter = json::optionalInt(j, "last_played_after");
    d.snapshotBeforeAt = json::requireInt(j, "snapshot_before_at");
    return d;
}

} // namespace qb
