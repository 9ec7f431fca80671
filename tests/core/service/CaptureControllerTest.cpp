#include "CaptureControllerHarness.hpp"

#include "core/common/FileIO.hpp"
#include "core/player/NonLibrarySessionStore.hpp"

#include <limits>
#include <regex>

using namespace qb;
using namespace qb::test;

namespace {

bool isLowercaseUuid(const std::string& text) {
    static const std::regex uuid(
        "^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$");
    return std::regex_match(text, uuid);
}

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// Requests a scan and waits for the work queue; returns what the completion received.
std::optional<bool> requestScan(ControllerHarness& h, const std::string& trigger, bool force) {
    auto received = std::make_shared<std::optional<bool>>();
    h.controller->scan(trigger, force, [received](bool ok) { *received = ok; });
    h.settle();
    return *received;
}

// Makes the runtime file unwritable: a directory cannot be renamed over.
void blockRuntimeFile(ControllerHarness& h) {
    const auto path = h.runtimeStore().fileURL();
    std::filesystem::remove(path);
    std::filesystem::create_directories(path / "blocked");
}

void unblockRuntimeFile(ControllerHarness& h) {
    std::filesystem::remove_all(h.runtimeStore().fileURL());
}

PlayerSessionRecord session(const std::string& id) {
    PlayerSessionRecord record;
    record.sessionID = id;
    record.artist = "Someone";
    record.track = "Something";
    record.durationMS = 180000;
    record.firstObservedAt = 100;
    record.lastObservedAt = 280;
    record.playingMS = 180000;
    return record;
}

} // namespace

// MARK: construction

TEST(CaptureControllerConstruction, NewDirectoryStartsEmptyAndPersistsTheInstallIDAtOnce) {
    ControllerHarness h;
    h.start();
    ASSERT_TRUE(fileio::exists(h.runtimeStore().fileURL()));
    const auto status = h.settle();
    EXPECT_TRUE(isLowercaseUuid(status.installID)) << status.installID;
    EXPECT_EQ(h.runtimeFile().installID, status.installID);
    EXPECT_EQ(h.controller->installID(), status.installID);
    EXPECT_EQ(status.pending, 0);
    EXPECT_FALSE(status.lastScanAt);
    EXPECT_FALSE(status.lastUploadAt);
    EXPECT_FALSE(status.diagnostics);
    EXPECT_FALSE(status.ratings);
    EXPECT_FALSE(status.paused);
    EXPECT_FALSE(status.scanning);
    EXPECT_TRUE(status.connected);
    EXPECT_EQ(status.lastError, "");
    // Construction neither publishes nor scans nor uploads.
    EXPECT_TRUE(h.delivered().empty());
    EXPECT_TRUE(h.worker->triggers().empty());
    EXPECT_TRUE(h.log.events().empty());
}

TEST(CaptureControllerConstruction, ConnectedFollowsTheCredentialSeenAtStart) {
    for (const auto& credential :
         {std::optional<UploadCredential>{}, std::optional(plainHttpCredential())}) {
        ControllerHarness h;
        h.setCredential(credential);
        h.start();
        EXPECT_FALSE(h.settle().connected);
    }
}

TEST(CaptureControllerConstruction, LoadsAnExistingRuntimeStateWithoutNewID) {
    ControllerHarness h;
    h.seedRuntime({pendingPayload("a", 1), pendingPayload("b", 2)}, {}, 1234);
    h.start();
    const auto status = h.settle();
    EXPECT_EQ(status.installID, ControllerHarness::seededInstallID);
    EXPECT_EQ(status.pending, 2);
    EXPECT_EQ(status.lastScanAt, 1234);
}

TEST(CaptureControllerConstruction, DeletesTheLegacyStateFile) {
    ControllerHarness h;
    writeFile(h.dir / "capture-state.json", "{}");
    h.start();
    EXPECT_FALSE(fileio::exists(h.dir / "capture-state.json"));
}

TEST(CaptureControllerConstruction, IgnoresALegacyPathThatCannotBeDeleted) {
    ControllerHarness h;
    std::filesystem::create_directories(h.dir / "capture-state.json" / "inside");
    h.start();
    EXPECT_EQ(h.settle().lastError, "");
}

TEST(CaptureControllerConstruction, UnreadableRuntimeStateIsReplacedByAFreshOneNamingTheReason) {
    ControllerHarness h;
    writeFile(h.runtimeStore().fileURL(), "{not json");
    h.start();
    const auto status = h.settle();
    EXPECT_TRUE(startsWith(status.lastError, "Capture state unreadable: ")) << status.lastError;
    EXPECT_TRUE(isLowercaseUuid(status.installID)) << status.installID;
    // The replacement is on disk, reason included.
    const auto saved = h.runtimeFile();
    EXPECT_EQ(saved.installID, status.installID);
    EXPECT_EQ(saved.lastError, status.lastError);
}

