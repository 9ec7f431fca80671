#pragma once

#include "core/common/JsonFields.hpp"

#include <map>

namespace qb {

inline constexpr int64_t captureStateSchemaVersion = 1;

// What the baseline remembers of one song.
struct SnapshotEntry {
    int64_t playCount = 0;
    std::optional<int64_t> lastPlayedAt;
    int64_t lastSeenAt = 0;

    bool operator==(const SnapshotEntry&) const = default;
};

// Keyed by the 16-digit persistent ID; std::map keeps the keys sorted on disk.
using Snapshot = std::map<std::string, SnapshotEntry>;

// The content of "capture-baseline.json".
struct CaptureBaseline {
    int64_t schemaVersion = captureStateSchemaVersion;
    std::optional<int64_t> capturedAt;
    Snapshot snapshot;

    bool operator==(const CaptureBaseline&) const = default;
    Json toJson() const;
    static CaptureBaseline fromJson(const Json& json);
};

} // namespace qb
