#include "core/player/NonLibrarySessionClassifier.hpp"
#include "core/common/StableIdentifier.hpp"
#include "core/player/NonLibraryCapture.hpp"

#include <gtest/gtest.h>

using namespace qb;
using NonLibrarySessionClassifier::classify;
using Candidates = std::unordered_set<std::string>;

namespace {

constexpr int64_t now = 1700000000;
const std::string install = "install-1";

PlayerSessionRecord session(const std::string& id, int64_t lastObservedAt) {
    PlayerSessionRecord r;
    r.sessionID = id;
    r.artist = "Artist";
    r.track = "Song " + id;
    r.album = "Album";
    r.durationMS = 200000;
    r.firstObservedAt = lastObservedAt - 200;
    r.lastObservedAt = lastObservedAt;
    r.playingMS = 180000;
    r.pausedMS = 20000;
    r.wallObservedMS = 200000;
    r.unobservedMS = 7;
    r.finaliseReason = PlayerSessionEnd::trackChanged;
    r.boundaryObserved = true;
    return r;
}

CompletionDelta delta(const std::string& artist, const std::string& track,
                      const std::string& persistentID, int64_t before, int64_t after) {
    CompletionDelta d;
    d.artist = artist;
    d.track = track;
    d.persistentID = persistentID;
    d.playCountBefore = before;
    d.playCountAfter = after;
    return d;
}

LibraryTrack libraryTrack(const std::string& persistentID) {
    LibraryTrack t;
    t.persistentID = persistentID;
    t.artist = "Someone";
    t.title = "Else";
    return t;
}

// The disposition text a single-session journal ended with; "" while it stays unsettled.
std::string decide(const PlayerSessionRecord& record, const std::vector<LibraryTrack>& tracks = {},
                   const std::vector<CompletionDelta>& deltas = {},
                   const std::vector<RecentLibraryMove>& moves = {}) {
    NonLibrarySessionJournal journal;
    journal.sessions = {record};
    journal.recentLibraryMoves = moves;
    auto outcome = classify(journal, tracks, deltas, now, install);
    if (!outcome.journal.sessions.empty()) {
        EXPECT_TRUE(outcome.journal.dispositions.empty());
        EXPECT_TRUE(outcome.observations.empty());
        return "";
    }
    EXPECT_EQ(outcome.journal.dispositions.size(), 1u);
    const auto& [text, count] = *outcome.journal.dispositions.begin();
    EXPECT_EQ(count, 1);
    EXPECT_EQ(outcome.observations.size(), text == "emitted" ? 1u : 0u);
    return text;
}

} // namespace

TEST(NonLibraryCapture, PersistentIDCandidates) {
    using NonLibraryCapture::persistentIDCandidates;
    EXPECT_EQ(persistentIDCandidates("-1"), Candidates({"FFFFFFFFFFFFFFFF"}));
    EXPECT_EQ(persistentIDCandidates("123"), Candidates({"000000000000007B", "0000000000000123"}));
    EXPECT_EQ(persistentIDCandidates("0x1F"), Candidates({"000000000000001F"}));
    EXPECT_EQ(persistentIDCandidates("0X1f"), Candidates({"000000000000001F"}));
    EXPECT_EQ(persistentIDCandidates("18446744073709551615"), Candidates({"FFFFFFFFFFFFFFFF"}));
    EXPECT_EQ(persistentIDCandidates("-9223372036854775808"), Candidates({"8000000000000000"}));
    EXPECT_EQ(persistentIDCandidates("+10"), Candidates({"000000000000000A"}));
    EXPECT_EQ(persistentIDCandidates(" \n00000000000000ab\t"), Candidates({"00000000000000AB"}));
    EXPECT_EQ(persistentIDCandidates("FFFFFFFFFFFFFFFF"), Candidates({"FFFFFFFFFFFFFFFF"}));
    for (const char* nothing :
         {"0", "", "  ", "12 34", "-0", "0x", "0x0", "+", "-", "+-1", "1.5",
          "-9223372036854775809x", "18446744073709551616", "1FFFFFFFFFFFFFFFF", "\xFF"})
        EXPECT_TRUE(persistentIDCandidates(nothing).empty()) << nothing;
    // Too large for the signed reading and, as 19 hexadecimal digits, for the hexadecimal one.
    EXPECT_EQ(persistentIDCandidates("9223372036854775808"), Candidates({"8000000000000000"}));
}

