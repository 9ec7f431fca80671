#include "core/capture/CompletionLibraryBlock.hpp"

namespace qb {

Json CompletionLibraryBlock::toJson() const {
    Json list = Json::array();
    for (const auto& d : deltas)
        list.push_back(d.toJson());
    Json j = {{"observed_at", observedAt},
              {"is_baseline", isBaseline},
              {"song_count", songCount},
              {"scan_ms", scanMS},
              {"new_library_tracks", newLibraryTracks},
              {"reset_tracks", resetTracks},
              {"positive_deltas", positiveDeltas},
              {"deltas_truncated", deltasTruncated},
              {"deltas", std::move(list)}};
    json::putOptional(j, "baseline_captured_at", baselineCapturedAt);
    return j;
}

CompletionLibraryBlock CompletionLibraryBlock::fromJson(const Json& j) {
    json::requireObject(j, "completion_library");
    CompletionLibraryBlock b;
    b.observedAt = json::requireInt(j, "observed_at");
    b.baselineCapturedAt = json::optionalInt(j, "baseline_captured_at");
    b.isBaseline = json::requireBool(j, "is_baseline");
    b.songCount = json::requireInt(j, "song_count");
    b.scanMS = json::requireInt(j, "scan_ms");
    b.newLibraryTracks = json::requireInt(j, "new_library_tracks");
    b.resetTracks = json::requireInt(j, "reset_tracks");
    b.positiveDeltas = json::requireInt(j, "positive_deltas");
    b.deltasTruncated = json::requireInt(j, "deltas_truncated");
    for (const auto& d : json::requireArray(j, "deltas"))
        b.deltas.push_back(CompletionDelta::fromJson(d));
    return b;
}

} // namespace qb
