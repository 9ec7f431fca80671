#include "platform/linux/process/SubprocessCaptureWorker.hpp"

#include "TestSupport.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

using namespace qb;
using qb::test::TempDir;

namespace {

class SubprocessCaptureWorkerTest : public ::testing::Test {
  protected:
    // A worker whose executable is a shell script with the given body.
    SubprocessCaptureWorker workerRunning(const std::string& body,
                                          std::chrono::seconds timeout = std::chrono::seconds(60)) {
        std::filesystem::path script = dir / ("worker" + std::to_string(++scripts) + ".sh");
        test::writeFile(script, "#!/bin/sh\n" + body + "\n");
        std::filesystem::permissions(script, std::filesystem::perms(0755));
        return SubprocessCaptureWorker(script, stateDirectory, timeout);
    }

    // Writes a JSON document for the script to print with cat.
    std::string fileHolding(const std::string& name, const std::string& text) {
        test::writeFile(dir / name, text);
        return (dir / name).string();
    }

    static CaptureWorkerResult completedResult() {
        CaptureDiagnostics diagnostics;
        diagnostics.trigger = "library_changed";
        diagnostics.scannedAt = 1767225600;
        diagnostics.positiveDeltas = 2;
        diagnostics.emittedCompletions = 3;
        diagnostics.metrics.trackCount = 4210;
        diagnostics.metrics.residentLoadedBytes = 123456789;
        CaptureWorkerResult result;
        result.ok = true;
        result.error = "baseline_recovered_after_unreadable_state";
        result.diagnostics = diagnostics;
        return result;
    }

    TempDir dir;
    std::filesystem::path stateDirectory = dir / "state dir";
    int scripts = 0;
};

} // namespace

TEST_F(SubprocessCaptureWorkerTest, ExitZeroWithDecodableResultIsReturnedUnchanged) {
    const CaptureWorkerResult expected = completedResult();
    std::string file = fileHolding("ok.json", json::dump(expected.toJson()) + "\n");
    EXPECT_EQ(workerRunning("cat '" + file + "'; echo 'noise' >&2; exit 0").run("launch"),
              expected);

    // A child that breaks the exit rule and reports ok false with status 0 is still believed.
    CaptureWorkerResult failed;
    failed.error = "Library unavailable";
    std::string failedFile = fileHolding("failed.json", json::dump(failed.toJson()));
    EXPECT_EQ(workerRunning("cat '" + failedFile + "'").run("launch"), failed);
}

TEST_F(SubprocessCaptureWorkerTest, NonZeroExitIsAFailureWhateverStandardOutputSays) {
    CaptureWorkerResult failed;
    failed.error = "Library unavailable";
    std::string file = fileHolding("failed.json", json::dump(failed.toJson()));
    std::string ok = fileHolding("ok.json", json::dump(completedResult().toJson()));

    CaptureWorkerResult silent = workerRunning("cat '" + file + "'; exit 1").run("launch");
    EXPECT_EQ(silent, (CaptureWorkerResult{false, "capture_worker_failed", std::nullopt}));

    CaptureWorkerResult told =
        workerRunning("cat '" + ok + "'; printf '  \\n Library unavailable\\n\\t\\n' >&2; exit 1")
            .run("launch");
    EXPECT_EQ(told, (CaptureWorkerResult{false, "Library unavailable", std::nullopt}));

    CaptureWorkerResult killed = workerRunning("cat '" + ok + "'; kill -9 $$").run("launch");
    EXPECT_EQ(killed, (CaptureWorkerResult{false, "capture_worker_failed", std::nullopt}));
}

TEST_F(SubprocessCaptureWorkerTest, ExitZeroWithoutADecodableResultFallsBackToStandardError) {
    EXPECT_EQ(workerRunning("exit 0").run("launch").error, "capture_worker_failed");
    CaptureWorkerResult result =
        workerRunning("echo '{\"ok\": true}'; echo ' result incomplete ' >&2").run("launch");
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, "result incomplete");
    EXPECT_FALSE(result.diagnostics);
}

