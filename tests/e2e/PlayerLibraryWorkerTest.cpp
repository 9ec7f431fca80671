// The worker and the library dump on Rhythmbox's and Strawberry's libraries, found at their
// default places in a fresh HOME without QUILLABRENTA_LIBRARY.

#include "../platform/linux/library/PlayerLibraryFiles.hpp"
#include "TestSupport.hpp"
#include "core/capture/CaptureRuntimeState.hpp"
#include "core/capture/CaptureWorkerResult.hpp"
#include "core/library/LibraryScan.hpp"

#include <gtest/gtest.h>

#include <map>

using namespace qb;
using namespace qb::test;

namespace {

enum class Player { rhythmbox, strawberry };

std::string location(int song) {
    return "file:///home/u/Music/Song%20" + std::to_string(song) + ".flac";
}

class FreshHome : public ::testing::Test {
  protected:
    TempDir home;
    std::filesystem::path state = home / "state";

    ProcessResult run(const std::vector<std::string>& arguments) {
        return runProcess(executablePath(), arguments,
                          {{"HOME", home.path().string()},
                           {"XDG_DATA_HOME", std::nullopt},
                           {"XDG_CONFIG_HOME", std::nullopt},
                           {"QUILLABRENTA_LIBRARY", std::nullopt}});
    }
    ProcessResult pass(const std::string& trigger) {
        return run(
            {"--run-capture-worker", "--state-directory", state.string(), "--trigger", trigger});
    }
    CaptureRuntimeState runtime() {
        return CaptureRuntimeState::fromJson(Json::parse(readFile(state / "capture-runtime.json")));
    }
};

TEST_F(FreshHome, WithoutALibraryTheLastErrorSaysWhereTheWorkerLooked) {
    const ProcessResult failed = pass("launch");
    EXPECT_EQ(failed.status, 1);
    const std::string error = CaptureWorkerResult::fromJson(Json::parse(failed.out)).error;
    EXPECT_EQ(error.rfind("Music library unavailable: no music library found; looked for "
                          "Rhythmbox's library at " +
                              (home / ".local/share/rhythmbox/rhythmdb.xml").string(),
                          0),
              0u)
        << error;
    EXPECT_EQ(runtime().lastError, error);
}

class PlayerLibraryWorker : public FreshHome, public ::testing::WithParamInterface<Player> {
  protected:
    std::map<int, int64_t> plays{{1, 5}, {2, 0}, {3, 10}};

    std::filesystem::path libraryFile() const {
        return GetParam() == Player::rhythmbox
                   ? home / ".local/share/rhythmbox/rhythmdb.xml"
                   : home / ".local/share/strawberry/strawberry/strawberry.db";
    }

