#include "core/player/NonLibrarySessionStore.hpp"
#include "TestSupport.hpp"
#include "core/common/CaptureError.hpp"
#include "core/common/FileIO.hpp"

#include <gtest/gtest.h>

using namespace qb;
using qb::test::readFile;
using qb::test::TempDir;
using qb::test::writeFile;

namespace {

PlayerSessionRecord record(const std::string& id) {
    PlayerSessionRecord r;
    r.sessionID = id;
    r.artist = "Artist";
    r.track = "Track-" + id;
    r.album = "Album";
    r.durationMS = 200000;
    r.libraryPersistentID = "-42";
    r.firstObservedAt = 1700000000;
    r.lastObservedAt = 1700000200;
    r.playingMS = 190000;
    r.pausedMS = 10000;
    r.wallObservedMS = 200000;
    r.unobservedMS = 0;
    r.finaliseReason = PlayerSessionEnd::playerStopped;
    r.boundaryObserved = true;
    return r;
}

std::string journalFile(const std::string& sessionsJson, int schema = 1) {
    return R"({"dispositions":{},"recentLibraryMoves":[],"schemaVersion":)" +
           std::to_string(schema) + R"(,"sessions":)" + sessionsJson + "}";
}

const char* const validRecord =
    R"({"album":"","artist":"A","boundaryObserved":false,"finaliseReason":"track_changed",)"
    R"("firstObservedAt":1,"lastObservedAt":2,"libraryPersistentID":"","pausedMS":0,)"
    R"("playingMS":5,"sessionID":"s","track":"T","unobservedMS":0,"wallObservedMS":1000})";

CaptureError loadError(const NonLibrarySessionStore& store) {
    try {
        store.load();
    } catch (const CaptureError& e) {
        return e;
    }
    ADD_FAILURE() << "load did not fail";
    return CaptureError::queueFull();
}

} // namespace

TEST(NonLibrarySessionStore, CreateSaveLoadAndReset) {
    TempDir dir;
    NonLibrarySessionStore store(dir / "state");
    EXPECT_EQ(store.fileURL(), dir / "state" / "nonlibrary-player-sessions.json");
    EXPECT_FALSE(std::filesystem::exists(dir / "state")) << "creating the store touches nothing";
    EXPECT_FALSE(store.exists());

    store.createIfMissing(); // creates the missing directory too
    ASSERT_TRUE(store.exists());
    EXPECT_EQ(store.load(), NonLibrarySessionJournal::empty());
    EXPECT_EQ(readFile(store.fileURL()),
              R"({"dispositions":{},"recentLibraryMoves":[],"schemaVersion":1,"sessions":[]})");

    NonLibrarySessionJournal journal;
    journal.sessions = {record("a"), record("b")};
    journal.recentLibraryMoves = {{"artist\x01title", "00000000000000AB", 1700000000}};
    journal.count(NonLibrarySessionDisposition::emitted, 3);
    journal.count(NonLibrarySessionDisposition::emitted, 2);
    journal.count(NonLibrarySessionDisposition::noProgress, 1);
    store.save(journal);
    EXPECT_EQ(store.load(), journal);
    EXPECT_EQ(store.load().dispositions.at("emitted"), 5);

    store.reset();
    EXPECT_FALSE(store.exists());
    EXPECT_NO_THROW(store.reset()) << "resetting a missing file succeeds";
}

TEST(NonLibrarySessionStore, WritesCompactJsonWithSortedKeys) {
    TempDir dir;
    NonLibrarySessionStore store(dir.path());
    NonLibrarySessionJournal journal;
    journal.sessions = {record("s1")};
    journal.count(NonLibrarySessionDisposition::unknownDuration, 1);
    journal.count(NonLibrarySessionDisposition::emitted, 1);
    journal.count(NonLibrarySessionDisposition::libraryCountMoved, 1);
    store.save(journal);
    const std::string text = readFile(store.fileURL());
    EXPECT_EQ(text.find_first_of(" \n\t"), std::string::npos) << text;
    EXPECT_LT(text.find("\"boundaryObserved\""), text.find("\"sessionID\""));
    EXPECT_LT(text.find("\"dispositions\""), text.find("\"schemaVersion\""));
    EXPECT_LT(text.find("\"emitted\""), text.find("\"library_count_moved_same_recording\""));
    EXPECT_LT(text.find("\"library_count_moved_same_recording\""),
              text.find("\"unknown_duration\""));
    EXPECT_NE(text.find(R"("finaliseReason":"player_stopped")"), std::string::npos);
}

