#include "TestSupport.hpp"
#include "core/capture/CaptureBaselineStore.hpp"
#include "core/capture/CaptureRuntimeStore.hpp"
#include "core/common/CaptureError.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <regex>
#include <sys/resource.h>

using namespace qb;
using qb::test::readFile;
using qb::test::TempDir;
using qb::test::writeFile;

namespace {

// Runs the load and returns the error it raised.
template <typename Store> CaptureError loadError(const Store& store) {
    try {
        store.load();
    } catch (const CaptureError& e) {
        return e;
    }
    ADD_FAILURE() << "load did not fail";
    return CaptureError::queueFull();
}

template <typename Store, typename Value>
CaptureError saveError(const Store& store, const Value& value) {
    try {
        store.save(value);
    } catch (const CaptureError& e) {
        return e;
    }
    ADD_FAILURE() << "save did not fail";
    return CaptureError::queueFull();
}

// While it lives, no file may grow past a few bytes, so writes fail even for root.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  private:
    rlimit saved_{};
    void (*previous_)(int) = SIG_DFL;
};

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

CaptureRuntimeState sampleRuntime() {
    auto state = CaptureRuntimeState::fresh("6f9619ff-8b86-4d01-b42d-00cf4fc964ff");
    PendingPayload p;
    p.id = "qz_0000000000000001";
    p.payload.installID = state.installID;
    p.payload.completionLibrary.observedAt = 77;
    p.payload.completionLibrary.baselineCapturedAt = 70;
    CompletionDelta d;
    d.track = "Blåbær";
    d.persistentID = "000000000000002A";
    d.playCountBefore = 1;
    d.playCountAfter = 3;
    d.lastPlayedAfter = 76;
    p.payload.completionLibrary.deltas.push_back(d);
    p.queuedAt = 77;
    p.attempts = 2;
    p.nextAttemptAt = 140;
    p.lastError = "http_503";
    state.pending.push_back(p);
    state.deadLetters.push_back(DeadLetter{"qz_0000000000000002", 60, "http_400"});
    state.paused = true;
    state.lastSuccessfulScanAt = 77;
    state.lastSuccessfulUploadAt = 65;
    state.lastError = "Music library unavailable: gone";
    state.diagnostics =
        CaptureDiagnostics{"launch", 77, false, 1, 0, 1, 2, ScanMetrics{3, 4, 5, 9, 10, 20, 15}};
    return state;
}

} // namespace

TEST(CaptureBaselineStore, MissingFileGivesAFreshBaselineAndWritesNothing) {
    TempDir dir;
    CaptureBaselineStore store(dir / "a" / "b");
    EXPECT_TRUE(std::filesystem::is_directory(dir / "a" / "b"));
    EXPECT_EQ(store.fileURL(), dir / "a" / "b" / "capture-baseline.json");
    EXPECT_EQ(store.load(), CaptureBaseline{});
    EXPECT_FALSE(std::filesystem::exists(store.fileURL()));
    EXPECT_NO_THROW(store.reset());
}

TEST(CaptureBaselineStore, SavesCompactSortedJsonAndReadsItBack) {
    TempDir dir;
    CaptureBaselineStore store(dir.path());
    CaptureBaseline baseline;
    baseline.capturedAt = 1700000000;
    baseline.snapshot["00000000000000B0"] = {2, std::nullopt, 1700000000};
    baseline.snapshot["000000000000000A"] = {5, 1699999000, 1690000000};
    store.save(baseline);

    EXPECT_EQ(
        readFile(store.fileURL()),
        R"({"capturedAt":1700000000,"schemaVersion":1,"snapshot":{)"
        R"("000000000000000A":{"lastPlayedAt":1699999000,"lastSeenAt":1690000000,"playCount":5},)"
        R"("00000000000000B0":{"lastSeenAt":1700000000,"playCount":2}}})");
    EXPECT_EQ(store.load(), baseline);

    store.save(CaptureBaseline{});
    EXPECT_EQ(readFile(store.fileURL()), R"({"schemaVersion":1,"snapshot":{}})");
    store.reset();
    EXPECT_FALSE(std::filesystem::exists(store.fileURL()));
}

TEST(CaptureBaselineStore, ReadsOptionalsAsAbsentAndIgnoresUnknownKeys) {
    TempDir dir;
    CaptureBaselineStore store(dir.path());
    writeFile(store.fileURL(),
              R"({"schemaVersion":1,"capturedAt":null,"extra":[1,{"x":2}],)"
              R"("snapshot":{"X":{"playCount":3,"lastSeenAt":9,"lastPlayedAt":null,"note":"y"}}})");
    CaptureBaseline expected;
    expected.snapshot["X"] = {3, std::nullopt, 9};
    EXPECT_EQ(store.load(), expected);
}

