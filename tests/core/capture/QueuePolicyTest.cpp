#include "core/capture/QueuePolicy.hpp"
#include "core/common/CaptureError.hpp"

#include <gtest/gtest.h>

using namespace qb;

namespace {

PendingPayload entry(const std::string& id) {
    PendingPayload p;
    p.id = id;
    p.payload.installID = "install";
    return p;
}

PendingPayload withPlays(const std::string& id) {
    PendingPayload p = entry(id);
    CompletionDelta d;
    d.persistentID = "000000000000002A";
    d.playCountBefore = 1;
    d.playCountAfter = 2;
    p.payload.completionLibrary.deltas.push_back(d);
    return p;
}

PendingPayload baseline(const std::string& id) {
    PendingPayload p = entry(id);
    p.payload.completionLibrary.isBaseline = true;
    return p;
}

PendingPayload withObservations(const std::string& id) {
    PendingPayload p = entry(id);
    PlayerSessionObservation o;
    o.observationID = "obs";
    p.payload.observations = std::vector<PlayerSessionObservation>{o};
    return p;
}

std::vector<PendingPayload> fullOfPlays(std::size_t count) {
    std::vector<PendingPayload> queue;
    for (std::size_t i = 0; i < count; ++i)
        queue.push_back(withPlays("p" + std::to_string(i)));
    return queue;
}

std::vector<std::string> ids(const std::vector<PendingPayload>& queue) {
    std::vector<std::string> out;
    for (const auto& p : queue)
        out.push_back(p.id);
    return out;
}

} // namespace

TEST(QueuePolicy, EvidenceFreeMeansNoPlaysNoObservationsNoBaseline) {
    EXPECT_TRUE(QueuePolicy::isEvidenceFree(entry("a")));
    EXPECT_FALSE(QueuePolicy::isEvidenceFree(withPlays("a")));
    EXPECT_FALSE(QueuePolicy::isEvidenceFree(baseline("a")));
    EXPECT_FALSE(QueuePolicy::isEvidenceFree(withObservations("a")));

    PendingPayload emptyObservations = entry("a");
    emptyObservations.payload.observations = std::vector<PlayerSessionObservation>{};
    EXPECT_TRUE(QueuePolicy::isEvidenceFree(emptyObservations));

    PendingPayload wentDown = entry("a");
    CompletionDelta d;
    d.playCountBefore = 5;
    d.playCountAfter = 3;
    wentDown.payload.completionLibrary.deltas.push_back(d);
    EXPECT_TRUE(QueuePolicy::isEvidenceFree(wentDown));
}

TEST(QueuePolicy, AppendsInOrderAndSkipsQueuedIds) {
    EXPECT_EQ(QueuePolicy::append({}, fullOfPlays(3)), fullOfPlays(3));

    auto queue = QueuePolicy::append({withPlays("a"), baseline("b")}, {});
    EXPECT_EQ(ids(queue), (std::vector<std::string>{"a", "b"}));

    PendingPayload repeat = withPlays("a");
    repeat.queuedAt = 99;
    queue = QueuePolicy::append({repeat, withObservations("c"), withPlays("c")}, queue);
    EXPECT_EQ(ids(queue), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(queue[0].queuedAt, 0) << "the queued entry is kept, not the repeat";
    EXPECT_TRUE(queue[2].payload.hasObservations());
}

TEST(QueuePolicy, KeepsOnlyTheNewestScanReport) {
    auto queue = QueuePolicy::append({entry("r1")}, {});
    EXPECT_EQ(ids(queue), (std::vector<std::string>{"r1"}));

    queue = QueuePolicy::append({withPlays("a"), entry("r2")}, queue);
    EXPECT_EQ(ids(queue), (std::vector<std::string>{"r2", "a"})) << "replaced in place";

    queue = QueuePolicy::append({entry("r3"), entry("r4")}, queue);
    EXPECT_EQ(ids(queue), (std::vector<std::string>{"r4", "a"}));
}

TEST(QueuePolicy, ScanReportNeverTakesTheBaselinesPlace) {
    auto queue = QueuePolicy::append({entry("r")}, {baseline("b")});
    EXPECT_EQ(ids(queue), (std::vector<std::string>{"b", "r"}));
    EXPECT_TRUE(queue[0].payload.completionLibrary.isBaseline);
}

TEST(QueuePolicy, FullQueue) {
    const auto full = fullOfPlays(QueuePolicy::maxPendingPayloads);

    // A repeat is skipped before the size test.
    EXPECT_EQ(QueuePolicy::append({withPlays("p7")}, full), full);

    EXPECT_THROW(QueuePolicy::append({withPlays("new")}, full), CaptureError);
    EXPECT_THROW(QueuePolicy::append({entry("report")}, full), CaptureError);

    auto withReport = full;
    withReport[100] = entry("old-report");
    const auto replaced = QueuePolicy::append({entry("report")}, withReport);
    ASSERT_EQ(replaced.size(), QueuePolicy::maxPendingPayloads);
    EXPECT_EQ(replaced[100].id, "report");

    try {
        QueuePolicy::append({baseline("b")}, full);
        FAIL() << "expected queueFull";
    } catch (const CaptureError& e) {
        EXPECT_EQ(e, CaptureError::queueFull());
        EXPECT_STREQ(e.what(), "Upload queue full; baseline held");
    }
}

TEST(QueuePolicy, WholeCallFailsWhenTheQueueFillsUp) {
    const auto almostFull = fullOfPlays(QueuePolicy::maxPendingPayloads - 1);
    EXPECT_EQ(QueuePolicy::append({withPlays("x")}, almostFull).size(),
              QueuePolicy::maxPendingPayloads);

    const auto before = almostFull;
    EXPECT_THROW(QueuePolicy::append({withPlays("x"), withPlays("y")}, almostFull), CaptureError);
    EXPECT_EQ(almostFull, before);
}
