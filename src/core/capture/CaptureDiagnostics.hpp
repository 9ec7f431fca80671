#pragma once

#include "core/library/LibraryScan.hpp"

namespace qb {

// The figures of one completed scan.
struct CaptureDiagnostics {
    std::string trigger;
    int64_t scannedAt = 0;
    bool isBaseline = false;
    int64_t newTracks = 0;
    int64_t resetTracks = 0;
    int64_t positiveDeltas = 0;
    int64_t emittedCompletions = 0;
    ScanMetrics metrics;

    bool operator==(const CaptureDiagnostics&) const = default;
    Json toJson() const;
    static CaptureDiagnostics fromJson(const Json& json);
};

} // namespace qb