TEST(CaptureControllerConstruction, UnsupportedSchemaIsTreatedAsUnreadable) {
    ControllerHarness h;
    Json json = CaptureRuntimeState::fresh(ControllerHarness::seededInstallID).toJson();
    json["schemaVersion"] = 2;
    json["pending"] = Json::array({pendingPayload("lost", 1).toJson()});
    writeFile(h.runtimeStore().fileURL(), json::dump(json));
    h.start();
    const auto status = h.settle();
    EXPECT_EQ(status.lastError, "Capture state unreadable: unsupported runtime schema");
    EXPECT_NE(status.installID, ControllerHarness::seededInstallID);
    EXPECT_EQ(status.pending, 0);
}

TEST(CaptureControllerConstruction, ReadsTheRatingsSummaryOnlyFromALoadableFile) {
    {
        ControllerHarness h;
        RatingsSyncState ratings;
        ratings.pending = {ratingsPage("p1", "change"), ratingsPage("p2", "change")};
        ratings.userRated = 3;
        ratings.favourites = 1;
        ratings.lastSyncedAt = 77;
        ratings.serverBaselineSnapshotID = "S";
        h.seedRatings(ratings);
        h.start();
        EXPECT_EQ(h.settle().ratings, ratings.summary());
    }
    {
        ControllerHarness h;
        writeFile(h.ratingsStore().fileURL(), "garbage");
        h.start();
        EXPECT_FALSE(h.settle().ratings);
    }
}

// MARK: scan scheduling

class CaptureControllerScanTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // No credential: scans are not followed by uploads unless a test wants them.
        h.setCredential(std::nullopt);
        h.library.setTracks({song("00000000000000A1", 3), song("00000000000000A2", 0)});
        h.useInProcessWorker();
        h.start();
    }
    // A first scan at the current time, so that the minimum interval applies.
    void scanOnce() {
        ASSERT_EQ(requestScan(h, "launch", false), true);
        ASSERT_EQ(h.settle().lastScanAt, h.nowSeconds());
        h.delivered();
    }
    ControllerHarness h;
};

TEST_F(CaptureControllerScanTest, FirstUnforcedScanRunsAtOnce) {
    EXPECT_EQ(requestScan(h, "launch", false), true);
    EXPECT_EQ(h.worker->triggers(), std::vector<std::string>{"launch"});
    const auto status = h.settle();
    EXPECT_EQ(status.lastScanAt, h.nowSeconds());
    ASSERT_TRUE(status.diagnostics);
    EXPECT_EQ(status.diagnostics->trigger, "launch");
    EXPECT_TRUE(status.diagnostics->isBaseline);
    EXPECT_EQ(status.pending, 1); // the baseline report
    EXPECT_EQ(h.delayedCount(), 0u);
}

TEST_F(CaptureControllerScanTest, RequestWithinTheIntervalBecomesATrailingScan) {
    scanOnce();
    h.advance(30);
    EXPECT_EQ(requestScan(h, "periodic", false), true);
    EXPECT_EQ(h.worker->triggers().size(), 1u);
    EXPECT_TRUE(h.delivered().empty()); // a deferral publishes nothing
    ASSERT_EQ(h.delayedCount(), 1u);
    EXPECT_EQ(h.delayedAt(0).seconds, 30);

    h.advance(30);
    h.fire(0);
    EXPECT_EQ(h.worker->triggers().back(), "periodic_trailing");
    EXPECT_EQ(h.settle().diagnostics->trigger, "periodic_trailing");
}

TEST_F(CaptureControllerScanTest, ShortRemainderWaitsAtLeastFiveSeconds) {
    scanOnce();
    h.advance(58);
    requestScan(h, "library_changed", false);
    ASSERT_EQ(h.delayedCount(), 1u);
    EXPECT_EQ(h.delayedAt(0).seconds, 5);
    h.advance(5);
    h.fire(0);
    EXPECT_EQ(h.worker->triggers(),
              (std::vector<std::string>{"launch", "library_changed_trailing"}));
}

