#include "TestSupport.hpp"
#include "core/capture/CaptureRuntimeState.hpp"
#include "core/capture/CaptureWorkerResult.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace qb;
using namespace qb::test;

namespace {

class CaptureWorkerProcess : public ::testing::Test {
  protected:
    TempDir dir;
    std::filesystem::path state = dir / "state";
    std::filesystem::path libraryFile = dir / "library.json";
    PlayCountLibrary library{{{1, 5}, {2, 0}, {3, 10}}};

    ProcessResult pass(const std::string& trigger = "manual") {
        library.write(libraryFile);
        return runProcess(
            executablePath(),
            {"--run-capture-worker", "--state-directory", state.string(), "--trigger", trigger},
            {{"QUILLABRENTA_LIBRARY", libraryFile.string()}});
    }
    CaptureWorkerResult resultOf(const ProcessResult& p) {
        EXPECT_FALSE(p.out.empty());
        EXPECT_NE(p.out.back(), '\n');
        return CaptureWorkerResult::fromJson(Json::parse(p.out));
    }
    CaptureRuntimeState runtime() {
        return CaptureRuntimeState::fromJson(Json::parse(readFile(state / "capture-runtime.json")));
    }
    void saveRuntime(const CaptureRuntimeState& s) {
        writeFile(state / "capture-runtime.json", s.toJson().dump());
    }
};

struct FileStamp {
    std::string bytes;
    timespec modified{};
    bool operator==(const FileStamp& o) const {
        return bytes == o.bytes && modified.tv_sec == o.modified.tv_sec &&
               modified.tv_nsec == o.modified.tv_nsec;
    }
};

FileStamp stamp(const std::filesystem::path& p) {
    struct stat info {};
    ::stat(p.c_str(), &info);
    return {readFile(p), info.st_mtim};
}

} // namespace

TEST_F(CaptureWorkerProcess, MissingArgumentsFailWithoutTouchingState) {
    for (auto args : std::vector<std::vector<std::string>>{
             {"--run-capture-worker", "--trigger", "manual"},
             {"--run-capture-worker", "--trigger", "manual", "--state-directory"},
             {"--run-capture-worker", "--state-directory", state.string()}}) {
        auto p = runProcess(executablePath(), args);
        EXPECT_EQ(p.status, 1);
        EXPECT_EQ(p.out, "");
        EXPECT_EQ(p.err, "missing worker arguments");
    }
    EXPECT_FALSE(std::filesystem::exists(state));
}

TEST_F(CaptureWorkerProcess, FirstPassCreatesBothFilesAndQueuesOneBaselinePayload) {
    auto p = pass("launch");
    ASSERT_EQ(p.status, 0) << p.err << p.out;
    EXPECT_EQ(p.err, "");
    auto result = resultOf(p);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.error, "");
    ASSERT_TRUE(result.diagnostics);
    EXPECT_TRUE(result.diagnostics->isBaseline);
    EXPECT_EQ(result.diagnostics->trigger, "launch");
    EXPECT_TRUE(std::filesystem::exists(state / "capture-baseline.json"));
    auto s = runtime();
    EXPECT_EQ(s.installID.size(), 36u);
    ASSERT_EQ(s.pending.size(), 1u);
    EXPECT_TRUE(s.pending[0].payload.completionLibrary.isBaseline);
    EXPECT_EQ(s.pending[0].payload.completionLibrary.songCount, 3);
    EXPECT_TRUE(s.lastSuccessfulScanAt.has_value());
    // No journal or ratings file appears unless it already existed.
    EXPECT_FALSE(std::filesystem::exists(state / "nonlibrary-player-sessions.json"));
    EXPECT_FALSE(std::filesystem::exists(state / "ratings-sync.json"));
}

TEST_F(CaptureWorkerProcess, RisingPlayCountsAreQueuedOnceAcrossRepeatedPasses) {
    ASSERT_EQ(pass().status, 0);
    library.plays[1] += 2;
    library.plays[3] += 250;
    auto p = pass("library_changed");
    ASSERT_EQ(p.status, 0) << p.out;
    auto result = resultOf(p);
    EXPECT_EQ(result.diagnostics->emittedCompletions, 252);
    auto queue = runtime().pending;
    // Baseline, then 200 + 52 plays split over two payloads.
    ASSERT_EQ(queue.size(), 3u);
    int64_t plays = 0;
    for (const auto& entry : queue)
        for (const auto& d : entry.payload.completionLibrary.deltas)
            plays += d.occurrenceCount();
    EXPECT_EQ(plays, 252);

    // Simulate a pass whose baseline save failed: the queue holds the deltas, the baseline is old.
    ASSERT_EQ(pass().status, 0);
    EXPECT_EQ(runtime().pending.size(), 4u); // one scan report without deltas joins
    library.plays[2] += 1;
    auto before = readFile(state / "capture-baseline.json");
    ASSERT_EQ(pass().status, 0);
    auto afterFirst = runtime().pending;
    writeFile(state / "capture-baseline.json", before);
    ASSERT_EQ(pass().status, 0);
    auto afterRepeat = runtime().pending;
    ASSERT_EQ(afterRepeat.size(), afterFirst.size());
    for (size_t i = 0; i < afterRepeat.size(); ++i)
        EXPECT_EQ(afterRepeat[i].id, afterFirst[i].id);
}

