#include "core/player/NonLibrarySessionJournal.hpp"

#include <limits>

namespace qb {

Json RecentLibraryMove::toJson() const {
    return {{"recordingKey", recordingKey},
            {"persistentID", persistentID},
            {"scanObservedAt", scanObservedAt}};
}

RecentLibraryMove RecentLibraryMove::fromJson(const Json& j) {
    json::requireObject(j, "recent library move");
    RecentLibraryMove m;
    m.recordingKey = json::requireString(j, "recordingKey");
    m.persistentID = json::requireString(j, "persistentID");
    m.scanObservedAt = json::requireInt(j, "scanObservedAt");
    return m;
}

const char* nonLibrarySessionDispositionText(NonLibrarySessionDisposition disposition) {
    switch (disposition) {
    case NonLibrarySessionDisposition::emitted:
        return "emitted";
    case NonLibrarySessionDisposition::libraryItem:
        return "library_item";
    case NonLibrarySessionDisposition::libraryCountMoved:
        return "library_count_moved_same_recording";
    case NonLibrarySessionDisposition::unknownDuration:
        return "unknown_duration";
    case NonLibrarySessionDisposition::noProgress:
        return "no_observed_progress";
    case NonLibrarySessionDisposition::exceedsDuration:
        return "progress_exceeds_duration";
    case NonLibrarySessionDisposition::journalOverflow:
        return "journal_overflow";
    }
    return "";
}

void NonLibrarySessionJournal::count(NonLibrarySessionDisposition disposition, int64_t n) {
    int64_t& entry = dispositions[nonLibrarySessionDispositionText(disposition)];
    int64_t sum = 0;
    if (__builtin_add_overflow(entry, n, &sum))
        sum = n > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
    entry = sum;
}

Json NonLibrarySessionJournal::toJson() const {
    Json records = Json::array();
    for (const auto& s : sessions)
        records.push_back(s.toJson());
    Json moves = Json::array();
    for (const auto& m : recentLibraryMoves)
        moves.push_back(m.toJson());
    Json counts = Json::object();
    for (const auto& [key, value] : dispositions)
        counts[key] = value;
    return {{"schemaVersion", schemaVersion},
            {"sessions", std::move(records)},
            {"recentLibraryMoves", std::move(moves)},
            {"dispositions", std::move(counts)}};
}

NonLibrarySessionJournal NonLibrarySessionJournal::fromJson(const Json& j) {
    json::requireObject(j, "non-library journal");
    NonLibrarySessionJournal journal;
    journal.schemaVersion = json::requireInt(j, "schemaVersion");
    for (const auto& s : json::requireArray(j, "sessions"))
        journal.sessions.push_back(PlayerSessionRecord::fromJson(s));
    for (const auto& m : json::requireArray(j, "recentLibraryMoves"))
        journal.recentLibraryMoves.push_back(RecentLibraryMove::fromJson(m));
    const Json& counts = json::require(j, "dispositions");
    if (!counts.is_object()) throw DecodeError("value for key \"dispositions\" is not an object");
    for (const auto& [key, value] : counts.items())
        journal.dispositions[key] = json::asInt(value, key);
    return journal;
}

} // namespace qb