TEST_F(CaptureControllerScanTest, ForceLiftsOnlyTheMinimumInterval) {
    scanOnce();
    h.advance(10);
    EXPECT_EQ(requestScan(h, "manual", true), true);
    EXPECT_EQ(h.worker->triggers(), (std::vector<std::string>{"launch", "manual"}));
    EXPECT_EQ(h.delayedCount(), 0u);

    h.controller->setPaused(true);
    h.advance(120);
    EXPECT_EQ(requestScan(h, "manual", true), true);
    EXPECT_EQ(h.worker->triggers().size(), 2u);
    EXPECT_EQ(h.delayedCount(), 0u); // no trailing scan while paused
}

TEST_F(CaptureControllerScanTest, ForcedRequestDuringAnUploadTrailsItAndTheChainGoesOn) {
    h.setCredential(usableCredential());
    scanOnce(); // its baseline report is now in flight
    ASSERT_EQ(h.transport->count(), 1u);
    const int64_t drainStart = h.nowSeconds();
    h.advance(120);
    EXPECT_EQ(requestScan(h, "manual", true), true);
    EXPECT_EQ(h.worker->triggers().size(), 1u);
    ASSERT_EQ(h.delayedCount(), 1u);
    EXPECT_EQ(h.delayedAt(0).seconds, 5);

    h.transport->answerLast(UploadResult::accepted());
    const auto status = h.settle();
    EXPECT_EQ(status.pending, 0);
    EXPECT_EQ(status.lastUploadAt, drainStart);

    h.fire(0);
    EXPECT_EQ(h.worker->triggers().back(), "manual_trailing");
}

TEST_F(CaptureControllerScanTest, RequestsMadeDuringAScanWaitForIt) {
    std::atomic<int> running{0};
    std::atomic<int> overlaps{0};
    auto pass = std::make_shared<CaptureScanWorker>(h.library, CaptureBaselineStore(h.dir.path()),
                                                    CaptureRuntimeStore(h.dir.path()));
    h.worker->setBody([&, pass](const std::string& trigger) {
        if (running++ > 0) ++overlaps;
        if (trigger == "launch") h.controller->scan("library_changed", false);
        auto result = pass->run(trigger, h.nowSeconds());
        --running;
        return result;
    });
    requestScan(h, "launch", false);
    h.settle();
    EXPECT_EQ(overlaps, 0);
    // The request ran after the scan, inside the new interval.
    EXPECT_EQ(h.worker->triggers(), std::vector<std::string>{"launch"});
    ASSERT_EQ(h.delayedCount(), 1u);
    EXPECT_EQ(h.delayedAt(0).seconds, 60);
}

TEST_F(CaptureControllerScanTest, DeferredRequestsShareOneTrailingScanWithTheFirstTrigger) {
    scanOnce();
    h.advance(30);
    for (const char* trigger : {"wake", "library_changed", "periodic"})
        EXPECT_EQ(requestScan(h, trigger, false), true);
    ASSERT_EQ(h.delayedCount(), 1u);

    // Fired too early, it defers itself again under the same trigger.
    h.advance(10);
    h.fire(0);
    EXPECT_EQ(h.worker->triggers().size(), 1u);
    ASSERT_EQ(h.delayedCount(), 2u);
    EXPECT_EQ(h.delayedAt(1).seconds, 20);

    h.advance(20);
    h.fire(1);
    EXPECT_EQ(h.worker->triggers(), (std::vector<std::string>{"launch", "wake_trailing"}));

    // Once it has fired, a new deferral schedules again.
    h.advance(1);
    requestScan(h, "periodic", false);
    EXPECT_EQ(h.delayedCount(), 3u);
}

TEST_F(CaptureControllerScanTest, PauseDropsDeferredAndAlreadyScheduledTrailingScans) {
    scanOnce();
    h.advance(30);
    requestScan(h, "periodic", false);
    ASSERT_EQ(h.delayedCount(), 1u);
    h.controller->setPaused(true);
    h.advance(60);
    h.fire(0);
    EXPECT_EQ(h.worker->triggers().size(), 1u);
    EXPECT_EQ(h.delayedCount(), 1u);

    requestScan(h, "wake", false);
    EXPECT_EQ(h.delayedCount(), 1u);

    h.controller->setPaused(false);
    EXPECT_EQ(requestScan(h, "wake", false), true);
    EXPECT_EQ(h.worker->triggers().back(), "wake");
}

TEST_F(CaptureControllerScanTest, ClockSetBackDefersByTheFullUnclampedRemainder) {
    scanOnce();
    h.advance(-100);
    requestScan(h, "periodic", false);
    ASSERT_EQ(h.delayedCount(), 1u);
    EXPECT_EQ(h.delayedAt(0).seconds, 160);
}