TEST_F(SubprocessCaptureWorkerTest, StandardErrorThatIsNotUTF8GivesTheGenericError) {
    EXPECT_EQ(workerRunning("printf 'bad \\377\\376 bytes' >&2; exit 1").run("launch").error,
              "capture_worker_failed");
    // Valid multi-byte text survives, and Unicode spaces are trimmed like ASCII ones.
    EXPECT_EQ(workerRunning("printf '\\342\\200\\203Bibliothèque verrouillée\\n' >&2; exit 1")
                  .run("launch")
                  .error,
              "Bibliothèque verrouillée");
}

TEST_F(SubprocessCaptureWorkerTest, ExecutableThatCannotStartIsReportedWithTheSystemsReason) {
    SubprocessCaptureWorker missing(dir / "no-such-program", stateDirectory);
    CaptureWorkerResult result = missing.run("launch");
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error,
              "cannot start " + (dir / "no-such-program").string() + ": No such file or directory");
    EXPECT_FALSE(result.diagnostics);

    test::writeFile(dir / "not-executable", "#!/bin/sh\nexit 0\n");
    std::filesystem::permissions(dir / "not-executable", std::filesystem::perms(0644));
    EXPECT_EQ(SubprocessCaptureWorker(dir / "not-executable", stateDirectory).run("x").error,
              "cannot start " + (dir / "not-executable").string() + ": Permission denied");
}

TEST_F(SubprocessCaptureWorkerTest, ChildGetsExactlyTheFiveArgumentsAndTheEnvironment) {
    ::setenv("QB_WORKER_TEST_MARK", "inherited", 1);
    const std::string args = (dir / "args.txt").string();
    const std::string trigger = "library_changed_trailing 'quoted' $HOME";
    CaptureWorkerResult result =
        workerRunning("printf '%s\\n' \"$#\" \"$@\" \"$QB_WORKER_TEST_MARK\" > '" + args +
                      "'; exit 3")
            .run(trigger);
    ::unsetenv("QB_WORKER_TEST_MARK");
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(test::readFile(args), "5\n--run-capture-worker\n--state-directory\n" +
                                        stateDirectory.string() + "\n--trigger\n" + trigger +
                                        "\ninherited\n");
}

TEST_F(SubprocessCaptureWorkerTest, ChildInheritsNoOtherDescriptors) {
    test::writeFile(dir / "leak-marker", "");
    int leaky = ::open((dir / "leak-marker").c_str(), O_RDONLY); // without close-on-exec
    ASSERT_GE(leaky, 3);
    const std::string listing = (dir / "fds.txt").string();
    workerRunning("ls -l /proc/$$/fd > '" + listing + "'").run("launch");
    ::close(leaky);
    const std::string open = test::readFile(listing);
    EXPECT_NE(open.find("pipe:"), std::string::npos) << "no listing: " << open;
    EXPECT_EQ(open.find("leak-marker"), std::string::npos) << open;
}

TEST_F(SubprocessCaptureWorkerTest, LargeOutputOnBothStreamsDoesNotStall) {
    // Far more than a pipe holds, on both streams: reading only after the exit would hang.
    CaptureWorkerResult big = completedResult();
    big.error = std::string(1 << 20, 'e');
    std::string file = fileHolding("big.json", json::dump(big.toJson()));
    CaptureWorkerResult result =
        workerRunning("head -c 1048576 /dev/zero | tr '\\0' 'x' >&2; cat '" + file + "'")
            .run("launch");
    EXPECT_EQ(result, big);

    CaptureWorkerResult failed =
        workerRunning("head -c 1048576 /dev/zero | tr '\\0' ' '; echo 'out of memory' >&2; exit 1")
            .run("launch");
    EXPECT_EQ(failed.error, "out of memory");
}

TEST_F(SubprocessCaptureWorkerTest, AWorkerThatNeverEndsIsStoppedAtTheTimeOut) {
    // The shell's own child holds the pipes too: the whole process group must go.
    const CaptureWorkerResult result =
        workerRunning("echo '{\"ok\":true'; sleep 60; echo late", std::chrono::seconds(1))
            .run("launch");
    EXPECT_EQ(result,
              (CaptureWorkerResult{false, "capture worker stopped: no result within 1 seconds",
                                   std::nullopt}));
}
