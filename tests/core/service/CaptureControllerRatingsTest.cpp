#include "CaptureControllerHarness.hpp"

#include "core/common/FileIO.hpp"

#include <limits>

using namespace qb;
using namespace qb::test;

namespace {

constexpr int64_t hour = 3600;

RatingsSyncState withPages(std::vector<PendingRatingsPayload> pages) {
    RatingsSyncState state;
    state.pending = std::move(pages);
    return state;
}

// A ratings state whose baseline the service acknowledged as `snapshot`.
RatingsSyncState acknowledged(const std::string& snapshot,
                              std::vector<PendingRatingsPayload> pages = {}) {
    RatingsSyncState state = withPages(std::move(pages));
    state.baseline = RatingBaseline{{"00000000000000A1", RatingState{80, false, true, 4}}};
    state.baselineSnapshotID = snapshot;
    state.serverBaselineSnapshotID = snapshot;
    state.userRated = 1;
    state.favourites = 1;
    return state;
}

std::vector<std::string> triggersOf(const ControllerHarness& h) {
    return h.worker->triggers();
}

} // namespace

class CaptureControllerRatingsTest : public ::testing::Test {
  protected:
    void checkAvailability(bool force, RatingsAvailabilityAnswer answer) {
        h.controller->refreshRatingsAvailability(force);
        h.settle();
        ASSERT_GT(h.ratings->checkCount(), 0u);
        h.ratings->answerLastCheck(std::move(answer));
        h.settle();
    }
    void drainAndSettle() {
        h.controller->drain();
        h.settle();
    }
    // Accepts `count` uploads one at a time, a payload or a page, whichever was sent last; each
    // answer must be followed by exactly one new upload until the count is reached.
    void acceptInOrder(int count) {
        for (int i = 0; i < count; ++i) {
            const auto events = h.log.events();
            ASSERT_EQ(events.size(), static_cast<size_t>(i + 1));
            if (events.back().rfind("post:", 0) == 0)
                h.transport->answerLast(UploadResult::accepted());
            else
                h.ratings->answerLastPost(RatingsUploadResult::accepted(""));
            h.settle();
        }
    }
    ControllerHarness h;
};

// MARK: availability

TEST_F(CaptureControllerRatingsTest, SwitchedOffDeletesTheFileAndTheSummary) {
    h.seedRatings(withPages({ratingsPage("p1", "change"), ratingsPage("p2", "change")}));
    h.useInProcessWorker();
    h.library.setTracks({song("00000000000000A1", 1, 60)});
    h.start();
    ASSERT_TRUE(h.settle().ratings);

    checkAvailability(true, RatingsAvailability{false, ""});
    EXPECT_FALSE(h.ratingsFileExists());
    EXPECT_FALSE(h.settle().ratings);
    const auto statuses = h.delivered();
    ASSERT_EQ(statuses.size(), 1u);
    EXPECT_FALSE(statuses[0].ratings);

    // Scans record nothing while ratings sync is off.
    h.controller->scan("launch", false);
    h.settle();
    ASSERT_EQ(triggersOf(h).size(), 1u);
    EXPECT_FALSE(h.ratingsFileExists());
}

TEST_F(CaptureControllerRatingsTest, FirstPositiveAnswerCreatesTheFileAndForcesABaselineScan) {
    h.seedRuntime({}, {}, wholeSeconds(ControllerHarness::startTime) - 5);
    h.start();
    const int64_t checkStart = h.nowSeconds();
    h.controller->refreshRatingsAvailability(true);
    h.settle();
    h.advance(7); // the answer comes later than the check started
    h.ratings->answerLastCheck(RatingsAvailability{true, ""});
    h.settle();

    ASSERT_TRUE(h.ratingsFileExists());
    const auto file = h.ratingsFile();
    EXPECT_EQ(file.lastAvailabilityCheckAt, checkStart);
    EXPECT_EQ(file.serverBaselineSnapshotID, "");
    EXPECT_TRUE(file.pending.empty());
    const RatingsSyncSummary fresh{0, std::nullopt, 0, 0, false, ""};
    EXPECT_EQ(h.settle().ratings, fresh);
    // Published with the summary first, then the baseline scan, though the last scan was
    // only seconds ago.
    const auto statuses = h.delivered();
    ASSERT_GE(statuses.size(), 2u);
    EXPECT_EQ(statuses[0].ratings, fresh);
    EXPECT_FALSE(statuses[0].scanning);
    EXPECT_TRUE(statuses[1].scanning);
    EXPECT_EQ(triggersOf(h), std::vector<std::string>{"ratings_baseline"});
}

