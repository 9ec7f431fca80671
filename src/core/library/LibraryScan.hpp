#pragma once

#include "core/common/JsonFields.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qb {

// One song of a library scan.
struct LibraryTrack {
    std::string persistentID; // 16 upper-case hex digits
    std::string artist;
    std::string album;
    std::string title;
    std::optional<int64_t> durationMS;
    std::string catalogID;
    int64_t playCount = 0;
    std::optional<int64_t> lastPlayedAt;
    std::string albumArtist;
    int64_t rating = 0;
    bool ratingComputed = false;
    bool favourite = false;

    bool operator==(const LibraryTrack&) const = default;
    Json toJson() const;
    static LibraryTrack fromJson(const Json& json);
};

struct ScanMetrics {
    int64_t trackCount = 0;
    int64_t loadMS = 0;
    int64_t scanMS = 0;
    int64_t totalMS = 0;
    uint64_t residentBeforeBytes = 0;
    uint64_t residentLoadedBytes = 0;
    uint64_t residentAfterReleaseBytes = 0;

    bool operator==(const ScanMetrics&) const = default;
    Json toJson() const;
    static ScanMetrics fromJson(const Json& json);
};

struct LibraryScan {
    std::vector<LibraryTrack> tracks; // in library order
    ScanMetrics metrics;

    bool operator==(const LibraryScan&) const = default;
    Json toJson() const;
    static LibraryScan fromJson(const Json& json);
};

} // namespace qb
