// Kills the capture worker with SIGKILL at random moments of its pass, while listening goes on
// between passes, and checks what matters after each kill: every state file still loads, and
// what the service is sent covers every play exactly once. The service side is played here as
// the controller plays it: settle the directory, read the queue, upload it (the service keeps a
// payload identifier once), empty the queue.
//
// QB_CRASH_PASSES (default 40), QB_CRASH_SONGS (default 2000) and QB_CRASH_EXECUTABLE (default
// the built one) make it the figure of bench/crash_consistency.
#include "DesktopProcesses.hpp"
#include "core/capture/CaptureBaselineStore.hpp"
#include "core/capture/CaptureRuntimeStore.hpp"
#include "core/capture/PassCommit.hpp"
#include "core/common/FileIO.hpp"
#include "core/common/StableIdentifier.hpp"
#include "core/player/NonLibrarySessionStore.hpp"
#include "core/ratings/RatingsSyncStore.hpp"

#include <gtest/gtest.h>

#include <random>
#include <set>

using namespace qb;
using namespace qb::test;

namespace {

int64_t setting(const char* name, int64_t fallback) {
    const char* value = std::getenv(name);
    return value && *value ? std::stoll(value) : fallback;
}

struct Figures {
    int64_t kills = 0;      // passes killed before they ended
    int64_t unreadable = 0; // kills after which a state file did not load
    int64_t lost = 0;       // plays never sent
    int64_t twice = 0;      // plays sent more than once
};

class Harness {
  public:
    Harness(int64_t songs, std::string executable) : executable_(std::move(executable)) {
        std::mt19937_64 random(7);
        for (int64_t id = 1; id <= songs; ++id)
            library_.plays[static_cast<uint64_t>(id)] = static_cast<int64_t>(random() % 40);
        writeLibrary();
        ::setenv("QUILLABRENTA_LIBRARY", (dir_ / "library.json").c_str(), 1);
    }

    // One pass to its end; returns how long it took.
    std::chrono::milliseconds completePass() {
        const auto start = std::chrono::steady_clock::now();
        Child worker(command(), false);
        EXPECT_TRUE(worker.waitExit(std::chrono::seconds(120)));
        upload();
        return std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
    }

    // A pass killed after `delay`; true when it was still running then.
    bool killedPass(std::chrono::milliseconds delay) {
        Child worker(command(), false);
        std::this_thread::sleep_for(delay);
        const bool running =
            ::kill(worker.pid(), SIGKILL) == 0 && !worker.waitExit(std::chrono::milliseconds(0));
        worker.waitExit(std::chrono::seconds(10));
        return running;
    }

    // Some songs are played 1 to 3 times; the player saves by rename.
    void listen(std::mt19937_64& random) {
        const size_t songs = library_.plays.size();
        for (int i = 0, n = 1 + static_cast<int>(random() % 20); i < n; ++i) {
            auto it = library_.plays.find(1 + random() % songs);
            it->second += 1 + static_cast<int64_t>(random() % 3);
        }
        writeLibrary();
    }

    // Whether every state file loads, as the application and the next worker read them.
    bool everyFileLoads() {
        try {
            PassCommit::settle(state());
            CaptureRuntimeStore(state()).load();
            CaptureBaselineStore(state()).load();
            if (NonLibrarySessionStore(state()).exists()) NonLibrarySessionStore(state()).load();
            if (RatingsSyncStore(state()).exists()) RatingsSyncStore(state()).load();
            return true;
        } catch (const std::exception& error) {
            ADD_FAILURE() << error.what();
            return false;
        }
    }

    // What the service received, per song, against the plays that happened since the baseline.
    void count(Figures& figures) const {
        for (const auto& [id, now] : library_.plays) {
            auto found = sent_.find(formatPersistentID(id));
            std::vector<std::pair<int64_t, int64_t>> ranges;
            if (found != sent_.end()) ranges = found->second;
            std::sort(ranges.begin(), ranges.end());
            int64_t covered = baseline_.at(id);
            for (const auto& [before, after] : ranges) {
                if (before < covered) figures.twice += std::min(after, covered) - before;
                if (before > covered) figures.lost += before - covered;
                covered = std::max(covered, after);
            }
            figures.lost += std::max<int64_t>(0, now - covered);
        }
    }

    void takeBaseline() { baseline_ = library_.plays; }

    void upload() {
        PassCommit::settle(state());
        CaptureRuntimeStore store(state());
        CaptureRuntimeState runtime = store.load();
        for (const auto& entry : runtime.pending) {
            if (!received_.insert(entry.id).second) continue; // the service keeps one
            for (const auto& delta : entry.payload.completionLibrary.deltas)
                sent_[delta.persistentID].emplace_back(delta.playCountBefore, delta.playCountAfter);
        }
        runtime.pending.clear();
        store.save(runtime);
    }

  private:
    std::vector<std::string> command() const {
        return {executable_,         "--run-capture-worker",
                "--state-directory", state().string(),
                "--trigger",         "crash_test"};
    }
    std::filesystem::path state() const { return dir_ / "state"; }

    void writeLibrary() {
        library_.write(dir_ / "library.json.tmp");
        std::filesystem::rename(dir_ / "library.json.tmp", dir_ / "library.json");
    }

    TempDir dir_;
    std::string executable_;
    PlayCountLibrary library_;
    std::map<uint64_t, int64_t> baseline_;
    std::set<std::string> received_;
    std::map<std::string, std::vector<std::pair<int64_t, int64_t>>> sent_;
};

} // namespace

TEST(CrashConsistency, KilledPassesLoseNoPlayAndSendNoneTwice) {
    const int64_t passes = setting("QB_CRASH_PASSES", 40);
    const char* other = std::getenv("QB_CRASH_EXECUTABLE");
    Harness h(setting("QB_CRASH_SONGS", 2000), other && *other ? other : executablePath());
    h.completePass();
    h.takeBaseline(); // the first pass is forward-only
    const int64_t full = std::max<int64_t>(h.completePass().count(), 10);

    std::mt19937_64 random(2024);
    Figures figures;
    for (int64_t pass = 0; pass < passes; ++pass) {
        if (random() % 2) h.listen(random);
        const auto delay = std::chrono::milliseconds(random() % (full + full / 5));
        if (h.killedPass(delay)) ++figures.kills;
        if (!h.everyFileLoads()) ++figures.unreadable;
        if (random() % 2) h.upload(); // a drain between the passes
        if (random() % 2) h.listen(random);
        // The controller uploads what the (killed) pass left before the next one.
        h.completePass();
    }
    h.completePass();
    h.count(figures);
    std::cout << "passes " << passes << ", killed " << figures.kills << ", unreadable "
              << figures.unreadable << ", plays lost " << figures.lost << ", plays sent twice "
              << figures.twice << "\n";
    EXPECT_GT(figures.kills, passes / 4);
    EXPECT_EQ(figures.unreadable, 0);
    EXPECT_EQ(figures.lost, 0);
    EXPECT_EQ(figures.twice, 0);
}