TEST_F(CaptureControllerRatingsTest, BaselineScanQueuesPagesThatFollowTheReconcileUpload) {
    h.useInProcessWorker();
    h.library.setTracks({song("00000000000000A1", 2, 80), song("00000000000000A2", 0, 20)});
    h.start();
    h.controller->scan("launch", false);
    h.settle();
    ASSERT_EQ(h.transport->count(), 1u);
    h.transport->answerLast(UploadResult::accepted());
    h.settle();

    h.advance(3);
    checkAvailability(true, RatingsAvailability{true, ""});
    EXPECT_EQ(triggersOf(h), (std::vector<std::string>{"launch", "ratings_baseline"}));
    // The scan's report goes first; the baseline page follows in the same chain.
    ASSERT_EQ(h.transport->count(), 2u);
    EXPECT_EQ(h.ratings->postCount(), 0u);
    h.transport->answerLast(UploadResult::accepted());
    h.settle();
    ASSERT_EQ(h.ratings->postCount(), 1u);
    const auto page = h.ratings->payload(0);
    EXPECT_TRUE(page.isBaseline());
    EXPECT_EQ(page.entries.size(), 2u);
    EXPECT_EQ(page.installID, h.settle().installID);

    h.ratings->answerLastPost(RatingsUploadResult::accepted("S1"));
    const auto status = h.settle();
    ASSERT_TRUE(status.ratings);
    EXPECT_TRUE(status.ratings->baselineSent);
    EXPECT_EQ(status.ratings->pending, 0);
}

TEST_F(CaptureControllerRatingsTest, LostBaselineIsDiscardedAndSentAgain) {
    h.seedRatings(acknowledged("Y", {ratingsPage("c1", "change")}));
    h.start();
    checkAvailability(true, RatingsAvailability{true, "X"});
    const auto file = h.ratingsFile();
    EXPECT_FALSE(file.baseline);
    EXPECT_EQ(file.baselineSnapshotID, "");
    EXPECT_TRUE(file.pending.empty());
    EXPECT_EQ(file.serverBaselineSnapshotID, "X");
    EXPECT_EQ(file.lastAvailabilityCheckAt, h.nowSeconds());
    EXPECT_EQ(triggersOf(h), std::vector<std::string>{"ratings_baseline"});
    EXPECT_EQ(h.ratings->postCount(), 0u);
}

TEST_F(CaptureControllerRatingsTest, QueuedBaselinePageExplainsAMismatch) {
    h.seedRatings(acknowledged("Y", {ratingsPage("b1", "baseline")}));
    h.start();
    checkAvailability(true, RatingsAvailability{true, "X"});
    const auto file = h.ratingsFile();
    EXPECT_TRUE(file.baseline);
    EXPECT_EQ(file.baselineSnapshotID, "Y");
    EXPECT_EQ(file.pending.size(), 1u);
    EXPECT_EQ(file.serverBaselineSnapshotID, "X");
    EXPECT_TRUE(triggersOf(h).empty());
    // Instead of a scan, the drain starts with the waiting page.
    ASSERT_EQ(h.ratings->postCount(), 1u);
    EXPECT_EQ(h.ratings->payload(0).syncID, "b1");
}

