#pragma once

#include "core/capture/PendingPayload.hpp"

#include <cstddef>
#include <vector>

namespace qb {

// How the payloads of one worker pass enter the persistent upload queue.
namespace QueuePolicy {

// A queue holding this many entries accepts no further entry.
inline constexpr std::size_t maxPendingPayloads = 256;

// Carries no plays, no observations and is no baseline: a scan report only.
bool isEvidenceFree(const PendingPayload& payload);

// The queue after taking the payloads, oldest first. Repeated ids are skipped and a new
// scan report replaces the newest queued one. Throws CaptureError::queueFull() when an
// entry would have to be added to a full queue; the call then changes nothing.
std::vector<PendingPayload> append(const std::vector<PendingPayload>& payloads,
                                   const std::vector<PendingPayload>& queue);

} // namespace QueuePolicy
} // namespace qb