TEST_F(CaptureControllerScanTest, AbsurdLastScanTimeDoesNotOverflow) {
    h.seedRuntime({}, {}, std::numeric_limits<int64_t>::min());
    h.controller.reset();
    h.start();
    EXPECT_EQ(requestScan(h, "launch", false), true);
    EXPECT_EQ(h.worker->triggers(), std::vector<std::string>{"launch"});
}

TEST_F(CaptureControllerScanTest, ScanPublishesScanningBeforeTheReloadedState) {
    requestScan(h, "launch", false);
    const auto statuses = h.delivered();
    ASSERT_GE(statuses.size(), 2u);
    EXPECT_TRUE(statuses[0].scanning);
    EXPECT_FALSE(statuses[0].lastScanAt);
    EXPECT_FALSE(statuses[1].scanning);
    EXPECT_EQ(statuses[1].lastScanAt, h.nowSeconds());
    EXPECT_EQ(statuses[1].pending, 1);
    // The drain that follows has no credential and only refreshes `connected`.
    EXPECT_FALSE(statuses.back().connected);
    EXPECT_FALSE(statuses.back().scanning);
}

TEST_F(CaptureControllerScanTest, SnapshotsArriveInOrderToTheCallbackSetAtDelivery) {
    h.controller->setPaused(true);
    h.controller->setPaused(false);
    h.controller->setPaused(true);
    h.settle();
    std::vector<bool> seen;
    h.controller->setOnStatusChange(
        [&](const CaptureServiceStatus& status) { seen.push_back(status.paused); });
    h.mainThread.runAll();
    EXPECT_EQ(seen, (std::vector<bool>{true, false, true}));
}

// MARK: worker results

TEST(CaptureControllerWorkerResult, FailureShowsTheWorkerErrorAndSkipsTheDrain) {
    ControllerHarness h;
    h.seedRuntime({pendingPayload("due", 1)});
    h.worker->setBody([&](const std::string&) {
        // The worker persisted its own view; the result's text wins.
        auto state = h.runtimeFile();
        state.lastError = "written by the worker";
        state.lastSuccessfulScanAt = 555;
        h.runtimeStore().save(state);
        return CaptureWorkerResult{false, "library exploded", std::nullopt};
    });
    h.start();
    EXPECT_EQ(requestScan(h, "launch", false), false);
    const auto status = h.settle();
    EXPECT_EQ(status.lastError, "library exploded");
    EXPECT_EQ(status.lastScanAt, 555);
    EXPECT_EQ(h.transport->count(), 0u);
}

TEST(CaptureControllerWorkerResult, InProcessFailureOfTheLibraryReachesTheStatus) {
    ControllerHarness h;
    h.library.setUnavailable(true);
    h.useInProcessWorker();
    h.start();
    EXPECT_EQ(requestScan(h, "launch", false), false);
    const auto status = h.settle();
    EXPECT_EQ(status.lastError, "Music library unavailable: library gone");
    EXPECT_FALSE(status.lastScanAt);
    EXPECT_EQ(h.transport->count(), 0u);
}

TEST(CaptureControllerWorkerResult, UnreadableStateAfterTheScanKeepsTheOldStateAndShowsWhy) {
    ControllerHarness h;
    h.seedRuntime({pendingPayload("due", 1)}, {}, 900);
    h.worker->setBody([&](const std::string&) {
        writeFile(h.runtimeStore().fileURL(), "[]");
        return CaptureWorkerResult{true, "", std::nullopt};
    });
    h.start();
    EXPECT_EQ(requestScan(h, "launch", false), true);
    const auto status = h.settle();
    EXPECT_TRUE(startsWith(status.lastError, "Capture state unreadable: ")) << status.lastError;
    EXPECT_EQ(status.installID, ControllerHarness::seededInstallID);
    EXPECT_EQ(status.lastScanAt, 900);
    // The file may hold payloads the memory does not: nothing is sent or written from the
    // older state, or the next save would drop them.
    EXPECT_EQ(h.transport->count(), 0u);
    h.controller->setPaused(true);
    h.controller->drain();
    h.settle();
    EXPECT_EQ(readFile(h.runtimeStore().fileURL()), "[]");
    EXPECT_EQ(h.transport->count(), 0u);

    // Once the file reads again, everything goes on from what it says.
    h.seedRuntime({pendingPayload("due", 1), pendingPayload("new", 2)}, {}, 960);
    h.controller->drain();
    EXPECT_EQ(h.settle().pending, 2);
    EXPECT_EQ(h.transport->count(), 1u);
}

