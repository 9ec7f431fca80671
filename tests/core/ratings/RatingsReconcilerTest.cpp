#include "core/ratings/RatingsReconciler.hpp"
#include "TestSupport.hpp"
#include "core/common/StableIdentifier.hpp"
#include "core/ratings/RatingsRecorder.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using namespace qb;
using qb::test::readFile;
using qb::test::TempDir;
using qb::test::writeFile;

namespace {

const std::string install = "install-1";
const int64_t t0 = 1700000000;
const int64_t hour = 3600;

LibraryTrack track(uint64_t id, int64_t rating = 0, bool computed = false, bool favourite = false,
                   int64_t playCount = 0) {
    LibraryTrack t;
    t.persistentID = formatPersistentID(id);
    t.artist = "Artist " + std::to_string(id);
    t.albumArtist = "Album Artist";
    t.album = "Album";
    t.title = "Title " + std::to_string(id);
    t.rating = rating;
    t.ratingComputed = computed;
    t.favourite = favourite;
    t.playCount = playCount;
    return t;
}

std::vector<LibraryTrack> shuffledLibrary(uint64_t count) {
    std::vector<LibraryTrack> tracks;
    for (uint64_t id = 1; id <= count; ++id)
        tracks.push_back(track(id * 7919, id % 101, false, id % 5 == 0, id));
    std::shuffle(tracks.begin(), tracks.end(), std::mt19937(42));
    return tracks;
}

RatingBaseline remembered(const std::vector<LibraryTrack>& tracks) {
    RatingBaseline baseline;
    for (const auto& t : tracks)
        baseline[t.persistentID] = RatingState::fromTrack(t);
    return baseline;
}

// A state that already sent the baseline of these tracks, play counts last refreshed at t0.
RatingsSyncState sentState(const std::vector<LibraryTrack>& tracks) {
    RatingsSyncState s;
    s.baseline = remembered(tracks);
    s.baselineSnapshotID = "qz_base";
    s.serverBaselineSnapshotID = "qz_base";
    s.lastQueuedAt = t0 - 10 * hour;
    s.lastSyncedAt = t0 - 9 * hour;
    s.lastAvailabilityCheckAt = t0 - hour;
    s.lastPlayCountRefreshAt = t0;
    return s;
}

std::vector<std::string> entryIDs(const std::vector<RatingsPayload>& pages) {
    std::vector<std::string> ids;
    for (const auto& p : pages)
        for (const auto& e : p.entries)
            ids.push_back(e.persistentID);
    return ids;
}

PendingRatingsPayload queuedPage(int n) {
    PendingRatingsPayload page;
    page.payload.syncID = "qz_queued_" + std::to_string(n);
    page.payload.kind = "change";
    return page;
}

} // namespace

TEST(RatingsReconciler, BaselineSpreadsSortedEntriesOverPages) {
    auto tracks = shuffledLibrary(4500);
    auto r =
        RatingsReconciler::reconcile(std::nullopt, tracks, install, t0, ratingsPageSize, false);
    ASSERT_EQ(r.payloads.size(), 3u);
    const std::string snapshot = "qz_a71762a596dfbcd7"; // install | ratings-baseline | t0 | 4500
    const size_t sizes[] = {2000, 2000, 500};
    for (size_t i = 0; i < 3; ++i) {
        const auto& p = r.payloads[i];
        EXPECT_TRUE(p.isBaseline());
        EXPECT_EQ(p.snapshotID, snapshot);
        EXPECT_EQ(p.page, static_cast<int64_t>(i + 1));
        EXPECT_EQ(p.pages, 3);
        EXPECT_EQ(p.observedAt, t0);
        EXPECT_EQ(p.librarySongCount, 4500);
        EXPECT_EQ(p.entries.size(), sizes[i]);
    }
    auto ids = entryIDs(r.payloads);
    EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end()));
    EXPECT_EQ(ids.size(), 4500u);
    EXPECT_NE(r.payloads[0].syncID, r.payloads[1].syncID);
    EXPECT_EQ(r.changedSongs, 0);
    EXPECT_EQ(r.baseline, remembered(tracks));
    // Pure: the same inputs give the same identifiers.
    EXPECT_EQ(RatingsReconciler::reconcile(std::nullopt, tracks, install, t0, 2000, false), r);

    RatingsSyncState s = RatingsReconciler::apply(tracks, RatingsSyncState::fresh(), install, t0);
    ASSERT_EQ(s.pending.size(), 3u);
    EXPECT_EQ(s.pending[2], (PendingRatingsPayload{r.payloads[2], 0, 0}));
    EXPECT_EQ(s.baselineSnapshotID, snapshot);
    EXPECT_EQ(s.lastQueuedAt, t0);
    EXPECT_FALSE(s.lastChangeQueuedAt);
    EXPECT_EQ(s.lastPlayCountRefreshAt, t0);
    EXPECT_EQ(s.baseline, r.baseline);
}

