#include "core/capture/CaptureRuntimeState.hpp"

namespace qb {

Json CaptureRuntimeState::toJson() const {
    Json queue = Json::array();
    for (const auto& p : pending)
        queue.push_back(p.toJson());
    Json dead = Json::array();
    for (const auto& d : deadLetters)
        dead.push_back(d.toJson());
    Json j = {
        {"schemaVersion", schemaVersion}, {"installID", installID}, {"pending", std::move(queue)},
        {"deadLetters", std::move(dead)}, {"paused", paused},       {"lastError", lastError}};
    json::putOptional(j, "lastSuccessfulScanAt", lastSuccessfulScanAt);
    json::putOptional(j, "lastSuccessfulUploadAt", lastSuccessfulUploadAt);
    if (diagnostics) j["diagnostics"] = diagnostics->toJson();
    return j;
}

CaptureRuntimeState CaptureRuntimeState::fromJson(const Json& j) {
    json::requireObject(j, "runtime state");
    CaptureRuntimeState s;
    s.schemaVersion = json::requireInt(j, "schemaVersion");
    s.installID = json::requireString(j, "installID");
    for (const auto& p : json::requireArray(j, "pending"))
        s.pending.push_back(PendingPayload::fromJson(p));
    for (const auto& d : json::requireArray(j, "deadLetters"))
        s.deadLetters.push_back(DeadLetter::fromJson(d));
    s.paused = json::requireBool(j, "paused");
    s.lastSuccessfulScanAt = json::optionalInt(j, "lastSuccessfulScanAt");
    s.lastSuccessfulUploadAt = json::optionalInt(j, "lastSuccessfulUploadAt");
    s.lastError = json::requireString(j, "lastError");
    if (const Json* d = json::find(j, "diagnostics"))
        s.diagnostics = CaptureDiagnostics::fromJson(*d);
    return s;
}

} // namespace qb
