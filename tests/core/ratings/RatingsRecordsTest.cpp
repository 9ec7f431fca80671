#include "core/ratings/RatingsSyncState.hpp"

#include <gtest/gtest.h>

using namespace qb;

namespace {

template <typename T> Json stored(const T& value) {
    JsonWriter out;
    value.write(out);
    return Json::parse(out.text());
}

template <typename T> T readBack(const Json& json) {
    return jsonread::parse(json.dump(), [](jsonread::Value root) { return T::read(root); });
}

RatingEntry sampleEntry() {
    return {"000000000000002A", "Artist", "Album Artist", "Album", "Title", 80, false, true, 12};
}

RatingsPayload samplePayload() {
    RatingsPayload p;
    p.installID = "install";
    p.syncID = "qz_0000000000000001";
    p.kind = "change";
    p.page = 2;
    p.pages = 3;
    p.observedAt = 1700000000;
    p.librarySongCount = 4500;
    p.entries = {sampleEntry()};
    return p;
}

RatingsSyncState fullState() {
    RatingsSyncState s;
    s.baseline = RatingBaseline{{"000000000000002B", {20, true, false, std::nullopt}},
                                {"000000000000002A", {80, false, true, 12}}};
    s.baselineSnapshotID = "qz_a";
    s.serverBaselineSnapshotID = "qz_b";
    s.pending = {{samplePayload(), 3, 1700000100}};
    s.lastQueuedAt = 1;
    s.lastSyncedAt = 2;
    s.lastChangeQueuedAt = 3;
    s.lastAvailabilityCheckAt = 4;
    s.lastPlayCountRefreshAt = 5;
    s.userRated = 7;
    s.favourites = 8;
    s.lastError = "ratings_rejected_413";
    return s;
}

} // namespace

TEST(RatingState, FromTrackCopiesEvidenceAndRaisesNegativePlayCount) {
    LibraryTrack track;
    track.rating = 60;
    track.ratingComputed = true;
    track.favourite = true;
    track.playCount = -3;
    EXPECT_EQ(RatingState::fromTrack(track), (RatingState{60, true, true, 0}));
    track.playCount = 9;
    EXPECT_EQ(RatingState::fromTrack(track).playCount, 9);
}

TEST(RatingState, UserRatingIgnoresComputedAndNegativeRatings) {
    EXPECT_EQ((RatingState{80, true, false, {}}).userRating(), 0);
    EXPECT_EQ((RatingState{-1, false, false, {}}).userRating(), 0);
    EXPECT_EQ((RatingState{60, false, false, {}}).userRating(), 60);
}

TEST(RatingState, SameEvidenceComparesUserRatingAndFavouriteOnly) {
    RatingState computed{40, true, false, std::nullopt};
    RatingState unrated{0, false, false, 7};
    EXPECT_TRUE(computed.sameEvidence(unrated));
    EXPECT_TRUE(unrated.sameEvidence(computed));
    EXPECT_TRUE(computed.sameEvidence(RatingState{60, true, false, 3}));

    RatingState favourite = computed;
    favourite.favourite = true;
    EXPECT_FALSE(favourite.sameEvidence(unrated));
    unrated.favourite = true;
    EXPECT_FALSE(computed.sameEvidence(unrated));
    EXPECT_FALSE((RatingState{60, false, false, 1}).sameEvidence(RatingState{80, false, false, 1}));
}

TEST(RatingState, StoredFormLeavesOutAbsentPlayCount) {
    RatingState withCount{80, false, true, 12};
    EXPECT_EQ(stored(withCount),
              Json::parse(R"({"rating":80,"computed":false,"favourite":true,"playCount":12})"));
    RatingState withoutCount{80, false, true, std::nullopt};
    EXPECT_FALSE(stored(withoutCount).contains("playCount"));
    EXPECT_EQ(readBack<RatingState>(stored(withCount)), withCount);
    EXPECT_EQ(readBack<RatingState>(stored(withoutCount)), withoutCount);
    EXPECT_EQ(readBack<RatingState>(Json::parse(
                  R"({"rating":1,"computed":false,"favourite":false,"playCount":null,"x":1})")),
              (RatingState{1, false, false, std::nullopt}));
    for (const char* key : {"rating", "computed", "favourite"}) {
        Json j = stored(withCount);
        j.erase(key);
        EXPECT_THROW(readBack<RatingState>(j), DecodeError) << key;
        j[key] = nullptr;
        EXPECT_THROW(readBack<RatingState>(j), DecodeError) << key;
    }
    EXPECT_THROW(
        readBack<RatingState>(Json::parse(R"({"rating":"80","computed":false,"favourite":true})")),
        DecodeError);
}