// MARK: pause, reset, player sessions

TEST(CaptureControllerPause, IsPersistedAndPublished) {
    ControllerHarness h;
    h.start();
    h.controller->setPaused(true);
    EXPECT_TRUE(h.settle().paused);
    EXPECT_TRUE(h.runtimeFile().paused);
    const auto statuses = h.delivered();
    ASSERT_EQ(statuses.size(), 1u);
    EXPECT_TRUE(statuses[0].paused);
}

TEST(CaptureControllerPause, FailedSaveKeepsTheOldValueAndShowsTheWriteError) {
    ControllerHarness h;
    h.start();
    blockRuntimeFile(h);
    h.controller->setPaused(true);
    const auto status = h.settle();
    EXPECT_FALSE(status.paused);
    EXPECT_TRUE(startsWith(status.lastError, "Capture state write failed: runtime: "))
        << status.lastError;
    const auto statuses = h.delivered();
    ASSERT_EQ(statuses.size(), 1u);
    EXPECT_EQ(statuses[0], status);
}

TEST(CaptureControllerPause, UploadsGoOnWhilePaused) {
    ControllerHarness h;
    h.seedRuntime({pendingPayload("due", 1)});
    h.start();
    h.controller->setPaused(true);
    h.controller->drain();
    h.settle();
    EXPECT_EQ(h.transport->count(), 1u);
}

TEST(CaptureControllerReset, StartsOverWithANewIdentityAndNoFiles) {
    ControllerHarness h;
    h.library.setTracks({song("00000000000000A1", 3)});
    h.useInProcessWorker();
    h.setCredential(std::nullopt);
    RatingsSyncState ratings;
    ratings.pending = {ratingsPage("p1", "change")};
    h.seedRatings(ratings);
    h.start();
    h.controller->prepareNonLibrarySessions();
    requestScan(h, "launch", false);
    h.setCredential(usableCredential());
    h.controller->noteCredentialChanged();
    const auto before = h.settle();
    ASSERT_TRUE(before.connected);
    ASSERT_EQ(before.pending, 1);
    ASSERT_TRUE(before.ratings);
    const CaptureBaselineStore baseline(h.dir.path());
    const NonLibrarySessionStore journal(h.dir.path());
    ASSERT_TRUE(fileio::exists(baseline.fileURL()));
    ASSERT_TRUE(journal.exists());
    h.delivered();

    h.controller->reset();
    const auto after = h.settle();
    EXPECT_NE(after.installID, before.installID);
    EXPECT_TRUE(isLowercaseUuid(after.installID)) << after.installID;
    EXPECT_EQ(h.controller->installID(), after.installID);
    EXPECT_EQ(after.pending, 0);
    EXPECT_FALSE(after.ratings);
    EXPECT_FALSE(after.connected);
    EXPECT_FALSE(after.lastScanAt);
    EXPECT_FALSE(fileio::exists(baseline.fileURL()));
    EXPECT_FALSE(journal.exists());
    EXPECT_FALSE(h.ratingsFileExists());
    const auto saved = h.runtimeFile();
    EXPECT_EQ(saved.installID, after.installID);
    EXPECT_TRUE(saved.pending.empty());
    const auto statuses = h.delivered();
    ASSERT_FALSE(statuses.empty());
    EXPECT_EQ(statuses.back(), after);
}

TEST(CaptureControllerReset, LeavesAScheduledTrailingScanToFire) {
    ControllerHarness h;
    h.setCredential(std::nullopt);
    h.useInProcessWorker();
    h.start();
    requestScan(h, "launch", false);
    h.advance(30);
    requestScan(h, "periodic", false);
    ASSERT_EQ(h.delayedCount(), 1u);
    h.controller->reset();
    h.fire(0);
    EXPECT_EQ(h.worker->triggers().back(), "periodic_trailing");
    EXPECT_TRUE(h.settle().diagnostics->isBaseline);
}

TEST(CaptureControllerReset, PassesTheFirstStoreFailureToTheCaller) {
    ControllerHarness h;
    h.seedRuntime({pendingPayload("kept", 1)});
    h.start();
    std::filesystem::create_directories(CaptureBaselineStore(h.dir.path()).fileURL() / "x");
    EXPECT_ANY_THROW(h.controller->reset());
    // It stopped there: the identity in memory is untouched and nothing was published.
    EXPECT_EQ(h.settle().installID, ControllerHarness::seededInstallID);
    EXPECT_TRUE(h.delivered().empty());
}