TEST_F(CaptureWorkerProcess, PausedPassTouchesNoFile) {
    ASSERT_EQ(pass().status, 0);
    auto s = runtime();
    s.paused = true;
    saveRuntime(s);
    writeFile(state / "nonlibrary-player-sessions.json",
              R"({"dispositions":{},"recentLibraryMoves":[],"schemaVersion":1,"sessions":[]})");
    std::map<std::string, FileStamp> before;
    for (auto& entry : std::filesystem::directory_iterator(state))
        before[entry.path().filename()] = stamp(entry.path());
    library.plays[1] += 1;

    auto p = pass();
    ASSERT_EQ(p.status, 0);
    auto result = resultOf(p);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.error, "");
    EXPECT_EQ(Json::parse(p.out).count("diagnostics"), 0u);
    std::map<std::string, FileStamp> after;
    for (auto& entry : std::filesystem::directory_iterator(state))
        after[entry.path().filename()] = stamp(entry.path());
    EXPECT_EQ(before, after);
}

TEST_F(CaptureWorkerProcess, UnreadableBaselineStartsAFreshOne) {
    ASSERT_EQ(pass().status, 0);
    writeFile(state / "capture-baseline.json", "{not json");
    library.plays[1] += 4;
    auto p = pass();
    ASSERT_EQ(p.status, 0) << p.out;
    auto result = resultOf(p);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.error, "baseline_recovered_after_unreadable_state");
    EXPECT_TRUE(result.diagnostics->isBaseline);
    EXPECT_EQ(runtime().lastError, "baseline_recovered_after_unreadable_state");
    EXPECT_NO_THROW(Json::parse(readFile(state / "capture-baseline.json")));
    EXPECT_TRUE(runtime().pending.back().payload.completionLibrary.isBaseline);
}

TEST_F(CaptureWorkerProcess, FullQueueHoldsTheBaseline) {
    ASSERT_EQ(pass().status, 0);
    auto s = runtime();
    auto entry = s.pending[0]; // a baseline payload is never replaced
    s.pending.clear();
    for (int i = 0; i < 256; ++i) {
        entry.id = "queued-" + std::to_string(i);
        s.pending.push_back(entry);
    }
    saveRuntime(s);
    auto baselineBefore = readFile(state / "capture-baseline.json");
    library.plays[1] += 1;

    auto p = pass();
    EXPECT_EQ(p.status, 1);
    auto result = resultOf(p);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, "Upload queue full; baseline held");
    EXPECT_FALSE(result.diagnostics);
    EXPECT_EQ(runtime().lastError, "Upload queue full; baseline held");
    EXPECT_EQ(runtime().pending.size(), 256u);
    EXPECT_EQ(readFile(state / "capture-baseline.json"), baselineBefore);
}

TEST_F(CaptureWorkerProcess, UnreadableRuntimeFailsWithoutWriting) {
    std::filesystem::create_directories(state);
    const std::string future =
        R"({"deadLetters":[],"installID":"x","lastError":"","paused":false,"pending":[],"schemaVersion":2})";
    writeFile(state / "capture-runtime.json", future);
    auto p = pass();
    EXPECT_EQ(p.status, 1);
    auto result = resultOf(p);
    EXPECT_EQ(result.error, "Capture state unreadable: unsupported runtime schema");
    EXPECT_EQ(readFile(state / "capture-runtime.json"), future);
    EXPECT_FALSE(std::filesystem::exists(state / "capture-baseline.json"));
}

TEST_F(CaptureWorkerProcess, LibraryFailureIsRecordedInLastError) {
    ASSERT_EQ(pass().status, 0);
    writeFile(libraryFile, R"({"reloadDataFails": true, "mediaItems": []})");
    auto p = runProcess(
        executablePath(),
        {"--run-capture-worker", "--state-directory", state.string(), "--trigger", "manual"},
        {{"QUILLABRENTA_LIBRARY", libraryFile.string()}});
    EXPECT_EQ(p.status, 1);
    EXPECT_EQ(resultOf(p).error, "Music library unavailable: reloadData returned false");
    EXPECT_EQ(runtime().lastError, "Music library unavailable: reloadData returned false");
}

TEST_F(CaptureWorkerProcess, JournalAndRatingsTakePartOnlyWhenTheyExist) {
    ASSERT_EQ(pass().status, 0);
    // A settled session of an item outside the library becomes an observation.
    Json session = {{"sessionID", "s-1"},
                    {"artist", "Elsewhere"},
                    {"track", "Stream"},
                    {"album", ""},
                    {"durationMS", 180000},
                    {"libraryPersistentID", ""},
                    {"firstObservedAt", 1000},
                    {"lastObservedAt", 1180},
                    {"playingMS", 180000},
                    {"pausedMS", 0},
                    {"wallObservedMS", 180000},
                    {"unobservedMS", 0},
                    {"finaliseReason", "player_stopped"},
                    {"boundaryObserved", true}};
    writeFile(state / "nonlibrary-player-sessions.json", Json{{"schemaVersion", 1},
                                                              {"sessions", {session}},
                                                              {"recentLibraryMoves", Json::array()},
                                                              {"dispositions", Json::object()}}
                                                             .dump());
    writeFile(
        state / "ratings-sync.json",
        R"({"schemaVersion":1,"baselineSnapshotID":"","serverBaselineSnapshotID":"","pending":[],"userRated":0,"favourites":0,"lastError":""})");

    ASSERT_EQ(pass().status, 0);
    auto queue = runtime().pending;
    const auto& last = queue.back().payload;
    ASSERT_TRUE(last.observations);
    ASSERT_EQ(last.observations->size(), 1u);
    EXPECT_EQ((*last.observations)[0].trackTitle, "Stream");
    auto journal = Json::parse(readFile(state / "nonlibrary-player-sessions.json"));
    EXPECT_TRUE(journal["sessions"].empty());
    EXPECT_EQ(journal["dispositions"]["emitted"], 1);
    auto ratings = Json::parse(readFile(state / "ratings-sync.json"));
    ASSERT_EQ(ratings["pending"].size(), 1u);
    EXPECT_EQ(ratings["pending"][0]["payload"]["kind"], "baseline");
}
