#include "core/player/NonLibrarySessionClassifier.hpp"

#include "core/common/StableIdentifier.hpp"
#include "core/player/NonLibraryCapture.hpp"

#include <algorithm>
#include <limits>
#include <unordered_set>

namespace qb::NonLibrarySessionClassifier {

namespace {

using Disposition = NonLibrarySessionDisposition;
namespace nlc = NonLibraryCapture;

// The journal is a file on disk; extreme times in it must not overflow.
int64_t saturatingAdd(int64_t a, int64_t b) {
    int64_t sum = 0;
    if (!__builtin_add_overflow(a, b, &sum)) return sum;
    return b > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
}

int64_t saturatingSub(int64_t a, int64_t b) {
    int64_t difference = 0;
    if (!__builtin_sub_overflow(a, b, &difference)) return difference;
    return b > 0 ? std::numeric_limits<int64_t>::min() : std::numeric_limits<int64_t>::max();
}

std::string upperAscii(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

std::vector<RecentLibraryMove> updatedMoves(const std::vector<RecentLibraryMove>& previous,
                                            const std::vector<CompletionDelta>& deltas,
                                            int64_t observedAt) {
    const int64_t oldestKept = saturatingSub(observedAt, nlc::moveRetentionSeconds);
    std::vector<RecentLibraryMove> moves;
    for (const auto& move : previous)
        if (move.scanObservedAt >= oldestKept) moves.push_back(move);
    for (const auto& delta : deltas) {
        if (delta.playCountAfter <= delta.playCountBefore) continue;
        moves.push_back({nlc::recordingKey(delta.artist, delta.track),
                         upperAscii(delta.persistentID), observedAt});
    }
    const auto limit = static_cast<size_t>(nlc::maxRecentMoves);
    if (moves.size() > limit)
        moves.erase(moves.begin(),
                    moves.begin() + static_cast<std::ptrdiff_t>(moves.size() - limit));
    return moves;
}

bool movedInLibrary(const PlayerSessionRecord& session,
                    const std::unordered_set<std::string>& candidates,
                    const std::vector<RecentLibraryMove>& moves) {
    const int64_t earliest = saturatingSub(session.firstObservedAt, nlc::moveLeadSlackSeconds);
    const std::string key = nlc::recordingKey(session.artist, session.track);
    return std::any_of(moves.begin(), moves.end(), [&](const RecentLibraryMove& move) {
        return move.scanObservedAt >= earliest &&
               (move.recordingKey == key || candidates.count(move.persistentID) > 0);
    });
}

} // namespace

PlayerSessionObservation makeObservation(const PlayerSessionRecord& record, int64_t durationMS,
                                         const std::string& installID, int64_t capturedAt) {
    PlayerSessionObservation o;
    o.observationID = stableIdentifier({installID, "mac_player_state", record.sessionID});
    o.playerEvidenceID = o.observationID;
    o.installID = installID;
    o.captureLane = "player_state";
    o.source = nlc::source;
    o.deviceContext = "mac";
    o.trackTitle = record.track;
    o.artistName = record.artist;
    o.albumTitle = record.album;
    o.durationMS = durationMS;
    o.firstObservedAt = record.firstObservedAt;
    o.lastObservedAt = record.lastObservedAt;
    o.observedAt = record.lastObservedAt;
    o.observedProgressMS = record.playingMS;
    o.wallObservedMS = record.wallObservedMS;
    o.pausedMS = record.pausedMS;
    o.finaliseReason = playerSessionEndText(record.finaliseReason);
    o.lifecycleContext =
        record.boundaryObserved ? "mac_player_info_boundary" : "mac_player_info_joined";
    o.evidenceVersion = 1;
    o.capturedAt = capturedAt;
    return o;
}

Outcome classify(const NonLibrarySessionJournal& journal, const std::vector<LibraryTrack>& tracks,
                 const std::vector<CompletionDelta>& deltas, int64_t observedAt,
                 const std::string& installID) {
    Outcome outcome;
    outcome.journal.schemaVersion = journal.schemaVersion;
    outcome.journal.dispositions = journal.dispositions;
    outcome.journal.recentLibraryMoves =
        updatedMoves(journal.recentLibraryMoves, deltas, observedAt);
    const auto& moves = outcome.journal.recentLibraryMoves;

    std::unordered_set<std::string> library;
    library.reserve(tracks.size());
    for (const auto& track : tracks)
        library.insert(upperAscii(track.persistentID));

    std::vector<PlayerSessionRecord> sessions = journal.sessions;
    std::stable_sort(sessions.begin(), sessions.end(),
                     [](const PlayerSessionRecord& a, const PlayerSessionRecord& b) {
                         return a.lastObservedAt < b.lastObservedAt;
                     });

    for (auto& session : sessions) {
        const auto candidates = nlc::persistentIDCandidates(session.libraryPersistentID);
        Disposition disposition;
        if (std::any_of(candidates.begin(), candidates.end(),
                        [&](const std::string& c) { return library.count(c) > 0; })) {
            disposition = Disposition::libraryItem;
        } else if (movedInLibrary(session, candidates, moves)) {
            disposition = Disposition::libraryCountMoved;
        } else if (observedAt < saturatingAdd(session.lastObservedAt, nlc::settleSeconds)) {
            outcome.journal.sessions.push_back(std::move(session));
            continue;
        } else if (!session.durationMS || *session.durationMS < 1) {
            disposition = Disposition::unknownDuration;
        } else if (session.playingMS < 1) {
            disposition = Disposition::noProgress;
        } else if (session.playingMS <=
                   saturatingAdd(*session.durationMS, nlc::exceedsDurationSlackMS)) {
            disposition = Disposition::emitted;
            outcome.observations.push_back(
                makeObservation(session, *session.durationMS, installID, observedAt));
        } else {
            disposition = Disposition::exceedsDuration;
        }
        outcome.journal.count(disposition, 1);
    }
    return outcome;
}

} // namespace qb::NonLibrarySessionClassifier
