#pragma once

#include "core/capture/CompletionLibraryBlock.hpp"
#include "core/capture/PlayerSessionObservation.hpp"

namespace qb {

// The body of one upload to the reconcile endpoint.
struct ReconcilePayload {
    std::string installID;
    std::string deviceContext = "mac";
    CompletionLibraryBlock completionLibrary;
    std::optional<std::vector<PlayerSessionObservation>> observations;

    bool containsCompletions() const;
    bool hasObservations() const { return observations && !observations->empty(); }

    bool operator==(const ReconcilePayload&) const = default;
    Json toJson() const;
    static ReconcilePayload fromJson(const Json& json);
};

} // namespace qb
