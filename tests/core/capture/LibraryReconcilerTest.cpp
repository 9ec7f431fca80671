#include "core/capture/LibraryReconciler.hpp"
#include "core/common/StableIdentifier.hpp"

#include <gtest/gtest.h>

using namespace qb;
using LibraryReconciler::reconcile;

namespace {

constexpr int64_t baselineAt = 1'700'000'000;
constexpr int64_t observedAt = 1'700'000'600;
const std::string installID = "0f8fad5b-d9cb-469f-a165-70867728950e";

LibraryTrack song(uint64_t id, int64_t playCount, std::optional<int64_t> lastPlayed = {}) {
    LibraryTrack t;
    t.persistentID = formatPersistentID(id);
    t.title = "Title " + std::to_string(id);
    t.artist = "Artist";
    t.album = "Album";
    t.durationMS = 200'000;
    t.catalogID = "cat" + std::to_string(id);
    t.playCount = playCount;
    t.lastPlayedAt = lastPlayed;
    return t;
}

LibraryScan scanOf(std::vector<LibraryTrack> tracks) {
    LibraryScan scan;
    scan.tracks = std::move(tracks);
    scan.metrics.trackCount = static_cast<int64_t>(scan.tracks.size());
    scan.metrics.totalMS = 321;
    return scan;
}

CaptureState stateWith(Snapshot snapshot, std::optional<int64_t> capturedAt = baselineAt) {
    CaptureState state;
    state.installID = installID;
    state.capturedAt = capturedAt;
    state.snapshot = std::move(snapshot);
    return state;
}

// The state the worker would build from a result.
CaptureState advanced(const LibraryReconciler::ReconciliationResult& result) {
    return stateWith(result.snapshot, result.capturedAt);
}

SnapshotEntry entry(int64_t playCount, std::optional<int64_t> lastPlayed = {},
                    int64_t lastSeen = baselineAt) {
    return {playCount, lastPlayed, lastSeen};
}

const CompletionLibraryBlock& block(const LibraryReconciler::ReconciliationResult& r,
                                    std::size_t i = 0) {
    return r.payloads.at(i).payload.completionLibrary;
}

std::vector<std::pair<int64_t, int64_t>> ranges(const CompletionLibraryBlock& b) {
    std::vector<std::pair<int64_t, int64_t>> out;
    for (const auto& d : b.deltas)
        out.emplace_back(d.playCountBefore, d.playCountAfter);
    return out;
}

} // namespace

TEST(LibraryReconciler, FirstScanIsForwardOnlyBaseline) {
    const auto scan = scanOf({song(1, 7, 100), song(2, 0)});
    const auto r = reconcile(stateWith({}, std::nullopt), scan, observedAt, "launch");

    ASSERT_EQ(r.payloads.size(), 1u);
    const auto& p = r.payloads[0];
    EXPECT_TRUE(p.payload.completionLibrary.isBaseline);
    EXPECT_EQ(p.payload.completionLibrary.newLibraryTracks, 2);
    EXPECT_EQ(p.payload.completionLibrary.songCount, 2);
    EXPECT_EQ(p.payload.completionLibrary.scanMS, 321);
    EXPECT_FALSE(p.payload.completionLibrary.baselineCapturedAt);
    EXPECT_FALSE(p.payload.toJson()["completion_library"].contains("baseline_captured_at"));
    EXPECT_TRUE(p.payload.completionLibrary.deltas.empty());
    EXPECT_EQ(p.payload.installID, installID);
    EXPECT_EQ(p.payload.deviceContext, "mac");
    EXPECT_FALSE(p.payload.observations);
    EXPECT_EQ(p.queuedAt, observedAt);
    EXPECT_EQ(p.attempts, 0);
    EXPECT_EQ(p.nextAttemptAt, 0);
    // Identifiers are pinned: the service de-duplicates by them across versions.
    EXPECT_EQ(p.id, "qz_64c67d4ad4a8797f"); // install | 0 | observedAt | 0 | (no deltas)

    EXPECT_EQ(r.capturedAt, observedAt);
    EXPECT_EQ(r.snapshot, (Snapshot{{formatPersistentID(1), entry(7, 100, observedAt)},
                                    {formatPersistentID(2), entry(0, {}, observedAt)}}));
    EXPECT_EQ(r.diagnostics,
              (CaptureDiagnostics{"launch", observedAt, true, 2, 0, 0, 0, scan.metrics}));
}

TEST(LibraryReconciler, EmptySnapshotWithBaselineTimeIsAnotherBaseline) {
    const auto r = reconcile(stateWith({}), scanOf({song(1, 9)}), observedAt, "t");
    ASSERT_EQ(r.payloads.size(), 1u);
    EXPECT_TRUE(block(r).isBaseline);
    EXPECT_EQ(block(r).baselineCapturedAt, baselineAt);
    EXPECT_TRUE(block(r).deltas.empty());
}