TEST(RatingsReconciler, EmptyLibraryBaselineIsOneEmptyPage) {
    auto r = RatingsReconciler::reconcile(std::nullopt, {}, install, t0, 2000, true);
    ASSERT_EQ(r.payloads.size(), 1u);
    EXPECT_EQ(r.payloads[0].page, 1);
    EXPECT_EQ(r.payloads[0].pages, 1);
    EXPECT_TRUE(r.payloads[0].entries.empty());
    EXPECT_TRUE(r.payloads[0].isBaseline());

    RatingsSyncState s = RatingsReconciler::apply({}, RatingsSyncState::fresh(), install, t0);
    EXPECT_TRUE(s.baseline && s.baseline->empty());
    EXPECT_EQ(s.baselineSnapshotID, r.payloads[0].snapshotID);
}

TEST(RatingsReconciler, PageIdentifierHashesEntrySignatures) {
    LibraryTrack before = track(1, 60, false, true, 12);
    LibraryTrack after = track(1, 80, false, true, 12);
    RatingBaseline previous = remembered({before});
    auto r = RatingsReconciler::reconcile(previous, {after}, install, t0, 2000, false);
    ASSERT_EQ(r.payloads.size(), 1u);
    const std::string id = formatPersistentID(1);
    EXPECT_EQ(r.payloads[0].syncID, "qz_e3012424bd4f8971"); // pinned: the service keys on it
    EXPECT_EQ(r.payloads[0].entries[0], (RatingEntry{id, after.artist, "Album Artist", "Album",
                                                     after.title, 80, false, true, 12}));
    EXPECT_NE(RatingsReconciler::reconcile(previous, {after}, install, t0 + 1, 2000, false)
                  .payloads[0]
                  .syncID,
              r.payloads[0].syncID);
}

TEST(RatingsReconciler, UnchangedLibraryQueuesNothingButRefreshesCounts) {
    std::vector<LibraryTrack> tracks = {track(1, 60), track(2, 80, true), track(3, 0, false, true),
                                        track(4, 1, false, true)};
    RatingsSyncState before = sentState(tracks);
    before.lastError = "ratings_queue_full";
    RatingsSyncState after = RatingsReconciler::apply(tracks, before, install, t0 + hour);
    EXPECT_TRUE(after.pending.empty());
    EXPECT_EQ(after.lastQueuedAt, before.lastQueuedAt);
    EXPECT_EQ(after.lastError, "");
    EXPECT_EQ(after.userRated, 2);
    EXPECT_EQ(after.favourites, 2);
    EXPECT_EQ(after.baseline, before.baseline);
}

