#include "core/capture/ReconcilePayload.hpp"

#include <algorithm>

namespace qb {

bool ReconcilePayload::containsCompletions() const {
    const auto& deltas = completionLibrary.deltas;
    return std::any_of(deltas.begin(), deltas.end(),
                       [](const CompletionDelta& d) { return d.occurrenceCount() > 0; });
}

Json ReconcilePayload::toJson() const {
    Json j = {{"install_id", installID},
              {"device_context", deviceContext},
              {"completion_library", completionLibrary.toJson()}};
    if (observations) {
        Json list = Json::array();
        for (const auto& o : *observations)
            list.push_back(o.toJson());
        j["observations"] = std::move(list);
    }
    return j;
}

ReconcilePayload ReconcilePayload::fromJson(const Json& j) {
    json::requireObject(j, "payload");
    ReconcilePayload p;
    p.installID = json::requireString(j, "install_id");
    p.deviceContext = json::requireString(j, "device_context");
    p.completionLibrary = CompletionLibraryBlock::fromJson(json::require(j, "completion_library"));
    if (const Json* list = json::find(j, "observations")) {
        if (!list->is_array()) throw DecodeError("value for key \"observations\" is not an array");
        std::vector<PlayerSessionObservation> decoded;
        for (const auto& o : *list)
            decoded.push_back(PlayerSessionObservation::fromJson(o));
        p.observations = std::move(decoded);
    }
    return p;
}

} // namespace qb