TEST(LibraryReconciler, RiseBecomesOneDelta) {
    const auto state = stateWith({{formatPersistentID(1), entry(3, 50)}});
    const auto r = reconcile(state, scanOf({song(1, 5, 90)}), observedAt, "t");

    ASSERT_EQ(r.payloads.size(), 1u);
    const auto& b = block(r);
    EXPECT_FALSE(b.isBaseline);
    EXPECT_EQ(b.baselineCapturedAt, baselineAt);
    EXPECT_EQ(b.positiveDeltas, 1);
    EXPECT_EQ(b.newLibraryTracks, 0);
    ASSERT_EQ(b.deltas.size(), 1u);
    const CompletionDelta expected{"Title 1", "Artist", "Album", 200'000, formatPersistentID(1),
                                   "cat1",    3,        5,       50,      90,
                                   baselineAt};
    EXPECT_EQ(b.deltas[0], expected);
    EXPECT_EQ(b.deltas[0].occurrenceCount(), 2);
    EXPECT_EQ(r.payloads[0].id, "qz_237f1927179a5840"); // … | completion | 0 | <id>:3:5
    EXPECT_EQ(r.diagnostics.emittedCompletions, 2);
    EXPECT_EQ(r.diagnostics.positiveDeltas, 1);
    EXPECT_FALSE(r.diagnostics.isBaseline);
    EXPECT_EQ(r.snapshot.at(formatPersistentID(1)), entry(5, 90, observedAt));
}

TEST(LibraryReconciler, DropThenRiseIsMeasuredFromTheDrop) {
    const auto first = reconcile(stateWith({{formatPersistentID(1), entry(5)}}),
                                 scanOf({song(1, 3)}), observedAt, "t");
    EXPECT_TRUE(block(first).deltas.empty());
    EXPECT_EQ(block(first).resetTracks, 1);
    EXPECT_EQ(first.diagnostics.resetTracks, 1);
    EXPECT_EQ(first.snapshot.at(formatPersistentID(1)).playCount, 3);

    const auto second = reconcile(advanced(first), scanOf({song(1, 4)}), observedAt + 60, "t");
    EXPECT_EQ(ranges(block(second)), (std::vector<std::pair<int64_t, int64_t>>{{3, 4}}));
    EXPECT_EQ(block(second).deltas[0].snapshotBeforeAt, observedAt);
}

TEST(LibraryReconciler, NewSongsAndLastPlayedAloneMakeNoDelta) {
    const auto state = stateWith({{formatPersistentID(1), entry(4, 10)}});
    const auto r = reconcile(state, scanOf({song(1, 4, 999), song(2, 12, 5)}), observedAt, "t");
    ASSERT_EQ(r.payloads.size(), 1u);
    EXPECT_TRUE(block(r).deltas.empty());
    EXPECT_EQ(block(r).newLibraryTracks, 1);
    EXPECT_EQ(block(r).positiveDeltas, 0);
    EXPECT_EQ(r.snapshot.at(formatPersistentID(1)), entry(4, 999, observedAt));
    EXPECT_EQ(r.snapshot.at(formatPersistentID(2)), entry(12, 5, observedAt));
}

TEST(LibraryReconciler, NoChangeGivesAReportWhoseIdFollowsTheScanTime) {
    const auto state = stateWith({{formatPersistentID(1), entry(4)}});
    const auto a = reconcile(state, scanOf({song(1, 4)}), observedAt, "t");
    const auto b = reconcile(state, scanOf({song(1, 4)}), observedAt + 1, "t");
    ASSERT_EQ(a.payloads.size(), 1u);
    EXPECT_EQ(a.payloads[0].id, "qz_086e3c7a6be488f9"); // install | baselineAt | observedAt | 0 |
    EXPECT_NE(a.payloads[0].id, b.payloads[0].id);
}

TEST(LibraryReconciler, RepeatedPassGivesTheSameIds) {
    const auto state =
        stateWith({{formatPersistentID(1), entry(1)}, {formatPersistentID(2), entry(1)}});
    const auto scan = scanOf({song(2, 300), song(1, 2)});
    const auto a = reconcile(state, scan, observedAt, "t");
    const auto b = reconcile(state, scan, observedAt + 90, "other");
    ASSERT_EQ(a.payloads.size(), 2u);
    ASSERT_EQ(b.payloads.size(), 2u);
    EXPECT_EQ(a.payloads[0].id, b.payloads[0].id);
    EXPECT_EQ(a.payloads[1].id, b.payloads[1].id);
    EXPECT_NE(a.payloads[0].id, a.payloads[1].id);
}

