#pragma once

#include "core/capture/CaptureDiagnostics.hpp"

namespace qb {

// What one capture pass reports: the worker process prints it on standard output.
struct CaptureWorkerResult {
    bool ok = false;
    std::string error;
    std::optional<CaptureDiagnostics> diagnostics;

    bool operator==(const CaptureWorkerResult&) const = default;
    Json toJson() const {
        Json j = {{"ok", ok}, {"error", error}};
        if (diagnostics) j["diagnostics"] = diagnostics->toJson();
        return j;
    }
    static CaptureWorkerResult fromJson(const Json& j) {
        json::requireObject(j, "worker result");
        CaptureWorkerResult r;
        r.ok = json::requireBool(j, "ok");
        r.error = json::requireString(j, "error");
        if (const Json* d = json::find(j, "diagnostics"))
            r.diagnostics = CaptureDiagnostics::fromJson(*d);
        return r;
    }
};

} // namespace qb