TEST_F(CaptureControllerRatingsTest, MatchingSnapshotKeepsTheBaselineAndDrains) {
    h.seedRatings(acknowledged("Y", {ratingsPage("c1", "change")}));
    h.start();
    checkAvailability(true, RatingsAvailability{true, "Y"});
    EXPECT_TRUE(h.ratingsFile().baseline);
    EXPECT_TRUE(triggersOf(h).empty());
    ASSERT_EQ(h.ratings->postCount(), 1u);
    EXPECT_EQ(h.ratings->payload(0).syncID, "c1");
}

TEST_F(CaptureControllerRatingsTest, BaselineScanWhilePausedIsDropped) {
    h.start();
    h.controller->setPaused(true);
    checkAvailability(true, RatingsAvailability{true, ""});
    EXPECT_TRUE(h.ratingsFileExists());
    EXPECT_TRUE(triggersOf(h).empty());
    EXPECT_EQ(h.delayedCount(), 0u);
}

TEST_F(CaptureControllerRatingsTest, BaselineScanDuringAnUploadBecomesATrailingScan) {
    h.seedRuntime({pendingPayload("p", 1)});
    h.start();
    drainAndSettle();
    checkAvailability(true, RatingsAvailability{true, ""});
    EXPECT_TRUE(triggersOf(h).empty());
    ASSERT_EQ(h.delayedCount(), 1u);
    h.transport->answerLast(UploadResult::accepted());
    h.fire(0);
    EXPECT_EQ(triggersOf(h), std::vector<std::string>{"ratings_baseline_trailing"});
}

TEST_F(CaptureControllerRatingsTest, UnforcedChecksWaitSixHoursAfterASuccessfulOne) {
    const std::pair<int64_t, size_t> cases[] = {
        {3 * hour, 0}, {6 * hour - 1, 0}, {6 * hour, 1}, {7 * hour, 1}};
    for (const auto& [age, checks] : cases) {
        ControllerHarness local;
        RatingsSyncState state;
        state.lastAvailabilityCheckAt = local.nowSeconds() - age;
        local.seedRatings(state);
        local.start();
        local.controller->refreshRatingsAvailability(false);
        local.settle();
        EXPECT_EQ(local.ratings->checkCount(), checks) << age;
        local.controller->refreshRatingsAvailability(true);
        local.settle();
        EXPECT_EQ(local.ratings->checkCount(), checks + 1) << "forced, " << age;
    }
}

TEST_F(CaptureControllerRatingsTest, WithoutAReadableFileEveryCheckGoesOut) {
    h.start();
    h.controller->refreshRatingsAvailability(false);
    h.controller->refreshRatingsAvailability(false);
    h.settle();
    EXPECT_EQ(h.ratings->checkCount(), 2u);

    writeFile(h.ratingsStore().fileURL(), "{");
    h.controller->refreshRatingsAvailability(false);
    h.settle();
    EXPECT_EQ(h.ratings->checkCount(), 3u);

    RatingsSyncState absurd;
    absurd.lastAvailabilityCheckAt = std::numeric_limits<int64_t>::min();
    h.seedRatings(absurd);
    h.controller->refreshRatingsAvailability(false);
    h.settle();
    EXPECT_EQ(h.ratings->checkCount(), 4u);
}

TEST_F(CaptureControllerRatingsTest, FailedCheckChangesNothingAndDoesNotCount) {
    RatingsSyncState state = acknowledged("Y");
    state.lastAvailabilityCheckAt = h.nowSeconds() - 7 * hour;
    h.seedRatings(state);
    h.start();
    const std::string before = readFile(h.ratingsStore().fileURL());
    checkAvailability(false, RatingsAvailabilityError{"http_500"});
    EXPECT_EQ(readFile(h.ratingsStore().fileURL()), before);
    EXPECT_TRUE(h.delivered().empty());
    h.controller->refreshRatingsAvailability(false);
    h.settle();
    EXPECT_EQ(h.ratings->checkCount(), 2u);
}