TEST(RatingEntry, WireKeysAreSnakeCase) {
    RatingEntry entry = sampleEntry();
    Json j = stored(entry);
    EXPECT_EQ(j, Json::parse(R"({"persistent_id":"000000000000002A","artist":"Artist",
        "album_artist":"Album Artist","album":"Album","title":"Title","rating":80,
        "rating_computed":false,"favourite":true,"play_count":12})"));
    EXPECT_EQ(readBack<RatingEntry>(j), entry);

    entry.playCount.reset();
    EXPECT_FALSE(stored(entry).contains("play_count"));
    EXPECT_EQ(readBack<RatingEntry>(stored(entry)), entry);

    for (const char* key : {"persistent_id", "artist", "album_artist", "album", "title", "rating",
                            "rating_computed", "favourite"}) {
        Json missing = j;
        missing.erase(key);
        EXPECT_THROW(readBack<RatingEntry>(missing), DecodeError) << key;
    }
}

TEST(RatingsPayload, WireFormRoundTripsAndRequiresEveryKey) {
    RatingsPayload payload = samplePayload();
    Json j = Json::parse(payload.encode());
    EXPECT_EQ(j, stored(payload));
    for (const char* key : {"install_id", "sync_id", "kind", "snapshot_id", "page", "pages",
                            "observed_at", "library_song_count", "entries"}) {
        ASSERT_TRUE(j.contains(key)) << key;
        Json missing = j;
        missing.erase(key);
        EXPECT_THROW(RatingsPayload::decode(missing.dump()), DecodeError) << key;
    }
    EXPECT_EQ(j.size(), 9u);
    EXPECT_EQ(j["snapshot_id"], "");
    EXPECT_EQ(j["entries"][0], stored(sampleEntry()));
    EXPECT_EQ(RatingsPayload::decode(payload.encode()), payload);

    EXPECT_FALSE(payload.isBaseline());
    payload.kind = "baseline";
    EXPECT_TRUE(payload.isBaseline());
}

TEST(PendingRatingsPayload, KeepsPayloadInWireForm) {
    PendingRatingsPayload page{samplePayload(), 2, 1700000008};
    Json j = stored(page);
    EXPECT_EQ(j["payload"], stored(page.payload));
    EXPECT_EQ(j["attempts"], 2);
    EXPECT_EQ(j["nextAttemptAt"], 1700000008);
    EXPECT_EQ(readBack<PendingRatingsPayload>(j), page);
    for (const char* key : {"payload", "attempts", "nextAttemptAt"}) {
        Json missing = j;
        missing.erase(key);
        EXPECT_THROW(readBack<PendingRatingsPayload>(missing), DecodeError) << key;
    }
}

TEST(RatingsSyncState, FreshStateHasNothing) {
    RatingsSyncState fresh = RatingsSyncState::fresh();
    EXPECT_EQ(fresh.schemaVersion, 1);
    EXPECT_FALSE(fresh.baseline);
    EXPECT_TRUE(fresh.pending.empty());
    EXPECT_FALSE(fresh.lastQueuedAt || fresh.lastSyncedAt || fresh.lastChangeQueuedAt ||
                 fresh.lastAvailabilityCheckAt || fresh.lastPlayCountRefreshAt);
    EXPECT_EQ(fresh.encode(), R"({"baselineSnapshotID":"","favourites":0,"lastError":"",)"
                              R"("pending":[],"schemaVersion":1,"serverBaselineSnapshotID":"",)"
                              R"("userRated":0})");
}

TEST(RatingsSyncState, EncodesEveryFieldSortedAndCompact) {
    RatingsSyncState state = fullState();
    Json expected = {{"schemaVersion", 1},
                     {"baseline",
                      {{"000000000000002A", stored(RatingState{80, false, true, 12})},
                       {"000000000000002B", stored(RatingState{20, true, false, std::nullopt})}}},
                     {"baselineSnapshotID", "qz_a"},
                     {"serverBaselineSnapshotID", "qz_b"},
                     {"pending", {stored(state.pending[0])}},
                     {"lastQueuedAt", 1},
                     {"lastSyncedAt", 2},
                     {"lastChangeQueuedAt", 3},
                     {"lastAvailabilityCheckAt", 4},
                     {"lastPlayCountRefreshAt", 5},
                     {"userRated", 7},
                     {"favourites", 8},
                     {"lastError", "ratings_rejected_413"}};
    // A DOM with sorted keys dumps the exact bytes the file must hold.
    EXPECT_EQ(state.encode(), expected.dump());
    EXPECT_EQ(RatingsSyncState::decode(state.encode()), state);
}

TEST(RatingsSyncState, SummaryCountsPagesAndReportsBaselineFromServer) {
    RatingsSyncState state = fullState();
    EXPECT_EQ(state.summary(), (RatingsSyncSummary{1, 2, 7, 8, true, "ratings_rejected_413"}));
    state.serverBaselineSnapshotID.clear();
    state.lastSyncedAt = 1700000000;
    EXPECT_FALSE(state.summary().baselineSent);
    EXPECT_EQ(state.summary().lastSyncedAt, 1700000000);
}
