#pragma once

#include "core/capture/CaptureDiagnostics.hpp"
#include "core/ratings/RatingsSyncSummary.hpp"

namespace qb {

// The immutable snapshot the controller publishes; the only thing the shell reads of it.
struct CaptureServiceStatus {
    std::string installID;
    bool paused = false;
    bool scanning = false;
    bool connected = false;
    std::optional<int64_t> lastScanAt;
    std::optional<int64_t> lastUploadAt;
    int64_t pending = 0;
    std::string lastError;
    std::optional<CaptureDiagnostics> diagnostics;
    std::optional<RatingsSyncSummary> ratings;

    bool operator==(const CaptureServiceStatus&) const = default;
};

} // namespace qb