TEST_F(CaptureControllerRatingsTest, NoCheckWithoutTransportOrUsableCredential) {
    h.setCredential(plainHttpCredential());
    h.start();
    h.controller->refreshRatingsAvailability(true);
    h.settle();
    EXPECT_EQ(h.ratings->checkCount(), 0u);

    ControllerHarness off;
    off.start(false);
    off.controller->refreshRatingsAvailability(true);
    off.controller->drain();
    off.settle();
    EXPECT_EQ(off.ratings->checkCount(), 0u);
}

TEST_F(CaptureControllerRatingsTest, UnreadableFileStopsAPositiveAnswer) {
    writeFile(h.ratingsStore().fileURL(), "not json");
    h.start();
    checkAvailability(true, RatingsAvailability{true, ""});
    EXPECT_EQ(readFile(h.ratingsStore().fileURL()), "not json");
    EXPECT_TRUE(triggersOf(h).empty());
    EXPECT_TRUE(h.delivered().empty());
}

TEST_F(CaptureControllerRatingsTest, CredentialChangeDrainsBeforeTheForcedCheck) {
    h.seedRuntime({pendingPayload("p", 1)});
    RatingsSyncState state;
    state.lastAvailabilityCheckAt = h.nowSeconds(); // a forced check ignores it
    h.seedRatings(state);
    h.setCredential(std::nullopt);
    h.start();
    EXPECT_FALSE(h.settle().connected);
    h.setCredential(usableCredential());
    h.controller->noteCredentialChanged();
    EXPECT_TRUE(h.settle().connected);
    EXPECT_EQ(h.log.events(), (std::vector<std::string>{"post:1", "availability"}));
}

// MARK: page answers

TEST_F(CaptureControllerRatingsTest, AcceptedPageStoresTheServiceSnapshotAndTheChainGoesOn) {
    RatingsSyncState state =
        withPages({ratingsPage("p1", "baseline"), ratingsPage("p2", "baseline")});
    state.lastError = "old";
    h.seedRatings(state);
    h.start();
    const int64_t startedAt = h.nowSeconds();
    drainAndSettle();
    ASSERT_EQ(h.ratings->postCount(), 1u);
    EXPECT_EQ(h.ratings->payload(0).syncID, "p1");
    h.advance(4);
    h.ratings->answerLastPost(RatingsUploadResult::accepted("S"));
    h.settle();

    auto file = h.ratingsFile();
    EXPECT_EQ(file.serverBaselineSnapshotID, "S");
    EXPECT_EQ(file.lastSyncedAt, startedAt);
    EXPECT_EQ(file.lastError, "");
    ASSERT_EQ(file.pending.size(), 1u);
    auto status = h.settle();
    EXPECT_TRUE(status.ratings->baselineSent);
    EXPECT_EQ(status.ratings->pending, 1);
    ASSERT_EQ(h.ratings->postCount(), 2u);
    EXPECT_EQ(h.ratings->payload(1).syncID, "p2");

    // An answer without a snapshot leaves the stored one.
    h.ratings->answerLastPost(RatingsUploadResult::accepted(""));
    h.settle();
    file = h.ratingsFile();
    EXPECT_EQ(file.serverBaselineSnapshotID, "S");
    EXPECT_TRUE(file.pending.empty());
    EXPECT_EQ(file.lastSyncedAt, h.nowSeconds());
}

TEST_F(CaptureControllerRatingsTest, RejectedPageIsDroppedAndTheNextFollows) {
    h.seedRatings(withPages({ratingsPage("p1", "change"), ratingsPage("p2", "change")}));
    h.start();
    drainAndSettle();
    h.ratings->answerLastPost(RatingsUploadResult::permanentRejected(413));
    const auto status = h.settle();
    EXPECT_EQ(status.ratings->lastError, "ratings_rejected_413");
    EXPECT_EQ(status.ratings->pending, 1);
    EXPECT_EQ(h.ratingsFile().pending.at(0).payload.syncID, "p2");
    ASSERT_EQ(h.ratings->postCount(), 2u);
    EXPECT_EQ(h.ratings->payload(1).syncID, "p2");
}

