#include "core/RatingsSyncState.hpp"

#include <gtest/gtest.h>

using namespace qb;

namespace {

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
    s.baseline = RatingBaseline{{"000000000000002A", {80, false, true, 12}},
                                {"000000000000002B", {20, true, false, std::nullopt}}};
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
    RatingState state = RatingState::fromTrack(track);
    EXPECT_EQ(state, (RatingState{60, true, true, 0}));
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
    EXPECT_EQ(withCount.toJson(),
              Json::parse(R"({"rating":80,"computed":false,"favourite":true,"playCount":12})"));
    RatingState withoutCount{80, false, true, std::nullopt};
    EXPECT_FALSE(withoutCount.toJson().contains("playCount"));
    EXPECT_EQ(RatingState::fromJson(withCount.toJson()), withCount);
    EXPECT_EQ(RatingState::fromJson(withoutCount.toJson()), withoutCount);
    EXPECT_EQ(RatingState::fromJson(Json::parse(
                  R"({"rating":1,"computed":false,"favourite":false,"playCount":null,"x":1})")),
              (RatingState{1, false, false, std::nullopt}));
    for (const char* key : {"rating", "computed", "favourite"}) {
        Json j = withCount.toJson();
        j.erase(key);
        EXPECT_THROW(RatingState::fromJson(j), DecodeError) << key;
    }
    EXPECT_THROW(
        RatingState::fromJson(Json::parse(R"({"rating":"80","computed":false,"favourite":true})")),
        DecodeError);
}

TEST(RatingEntry, WireKeysAreSnakeCase) {
    RatingEntry entry = sampleEntry();
    Json j = entry.toJson();
    EXPECT_EQ(j, Json::parse(R"({"persistent_id":"000000000000002A","artist":"Artist",
        "album_artist":"Album Artist","album":"Album","title":"Title","rating":80,
        "rating_computed":false,"favourite":true,"play_count":12})"));
    EXPECT_EQ(RatingEntry::fromJson(j), entry);

    entry.playCount.reset();
    EXPECT_FALSE(entry.toJson().contains("play_count"));
    EXPECT_EQ(RatingEntry::fromJson(entry.toJson()), entry);

    for (const char* key : {"persistent_id", "artist", "album_artist", "album", "title", "rating",
                            "rating_computed", "favourite"}) {
        Json missing = j;
        missing.erase(key);
        EXPECT_THROW(RatingEntry::fromJson(missing), DecodeError) << key;
    }
}

TEST(RatingsPayload, WireFormRoundTripsAndRequiresEveryKey) {
    RatingsPayload payload = samplePayload();
    Json j = payload.toJson();
    for (const char* key : {"install_id", "sync_id", "kind", "snapshot_id", "page", "pages",
                            "observed_at", "library_song_count", "entries"}) {
        ASSERT_TRUE(j.contains(key)) << key;
        Json missing = j;
        missing.erase(key);
        EXPECT_THROW(RatingsPayload::fromJson(missing), DecodeError) << key;
    }
    EXPECT_EQ(j.size(), 9u);
    EXPECT_EQ(j["snapshot_id"], "");
    EXPECT_EQ(RatingsPayload::fromJson(j), payload);

    EXPECT_FALSE(payload.isBaseline());
    payload.kind = "baseline";
    EXPECT_TRUE(payload.isBaseline());
}

TEST(PendingRatingsPayload, KeepsPayloadInWireForm) {
    PendingRatingsPayload page{samplePayload(), 2, 1700000008};
    Json j = page.toJson();
    EXPECT_EQ(j["payload"]["sync_id"], "qz_0000000000000001");
    EXPECT_EQ(j["attempts"], 2);
    EXPECT_EQ(j["nextAttemptAt"], 1700000008);
    EXPECT_EQ(PendingRatingsPayload::fromJson(j), page);
    for (const char* key : {"payload", "attempts", "nextAttemptAt"}) {
        Json missing = j;
        missing.erase(key);
        EXPECT_THROW(PendingRatingsPayload::fromJson(missing), DecodeError) << key;
    }
}

TEST(RatingsSyncState, FreshStateHasNothing) {
    RatingsSyncState fresh = RatingsSyncState::fresh();
    EXPECT_EQ(fresh.schemaVersion, 1);
    EXPECT_FALSE(fresh.baseline);
    EXPECT_TRUE(fresh.pending.empty());
    EXPECT_FALSE(fresh.lastQueuedAt || fresh.lastSyncedAt || fresh.lastChangeQueuedAt ||
                 fresh.lastAvailabilityCheckAt || fresh.lastPlayCountRefreshAt);
    EXPECT_EQ(fresh.toJson(), Json::parse(R"({"schemaVersion":1,"baselineSnapshotID":"",
        "serverBaselineSnapshotID":"","pending":[],"userRated":0,"favourites":0,"lastError":""})"));
}

TEST(RatingsSyncState, RoundTripsEveryField) {
    RatingsSyncState state = fullState();
    Json j = state.toJson();
    EXPECT_EQ(j["baseline"]["000000000000002A"]["playCount"], 12);
    EXPECT_FALSE(j["baseline"]["000000000000002B"].contains("playCount"));
    EXPECT_EQ(j["pending"][0]["payload"]["install_id"], "install");
    EXPECT_EQ(RatingsSyncState::fromJson(j), state);
    EXPECT_EQ(RatingsSyncState::fromJson(Json::parse(j.dump())), state);
}

TEST(RatingsSyncState, SummaryCountsPagesAndReportsBaselineFromServer) {
    RatingsSyncState state = fullState();
    EXPECT_EQ(state.summary(), (RatingsSyncSummary{1, 2, 7, 8, true, "ratings_rejected_413"}));
    state.serverBaselineSnapshotID.clear();
    state.lastSyncedAt = 1700000000;
    EXPECT_FALSE(state.summary().baselineSent);
    EXPECT_EQ(state.summary().lastSyncedAt, 1700000000);
}