TEST(CaptureBaselineStore, RefusesOtherSchemasAndBrokenFiles) {
    TempDir dir;
    CaptureBaselineStore store(dir.path());

    writeFile(store.fileURL(), R"({"schemaVersion":2,"snapshot":{}})");
    EXPECT_EQ(loadError(store), CaptureError::stateUnreadable("unsupported baseline schema"));
    EXPECT_STREQ(loadError(store).what(), "Capture state unreadable: unsupported baseline schema");

    const std::vector<std::string> broken = {
        R"({"schemaVersion":1,"snapshot":{"X":{"playCount":3}}})",                  // no lastSeenAt
        R"({"schemaVersion":1})",                                                   // no snapshot
        R"({"snapshot":{}})",                                                       // no schema
        R"({"schemaVersion":1,"snapshot":[]})",                                     // wrong type
        R"({"schemaVersion":"1","snapshot":{}})",                                   // wrong type
        R"({"schemaVersion":1,"snapshot":{"X":{"playCount":1.5,"lastSeenAt":1}}})", // not integer
        R"({"schemaVersion":1,"snapshot":{"X":{"playCount":9223372036854775808,"lastSeenAt":1}}})",
        R"({"schemaVersion":1,"snapshot":{"X":{"playCount":1e400,"lastSeenAt":1}}})",
        R"({"schemaVersion":1,"capturedAt":123456789012345678901234567890,"snapshot":{}})",
        R"({"schemaVersion":1,"snapshot":{"X":{"playCount":1,"lastSeenAt":1})", // truncated
        "{\"schemaVersion\":1,\"snapshot\":{\"\xff\xfe\":{\"playCount\":1,\"lastSeenAt\":1}}}",
        "",
        "[]",
    };
    for (const auto& text : broken) {
        writeFile(store.fileURL(), text);
        const CaptureError e = loadError(store);
        EXPECT_EQ(e.kind(), CaptureError::Kind::stateUnreadable) << text;
        EXPECT_TRUE(startsWith(e.detail(), "baseline: ")) << text << " → " << e.detail();
    }

    std::filesystem::remove(store.fileURL());
    std::filesystem::create_directory(store.fileURL());
    EXPECT_TRUE(startsWith(loadError(store).detail(), "baseline: "));
}

TEST(CaptureBaselineStore, FailedSaveLeavesTheOldFile) {
    TempDir dir;
    CaptureBaselineStore store(dir.path());
    CaptureBaseline good;
    good.snapshot["A"] = {1, std::nullopt, 2};
    store.save(good);
    const std::string before = readFile(store.fileURL());

    CaptureBaseline bad;
    bad.snapshot["\xc3"] = {1, std::nullopt, 2};
    const CaptureError e = saveError(store, bad);
    EXPECT_EQ(e.kind(), CaptureError::Kind::stateWriteFailed);
    EXPECT_TRUE(startsWith(e.description(), "Capture state write failed: baseline: "));
    EXPECT_EQ(readFile(store.fileURL()), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1)
        << "no temporary file is left behind";

    good.snapshot["B"] = {7, 8, 9};
    {
        FileSizeLimit limit(16);
        EXPECT_TRUE(startsWith(saveError(store, good).description(),
                               "Capture state write failed: baseline: "));
    }
    EXPECT_EQ(readFile(store.fileURL()), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);

    writeFile(dir / "plain", "x");
    CaptureBaselineStore blocked(dir / "plain");
    EXPECT_TRUE(startsWith(saveError(blocked, good).description(),
                           "Capture state write failed: baseline: "));
}

TEST(CaptureRuntimeStore, MissingFileGivesANewUnsavedIdentity) {
    TempDir dir;
    CaptureRuntimeStore store(dir / "state");
    EXPECT_EQ(store.fileURL(), dir / "state" / "capture-runtime.json");
    const auto a = store.load();
    const auto b = store.load();
    EXPECT_FALSE(store.exists());
    EXPECT_TRUE(std::regex_match(a.installID, std::regex("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-"
                                                         "[89ab][0-9a-f]{3}-[0-9a-f]{12}")))
        << a.installID;
    EXPECT_NE(a.installID, b.installID);
    EXPECT_EQ(a, CaptureRuntimeState::fresh(a.installID));
    EXPECT_NO_THROW(store.reset());
}