TEST(NonLibraryCapture, RecordingKeyFoldsBothParts) {
    using NonLibraryCapture::recordingKey;
    EXPECT_EQ(recordingKey("Beyoncé ", "HALO"), "beyonce\x01halo");
    EXPECT_EQ(recordingKey("ＡＢＣ", "x"), recordingKey("abc", "X\n"));
    EXPECT_NE(recordingKey("a", "bc"), recordingKey("ab", "c"));
}

TEST(NonLibrarySessionClassifier, SettlesAfterFiveMinutes) {
    EXPECT_EQ(decide(session("a", now - 299)), "");
    EXPECT_EQ(decide(session("a", now - 300)), "emitted");
    EXPECT_EQ(decide(session("a", now + 10)), "") << "a session from the future waits";
}

TEST(NonLibrarySessionClassifier, DurationAndProgressRules) {
    auto s = session("a", now - 1000);
    s.durationMS = 200000;
    s.playingMS = 230000;
    EXPECT_EQ(decide(s), "emitted");
    s.playingMS = 230001;
    EXPECT_EQ(decide(s), "progress_exceeds_duration");
    s.playingMS = 1;
    EXPECT_EQ(decide(s), "emitted");
    s.playingMS = 0;
    EXPECT_EQ(decide(s), "no_observed_progress");
    s.playingMS = -5;
    EXPECT_EQ(decide(s), "no_observed_progress");
    s.playingMS = 100000;
    s.durationMS = 0;
    EXPECT_EQ(decide(s), "unknown_duration");
    s.durationMS = std::nullopt;
    EXPECT_EQ(decide(s), "unknown_duration");
    s.playingMS = 0;
    EXPECT_EQ(decide(s), "unknown_duration") << "duration is checked before progress";
}

TEST(NonLibrarySessionClassifier, LibraryItemIsDecidedAtOnce) {
    auto s = session("a", now - 1);
    s.libraryPersistentID = "-1";
    EXPECT_EQ(decide(s, {libraryTrack("FFFFFFFFFFFFFFFF")}), "library_item");
    s.libraryPersistentID = "171"; // decimal 0xAB; the library's text is upper-cased first
    EXPECT_EQ(decide(s, {libraryTrack("x"), libraryTrack("00000000000000ab")}), "library_item");
    s.libraryPersistentID = "0";
    EXPECT_EQ(decide(s, {libraryTrack("0000000000000000")}), "") << "zero is no identifier";
    s.libraryPersistentID = "12";
    EXPECT_EQ(decide(s, {libraryTrack("0000000000000013")}), "");
}

TEST(NonLibrarySessionClassifier, MovesMatchByRecordingOrPersistentID) {
    // Case, a trailing space and an accent differ; the move is made and matched in one pass.
    auto s = session("a", now - 1);
    s.artist = "Sigur Ros";
    s.track = "Hoppipolla";
    auto rising = delta("sigur ros ", "Hoppípolla", "0000000000000001", 3, 4);
    EXPECT_EQ(decide(s, {}, {rising}), "library_count_moved_same_recording");
    EXPECT_EQ(decide(s, {}, {delta("Sigur Ros", "Hoppipolla", "1", 4, 4)}), "");
    EXPECT_EQ(decide(s, {}, {delta("Sigur Ros", "Hoppipolla", "1", 5, 3)}), "");
    EXPECT_EQ(decide(s, {}, {delta("Sigur Ros", "Glósóli", "1", 1, 2)}), "");

    // Another title, but the player's identifier names the moved library item.
    s.libraryPersistentID = "171";
    EXPECT_EQ(decide(s, {}, {delta("Other", "Title", "00000000000000ab", 1, 2)}),
              "library_count_moved_same_recording");
    EXPECT_EQ(decide(s, {}, {delta("Other", "Title", "00000000000000AC", 1, 2)}), "");
}