TEST(RatingsReconciler, ChangedRatingQueuesChangePage) {
    std::vector<LibraryTrack> tracks = {track(1, 60), track(2, 20)};
    RatingsSyncState before = sentState(tracks);
    tracks[0].rating = 80;
    RatingsSyncState after = RatingsReconciler::apply(tracks, before, install, t0 + hour);
    ASSERT_EQ(after.pending.size(), 1u);
    const RatingsPayload& page = after.pending[0].payload;
    EXPECT_EQ(page.kind, "change");
    EXPECT_EQ(page.snapshotID, "");
    EXPECT_EQ(page.librarySongCount, 2);
    ASSERT_EQ(page.entries.size(), 1u);
    EXPECT_EQ(page.entries[0].rating, 80);
    EXPECT_EQ(after.lastQueuedAt, t0 + hour);
    EXPECT_EQ(after.lastChangeQueuedAt, t0 + hour);
    EXPECT_EQ(after.baseline->at(tracks[0].persistentID).rating, 80);
    EXPECT_EQ(after.baselineSnapshotID, "qz_base");
    EXPECT_EQ(after.serverBaselineSnapshotID, "qz_base");
    EXPECT_EQ(after.lastSyncedAt, before.lastSyncedAt);
    EXPECT_EQ(after.lastAvailabilityCheckAt, before.lastAvailabilityCheckAt);

    auto r = RatingsReconciler::reconcile(before.baseline, tracks, install, t0, 2000, false);
    EXPECT_EQ(r.changedSongs, 1);
    // Favourite flips count as changes too.
    tracks[1].favourite = true;
    EXPECT_EQ(RatingsReconciler::reconcile(before.baseline, tracks, install, t0, 2000, false)
                  .changedSongs,
              2);
}

TEST(RatingsReconciler, ComputedRatingChangesAreNotUserEvidence) {
    std::vector<LibraryTrack> tracks = {track(1, 40, true, false, 5),
                                        track(2, -1, false, false, 5)};
    RatingBaseline previous = remembered(tracks);
    tracks[0].rating = 60;
    tracks[1].rating = 0;
    auto r = RatingsReconciler::reconcile(previous, tracks, install, t0, 2000, true);
    EXPECT_TRUE(r.payloads.empty());
    EXPECT_EQ(r.changedSongs, 0);
    // The raw rating is still remembered.
    EXPECT_EQ(r.baseline.at(tracks[0].persistentID).rating, 60);
}

TEST(RatingsReconciler, PlayCountsWaitForTheRefreshInterval) {
    std::vector<LibraryTrack> tracks = {track(1, 60, false, false, 3), track(2)};
    RatingsSyncState before = sentState(tracks);
    before.lastPlayCountRefreshAt = t0 - 3 * hour;
    tracks[0].playCount = 4;

    RatingsSyncState early = RatingsReconciler::apply(tracks, before, install, t0);
    EXPECT_TRUE(early.pending.empty());
    EXPECT_EQ(early.baseline->at(tracks[0].persistentID).playCount, 3);
    EXPECT_EQ(early.lastPlayCountRefreshAt, t0 - 3 * hour);

    RatingsSyncState late = RatingsReconciler::apply(tracks, early, install, t0 + 4 * hour);
    ASSERT_EQ(late.pending.size(), 1u);
    ASSERT_EQ(late.pending[0].payload.entries.size(), 1u);
    EXPECT_EQ(late.pending[0].payload.entries[0].playCount, 4);
    EXPECT_EQ(late.baseline->at(tracks[0].persistentID).playCount, 4);
    EXPECT_EQ(late.lastPlayCountRefreshAt, t0 + 4 * hour);
    EXPECT_EQ(late.lastQueuedAt, t0 + 4 * hour);
    EXPECT_FALSE(late.lastChangeQueuedAt);

    // A clock that went back does not open the interval.
    before.lastPlayCountRefreshAt = t0 + 10 * hour;
    EXPECT_TRUE(RatingsReconciler::apply(tracks, before, install, t0).pending.empty());
    // Extreme stored times stay well defined.
    before.lastPlayCountRefreshAt = INT64_MIN;
    EXPECT_EQ(RatingsReconciler::apply(tracks, before, install, t0).pending.size(), 1u);
}

