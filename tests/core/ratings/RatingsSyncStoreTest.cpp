#include "core/ratings/RatingsSyncStore.hpp"
#include "TestSupport.hpp"
#include "core/common/CaptureError.hpp"

#include <gtest/gtest.h>

using namespace qb;
using qb::test::readFile;
using qb::test::TempDir;
using qb::test::writeFile;

namespace {

const char* validFile = R"({"schemaVersion":1,"baselineSnapshotID":"qz_a",
    "serverBaselineSnapshotID":"","pending":[],"userRated":2,"favourites":1,"lastError":"",
    "lastQueuedAt":100,"baseline":{"000000000000002A":{"rating":80,"computed":false,
    "favourite":true,"playCount":4}}})";

Json validJson() {
    return Json::parse(validFile);
}

// Loads and returns the error's description, or "" when the file loads.
std::string loadFailure(const RatingsSyncStore& store) {
    try {
        store.load();
        return "";
    } catch (const CaptureError& e) {
        EXPECT_EQ(e.kind(), CaptureError::Kind::stateUnreadable);
        return e.description();
    }
}

} // namespace

TEST(RatingsSyncStore, MissingFileLoadsFreshState) {
    TempDir dir;
    RatingsSyncStore store(dir / "nested" / "state");
    EXPECT_TRUE(std::filesystem::is_directory(dir / "nested" / "state"));
    EXPECT_EQ(store.fileURL(), dir / "nested" / "state" / "ratings-sync.json");
    EXPECT_FALSE(store.exists());
    EXPECT_EQ(store.load(), RatingsSyncState::fresh());
    EXPECT_NO_THROW(store.reset());
    EXPECT_FALSE(store.exists());
}

TEST(RatingsSyncStore, SavesSortedCompactAndLoadsEqual) {
    TempDir dir;
    RatingsSyncStore store(dir.path());
    RatingsSyncState state = store.load();
    writeFile(store.fileURL(), validFile);
    state = store.load();
    EXPECT_EQ(state.userRated, 2);
    EXPECT_EQ(state.baseline->at("000000000000002A"), (RatingState{80, false, true, 4}));
    store.save(state);
    // nlohmann's objects keep keys sorted, so its compact dump is the expected text.
    EXPECT_EQ(readFile(store.fileURL()), validJson().dump());
    EXPECT_EQ(store.load(), state);
}

TEST(RatingsSyncStore, AbsentOptionalsAreNotWritten) {
    TempDir dir;
    RatingsSyncStore store(dir.path());
    store.createIfMissing();
    ASSERT_TRUE(store.exists());
    Json written = Json::parse(readFile(store.fileURL()));
    for (const char* key : {"baseline", "lastQueuedAt", "lastSyncedAt", "lastChangeQueuedAt",
                            "lastAvailabilityCheckAt", "lastPlayCountRefreshAt"})
        EXPECT_FALSE(written.contains(key)) << key;
    EXPECT_EQ(store.load(), RatingsSyncState::fresh());
}

TEST(RatingsSyncStore, CreateIfMissingKeepsExistingFile) {
    TempDir dir;
    RatingsSyncStore store(dir.path());
    writeFile(store.fileURL(), validFile);
    store.createIfMissing();
    EXPECT_EQ(readFile(store.fileURL()), validFile);
    store.reset();
    EXPECT_FALSE(store.exists());
}

TEST(RatingsSyncStore, OptionalKeysMayBeMissingOrNull) {
    TempDir dir;
    RatingsSyncStore store(dir.path());
    Json j = validJson();
    j.erase("baseline");
    j.erase("lastSyncedAt");
    j["lastQueuedAt"] = nullptr;
    j["unknownKey"] = {1, 2};
    writeFile(store.fileURL(), j.dump());
    RatingsSyncState loaded = store.load();
    EXPECT_FALSE(loaded.baseline);
    EXPECT_FALSE(loaded.lastSyncedAt);
    EXPECT_FALSE(loaded.lastQueuedAt);
    EXPECT_EQ(loaded.userRated, 2);
}

TEST(RatingsSyncStore, RefusesOtherSchemaVersions) {
    TempDir dir;
    RatingsSyncStore store(dir.path());
    Json j = validJson();
    j["schemaVersion"] = 2;
    writeFile(store.fileURL(), j.dump());
    EXPECT_EQ(loadFailure(store), "Capture state unreadable: unsupported ratings schema");
}

