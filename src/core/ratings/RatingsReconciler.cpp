#include "core/ratings/RatingsReconciler.hpp"

#include "core/common/StableIdentifier.hpp"

#include <algorithm>
#include <unordered_set>

namespace qb::RatingsReconciler {

namespace {

struct Selected {
    const LibraryTrack* track;
    int64_t playCount;
};

RatingEntry makeEntry(const Selected& s) {
    const LibraryTrack& t = *s.track;
    return {t.persistentID, t.artist,         t.albumArtist, t.album,    t.title,
            t.rating,       t.ratingComputed, t.favourite,   s.playCount};
}

std::string signature(const RatingEntry& e) {
    std::string text = e.persistentID;
    text += ':';
    text += std::to_string(e.rating);
    text += e.ratingComputed ? ":true" : ":false";
    text += e.favourite ? ":true:" : ":false:";
    text += e.playCount ? std::to_string(*e.playCount) : "-1";
    return text;
}

// Also false when the clock went back; unsigned arithmetic keeps extreme stored times defined.
bool playCountsDue(const std::optional<int64_t>& lastRefreshAt, int64_t observedAt) {
    if (!lastRefreshAt) return true;
    if (observedAt < *lastRefreshAt) return false;
    uint64_t elapsed = static_cast<uint64_t>(observedAt) - static_cast<uint64_t>(*lastRefreshAt);
    return elapsed >= static_cast<uint64_t>(ratingsPlayCountInterval);
}

} // namespace

RatingsReconciliation reconcile(const std::optional<RatingBaseline>& previous,
                                const std::vector<LibraryTrack>& tracks,
                                const std::string& installID, int64_t observedAt, int64_t pageSize,
                                bool sendPlayCounts) {
    RatingsReconciliation result;
    result.baseline.reserve(tracks.size());
    std::vector<Selected> selected;
    if (!previous) selected.reserve(tracks.size());

    for (const LibraryTrack& track : tracks) {
        const RatingState state = RatingState::fromTrack(track);
        RatingState& remembered = result.baseline[track.persistentID];
        remembered = state;
        if (!track.ratingComputed && track.rating >= 1) ++result.userRated;
        if (track.favourite) ++result.favourites;

        bool send = true;
        if (previous) {
            auto found = previous->find(track.persistentID);
            if (found == previous->end() || !found->second.sameEvidence(state)) {
                ++result.changedSongs;
            } else if (found->second.playCount != state.playCount) {
                if (!sendPlayCounts) {
                    // Keep the count last sent, so the difference shows again when counts may go.
                    remembered.playCount = found->second.playCount;
                    send = false;
                }
            } else {
                send = false;
            }
        }
        if (send) selected.push_back({&track, *state.playCount});
    }

    std::stable_sort(selected.begin(), selected.end(), [](const Selected& a, const Selected& b) {
        return a.track->persistentID < b.track->persistentID;
    });

    const size_t size = static_cast<size_t>(std::max<int64_t>(pageSize, 1));
    const size_t n = selected.size();
    const size_t pages = std::max<size_t>(1, (n + size - 1) / size);
    if (previous && n == 0) return result;

    const std::string kind = previous ? "change" : "baseline";
    const std::string snapshotID =
        previous ? std::string()
                 : stableIdentifier({installID, "ratings-baseline", std::to_string(observedAt),
                                     std::to_string(n)});
    result.payloads.reserve(pages);
    for (size_t p = 1; p <= pages; ++p) {
        RatingsPayload payload;
        payload.installID = installID;
        payload.kind = kind;
        payload.snapshotID = snapshotID;
        payload.page = static_cast<int64_t>(p);
        payload.pages = static_cast<int64_t>(pages);
        payload.observedAt = observedAt;
        payload.librarySongCount = static_cast<int64_t>(tracks.size());

        const size_t begin = (p - 1) * size;
        const size_t end = std::min(p * size, n);
        std::vector<std::string> parts{installID,
                                       "ratings",
                                       kind,
                                       snapshotID,
                                       std::to_string(observedAt),
                                       std::to_string(p),
                                       std::to_string(pages)};
        parts.reserve(parts.size() + (end - begin));
        payload.entries.reserve(end - begin);
        for (size_t i = begin; i < end; ++i) {
            payload.entries.push_back(makeEntry(selected[i]));
            parts.push_back(signature(payload.entries.back()));
        }
        payload.syncID = stableIdentifier(parts);
        result.payloads.push_back(std::move(payload));
    }
    return result;
}

RatingsSyncState apply(const std::vector<LibraryTrack>& tracks, const RatingsSyncState& state,
                       const std::string& installID, int64_t observedAt) {
    const bool sendPlayCounts = playCountsDue(state.lastPlayCountRefreshAt, observedAt);
    RatingsReconciliation r =
        reconcile(state.baseline, tracks, installID, observedAt, ratingsPageSize, sendPlayCounts);

    RatingsSyncState next = state;
    next.userRated = r.userRated;
    next.favourites = r.favourites;
    if (state.pending.size() + r.payloads.size() > static_cast<size_t>(maxPendingRatingPayloads)) {
        // Nothing is remembered, so the same differences are found again at the next scan.
        next.lastError = "ratings_queue_full";
        return next;
    }

    const bool queuedAny = !r.payloads.empty();
    const std::string snapshotID = queuedAny ? r.payloads.front().snapshotID : std::string();
    std::unordered_set<std::string> queued;
    for (const auto& page : next.pending)
        queued.insert(page.payload.syncID);
    for (auto& payload : r.payloads) {
        if (!queued.insert(payload.syncID).second) continue;
        next.pending.push_back({std::move(payload), 0, 0});
    }

    if (state.baseline) {
        if (queuedAny) {
            next.lastQueuedAt = observedAt;
            if (r.changedSongs >= 1) next.lastChangeQueuedAt = observedAt;
        }
    } else {
        next.baselineSnapshotID = snapshotID;
        next.lastQueuedAt = observedAt;
    }
    next.baseline = std::move(r.baseline);
    if (sendPlayCounts) next.lastPlayCountRefreshAt = observedAt;
    next.lastError.clear();
    return next;
}

} // namespace qb::RatingsReconciler