TEST(NonLibrarySessionClassifier, MoveLeadSlackBoundary) {
    auto s = session("a", now - 1000);
    s.firstObservedAt = now - 5000;
    const std::string key = NonLibraryCapture::recordingKey(s.artist, s.track);
    EXPECT_EQ(decide(s, {}, {}, {{key, "", now - 5060}}), "library_count_moved_same_recording");
    EXPECT_EQ(decide(s, {}, {}, {{key, "", now - 5061}}), "emitted");
}

TEST(NonLibrarySessionClassifier, RetentionBoundary) {
    NonLibrarySessionJournal journal;
    journal.recentLibraryMoves = {{"kept", "A", now - 21600}, {"gone", "B", now - 21601}};
    auto outcome = classify(journal, {}, {}, now, install);
    ASSERT_EQ(outcome.journal.recentLibraryMoves.size(), 1u);
    EXPECT_EQ(outcome.journal.recentLibraryMoves[0].recordingKey, "kept");

    // A forgotten move no longer matches, even a session it would have covered.
    auto s = session("a", now - 21000);
    s.firstObservedAt = now - 21601;
    const std::string key = NonLibraryCapture::recordingKey(s.artist, s.track);
    EXPECT_EQ(decide(s, {}, {}, {{key, "", now - 21600}}), "library_count_moved_same_recording");
    EXPECT_EQ(decide(s, {}, {}, {{key, "", now - 21601}}), "emitted");
}

TEST(NonLibrarySessionClassifier, NewMovesAreAppendedAndTrimmed) {
    NonLibrarySessionJournal journal; // no sessions at all
    for (int i = 0; i < 2005; ++i)
        journal.recentLibraryMoves.push_back({"old" + std::to_string(i), "", now - 100});
    std::vector<CompletionDelta> deltas;
    for (int i = 0; i < 5; ++i)
        deltas.push_back(delta("Artist", "New " + std::to_string(i), "00000000000000ff", 1, 2));
    deltas.push_back(delta("Artist", "Flat", "1", 2, 2));
    auto outcome = classify(journal, {}, deltas, now, install);
    const auto& moves = outcome.journal.recentLibraryMoves;
    ASSERT_EQ(moves.size(), 2000u);
    EXPECT_EQ(moves.front().recordingKey, "old10");
    EXPECT_EQ(moves[1994].recordingKey, "old2004");
    EXPECT_EQ(moves.back(), (RecentLibraryMove{"artist\x01new 4", "00000000000000FF", now}));
    EXPECT_TRUE(outcome.observations.empty());
    EXPECT_TRUE(outcome.journal.sessions.empty());
    EXPECT_TRUE(outcome.journal.dispositions.empty());
}

TEST(NonLibrarySessionClassifier, OrdersByLastObservationKeepingJournalOrderOnTies) {
    NonLibrarySessionJournal journal;
    journal.schemaVersion = 1;
    journal.sessions = {session("b", now - 400), session("late", now - 10), session("a", now - 500),
                        session("c", now - 400), session("later", now - 5)};
    journal.dispositions = {{"emitted", 7}, {"journal_overflow", 2}};
    auto outcome = classify(journal, {}, {}, now, install);
    ASSERT_EQ(outcome.observations.size(), 3u);
    EXPECT_EQ(outcome.observations[0].trackTitle, "Song a");
    EXPECT_EQ(outcome.observations[1].trackTitle, "Song b");
    EXPECT_EQ(outcome.observations[2].trackTitle, "Song c");
    ASSERT_EQ(outcome.journal.sessions.size(), 2u);
    EXPECT_EQ(outcome.journal.sessions[0], journal.sessions[1]);
    EXPECT_EQ(outcome.journal.sessions[1], journal.sessions[4]);
    EXPECT_EQ(outcome.journal.dispositions,
              (std::map<std::string, int64_t>{{"emitted", 10}, {"journal_overflow", 2}}));
    EXPECT_EQ(outcome.journal.schemaVersion, 1);
}