TEST(CaptureControllerPlayerSessions, JournalGrowsOnlyWhileNotPaused) {
    ControllerHarness h;
    h.start();
    const NonLibrarySessionStore journal(h.dir.path());
    h.controller->recordPlayerSession(session("before-prepare"));
    h.settle();
    EXPECT_FALSE(journal.exists()); // without a journal, sessions are not captured

    h.controller->prepareNonLibrarySessions();
    h.controller->recordPlayerSession(session("s1"));
    h.settle();
    ASSERT_EQ(journal.load().sessions.size(), 1u);
    EXPECT_EQ(journal.load().sessions[0].sessionID, "s1");

    h.controller->setPaused(true);
    const std::string bytes = readFile(journal.fileURL());
    h.controller->recordPlayerSession(session("s2"));
    h.settle();
    EXPECT_EQ(readFile(journal.fileURL()), bytes);

    // Preparing again keeps what is there; discarding deletes it.
    h.controller->prepareNonLibrarySessions();
    h.settle();
    EXPECT_EQ(readFile(journal.fileURL()), bytes);
    h.controller->discardNonLibrarySessions();
    h.settle();
    EXPECT_FALSE(journal.exists());
}

// MARK: reconcile drain

class CaptureControllerDrainTest : public ::testing::Test {
  protected:
    void drainAndSettle() {
        h.controller->drain();
        h.settle();
    }
    PendingPayload queued(const std::string& id) {
        for (const auto& entry : h.runtimeFile().pending)
            if (entry.id == id) return entry;
        ADD_FAILURE() << id << " is not queued";
        return {};
    }
    ControllerHarness h;
};

TEST_F(CaptureControllerDrainTest, APayloadNotYetDueDoesNotBlockTheNextOne) {
    h.seedRuntime({pendingPayload("later", 1, h.nowSeconds() + 100), pendingPayload("due", 2)});
    h.start();
    drainAndSettle();
    ASSERT_EQ(h.transport->count(), 1u);
    EXPECT_EQ(h.transport->payload(0).completionLibrary.songCount, 2);
    EXPECT_EQ(h.transport->credential(0), usableCredential());
    h.transport->answerLast(UploadResult::accepted());
    h.settle();
    EXPECT_EQ(h.transport->count(), 1u); // the other is still not due
    EXPECT_EQ(h.settle().pending, 1);
}

TEST_F(CaptureControllerDrainTest, TransientFailuresBackOffFromTheStartOfEachPass) {
    h.seedRuntime({pendingPayload("p", 1), pendingPayload("other", 2)});
    h.start();
    const int64_t delays[] = {2, 4, 8};
    for (int pass = 0; pass < 3; ++pass) {
        const int64_t startedAt = h.nowSeconds();
        drainAndSettle();
        ASSERT_EQ(h.transport->count(), static_cast<size_t>(pass + 1));
        EXPECT_EQ(h.transport->payload(pass).completionLibrary.songCount, 1);
        h.advance(1); // the answer arrives later than the pass started
        h.transport->answerLast(UploadResult::transient("http_500"));
        h.settle();
        const auto entry = queued("p");
        EXPECT_EQ(entry.attempts, pass + 1);
        EXPECT_EQ(entry.nextAttemptAt, startedAt + delays[pass]);
        EXPECT_EQ(entry.lastError, "http_500");
        // The chain stopped: the other due payload was not sent.
        EXPECT_EQ(h.transport->count(), static_cast<size_t>(pass + 1));
        h.setNow(static_cast<double>(entry.nextAttemptAt));
    }
    const auto status = h.settle();
    EXPECT_EQ(status.lastError, "http_500");
    EXPECT_EQ(status.pending, 2);
    EXPECT_EQ(h.runtimeFile().pending.front().id, "p"); // it keeps its place
}

TEST_F(CaptureControllerDrainTest, BackoffIsCappedAndNeverNegative) {
    const std::pair<int64_t, int64_t> cases[] = {
        {9, 1024}, {10, 2048}, {40, 2048}, {std::numeric_limits<int64_t>::max(), 2048}, {-3, 0}};
    for (const auto& [attempts, delay] : cases) {
        ControllerHarness local;
        local.seedRuntime({pendingPayload("p", 1, 0, attempts)});
        local.start();
        local.controller->drain();
        local.settle();
        local.transport->answerLast(UploadResult::transient("offline"));
        local.settle();
        const auto entry = local.runtimeFile().pending.at(0);
        EXPECT_EQ(entry.nextAttemptAt, local.nowSeconds() + delay) << attempts;
        // A count that cannot grow any more stays where it is.
        const int64_t next =
            attempts == std::numeric_limits<int64_t>::max() ? attempts : attempts + 1;
        EXPECT_EQ(entry.attempts, next);
    }
}