TEST(NonLibrarySessionStore, MissingDurationRoundTripsWithoutKey) {
    TempDir dir;
    NonLibrarySessionStore store(dir.path());
    writeFile(store.fileURL(), journalFile(std::string("[") + validRecord + "]"));
    auto journal = store.load();
    ASSERT_EQ(journal.sessions.size(), 1u);
    EXPECT_FALSE(journal.sessions[0].durationMS.has_value());
    store.save(journal);
    EXPECT_EQ(readFile(store.fileURL()).find("durationMS"), std::string::npos);

    std::string withNull = validRecord;
    withNull.insert(1, R"("durationMS":null,)");
    writeFile(store.fileURL(), journalFile("[" + withNull + "]"));
    EXPECT_FALSE(store.load().sessions[0].durationMS.has_value());
}

TEST(NonLibrarySessionStore, AppendIsBoundedAndCountsOverflow) {
    TempDir dir;
    NonLibrarySessionStore store(dir.path());
    store.append(record("ignored"));
    EXPECT_FALSE(store.exists()) << "appending to a missing journal creates nothing";
    EXPECT_FALSE(std::filesystem::exists(dir / "nonlibrary-player-sessions.json"));

    store.createIfMissing();
    NonLibrarySessionJournal full;
    for (int i = 0; i < 499; ++i)
        full.sessions.push_back(record(std::to_string(i)));
    store.save(full);
    store.append(record("499"));
    auto journal = store.load();
    EXPECT_EQ(journal.sessions.size(), 500u);
    EXPECT_EQ(journal.dispositions.count("journal_overflow"), 0u);

    store.append(record("500")); // the 501st
    journal = store.load();
    ASSERT_EQ(journal.sessions.size(), 500u);
    EXPECT_EQ(journal.sessions.front().sessionID, "1");
    EXPECT_EQ(journal.sessions.back().sessionID, "500");
    EXPECT_EQ(journal.dispositions.at("journal_overflow"), 1);

    store.append(record("501"));
    EXPECT_EQ(store.load().dispositions.at("journal_overflow"), 2);

    // A hand-grown journal is cut back to the newest 500 in one step.
    for (int i = 502; i < 510; ++i)
        full.sessions.push_back(record(std::to_string(i)));
    full.sessions.resize(505);
    store.save(full);
    store.append(record("new"));
    journal = store.load();
    EXPECT_EQ(journal.sessions.size(), 500u);
    EXPECT_EQ(journal.sessions.back().sessionID, "new");
    EXPECT_EQ(journal.dispositions.at("journal_overflow"), 6);
}

TEST(NonLibrarySessionStore, WrongSchemaIsRefusedAndAppendLeavesFile) {
    TempDir dir;
    NonLibrarySessionStore store(dir.path());
    const std::string schema2 = journalFile("[]", 2);
    writeFile(store.fileURL(), schema2);
    EXPECT_EQ(loadError(store),
              CaptureError::stateUnreadable("unsupported non-library journal schema"));
    EXPECT_THROW(store.append(record("x")), CaptureError);
    EXPECT_EQ(readFile(store.fileURL()), schema2);
}