TEST(RatingsReconciler, AbsentPreviousPlayCount) {
    std::vector<LibraryTrack> tracks = {track(1, 60, false, false, 9)};
    RatingBaseline previous = remembered(tracks);
    previous.begin()->second.playCount.reset();

    auto held = RatingsReconciler::reconcile(previous, tracks, install, t0, 2000, false);
    EXPECT_TRUE(held.payloads.empty());
    EXPECT_FALSE(held.baseline.begin()->second.playCount);

    auto sent = RatingsReconciler::reconcile(previous, tracks, install, t0, 2000, true);
    ASSERT_EQ(entryIDs(sent.payloads).size(), 1u);
    EXPECT_EQ(sent.payloads[0].entries[0].playCount, 9);
    EXPECT_EQ(sent.baseline.begin()->second.playCount, 9);
    EXPECT_EQ(sent.changedSongs, 0);
}

TEST(RatingsReconciler, NewSongsAndRemovedSongs) {
    std::vector<LibraryTrack> tracks = {track(1, 60), track(2, 40)};
    RatingBaseline previous = remembered(tracks);
    tracks.erase(tracks.begin());
    tracks.push_back(track(3));
    auto r = RatingsReconciler::reconcile(previous, tracks, install, t0, 2000, false);
    EXPECT_EQ(r.changedSongs, 1);
    EXPECT_EQ(entryIDs(r.payloads), std::vector<std::string>{formatPersistentID(3)});
    EXPECT_EQ(r.baseline, remembered(tracks));
}

TEST(RatingsReconciler, DuplicateIDsKeepTheLaterStateAndBothEntries) {
    std::vector<LibraryTrack> tracks = {track(2, 20), track(1, 60), track(2, 80)};
    auto r = RatingsReconciler::reconcile(std::nullopt, tracks, install, t0, 2000, false);
    ASSERT_EQ(r.payloads[0].entries.size(), 3u);
    EXPECT_EQ(r.payloads[0].entries[1].rating, 20);
    EXPECT_EQ(r.payloads[0].entries[2].rating, 80);
    EXPECT_EQ(r.baseline.size(), 2u);
    EXPECT_EQ(r.baseline.at(formatPersistentID(2)).rating, 80);
}

TEST(RatingsReconciler, PageSizeBelowOneMeansOne) {
    auto r =
        RatingsReconciler::reconcile(std::nullopt, {track(1), track(2)}, install, t0, 0, false);
    ASSERT_EQ(r.payloads.size(), 2u);
    EXPECT_EQ(r.payloads[1].pages, 2);
}

TEST(RatingsReconciler, QueueBoundHoldsEverything) {
    auto tracks = shuffledLibrary(2001);
    RatingsSyncState before = sentState(tracks);
    for (auto& t : tracks)
        t.favourite = !t.favourite;
    before.lastPlayCountRefreshAt.reset();
    for (int i = 0; i < 399; ++i)
        before.pending.push_back(queuedPage(i));

    RatingsSyncState full = RatingsReconciler::apply(tracks, before, install, t0 + hour);
    EXPECT_EQ(full.lastError, "ratings_queue_full");
    EXPECT_EQ(full.pending, before.pending);
    EXPECT_EQ(full.baseline, before.baseline);
    EXPECT_EQ(full.lastQueuedAt, before.lastQueuedAt);
    EXPECT_FALSE(full.lastPlayCountRefreshAt);
    EXPECT_NE(full.favourites, before.favourites);
    RatingsSyncState expected = before;
    expected.userRated = full.userRated;
    expected.favourites = full.favourites;
    expected.lastError = "ratings_queue_full";
    EXPECT_EQ(full, expected);

    before.pending.pop_back();
    RatingsSyncState fits = RatingsReconciler::apply(tracks, before, install, t0 + hour);
    EXPECT_EQ(fits.pending.size(), 400u);
    EXPECT_EQ(fits.lastError, "");
    EXPECT_EQ(fits.lastChangeQueuedAt, t0 + hour);
    EXPECT_EQ(fits.baseline, remembered(tracks));
}

