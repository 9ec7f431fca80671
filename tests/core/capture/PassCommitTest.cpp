#include "core/capture/PassCommit.hpp"
#include "TestSupport.hpp"
#include "core/common/CaptureError.hpp"

#include <gtest/gtest.h>

#include <map>

using namespace qb;
using namespace qb::test;

namespace {

using Files = std::map<std::string, std::string>;

Files contents(const std::filesystem::path& directory) {
    Files files;
    for (const auto& entry : std::filesystem::directory_iterator(directory))
        files[entry.path().filename().string()] = readFile(entry.path());
    return files;
}

// The files a pass leaves when it is killed at each point, and what the next reader finds.
struct KillPoint {
    const char* name;
    Files left;
    Files settled;
};

class PassCommitSettle : public ::testing::TestWithParam<KillPoint> {};

const Files before = {{"capture-runtime.json", "queue 1"},
                      {"capture-baseline.json", "baseline 1"},
                      {"nonlibrary-player-sessions.json", "journal 1"},
                      {"ratings-sync.json", "ratings"}};

Files with(Files files, const Files& changes) {
    for (const auto& [name, content] : changes)
        files[name] = content;
    return files;
}

} // namespace

TEST_P(PassCommitSettle, CompletesACommittedPassAndDropsAnUncommittedOne) {
    TempDir dir;
    for (const auto& [name, content] : GetParam().left)
        writeFile(dir / name, content);
    PassCommit::settle(dir.path());
    EXPECT_EQ(contents(dir.path()), GetParam().settled);
    PassCommit::settle(dir.path()); // settling again changes nothing
    EXPECT_EQ(contents(dir.path()), GetParam().settled);
}

INSTANTIATE_TEST_SUITE_P(
    KillPoints, PassCommitSettle,
    ::testing::Values(
        KillPoint{"NothingStaged", before, before},
        KillPoint{"BaselineStaged", with(before, {{"capture-baseline.json.next", "baseline 2"}}),
                  before},
        KillPoint{"BaselineAndJournalStaged",
                  with(before, {{"capture-baseline.json.next", "baseline 2"},
                                {"nonlibrary-player-sessions.json.next", "journal 2"}}),
                  before},
        KillPoint{"Committed",
                  with(before, {{"capture-baseline.json.next", "baseline 2"},
                                {"nonlibrary-player-sessions.json.next", "journal 2"},
                                {"capture-runtime.json.next", "queue 2"}}),
                  with(before, {{"capture-baseline.json", "baseline 2"},
                                {"nonlibrary-player-sessions.json", "journal 2"},
                                {"capture-runtime.json", "queue 2"}})},
        KillPoint{"BaselineMovedRuntimeNot",
                  with(before, {{"capture-baseline.json", "baseline 2"},
                                {"capture-runtime.json.next", "queue 2"}}),
                  with(before, {{"capture-baseline.json", "baseline 2"},
                                {"capture-runtime.json", "queue 2"}})},
        KillPoint{"FirstPassCommitted",
                  {{"capture-baseline.json.next", "baseline 1"},
                   {"capture-runtime.json.next", "queue 1"}},
                  {{"capture-baseline.json", "baseline 1"}, {"capture-runtime.json", "queue 1"}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PassCommit, AFileThatCannotBeMovedStopsTheReaders) {
    TempDir dir;
    writeFile(dir / "capture-runtime.json.next", "queue 2");
    std::filesystem::create_directories(dir / "capture-runtime.json" / "in-the-way");
    EXPECT_THROW(PassCommit::settle(dir.path()), CaptureError);
    EXPECT_EQ(readFile(dir / "capture-runtime.json.next"), "queue 2"); // kept for the next try
}