TEST(LibraryReconciler, SplitsDeltasAcrossPayloads) {
    // Scan order is reversed on purpose: payloads follow persistent-ID order.
    const auto state =
        stateWith({{formatPersistentID(1), entry(0, 1)}, {formatPersistentID(2), entry(10, 2)}});
    const auto r = reconcile(state, scanOf({song(2, 110, 22), song(1, 150, 11)}), observedAt, "t");

    ASSERT_EQ(r.payloads.size(), 2u);
    const auto& first = block(r, 0);
    const auto& second = block(r, 1);
    EXPECT_EQ(ranges(first), (std::vector<std::pair<int64_t, int64_t>>{{0, 150}, {10, 60}}));
    EXPECT_EQ(ranges(second), (std::vector<std::pair<int64_t, int64_t>>{{60, 110}}));
    EXPECT_EQ(first.deltas[0].lastPlayedAfter, 11);
    EXPECT_FALSE(first.deltas[1].lastPlayedAfter);
    EXPECT_EQ(first.deltas[1].lastPlayedBefore, 2);
    EXPECT_EQ(second.deltas[0].lastPlayedAfter, 22);
    EXPECT_EQ(second.deltas[0].lastPlayedBefore, 2);
    EXPECT_EQ(first.positiveDeltas, 2);
    EXPECT_EQ(second.positiveDeltas, 2);
    EXPECT_EQ(r.diagnostics.emittedCompletions, 250);
    EXPECT_EQ(r.payloads[1].id, "qz_78e67cfa4e3cd862"); // … | completion | 1 | <id>:60:110
}

TEST(LibraryReconciler, LargeRiseIsCutIntoFullPayloads) {
    const auto state = stateWith({{formatPersistentID(1), entry(5)}});
    const auto r = reconcile(state, scanOf({song(1, 455, 7)}), observedAt, "t");
    ASSERT_EQ(r.payloads.size(), 3u);
    EXPECT_EQ(ranges(block(r, 0)), (std::vector<std::pair<int64_t, int64_t>>{{5, 205}}));
    EXPECT_EQ(ranges(block(r, 1)), (std::vector<std::pair<int64_t, int64_t>>{{205, 405}}));
    EXPECT_EQ(ranges(block(r, 2)), (std::vector<std::pair<int64_t, int64_t>>{{405, 455}}));
    EXPECT_FALSE(block(r, 1).deltas[0].lastPlayedAfter);
    EXPECT_EQ(block(r, 2).deltas[0].lastPlayedAfter, 7);
}

TEST(LibraryReconciler, ExactlyFullPayloadLeavesNoEmptyOne) {
    const auto state =
        stateWith({{formatPersistentID(1), entry(0)}, {formatPersistentID(2), entry(0)}});
    const auto r = reconcile(state, scanOf({song(1, 120), song(2, 80)}), observedAt, "t");
    ASSERT_EQ(r.payloads.size(), 1u);
    EXPECT_EQ(ranges(block(r)), (std::vector<std::pair<int64_t, int64_t>>{{0, 120}, {0, 80}}));
}

TEST(LibraryReconciler, AbsurdRiseStopsBeyondWhatTheQueueCanHold) {
    const auto state =
        stateWith({{formatPersistentID(1), entry(std::numeric_limits<int64_t>::min())}});
    const auto r =
        reconcile(state, scanOf({song(1, std::numeric_limits<int64_t>::max())}), observedAt, "t");
    EXPECT_EQ(r.payloads.size(), LibraryReconciler::maxPayloadsPerPass);
    EXPECT_EQ(r.diagnostics.emittedCompletions, std::numeric_limits<int64_t>::max());
    EXPECT_EQ(block(r, 1).deltas[0].playCountBefore, std::numeric_limits<int64_t>::min() + 200);
}

TEST(LibraryReconciler, DuplicatesAreEachComparedWithTheOldSnapshot) {
    const auto state =
        stateWith({{formatPersistentID(1), entry(2)}, {formatPersistentID(0), entry(0)}});
    const auto r =
        reconcile(state, scanOf({song(1, 4, 40), song(1, 3, 30), song(0, 1)}), observedAt, "t");
    ASSERT_EQ(r.payloads.size(), 1u);
    const auto& b = block(r);
    EXPECT_EQ(ranges(b), (std::vector<std::pair<int64_t, int64_t>>{{0, 1}, {2, 4}, {2, 3}}));
    EXPECT_EQ(b.positiveDeltas, 3);
    EXPECT_EQ(r.snapshot.at(formatPersistentID(1)), entry(3, 30, observedAt));
}

