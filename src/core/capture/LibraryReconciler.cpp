#include "core/capture/LibraryReconciler.hpp"

#include "core/common/StableIdentifier.hpp"

#include <algorithm>
#include <functional>
#include <limits>
#include <string_view>

namespace qb::LibraryReconciler {

namespace {

// after - before for after > before, exact even where the int64 difference would overflow.
uint64_t riseOf(int64_t before, int64_t after) {
    return static_cast<uint64_t>(after) - static_cast<uint64_t>(before);
}

int64_t saturatingAdd(int64_t total, uint64_t amount) {
    const auto room = static_cast<uint64_t>(std::numeric_limits<int64_t>::max() - total);
    return amount >= room ? std::numeric_limits<int64_t>::max()
                          : total + static_cast<int64_t>(amount);
}

struct PerSongPass {
    Snapshot snapshot;
    std::vector<CompletionDelta> deltas;
    int64_t newTracks = 0;
    int64_t resetTracks = 0;
};

// Open-addressing index from persistent ID to the old entry and to its copy being built.
// Tree searches over 100,000 scattered nodes, and node-based hash maps, cost far more.
class SnapshotIndex {
  public:
    struct Hit {
        const SnapshotEntry* before = nullptr;
        SnapshotEntry* next = nullptr;
    };

    SnapshotIndex(const Snapshot& old, Snapshot& next) {
        std::size_t capacity = 16;
        while (capacity < old.size() * 2)
            capacity *= 2;
        slots_.resize(capacity);
        mask_ = capacity - 1;
        auto copy = next.begin();
        for (auto it = old.begin(); it != old.end(); ++it, ++copy) {
            const std::size_t hash = hasher_(it->first);
            std::size_t i = hash & mask_;
            while (slots_[i].hit.before)
                i = (i + 1) & mask_;
            slots_[i] = Slot{it->first, hash, {&it->second, &copy->second}};
        }
    }

    Hit find(std::string_view key) const {
        const std::size_t hash = hasher_(key);
        for (std::size_t i = hash & mask_; slots_[i].hit.before; i = (i + 1) & mask_) {
            if (slots_[i].hash == hash && slots_[i].key == key) return slots_[i].hit;
        }
        return {};
    }