TEST_F(CaptureControllerDrainTest, PermanentRejectionDeadLettersThePayloadAndTheChainGoesOn) {
    h.seedRuntime({pendingPayload("bad", 1), pendingPayload("good", 2)});
    h.start();
    const int64_t startedAt = h.nowSeconds();
    drainAndSettle();
    h.advance(3);
    h.transport->answerLast(UploadResult::permanentRejected(422));
    auto status = h.settle();
    EXPECT_EQ(status.lastError, "payload_rejected_422");
    EXPECT_EQ(status.pending, 1);
    const auto state = h.runtimeFile();
    ASSERT_EQ(state.deadLetters.size(), 1u);
    EXPECT_EQ(state.deadLetters[0], (DeadLetter{"bad", startedAt, "http_422"}));
    ASSERT_EQ(h.transport->count(), 2u);
    EXPECT_EQ(h.transport->payload(1).completionLibrary.songCount, 2);

    const int64_t secondStart = h.nowSeconds();
    h.advance(3);
    h.transport->answerLast(UploadResult::accepted());
    status = h.settle();
    EXPECT_EQ(status.lastError, "");
    EXPECT_EQ(status.pending, 0);
    EXPECT_EQ(status.lastUploadAt, secondStart);
}

TEST_F(CaptureControllerDrainTest, OnlyTheNewestTwentyDeadLettersAreKept) {
    std::vector<DeadLetter> letters;
    for (int i = 0; i < 20; ++i)
        letters.push_back({"old-" + std::to_string(i), 100 + i, "http_400"});
    h.seedRuntime({pendingPayload("bad", 1)}, letters);
    h.start();
    drainAndSettle();
    h.transport->answerLast(UploadResult::permanentRejected(400));
    h.settle();
    const auto kept = h.runtimeFile().deadLetters;
    ASSERT_EQ(kept.size(), 20u);
    EXPECT_EQ(kept.front().payloadID, "old-1");
    EXPECT_EQ(kept.back(), (DeadLetter{"bad", h.nowSeconds(), "http_400"}));
}

TEST_F(CaptureControllerDrainTest, RejectedCredentialKeepsThePayloadAndStopsTheChain) {
    for (const int64_t code : {401, 403}) {
        ControllerHarness local;
        local.seedRuntime({pendingPayload("p", 1, 0, 2), pendingPayload("q", 2)});
        local.start();
        local.controller->drain();
        local.settle();
        local.transport->answerLast(UploadResult::credentialRejected(code));
        const auto status = local.settle();
        const std::string text = "credential_rejected_" + std::to_string(code);
        EXPECT_EQ(status.lastError, text);
        EXPECT_FALSE(status.connected);
        EXPECT_EQ(status.pending, 2);
        const auto entry = local.runtimeFile().pending.at(0);
        EXPECT_EQ(entry.attempts, 2);
        EXPECT_EQ(entry.nextAttemptAt, 0);
        EXPECT_EQ(entry.lastError, text);
        EXPECT_EQ(local.credentialRejections, 1);
        EXPECT_FALSE(local.rejectionOffQueue);
        EXPECT_EQ(local.transport->count(), 1u);
        EXPECT_FALSE(local.delivered().back().connected);
    }
}

TEST_F(CaptureControllerDrainTest, NewCredentialAfterARejectionSendsAgain) {
    h.seedRuntime({pendingPayload("p", 1)});
    h.start();
    drainAndSettle();
    h.transport->answerLast(UploadResult::credentialRejected(401));
    h.settle();
    UploadCredential fresh = usableCredential();
    fresh.token = "token-2";
    h.setCredential(fresh);
    h.controller->noteCredentialChanged();
    EXPECT_TRUE(h.settle().connected);
    ASSERT_EQ(h.transport->count(), 2u);
    EXPECT_EQ(h.transport->credential(1).token, "token-2");
}

TEST_F(CaptureControllerDrainTest, OneChainHandlesAtMostTwentyResults) {
    std::vector<PendingPayload> pending;
    for (int i = 0; i < 25; ++i)
        pending.push_back(pendingPayload("p" + std::to_string(i), i));
    h.seedRuntime(pending);
    h.start();
    drainAndSettle();
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(h.transport->count(), static_cast<size_t>(i + 1));
        EXPECT_EQ(h.transport->payload(i).completionLibrary.songCount, i);
        h.transport->answerLast(UploadResult::accepted());
        h.settle();
    }
    EXPECT_EQ(h.transport->count(), 20u);
    const auto status = h.settle();
    EXPECT_EQ(status.pending, 5);
    EXPECT_TRUE(status.connected);
    drainAndSettle();
    EXPECT_EQ(h.transport->count(), 21u);
}