TEST(NonLibrarySessionClassifier, BuildsObservations) {
    auto s = session("session-1", now - 600);
    s.boundaryObserved = false;
    s.finaliseReason = PlayerSessionEnd::playerStopped;
    s.libraryPersistentID = "-7";
    NonLibrarySessionJournal journal;
    journal.sessions = {s};
    auto outcome = classify(journal, {libraryTrack("0000000000000007")}, {}, now, install);
    ASSERT_EQ(outcome.observations.size(), 1u);
    const auto& o = outcome.observations[0];
    EXPECT_EQ(o.observationID, "qz_3d8f8a5bd648e66b"); // install | mac_player_state | session-1
    EXPECT_EQ(o.playerEvidenceID, o.observationID);
    EXPECT_EQ(o.installID, install);
    EXPECT_EQ(o.captureLane, "player_state");
    EXPECT_EQ(o.source, "native_mac_apple_music");
    EXPECT_EQ(o.deviceContext, "mac");
    EXPECT_EQ(o.trackTitle, "Song session-1");
    EXPECT_EQ(o.artistName, "Artist");
    EXPECT_EQ(o.albumTitle, "Album");
    EXPECT_EQ(o.durationMS, 200000);
    EXPECT_EQ(o.firstObservedAt, now - 800);
    EXPECT_EQ(o.lastObservedAt, now - 600);
    EXPECT_EQ(o.observedAt, now - 600);
    EXPECT_EQ(o.observedProgressMS, 180000);
    EXPECT_EQ(o.wallObservedMS, 200000);
    EXPECT_EQ(o.pausedMS, 20000);
    EXPECT_EQ(o.finaliseReason, "player_stopped");
    EXPECT_EQ(o.lifecycleContext, "mac_player_info_joined");
    EXPECT_EQ(o.evidenceVersion, 1);
    EXPECT_EQ(o.capturedAt, now);

    s.boundaryObserved = true;
    s.finaliseReason = PlayerSessionEnd::trackChanged;
    journal.sessions = {s};
    auto again = classify(journal, {}, {}, now + 50, install).observations.at(0);
    EXPECT_EQ(again.observationID, o.observationID) << "same session, same install";
    EXPECT_EQ(again.capturedAt, now + 50);
    EXPECT_EQ(again.finaliseReason, "track_changed");
    EXPECT_EQ(again.lifecycleContext, "mac_player_info_boundary");
    auto other = classify(journal, {}, {}, now, "install-2").observations.at(0);
    EXPECT_NE(other.observationID, o.observationID);
    EXPECT_EQ(other.playerEvidenceID, other.observationID);
}

TEST(NonLibrarySessionClassifier, ExtremeJournalValuesDoNotOverflow) {
    NonLibrarySessionJournal journal;
    auto future = session("future", INT64_MAX);
    future.firstObservedAt = INT64_MIN;
    auto huge = session("huge", now - 1000);
    huge.durationMS = INT64_MAX;
    huge.playingMS = INT64_MAX;
    huge.firstObservedAt = INT64_MIN;
    journal.sessions = {future, huge};
    journal.recentLibraryMoves = {{"k", "", INT64_MIN}, {"k2", "", INT64_MAX}};
    journal.dispositions = {{"emitted", INT64_MAX}};
    auto outcome = classify(journal, {}, {}, now, install);
    ASSERT_EQ(outcome.journal.sessions.size(), 1u);
    EXPECT_EQ(outcome.journal.sessions[0].sessionID, "future");
    EXPECT_EQ(outcome.observations.size(), 1u);
    EXPECT_EQ(outcome.journal.dispositions.at("emitted"), INT64_MAX);
    EXPECT_EQ(outcome.journal.recentLibraryMoves.size(), 1u);

    auto early = classify(journal, {}, {}, INT64_MIN, install);
    EXPECT_EQ(early.journal.recentLibraryMoves.size(), 2u);
    EXPECT_EQ(early.journal.sessions.size(), 2u);
}