TEST_F(CaptureControllerRatingsTest, TransientFailuresBackOffPerPage) {
    h.seedRatings(withPages({ratingsPage("p1", "change")}));
    h.seedRuntime({pendingPayload("later", 1, h.nowSeconds() + 10 * hour)});
    h.start();
    const int64_t delays[] = {2, 4, 8};
    for (int pass = 0; pass < 3; ++pass) {
        const int64_t startedAt = h.nowSeconds();
        drainAndSettle();
        ASSERT_EQ(h.ratings->postCount(), static_cast<size_t>(pass + 1));
        h.advance(1);
        h.ratings->answerLastPost(RatingsUploadResult::transient("http_503"));
        h.settle();
        const auto page = h.ratingsFile().pending.at(0);
        EXPECT_EQ(page.attempts, pass + 1);
        EXPECT_EQ(page.nextAttemptAt, startedAt + delays[pass]);
        // Not due: a drain before its time sends nothing.
        drainAndSettle();
        EXPECT_EQ(h.ratings->postCount(), static_cast<size_t>(pass + 1));
        h.setNow(static_cast<double>(page.nextAttemptAt));
    }
    EXPECT_EQ(h.settle().ratings->lastError, "http_503");
    EXPECT_EQ(h.transport->count(), 0u);
}

TEST_F(CaptureControllerRatingsTest, RejectedCredentialKeepsThePageAndStopsTheChain) {
    h.seedRatings(withPages({ratingsPage("p1", "change", 0, 2), ratingsPage("p2", "change")}));
    h.start();
    drainAndSettle();
    h.ratings->answerLastPost(RatingsUploadResult::credentialRejected(401));
    const auto status = h.settle();
    EXPECT_EQ(status.ratings->lastError, "ratings_credential_401");
    EXPECT_TRUE(status.connected);
    EXPECT_EQ(h.credentialRejections, 0);
    const auto file = h.ratingsFile();
    ASSERT_EQ(file.pending.size(), 2u);
    EXPECT_EQ(file.pending[0], ratingsPage("p1", "change", 0, 2));
    EXPECT_EQ(h.ratings->postCount(), 1u);
}

TEST_F(CaptureControllerRatingsTest, UnavailableAnswerDeletesTheFileAndEndsTheChain) {
    h.seedRatings(withPages({ratingsPage("p1", "change"), ratingsPage("p2", "change")}));
    h.seedRuntime({pendingPayload("soon", 1, h.nowSeconds() + 5)});
    h.start();
    drainAndSettle();
    ASSERT_EQ(h.ratings->postCount(), 1u);
    h.advance(10); // the reconcile payload is due now, but the chain is over
    h.ratings->answerLastPost(RatingsUploadResult::unavailable());
    const auto status = h.settle();
    EXPECT_FALSE(h.ratingsFileExists());
    EXPECT_FALSE(status.ratings);
    EXPECT_EQ(h.transport->count(), 0u);
    EXPECT_EQ(h.ratings->postCount(), 1u);
}

TEST_F(CaptureControllerRatingsTest, AnswerForAPageNoLongerQueuedWritesNothing) {
    h.seedRatings(withPages({ratingsPage("p1", "change")}));
    h.start();
    drainAndSettle();
    ASSERT_EQ(h.ratings->postCount(), 1u);
    // Meanwhile the queue was replaced (as a lost-baseline answer or a new worker would).
    RatingsSyncState replaced = acknowledged("Z", {ratingsPage("q1", "change")});
    h.seedRatings(replaced);
    const std::string bytes = readFile(h.ratingsStore().fileURL());
    h.ratings->answerLastPost(RatingsUploadResult::accepted("S"));
    const auto status = h.settle();
    EXPECT_EQ(readFile(h.ratingsStore().fileURL()), bytes);
    EXPECT_EQ(status.ratings, replaced.summary());
    // The chain went on to the page that is queued now.
    ASSERT_EQ(h.ratings->postCount(), 2u);
    EXPECT_EQ(h.ratings->payload(1).syncID, "q1");
}

