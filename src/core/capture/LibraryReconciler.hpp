#pragma once

#include "core/capture/CaptureDiagnostics.hpp"
#include "core/capture/CaptureRuntimeState.hpp"
#include "core/capture/PendingPayload.hpp"
#include "core/capture/QueuePolicy.hpp"
#include "core/library/LibraryScan.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qb {

// Turns one library scan into completion deltas against the baseline snapshot.
// Pure: reads no clock, touches no file and cannot fail.
namespace LibraryReconciler {

// Most completion occurrences carried by one payload's deltas.
inline constexpr int64_t maxObservationsPerPayload = 200;
// Most entries kept in the baseline snapshot.
inline constexpr std::size_t maxSnapshotTracks = 100'000;
// More payloads than the queue can ever take cannot be queued, so packing stops there
// instead of exhausting memory on an absurd play-count jump.
inline constexpr std::size_t maxPayloadsPerPass = QueuePolicy::maxPendingPayloads + 1;

struct ReconciliationResult {
    Snapshot snapshot;
    int64_t capturedAt = 0;
    std::vector<PendingPayload> payloads;
    CaptureDiagnostics diagnostics;

    bool operator==(const ReconciliationResult&) const = default;
};

ReconciliationResult reconcile(const CaptureState& state, const LibraryScan& scan,
                               int64_t observedAt, const std::string& trigger);

// Keeps the maxSnapshotTracks most recently seen entries (ties: smaller persistent ID first).
Snapshot boundedSnapshot(Snapshot snapshot);

} // namespace LibraryReconciler
} // namespace qb
