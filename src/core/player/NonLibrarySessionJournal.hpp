#pragma once

#include "core/player/PlayerSessionRecord.hpp"

#include <map>
#include <vector>

namespace qb {

// A library item whose play count rose in a recent scan.
struct RecentLibraryMove {
    std::string recordingKey;
    std::string persistentID; // upper-case
    int64_t scanObservedAt = 0;

    bool operator==(const RecentLibraryMove&) const = default;
    Json toJson() const;
    static RecentLibraryMove fromJson(const Json& json);
};

// What became of a journalled session; its text keys the running counts.
enum class NonLibrarySessionDisposition {
    emitted,
    libraryItem,
    libraryCountMoved,
    unknownDuration,
    noProgress,
    exceedsDuration,
    journalOverflow
};

const char* nonLibrarySessionDispositionText(NonLibrarySessionDisposition disposition);

// Finished player sessions waiting for the next scan, with recent library moves and counts.
struct NonLibrarySessionJournal {
    static constexpr int64_t currentSchemaVersion = 1;

    int64_t schemaVersion = currentSchemaVersion;
    std::vector<PlayerSessionRecord> sessions;         // oldest appended first
    std::vector<RecentLibraryMove> recentLibraryMoves; // oldest first
    std::map<std::string, int64_t> dispositions;       // disposition text -> cumulative count

    static NonLibrarySessionJournal empty() { return {}; }

    // Adds n to the disposition's count; saturates instead of overflowing on a hostile file.
    void count(NonLibrarySessionDisposition disposition, int64_t n);

    bool operator==(const NonLibrarySessionJournal&) const = default;
    Json toJson() const;
    static NonLibrarySessionJournal fromJson(const Json& json);
};

} // namespace qb