TEST_F(CaptureControllerRatingsTest, AnswerAfterTheFileTurnedUnreadableOnlyClearsTheSummary) {
    h.seedRatings(withPages({ratingsPage("p1", "change")}));
    h.start();
    drainAndSettle();
    writeFile(h.ratingsStore().fileURL(), "broken");
    h.ratings->answerLastPost(RatingsUploadResult::accepted(""));
    EXPECT_FALSE(h.settle().ratings);
    EXPECT_EQ(readFile(h.ratingsStore().fileURL()), "broken");
}

// MARK: one chain for both queues

TEST_F(CaptureControllerRatingsTest, PagesFollowDueReconcilePayloadsInTheSameChain) {
    h.seedRuntime({pendingPayload("r1", 1), pendingPayload("r2", 2)});
    h.seedRatings(withPages({ratingsPage("p1", "change"), ratingsPage("p2", "change")}));
    h.start();
    drainAndSettle();
    ASSERT_NO_FATAL_FAILURE(acceptInOrder(4));
    EXPECT_EQ(h.log.events(), (std::vector<std::string>{"post:1", "post:2", "page:p1", "page:p2"}));
    const auto status = h.settle();
    EXPECT_EQ(status.pending, 0);
    EXPECT_EQ(status.ratings->pending, 0);
}

TEST_F(CaptureControllerRatingsTest, PagesCountTowardsTheTwentyResultsOfAChain) {
    std::vector<PendingPayload> payloads;
    for (int i = 0; i < 19; ++i)
        payloads.push_back(pendingPayload("r" + std::to_string(i), i));
    h.seedRuntime(payloads);
    h.seedRatings(withPages(
        {ratingsPage("p1", "change"), ratingsPage("p2", "change"), ratingsPage("p3", "change")}));
    h.start();
    drainAndSettle();
    ASSERT_NO_FATAL_FAILURE(acceptInOrder(20));
    EXPECT_EQ(h.transport->count(), 19u);
    EXPECT_EQ(h.ratings->postCount(), 1u);
    EXPECT_EQ(h.settle().ratings->pending, 2);
}

TEST_F(CaptureControllerRatingsTest, StaleRatingsAnswerAfterResetDoesNotEndANewerUpload) {
    h.seedRatings(withPages({ratingsPage("p1", "change")}));
    h.seedRuntime({});
    h.start();
    drainAndSettle();
    ASSERT_EQ(h.ratings->postCount(), 1u);
    h.controller->reset();
    h.worker->setBody([&](const std::string&) {
        auto state = h.runtimeFile();
        state.pending = {pendingPayload("fresh", 7)};
        state.lastSuccessfulScanAt = h.nowSeconds();
        h.runtimeStore().save(state);
        return CaptureWorkerResult{true, "", std::nullopt};
    });
    h.controller->scan("manual", true);
    h.settle();
    ASSERT_EQ(h.transport->count(), 1u);
    h.ratings->answerLastPost(RatingsUploadResult::accepted(""));
    h.settle();
    // Had the stale answer ended the upload, the same payload would have gone out again.
    EXPECT_EQ(h.transport->count(), 1u);
    h.transport->answerLast(UploadResult::accepted());
    EXPECT_EQ(h.settle().pending, 0);
}

TEST_F(CaptureControllerRatingsTest, ScanEndReloadsTheSummaryTheWorkerLeft) {
    h.start();
    RatingsSyncState written = withPages({ratingsPage("w1", "baseline")});
    h.worker->setBody([&](const std::string&) {
        h.seedRatings(written);
        return CaptureWorkerResult{true, "", std::nullopt};
    });
    h.setCredential(std::nullopt);
    h.controller->scan("launch", false);
    EXPECT_EQ(h.settle().ratings, written.summary());
}
