// Times the reconciler and the baseline store on a library of 100,000 songs.

#include "core/capture/CaptureBaselineStore.hpp"
#include "core/capture/LibraryReconciler.hpp"
#include "core/common/StableIdentifier.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

using namespace qb;

namespace {

constexpr std::size_t trackCount = 100'000;
constexpr int runs = 7;
constexpr int64_t baselineAt = 1'700'000'000;
constexpr int64_t observedAt = baselineAt + 600;

struct Fixture {
    CaptureState state;
    LibraryScan scan;
};

Fixture makeFixture() {
    std::mt19937_64 random(42);
    Fixture f;
    f.state.installID = "3f2b8c1e-5d4a-4e6f-9a7b-1c2d3e4f5a6b";
    f.state.capturedAt = baselineAt;
    f.scan.tracks.reserve(trackCount);
    for (std::size_t i = 0; i < trackCount; ++i) {
        LibraryTrack t;
        t.persistentID = formatPersistentID(random() | 1);
        t.title = "Track " + std::to_string(i);
        t.artist = "Artist " + std::to_string(i % 5000);
        t.album = "Album " + std::to_string(i % 9000);
        t.durationMS = 180'000 + static_cast<int64_t>(i % 120'000);
        t.playCount = static_cast<int64_t>(random() % 300);
        t.lastPlayedAt = baselineAt - static_cast<int64_t>(random() % 10'000'000);
        f.state.snapshot[t.persistentID] = SnapshotEntry{t.playCount, t.lastPlayedAt, baselineAt};
        // One song in a hundred was played since the baseline.
        if (i % 100 == 0) {
            t.playCount += 1 + static_cast<int64_t>(random() % 3);
            t.lastPlayedAt = observedAt - 30;
        }
        f.scan.tracks.push_back(std::move(t));
    }
    f.scan.metrics.trackCount = static_cast<int64_t>(trackCount);
    return f;
}

struct Timing {
    double wallMS = 0;
    double cpuMS = 0; // process CPU time: meaningful even on a busy machine
};

double cpuNowMS() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

template <typename F> Timing median(F&& work) {
    std::vector<double> walls;
    std::vector<double> cpus;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = cpuNowMS();
        work();
        cpus.push_back(cpuNowMS() - cpuStart);
        const auto end = std::chrono::steady_clock::now();
        walls.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
    std::sort(walls.begin(), walls.end());
    std::sort(cpus.begin(), cpus.end());
    return {walls[walls.size() / 2], cpus[cpus.size() / 2]};
}

} // namespace

int main() {
    const Fixture f = makeFixture();

    std::size_t payloads = 0;
    const Timing reconcile = median([&] {
        auto result = LibraryReconciler::reconcile(f.state, f.scan, observedAt, "bench");
        payloads = result.payloads.size();
    });
    std::printf("reconcile: %zu songs against %zu baseline entries, %zu payloads: "
                "%.1f ms wall, %.1f ms CPU (median of %d; target < 150 ms)\n",
                f.scan.tracks.size(), f.state.snapshot.size(), payloads, reconcile.wallMS,
                reconcile.cpuMS, runs);

    CaptureState empty = f.state;
    empty.capturedAt.reset();
    empty.snapshot.clear();
    const Timing first = median([&] {
        auto result = LibraryReconciler::reconcile(empty, f.scan, observedAt, "bench");
        payloads = result.payloads.size();
    });
    std::printf("first (baseline) scan of %zu songs: %.1f ms wall, %.1f ms CPU\n",
                f.scan.tracks.size(), first.wallMS, first.cpuMS);

    const auto directory = std::filesystem::temp_directory_path() /
                           ("qb-reconcile-bench-" + std::to_string(::getpid()));
    CaptureBaselineStore store(directory);
    CaptureBaseline baseline;
    baseline.capturedAt = observedAt;
    baseline.snapshot = f.state.snapshot;

    const Timing save = median([&] { store.save(baseline); });
    std::size_t loaded = 0;
    const Timing load = median([&] { loaded = store.load().snapshot.size(); });
    const auto bytes = std::filesystem::file_size(store.fileURL());
    std::filesystem::remove_all(directory);
    std::printf("baseline store: %zu entries, %ju bytes (median of %d; target < 400 ms)\n"
                "  save %.1f ms wall, %.1f ms CPU\n"
                "  load %.1f ms wall, %.1f ms CPU\n"
                "  save + load %.1f ms wall, %.1f ms CPU\n",
                loaded, static_cast<uintmax_t>(bytes), runs, save.wallMS, save.cpuMS, load.wallMS,
                load.cpuMS, save.wallMS + load.wallMS, save.cpuMS + load.cpuMS);
    return loaded == baseline.snapshot.size() ? EXIT_SUCCESS : EXIT_FAILURE;
}