TEST(RatingsSyncStore, MissingRequiredKeysOrWrongTypesAreUnreadable) {
    TempDir dir;
    RatingsSyncStore store(dir.path());
    const std::string prefix = "Capture state unreadable: ratings: ";
    for (const char* key : {"schemaVersion", "baselineSnapshotID", "serverBaselineSnapshotID",
                            "pending", "userRated", "favourites", "lastError"}) {
        Json j = validJson();
        j.erase(key);
        writeFile(store.fileURL(), j.dump());
        std::string failure = loadFailure(store);
        EXPECT_EQ(failure.rfind(prefix, 0), 0u) << key << ": " << failure;
        EXPECT_NE(failure.find(key), std::string::npos) << failure;
    }
    for (const auto& [key, value] :
         std::vector<std::pair<std::string, Json>>{{"userRated", "2"},
                                                   {"lastSyncedAt", 1.5},
                                                   {"baseline", Json::array()},
                                                   {"pending", Json::object()},
                                                   {"lastError", false}}) {
        Json j = validJson();
        j[key] = value;
        writeFile(store.fileURL(), j.dump());
        EXPECT_EQ(loadFailure(store).rfind(prefix, 0), 0u) << key;
    }
    Json j = validJson();
    j["baseline"]["000000000000002A"].erase("favourite");
    writeFile(store.fileURL(), j.dump());
    EXPECT_EQ(loadFailure(store).rfind(prefix, 0), 0u);
}

TEST(RatingsSyncStore, CorruptOrUnreadableFileIsReported) {
    TempDir dir;
    RatingsSyncStore store(dir.path());
    writeFile(store.fileURL(), "{\"schemaVersion\":1,");
    EXPECT_EQ(loadFailure(store).rfind("Capture state unreadable: ratings: malformed JSON", 0), 0u);
    writeFile(store.fileURL(), "[]");
    EXPECT_EQ(loadFailure(store).rfind("Capture state unreadable: ratings: ", 0), 0u);

    std::filesystem::remove(store.fileURL());
    std::filesystem::create_directory(store.fileURL());
    EXPECT_TRUE(store.exists());
    EXPECT_EQ(loadFailure(store).rfind("Capture state unreadable: ratings: ", 0), 0u);
}

TEST(RatingsSyncStore, FailedSaveLeavesOldFile) {
    TempDir dir;
    RatingsSyncStore store(dir.path());
    writeFile(store.fileURL(), validFile);
    RatingsSyncState unencodable = RatingsSyncState::fresh();
    unencodable.lastError = "\xff";
    try {
        store.save(unencodable);
        FAIL() << "invalid UTF-8 was written";
    } catch (const CaptureError& e) {
        EXPECT_EQ(e.kind(), CaptureError::Kind::stateWriteFailed);
        EXPECT_EQ(e.description().rfind("Capture state write failed: ratings: ", 0), 0u);
    }
    EXPECT_EQ(readFile(store.fileURL()), validFile);

    // A directory cannot be replaced by a file, whatever the permissions.
    RatingsSyncStore blocked(dir / "blocked");
    std::filesystem::create_directory(blocked.fileURL());
    try {
        blocked.save(RatingsSyncState::fresh());
        FAIL() << "save into a directory succeeded";
    } catch (const CaptureError& e) {
        EXPECT_EQ(e.kind(), CaptureError::Kind::stateWriteFailed);
        EXPECT_EQ(e.description().rfind("Capture state write failed: ratings: ", 0), 0u);
    }
    EXPECT_TRUE(std::filesystem::is_directory(blocked.fileURL()));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "blocked"),
                            std::filesystem::directory_iterator()),
              1);

    // The parent path is a regular file: nothing can be written beneath it.
    writeFile(dir / "plain", "x");
    RatingsSyncStore underFile(dir / "plain");
    EXPECT_THROW(underFile.save(RatingsSyncState::fresh()), CaptureError);
    EXPECT_THROW(underFile.createIfMissing(), CaptureError);
    EXPECT_EQ(readFile(dir / "plain"), "x");
    EXPECT_EQ(readFile(store.fileURL()), validFile);
}
