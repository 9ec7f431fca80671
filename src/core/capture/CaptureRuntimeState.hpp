#pragma once

#include "core/capture/CaptureBaseline.hpp"
#include "core/capture/CaptureDiagnostics.hpp"
#include "core/capture/DeadLetter.hpp"
#include "core/capture/PendingPayload.hpp"

namespace qb {

// The content of "capture-runtime.json".
struct CaptureRuntimeState {
    int64_t schemaVersion = captureStateSchemaVersion;
    std::string installID;
    std::vector<PendingPayload> pending;
    std::vector<DeadLetter> deadLetters;
    bool paused = false;
    std::optional<int64_t> lastSuccessfulScanAt;
    std::optional<int64_t> lastSuccessfulUploadAt;
    std::string lastError;
    std::optional<CaptureDiagnostics> diagnostics;

    static CaptureRuntimeState fresh(std::string installID) {
        CaptureRuntimeState s;
        s.installID = std::move(installID);
        return s;
    }

    bool operator==(const CaptureRuntimeState&) const = default;
    Json toJson() const;
    static CaptureRuntimeState fromJson(const Json& json);
};

// The in-memory join of baseline and runtime state handed to the reconciler.
struct CaptureState {
    int64_t schemaVersion = captureStateSchemaVersion;
    std::string installID;
    std::optional<int64_t> capturedAt;
    Snapshot snapshot;
    std::vector<PendingPayload> pending;
    std::vector<DeadLetter> deadLetters;
    bool paused = false;
    std::optional<int64_t> lastSuccessfulScanAt;
    std::optional<int64_t> lastSuccessfulUploadAt;
    std::string lastError;
    std::optional<CaptureDiagnostics> diagnostics;

    bool operator==(const CaptureState&) const = default;
};

} // namespace qb
