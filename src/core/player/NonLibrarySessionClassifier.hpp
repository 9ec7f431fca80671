#pragma once

#include "core/capture/CompletionDelta.hpp"
#include "core/capture/PlayerSessionObservation.hpp"
#include "core/library/LibraryScan.hpp"
#include "core/player/NonLibrarySessionJournal.hpp"

#include <vector>

// Decides, at each capture pass, what became of every journalled player session that is
// ready: left to the library path, dropped with a reason, or emitted as an observation.
namespace qb::NonLibrarySessionClassifier {

struct Outcome {
    NonLibrarySessionJournal journal;                   // to save after the pass
    std::vector<PlayerSessionObservation> observations; // in decision order

    bool operator==(const Outcome&) const = default;
};

// Pure. `deltas` are those of every payload of this pass, in payload order.
Outcome classify(const NonLibrarySessionJournal& journal, const std::vector<LibraryTrack>& tracks,
                 const std::vector<CompletionDelta>& deltas, int64_t observedAt,
                 const std::string& installID);

// The observation of an emitted session; its identifiers depend only on the install and session.
PlayerSessionObservation makeObservation(const PlayerSessionRecord& record, int64_t durationMS,
                                         const std::string& installID, int64_t capturedAt);

} // namespace qb::NonLibrarySessionClassifier