  private:
    struct Slot {
        std::string_view key;
        std::size_t hash = 0;
        Hit hit;
    };
    std::hash<std::string_view> hasher_;
    std::vector<Slot> slots_;
    std::size_t mask_ = 0;
};

PerSongPass comparePerSong(const CaptureState& state, const LibraryScan& scan, bool isBaseline,
                           int64_t observedAt, int64_t referenceTime) {
    const Snapshot& old = state.snapshot;
    PerSongPass pass;
    pass.snapshot = old;
    const SnapshotIndex index(old, pass.snapshot);

    for (const LibraryTrack& track : scan.tracks) {
        const SnapshotEntry now{track.playCount, track.lastPlayedAt, observedAt};
        const SnapshotIndex::Hit found = index.find(track.persistentID);
        if (!found.before) {
            pass.snapshot.insert_or_assign(track.persistentID, now);
            ++pass.newTracks;
            continue;
        }
        // Duplicates in one scan are each compared with the old entry, never the new one.
        const SnapshotEntry& before = *found.before;
        *found.next = now;
        if (isBaseline) {
            ++pass.newTracks;
        } else if (before.playCount < track.playCount) {
            pass.deltas.push_back(CompletionDelta{
                .track = track.title,
                .artist = track.artist,
                .album = track.album,
                .durationMS = track.durationMS,
                .persistentID = track.persistentID,
                .playbackStoreID = track.catalogID,
                .playCountBefore = before.playCount,
                .playCountAfter = track.playCount,
                .lastPlayedBefore = before.lastPlayedAt,
                .lastPlayedAfter = track.lastPlayedAt,
                .snapshotBeforeAt = referenceTime,
            });
        } else if (before.playCount > track.playCount) {
            ++pass.resetTracks;
        }
    }
    return pass;
}

// Splits the sorted deltas into chunks of at most maxObservationsPerPayload occurrences; a
// delta that does not fit is cut, and only its last piece keeps the last-played time.
std::vector<std::vector<CompletionDelta>> pack(const std::vector<CompletionDelta>& deltas) {
    std::vector<std::vector<CompletionDelta>> chunks(1);
    int64_t room = maxObservationsPerPayload;
    for (const CompletionDelta& delta : deltas) {
        int64_t low = delta.playCountBefore;
        const int64_t high = delta.playCountAfter;
        while (low < high) {
            if (room == 0) {
                if (chunks.size() == maxPayloadsPerPass) return chunks;
                chunks.emplace_back();
                room = maxObservationsPerPayload;
            }
            const uint64_t left = riseOf(low, high);
            const int64_t n =
                left < static_cast<uint64_t>(room) ? static_cast<int64_t>(left) : room;
            CompletionDelta piece = delta;
            piece.playCountBefore = low;
            piece.playCountAfter = low + n;
            if (piece.playCountAfter != high) piece.lastPlayedAfter.reset();
            chunks.back().push_back(std::move(piece));
            room -= n;
            low += n;
        }
    }
    return chunks;
}

std::string rangesText(const std::vector<CompletionDelta>& deltas) {
    std::string text;
    for (const CompletionDelta& d : deltas) {
        if (!text.empty()) text += ',';
        text += d.persistentID;
        text += ':';
        text += std::to_string(d.playCountBefore);
        text += ':';
        text += std::to_string(d.playCountAfter);
    }
    return text;
}

PendingPayload makePayload(const CaptureState& state, CompletionLibraryBlock block,
                           std::size_t index, int64_t observedAt) {
    const bool hasDeltas = !block.deltas.empty();
    PendingPayload entry;
    entry.id = stableIdentifier({
        state.installID,
        state.capturedAt ? std::to_string(*state.capturedAt) : "0",
        hasDeltas ? "completion" : std::to_string(observedAt),
        std::to_string(index),
        rangesText(block.deltas),
    });
    entry.payload.installID = state.installID;
    entry.payload.deviceContext = "mac";
    entry.payload.completionLibrary = std::move(block);
    entry.queuedAt = observedAt;
    return entry;
}

bool entryComesFirst(const Snapshot::const_iterator& a, const Snapshot::const_iterator& b) {
    if (a->second.lastSeenAt != b->second.lastSeenAt)
        return a->second.lastSeenAt > b->second.lastSeenAt;
    return a->first < b->first;
}

} // namespace

Snapshot boundedSnapshot(Snapshot snapshot) {
    if (snapshot.size() <= maxSnapshotTracks) return snapshot;
    std::vector<Snapshot::const_iterator> order;
    order.reserve(snapshot.size());
    for (auto it = snapshot.cbegin(); it != snapshot.cend(); ++it)
        order.push_back(it);
    const auto cut = order.begin() + static_cast<std::ptrdiff_t>(maxSnapshotTracks);
    std::nth_element(order.begin(), cut, order.end(), entryComesFirst);
    for (auto it = cut; it != order.end(); ++it)
        snapshot.erase(*it);
    return snapshot;
}

ReconciliationResult reconcile(const CaptureState& state, const LibraryScan& scan,
                               int64_t observedAt, const std::string& trigger) {
    const bool isBaseline = !state.capturedAt || state.snapshot.empty();
    const int64_t referenceTime = state.capturedAt.value_or(observedAt);

    PerSongPass pass = comparePerSong(state, scan, isBaseline, observedAt, referenceTime);

    int64_t emitted = 0;
    for (const CompletionDelta& d : pass.deltas)
        emitted = saturatingAdd(emitted, riseOf(d.playCountBefore, d.playCountAfter));
    const auto positiveDeltas = static_cast<int64_t>(pass.deltas.size());

    CompletionLibraryBlock common;
    common.observedAt = observedAt;
    common.baselineCapturedAt = state.capturedAt;
    common.isBaseline = isBaseline;
    common.songCount = static_cast<int64_t>(scan.tracks.size());
    common.scanMS = scan.metrics.totalMS;
    common.newLibraryTracks = pass.newTracks;
    common.resetTracks = pass.resetTracks;
    common.deltasTruncated = 0;

    ReconciliationResult result;
    if (pass.deltas.empty()) {
        result.payloads.push_back(makePayload(state, common, 0, observedAt));
    } else {
        std::stable_sort(pass.deltas.begin(), pass.deltas.end(),
                         [](const CompletionDelta& a, const CompletionDelta& b) {
                             return a.persistentID < b.persistentID;
                         });
        auto chunks = pack(pass.deltas);
        common.positiveDeltas = positiveDeltas;
        for (std::size_t i = 0; i < chunks.size(); ++i) {
            CompletionLibraryBlock block = common;
            block.deltas = std::move(chunks[i]);
            result.payloads.push_back(makePayload(state, std::move(block), i, observedAt));
        }
    }

    result.snapshot = boundedSnapshot(std::move(pass.snapshot));
    result.capturedAt = observedAt;
    result.diagnostics = CaptureDiagnostics{
        .trigger = trigger,
        .scannedAt = observedAt,
        .isBaseline = isBaseline,
        .newTracks = pass.newTracks,
        .resetTracks = pass.resetTracks,
        .positiveDeltas = positiveDeltas,
        .emittedCompletions = emitted,
        .metrics = scan.metrics,
    };
    return result;
}

} // namespace qb::LibraryReconciler