TEST(NonLibrarySessionStore, UnreadableFilesFailWithPrefixedDetail) {
    TempDir dir;
    NonLibrarySessionStore store(dir.path());
    auto expectUnreadable = [&](const std::string& content, const std::string& why) {
        writeFile(store.fileURL(), content);
        CaptureError error = loadError(store);
        EXPECT_EQ(error.kind(), CaptureError::Kind::stateUnreadable) << why;
        EXPECT_EQ(error.detail().rfind("non-library journal: ", 0), 0u)
            << why << ": " << error.detail();
        EXPECT_THROW(store.append(record("x")), CaptureError) << why;
        EXPECT_EQ(readFile(store.fileURL()), content) << why;
    };
    expectUnreadable("{not json", "malformed");
    expectUnreadable("", "empty file");
    expectUnreadable("[]", "not an object");
    expectUnreadable(R"({"recentLibraryMoves":[],"schemaVersion":1,"sessions":[]})",
                     "no dispositions");
    expectUnreadable(R"({"dispositions":{},"schemaVersion":1,"sessions":[]})", "no moves");
    expectUnreadable(R"({"dispositions":{},"recentLibraryMoves":[],"sessions":[]})", "no schema");
    expectUnreadable(R"({"dispositions":{},"recentLibraryMoves":[],"schemaVersion":1})",
                     "no sessions");
    expectUnreadable(journalFile("{}"), "sessions not a list");
    expectUnreadable(
        R"({"dispositions":[],"recentLibraryMoves":[],"schemaVersion":1,"sessions":[]})",
        "dispositions not a map");
    expectUnreadable(
        R"({"dispositions":{"emitted":"3"},"recentLibraryMoves":[],"schemaVersion":1,"sessions":[]})",
        "count not an integer");
    expectUnreadable(
        R"({"dispositions":{},"recentLibraryMoves":[],"schemaVersion":"1","sessions":[]})",
        "schema as text");
    expectUnreadable(
        R"({"dispositions":{},"recentLibraryMoves":[{"recordingKey":"k","scanObservedAt":1}],)"
        R"("schemaVersion":1,"sessions":[]})",
        "move without persistentID");

    std::string badReason = validRecord;
    badReason.replace(badReason.find("track_changed"), 13, "skipped");
    expectUnreadable(journalFile("[" + badReason + "]"), "unknown finaliseReason");
    std::string noArtist = validRecord;
    noArtist.erase(noArtist.find(R"("artist":"A",)"), 13);
    expectUnreadable(journalFile("[" + noArtist + "]"), "record without artist");
    std::string stringTime = validRecord;
    stringTime.replace(stringTime.find(R"("firstObservedAt":1)"), 19, R"("firstObservedAt":"1")");
    expectUnreadable(journalFile("[" + stringTime + "]"), "time as text");
    std::string boolAsInt = validRecord;
    boolAsInt.replace(boolAsInt.find("false"), 5, "0");
    expectUnreadable(journalFile("[" + boolAsInt + "]"), "flag as number");

    std::filesystem::remove(store.fileURL());
    CaptureError missing = loadError(store);
    EXPECT_EQ(missing.kind(), CaptureError::Kind::stateUnreadable);
    EXPECT_EQ(missing.detail().rfind("non-library journal: ", 0), 0u);
}

TEST(NonLibrarySessionStore, CreateIfMissingNeverTouchesAnExistingFile) {
    TempDir dir;
    NonLibrarySessionStore store(dir.path());
    const std::string corrupt("\x00\xff{garbage", 10);
    writeFile(store.fileURL(), corrupt);
    store.createIfMissing();
    EXPECT_EQ(readFile(store.fileURL()), corrupt);
}

TEST(NonLibrarySessionStore, FailedSaveIsAWriteFailure) {
    TempDir dir;
    writeFile(dir / "blocker", "a file where the state directory should be");
    NonLibrarySessionStore store(dir / "blocker");
    try {
        store.createIfMissing();
        ADD_FAILURE() << "save below a regular file succeeded";
    } catch (const CaptureError& e) {
        EXPECT_EQ(e.kind(), CaptureError::Kind::stateWriteFailed);
        EXPECT_EQ(e.detail().rfind("non-library journal: ", 0), 0u) << e.detail();
    }
    EXPECT_FALSE(store.exists());
}

TEST(NonLibrarySessionStore, UnencodableTextIsAWriteFailure) {
    TempDir dir;
    NonLibrarySessionStore store(dir.path());
    store.createIfMissing();
    const std::string before = readFile(store.fileURL());
    PlayerSessionRecord bad = record("a");
    bad.artist = "\xC3";
    try {
        store.append(bad);
        ADD_FAILURE() << "invalid UTF-8 was written";
    } catch (const CaptureError& e) {
        EXPECT_EQ(e.kind(), CaptureError::Kind::stateWriteFailed);
    }
    EXPECT_EQ(readFile(store.fileURL()), before);
}

TEST(NonLibrarySessionJournal, CountSaturatesOnHostileValues) {
    NonLibrarySessionJournal journal;
    journal.dispositions["emitted"] = INT64_MAX;
    journal.count(NonLibrarySessionDisposition::emitted, 1);
    EXPECT_EQ(journal.dispositions.at("emitted"), INT64_MAX);
    journal.count(NonLibrarySessionDisposition::exceedsDuration, 0);
    EXPECT_EQ(journal.dispositions.at("progress_exceeds_duration"), 0);
}
