#include "core/library/LibraryScan.hpp"

namespace qb {

Json LibraryTrack::toJson() const {
    Json j = {{"persistentID", persistentID},
              {"artist", artist},
              {"album", album},
              {"title", title},
              {"catalogID", catalogID},
              {"playCount", playCount},
              {"albumArtist", albumArtist},
              {"rating", rating},
              {"ratingComputed", ratingComputed},
              {"favourite", favourite}};
    json::putOptional(j, "durationMS", durationMS);
    json::putOptional(j, "lastPlayedAt", lastPlayedAt);
    return j;
}

LibraryTrack LibraryTrack::fromJson(const Json& j) {
    json::requireObject(j, "track");
    LibraryTrack t;
    t.persistentID = json::requireString(j, "persistentID");
    t.artist = json::requireString(j, "artist");
    t.album = json::requireString(j, "album");
    t.title = json::requireString(j, "title");
    t.durationMS = json::optionalInt(j, "durationMS");
    t.catalogID = json::requireString(j, "catalogID");
    t.playCount = json::requireInt(j, "playCount");
    t.lastPlayedAt = json::optionalInt(j, "lastPlayedAt");
    t.albumArtist = json::requireString(j, "albumArtist");
    t.rating = json::requireInt(j, "rating");
    t.ratingComputed = json::requireBool(j, "ratingComputed");
    t.favourite = json::requireBool(j, "favourite");
    return t;
}

Json ScanMetrics::toJson() const {
    return {{"trackCount", trackCount},
            {"loadMS", loadMS},
            {"scanMS", scanMS},
            {"totalMS", totalMS},
            {"residentBeforeBytes", residentBeforeBytes},
            {"residentLoadedBytes", residentLoadedBytes},
            {"residentAfterReleaseBytes", residentAfterReleaseBytes}};
}

ScanMetrics ScanMetrics::fromJson(const Json& j) {
    json::requireObject(j, "metrics");
    ScanMetrics m;
    m.trackCount = json::requireInt(j, "trackCount");
    m.loadMS = json::requireInt(j, "loadMS");
    m.scanMS = json::requireInt(j, "scanMS");
    m.totalMS = json::requireInt(j, "totalMS");
    m.residentBeforeBytes = json::requireUInt(j, "residentBeforeBytes");
    m.residentLoadedBytes = json::requireUInt(j, "residentLoadedBytes");
    m.residentAfterReleaseBytes = json::requireUInt(j, "residentAfterReleaseBytes");
    return m;
}

Json LibraryScan::toJson() const {
    Json list = Json::array();
    for (const auto& t : tracks)
        list.push_back(t.toJson());
    return {{"tracks", std::move(list)}, {"metrics", metrics.toJson()}};
}

LibraryScan LibraryScan::fromJson(const Json& j) {
    json::requireObject(j, "scan");
    LibraryScan s;
    for (const auto& t : json::requireArray(j, "tracks"))
        s.tracks.push_back(LibraryTrack::fromJson(t));
    s.metrics = ScanMetrics::fromJson(json::require(j, "metrics"));
    return s;
}

} // namespace qb