TEST(LibraryReconciler, MissingSongsKeepTheirEntries) {
    const auto state = stateWith(
        {{formatPersistentID(1), entry(2, 5, baselineAt - 10)}, {formatPersistentID(2), entry(4)}});
    const auto gone = reconcile(state, scanOf({song(2, 4)}), observedAt, "t");
    EXPECT_EQ(gone.snapshot.at(formatPersistentID(1)), entry(2, 5, baselineAt - 10));

    const auto back = reconcile(advanced(gone), scanOf({song(1, 3)}), observedAt + 60, "t");
    EXPECT_EQ(ranges(block(back)), (std::vector<std::pair<int64_t, int64_t>>{{2, 3}}));
}

TEST(LibraryReconciler, BoundDropsOldestThenGreatestIds) {
    Snapshot snapshot;
    for (uint64_t i = 0; i < LibraryReconciler::maxSnapshotTracks - 1; ++i)
        snapshot.emplace(formatPersistentID(i + 100), entry(1, {}, 50));
    snapshot.emplace(formatPersistentID(5), entry(1, {}, 40));
    snapshot.emplace(formatPersistentID(6), entry(1, {}, 40));

    const auto bounded = LibraryReconciler::boundedSnapshot(snapshot);
    EXPECT_EQ(bounded.size(), LibraryReconciler::maxSnapshotTracks);
    EXPECT_TRUE(bounded.contains(formatPersistentID(5)));
    EXPECT_FALSE(bounded.contains(formatPersistentID(6)));

    snapshot.erase(formatPersistentID(6));
    snapshot.emplace(formatPersistentID(99), entry(1, {}, 50));
    const auto ties = LibraryReconciler::boundedSnapshot(snapshot);
    EXPECT_EQ(ties.size(), LibraryReconciler::maxSnapshotTracks);
    EXPECT_FALSE(ties.contains(formatPersistentID(5))) << "oldest goes first";
    EXPECT_TRUE(ties.contains(formatPersistentID(99)));

    const auto small = Snapshot{{formatPersistentID(1), entry(1, {}, 1)}};
    EXPECT_EQ(LibraryReconciler::boundedSnapshot(small), small);
}

TEST(LibraryReconciler, OverlargeSnapshotIsCutInTheSamePass) {
    Snapshot snapshot;
    for (uint64_t i = 0; i < LibraryReconciler::maxSnapshotTracks; ++i)
        snapshot.emplace(formatPersistentID(i + 10),
                         entry(1, {}, baselineAt - static_cast<int64_t>(i % 2)));
    const auto r = reconcile(stateWith(snapshot), scanOf({song(1, 3)}), observedAt, "t");
    EXPECT_EQ(r.snapshot.size(), LibraryReconciler::maxSnapshotTracks);
    EXPECT_TRUE(r.snapshot.contains(formatPersistentID(1)));
    // The greatest ID among the oldest entries went.
    const auto dropped = formatPersistentID(LibraryReconciler::maxSnapshotTracks - 1 + 10);
    EXPECT_FALSE(r.snapshot.contains(dropped));
    EXPECT_TRUE(
        r.snapshot.contains(formatPersistentID(LibraryReconciler::maxSnapshotTracks - 3 + 10)));
}

TEST(LibraryReconciler, ScanBeyondTheBoundRemembersTheSmallestIds) {
    const std::size_t count = LibraryReconciler::maxSnapshotTracks + 5;
    std::vector<LibraryTrack> tracks;
    for (std::size_t i = count; i-- > 0;)
        tracks.push_back(song(i + 1, 1));
    const auto scan = scanOf(tracks);

    const auto first = reconcile(stateWith({}, std::nullopt), scan, observedAt, "t");
    ASSERT_EQ(first.snapshot.size(), LibraryReconciler::maxSnapshotTracks);
    EXPECT_EQ(first.snapshot.rbegin()->first,
              formatPersistentID(LibraryReconciler::maxSnapshotTracks));

    // The songs that did not fit stay new and never yield deltas.
    for (auto& t : tracks) {
        const auto id = std::stoull(t.persistentID, nullptr, 16);
        if (id <= 3 || id > LibraryReconciler::maxSnapshotTracks) t.playCount = 2;
    }
    const auto second = reconcile(advanced(first), scanOf(tracks), observedAt + 60, "t");
    EXPECT_EQ(block(second).newLibraryTracks, 5);
    EXPECT_EQ(block(second).positiveDeltas, 3);
    EXPECT_EQ(second.snapshot.size(), LibraryReconciler::maxSnapshotTracks);
    EXPECT_FALSE(second.snapshot.contains(formatPersistentID(count)));
}
