// The real worker process against a disk that refuses (a state directory it may not write, a
// disk that is full, the directory removed) and against a wall clock set back an hour. A refused
// write ends in the state-write message and leaves every file on disk as it was; in every case
// each play is queued exactly once when the next pass runs.
#include "TestSupport.hpp"
#include "core/capture/CaptureRuntimeState.hpp"
#include "core/capture/CaptureWorkerResult.hpp"

#include <gtest/gtest.h>

#include <ctime>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

using namespace qb;
using namespace qb::test;

namespace {

enum class Fault { readOnlyDirectory, diskFull, directoryRemoved, clockSetBack };

std::map<std::string, std::string> contents(const std::filesystem::path& directory) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(directory))
        files[entry.path().filename().string()] = readFile(entry.path());
    return files;
}

class FaultInjection : public ::testing::TestWithParam<Fault> {
  protected:
    void SetUp() override {
        // Readable by an unprivileged user, who plays the one without write access.
        std::filesystem::permissions(dir.path(), std::filesystem::perms(0755));
    }

    ProcessResult pass(const std::vector<std::string>& wrapper = {}) {
        library.write(libraryFile);
        std::filesystem::permissions(libraryFile, std::filesystem::perms(0644));
        std::vector<std::string> command = wrapper;
        for (const std::string& part : {executablePath(), std::string("--run-capture-worker"),
                                        std::string("--state-directory"), state.string(),
                                        std::string("--trigger"), std::string("manual")})
            command.push_back(part);
        const std::string program = command.front();
        command.erase(command.begin());
        return runProcess(program, command, {{"QUILLABRENTA_LIBRARY", libraryFile.string()}});
    }

    // The command that runs the worker under the fault; empty when this machine cannot.
    std::vector<std::string> faulty(Fault fault) {
        switch (fault) {
        case Fault::readOnlyDirectory:
            if (::geteuid() == 0) { // root writes anywhere: the worker runs as nobody instead
                for (const auto& entry : std::filesystem::directory_iterator(state))
                    std::filesystem::permissions(entry.path(), std::filesystem::perms(0644));
                return {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
            }
            std::filesystem::permissions(state, std::filesystem::perms(0555));
            return {"/usr/bin/env"};
        case Fault::diskFull:
            // Past 16 bytes a write fails with EFBIG, as on a full disk, once SIGXFSZ is ignored.
            return {"/bin/sh", "-c", "trap '' XFSZ; exec /usr/bin/prlimit --fsize=16 \"$@\"", "sh"};
        case Fault::directoryRemoved:
            std::filesystem::remove_all(state);
            return {"/usr/bin/env"};
        case Fault::clockSetBack:
            // The sanitizer runtime need not come first: the shift only wraps the clock calls.
            return {"/usr/bin/env", "LD_PRELOAD=" QB_WALL_CLOCK_SHIFT_LIBRARY,
                    "QB_WALL_CLOCK_SHIFT=-3600",
                    "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=1"};
        }
        return {};
    }

    TempDir dir;
    std::filesystem::path state = dir / "state";
    std::filesystem::path libraryFile = dir / "library.json";
    PlayCountLibrary library{{{1, 5}, {2, 0}, {3, 10}}};
};

} // namespace

TEST_P(FaultInjection, NothingOnDiskIsLostOrHalfWritten) {
    ASSERT_EQ(pass().status, 0);
    library.plays[1] += 2;
    const auto before = contents(state);

    const ProcessResult failed = pass(faulty(GetParam()));
    std::filesystem::permissions(state, std::filesystem::perms(0755));
    if (GetParam() == Fault::directoryRemoved) {
        // Gone with the directory: the queue and the baseline. The worker starts again,
        // forward-only, and says nothing is wrong, because nothing is.
        EXPECT_EQ(failed.status, 0) << failed.err;
        EXPECT_TRUE(CaptureWorkerResult::fromJson(Json::parse(failed.out)).diagnostics->isBaseline);
        return;
    }
    if (GetParam() == Fault::clockSetBack) {
        ASSERT_EQ(failed.status, 0) << failed.err;
        const auto scannedAt =
            CaptureRuntimeState::fromJson(Json::parse(readFile(state / "capture-runtime.json")))
                .lastSuccessfulScanAt.value_or(0);
        EXPECT_NEAR(static_cast<double>(scannedAt), static_cast<double>(std::time(nullptr) - 3600),
                    300);
    } else {
        EXPECT_EQ(failed.status, 1);
        const CaptureWorkerResult result = CaptureWorkerResult::fromJson(Json::parse(failed.out));
        EXPECT_EQ(result.error.rfind("Capture state write failed: ", 0), 0u) << result.error;
        EXPECT_EQ(contents(state), before);
    }

    // Once the fault is gone, every play since the baseline is queued, none twice.
    library.plays[3] += 1;
    const ProcessResult again = pass();
    ASSERT_EQ(again.status, 0) << again.err;
    int64_t plays = 0;
    for (const auto& entry :
         CaptureRuntimeState::fromJson(Json::parse(readFile(state / "capture-runtime.json")))
             .pending)
        for (const auto& delta : entry.payload.completionLibrary.deltas)
            plays += delta.playCountAfter - delta.playCountBefore;
    EXPECT_EQ(plays, 3);
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultInjection,
                         ::testing::Values(Fault::readOnlyDirectory, Fault::diskFull,
                                           Fault::directoryRemoved, Fault::clockSetBack),
                         [](const auto& info) {
                             switch (info.param) {
                             case Fault::readOnlyDirectory:
                                 return std::string("ReadOnlyDirectory");
                             case Fault::diskFull:
                                 return std::string("DiskFull");
                             case Fault::directoryRemoved:
                                 return std::string("DirectoryRemoved");
                             case Fault::clockSetBack:
                                 return std::string("ClockSetBack");
                             }
                             return std::string();
                         });