TEST_F(CaptureControllerDrainTest, UnusableCredentialSendsNothingAndOnlyRefreshesConnected) {
    h.seedRuntime({pendingPayload("p", 1)});
    h.start();
    h.setCredential(plainHttpCredential());
    drainAndSettle();
    EXPECT_EQ(h.transport->count(), 0u);
    EXPECT_FALSE(h.settle().connected);
    const auto statuses = h.delivered();
    ASSERT_EQ(statuses.size(), 1u);
    EXPECT_FALSE(statuses[0].connected);
}

TEST_F(CaptureControllerDrainTest, AnswerForAPayloadRemovedByResetContinuesTheChain) {
    h.seedRuntime({pendingPayload("p", 1)});
    h.start();
    drainAndSettle();
    h.controller->reset();
    ASSERT_FALSE(h.settle().connected);
    h.transport->answerLast(UploadResult::accepted());
    const auto status = h.settle();
    // The continued drain looked at the credential again; nothing of the answer was kept.
    EXPECT_TRUE(status.connected);
    EXPECT_FALSE(status.lastUploadAt);
    EXPECT_TRUE(h.runtimeFile().pending.empty());
}

TEST_F(CaptureControllerDrainTest, StaleAnswerAfterResetDoesNotStartASecondUpload) {
    h.seedRuntime({pendingPayload("p", 1)});
    h.useInProcessWorker();
    h.library.setTracks({song("00000000000000A1", 1)});
    h.start();
    drainAndSettle();
    h.controller->reset();
    requestScan(h, "manual", true); // its baseline report goes out at once
    ASSERT_EQ(h.transport->count(), 2u);
    h.transport->answer(0, UploadResult::accepted());
    h.settle();
    EXPECT_EQ(h.transport->count(), 2u) << "a second upload went out while one was in flight";

    h.transport->answer(1, UploadResult::accepted());
    const auto status = h.settle();
    EXPECT_EQ(status.pending, 0);
    EXPECT_EQ(status.lastUploadAt, h.nowSeconds());
}

TEST_F(CaptureControllerDrainTest, FailedSaveAfterAnAnswerKeepsThePayloadQueued) {
    h.seedRuntime({pendingPayload("p", 1)});
    h.start();
    drainAndSettle();
    blockRuntimeFile(h);
    h.transport->answerLast(UploadResult::accepted());
    auto status = h.settle();
    EXPECT_EQ(status.pending, 1);
    EXPECT_FALSE(status.lastUploadAt);
    EXPECT_TRUE(startsWith(status.lastError, "Capture state write failed: runtime: "))
        << status.lastError;
    // Still queued and due, but not sent again in the same chain: it would only be sent again
    // at once, and again, while the disk refuses.
    EXPECT_EQ(h.transport->count(), 1u);

    unblockRuntimeFile(h);
    h.controller->drain();
    h.settle();
    ASSERT_EQ(h.transport->count(), 2u);
    EXPECT_EQ(h.transport->payload(1), h.transport->payload(0));
    h.transport->answerLast(UploadResult::accepted());
    status = h.settle();
    EXPECT_EQ(status.pending, 0);
    EXPECT_EQ(status.lastError, "");
    EXPECT_TRUE(h.runtimeFile().pending.empty());
}

TEST_F(CaptureControllerDrainTest, SuccessfulScanDrainsWhatTheWorkerQueued) {
    h.useInProcessWorker();
    h.library.setTracks({song("00000000000000A1", 1)});
    h.start();
    requestScan(h, "launch", false);
    ASSERT_EQ(h.transport->count(), 1u);
    const auto body = h.transport->payload(0);
    EXPECT_TRUE(body.completionLibrary.isBaseline);
    EXPECT_EQ(body.installID, h.settle().installID);

    h.library.setTracks({song("00000000000000A1", 3)});
    h.transport->answerLast(UploadResult::accepted());
    h.advance(61);
    requestScan(h, "library_changed", false);
    ASSERT_EQ(h.transport->count(), 2u);
    const auto deltas = h.transport->payload(1).completionLibrary.deltas;
    ASSERT_EQ(deltas.size(), 1u);
    EXPECT_EQ(deltas[0].playCountBefore, 1);
    EXPECT_EQ(deltas[0].playCountAfter, 3);
}