TEST(RatingsReconciler, PagesAlreadyQueuedAreNotAddedAgain) {
    auto tracks = shuffledLibrary(2500);
    RatingsSyncState before = sentState(tracks);
    for (auto& t : tracks)
        t.rating = (t.rating + 1) % 101;
    auto r = RatingsReconciler::reconcile(before.baseline, tracks, install, t0, 2000, false);
    ASSERT_EQ(r.payloads.size(), 2u);
    before.pending = {queuedPage(0), {r.payloads[1], 4, t0 + 99}};

    RatingsSyncState after = RatingsReconciler::apply(tracks, before, install, t0);
    ASSERT_EQ(after.pending.size(), 3u);
    EXPECT_EQ(after.pending[1].attempts, 4);
    EXPECT_EQ(after.pending[2].payload, r.payloads[0]);
}

TEST(RecordRatings, DoesNothingWithoutFile) {
    TempDir dir;
    RatingsSyncStore store(dir.path());
    recordRatings(store, {shuffledLibrary(3), {}}, install, t0);
    EXPECT_FALSE(store.exists());
}

TEST(RecordRatings, QueuesBaselineAndSkipsUnchangedWrites) {
    TempDir dir;
    RatingsSyncStore store(dir.path());
    store.createIfMissing();
    LibraryScan scan{shuffledLibrary(10), {}};
    recordRatings(store, scan, install, t0);
    RatingsSyncState first = store.load();
    EXPECT_EQ(first, RatingsReconciler::apply(scan.tracks, RatingsSyncState::fresh(), install, t0));
    ASSERT_EQ(first.pending.size(), 1u);

    // Pretty-printed, so a rewrite would show in the bytes.
    const std::string pretty = Json::parse(first.encode()).dump(2);
    writeFile(store.fileURL(), pretty);
    const auto modified = std::filesystem::last_write_time(store.fileURL());
    recordRatings(store, scan, install, t0 + hour);
    EXPECT_EQ(readFile(store.fileURL()), pretty);
    EXPECT_EQ(std::filesystem::last_write_time(store.fileURL()), modified);
}

TEST(RecordRatings, ReplacesUnsupportedFileWithFreshState) {
    TempDir dir;
    RatingsSyncStore store(dir.path());
    Json old = Json::parse(sentState(shuffledLibrary(3)).encode());
    old["schemaVersion"] = 2;
    writeFile(store.fileURL(), old.dump());
    recordRatings(store, {shuffledLibrary(3), {}}, install, t0);
    RatingsSyncState expected = RatingsSyncState::fresh();
    expected.lastError =
        "ratings_state_reset: Capture state unreadable: unsupported ratings schema";
    EXPECT_EQ(store.load(), expected);
}

TEST(RecordRatings, FailedSaveResetsState) {
    TempDir dir;
    RatingsSyncStore store(dir.path());
    store.createIfMissing();
    LibraryScan scan{{track(1)}, {}};
    scan.tracks[0].title = "\xff";
    recordRatings(store, scan, install, t0);
    RatingsSyncState loaded = store.load();
    EXPECT_FALSE(loaded.baseline);
    EXPECT_TRUE(loaded.pending.empty());
    EXPECT_EQ(
        loaded.lastError.rfind("ratings_state_reset: Capture state write failed: ratings: ", 0), 0u)
        << loaded.lastError;
}

TEST(RecordRatings, UnwritableStateIsDropped) {
    TempDir dir;
    RatingsSyncStore store(dir.path());
    std::filesystem::create_directory(store.fileURL());
    EXPECT_NO_FATAL_FAILURE(recordRatings(store, {shuffledLibrary(3), {}}, install, t0));
    EXPECT_TRUE(std::filesystem::is_directory(store.fileURL()));
}