TEST(CaptureRuntimeStore, RoundTripsAndLeavesAbsentKeysOut) {
    TempDir dir;
    CaptureRuntimeStore store(dir.path());
    store.save(CaptureRuntimeState::fresh("id-1"));
    EXPECT_TRUE(store.exists());
    EXPECT_EQ(
        readFile(store.fileURL()),
        R"({"deadLetters":[],"installID":"id-1","lastError":"","paused":false,"pending":[],"schemaVersion":1})");
    EXPECT_EQ(store.load(), CaptureRuntimeState::fresh("id-1"));

    const auto state = sampleRuntime();
    store.save(state);
    EXPECT_EQ(store.load(), state);
    const std::string text = readFile(store.fileURL());
    EXPECT_EQ(text.find('\n'), std::string::npos);
    EXPECT_LT(text.find("\"deadLetters\""), text.find("\"diagnostics\""));
    EXPECT_LT(text.find("\"lastSuccessfulUploadAt\""), text.find("\"paused\""));
    EXPECT_NE(text.find(R"("payload":{"completion_library":{"baseline_captured_at":70,)"),
              std::string::npos);

    store.reset();
    EXPECT_FALSE(store.exists());
}

TEST(CaptureRuntimeStore, ReadsNullAsAbsentAndIgnoresUnknownKeys) {
    TempDir dir;
    CaptureRuntimeStore store(dir.path());
    writeFile(
        store.fileURL(),
        R"({"schemaVersion":1,"installID":"x","pending":[],"deadLetters":[],"paused":true,)"
        R"("lastError":"e","diagnostics":null,"lastSuccessfulScanAt":null,"future":{"a":1}})");
    auto expected = CaptureRuntimeState::fresh("x");
    expected.paused = true;
    expected.lastError = "e";
    EXPECT_EQ(store.load(), expected);
}

TEST(CaptureRuntimeStore, RefusesOtherSchemasEmptyIdentityAndBrokenFiles) {
    TempDir dir;
    CaptureRuntimeStore store(dir.path());
    const std::string rest = R"("pending":[],"deadLetters":[],"paused":false,"lastError":"")";

    for (const char* head :
         {R"({"schemaVersion":1,"installID":"",)", R"({"schemaVersion":0,"installID":"x",)"}) {
        writeFile(store.fileURL(), std::string(head) + rest + "}");
        EXPECT_EQ(loadError(store), CaptureError::stateUnreadable("unsupported runtime schema"));
    }

    const std::vector<std::string> broken = {
        R"({"schemaVersion":1,"installID":"x","pending":[],"deadLetters":[],"lastError":""})",
        R"({"schemaVersion":1,"installID":"x",)" + rest + R"(,"lastSuccessfulScanAt":"7"})",
        R"({"schemaVersion":1,"installID":"x",)" + rest +
            R"(,"lastSuccessfulScanAt":18446744073709551616})",
        R"({"schemaVersion":1,"installID":"x",)" + rest + R"(,"diagnostics":{"trigger":"t"}})",
        R"({"schemaVersion":1,"installID":"x","pending":[{"id":"a"}],"deadLetters":[],"paused":false,"lastError":""})",
        "{\"schemaVersion\":1,\"installID\":\"\xe2\x82\",\"pending\":[],\"deadLetters\":[],"
        "\"paused\":false,\"lastError\":\"\"}",
        R"({"schemaVersion":1,"installID":"x",)",
    };
    for (const auto& text : broken) {
        writeFile(store.fileURL(), text);
        const CaptureError e = loadError(store);
        EXPECT_EQ(e.kind(), CaptureError::Kind::stateUnreadable) << text;
        EXPECT_TRUE(startsWith(e.description(), "Capture state unreadable: runtime: "))
            << text << " → " << e.description();
    }
}

TEST(CaptureRuntimeStore, FailedSaveLeavesTheOldFile) {
    TempDir dir;
    CaptureRuntimeStore store(dir.path());
    store.save(sampleRuntime());
    const std::string before = readFile(store.fileURL());

    auto bad = sampleRuntime();
    bad.lastError = "cut \xe2\x82";
    const CaptureError e = saveError(store, bad);
    EXPECT_EQ(e.kind(), CaptureError::Kind::stateWriteFailed);
    EXPECT_TRUE(startsWith(e.description(), "Capture state write failed: runtime: "));
    EXPECT_EQ(readFile(store.fileURL()), before);

    auto larger = sampleRuntime();
    larger.lastError = "disk full";
    {
        FileSizeLimit limit(64);
        const CaptureError full = saveError(store, larger);
        EXPECT_EQ(full.kind(), CaptureError::Kind::stateWriteFailed);
        EXPECT_TRUE(startsWith(full.description(), "Capture state write failed: runtime: "))
            << full.description();
    }
    EXPECT_EQ(readFile(store.fileURL()), before);

    // The parent of the state directory is a regular file: nothing can be written there.
    writeFile(dir / "plain", "x");
    CaptureRuntimeStore blocked(dir / "plain" / "state");
    const CaptureError write = saveError(blocked, sampleRuntime());
    EXPECT_EQ(write.kind(), CaptureError::Kind::stateWriteFailed);
    EXPECT_TRUE(startsWith(write.description(), "Capture state write failed: runtime: "))
        << write.description();
    EXPECT_EQ(readFile(dir / "plain"), "x");
}