    // Writes the library as the player would after these plays.
    void save() {
        std::filesystem::create_directories(libraryFile().parent_path());
        if (GetParam() == Player::rhythmbox) {
            std::string entries;
            for (const auto& [song, count] : plays) {
                std::vector<std::pair<std::string, std::string>> counts;
                if (count > 0)
                    counts = {{"play-count", std::to_string(count)}, {"last-played", "1733700000"}};
                entries +=
                    rhythmboxSong("Song " + std::to_string(song), "Artist", location(song), counts);
            }
            saveRhythmdb(libraryFile(), entries);
            return;
        }
        const bool fresh = !std::filesystem::exists(libraryFile());
        StrawberryDatabase db(libraryFile(), fresh);
        for (const auto& [song, count] : plays) {
            if (fresh)
                db.add({.url = location(song),
                        .title = "Song " + std::to_string(song),
                        .artist = "Artist",
                        .length = 200'000'000'000});
            db.execute("UPDATE songs SET playcount = " + std::to_string(count) +
                       (count > 0 ? ", lastplayed = 1733700000" : "") + " WHERE url = '" +
                       location(song) + "'");
        }
    }

    // What a crash leaves: Rhythmbox's save without fsync, a database file not yet made.
    void damage() {
        if (GetParam() == Player::strawberry)
            std::filesystem::rename(libraryFile(), libraryFile().string() + ".saved");
        writeFile(libraryFile(), "");
    }
    void repair() {
        if (GetParam() == Player::strawberry)
            std::filesystem::rename(libraryFile().string() + ".saved", libraryFile());
        save();
    }

    // The persistent IDs each player's songs 1, 2 and 3 get, on every machine, every scan.
    std::vector<std::string> ids() const {
        if (GetParam() == Player::rhythmbox)
            return {"F94B7389F240AB70", "29102D610338E1A3", "E68B22F62D296F56"};
        return {"80E76F687A1EEDBC", "96321AD6B822CE87", "61FE09CBD78926EA"};
    }
};

TEST_P(PlayerLibraryWorker, DumpsTheLibraryAndCountsNewPlaysAfterTheBaseline) {
    save();
    const ProcessResult dump = run({"--scan-library-json"});
    ASSERT_EQ(dump.status, 0) << dump.err;
    const LibraryScan scan = LibraryScan::fromJson(Json::parse(dump.out));
    std::vector<LibraryTrack> expected;
    for (int song = 1; song <= 3; ++song)
        expected.push_back(
            {ids()[song - 1], "Artist", GetParam() == Player::rhythmbox ? "Album" : "",
             "Song " + std::to_string(song),
             GetParam() == Player::rhythmbox ? std::nullopt : std::optional<int64_t>(200000), "",
             plays[song], plays[song] > 0 ? std::optional<int64_t>(1733700000) : std::nullopt, "",
             0, false, false});
    EXPECT_EQ(scan.tracks, expected);

    const ProcessResult first = pass("launch");
    ASSERT_EQ(first.status, 0) << first.err << first.out;
    ASSERT_EQ(runtime().pending.size(), 1u);
    EXPECT_TRUE(runtime().pending[0].payload.completionLibrary.isBaseline);
    EXPECT_EQ(runtime().pending[0].payload.completionLibrary.songCount, 3);

    plays[1] += 2;
    plays[2] += 1;
    save();
    const ProcessResult second = pass("library_changed");
    ASSERT_EQ(second.status, 0) << second.err << second.out;
    std::map<std::string, std::pair<int64_t, int64_t>> deltas;
    for (const auto& entry : runtime().pending)
        for (const auto& delta : entry.payload.completionLibrary.deltas)
            deltas[delta.persistentID] = {delta.playCountBefore, delta.playCountAfter};
    const std::map<std::string, std::pair<int64_t, int64_t>> raised = {{ids()[0], {5, 7}},
                                                                       {ids()[1], {0, 1}}};
    EXPECT_EQ(deltas, raised);
}

TEST_P(PlayerLibraryWorker, AnUnreadableLibraryFailsThePassAndKeepsTheBaseline) {
    save();
    ASSERT_EQ(pass("launch").status, 0);
    const std::string baseline = readFile(state / "capture-baseline.json");
    damage();
    const ProcessResult failed = pass("library_changed");
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(runtime().lastError.rfind("Music library unavailable: " + libraryFile().string(), 0),
              0u)
        << runtime().lastError;
    EXPECT_EQ(readFile(state / "capture-baseline.json"), baseline);

    plays[3] += 1;
    repair();
    const ProcessResult recovered = pass("library_changed");
    ASSERT_EQ(recovered.status, 0) << recovered.err << recovered.out;
    EXPECT_EQ(
        CaptureWorkerResult::fromJson(Json::parse(recovered.out)).diagnostics->emittedCompletions,
        1);
}

INSTANTIATE_TEST_SUITE_P(Players, PlayerLibraryWorker,
                         ::testing::Values(Player::rhythmbox, Player::strawberry),
                         [](const auto& info) {
                             return info.param == Player::rhythmbox ? "Rhythmbox" : "Strawberry";
                         });

} // namespace
