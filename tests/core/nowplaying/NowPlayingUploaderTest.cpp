#include "core/nowplaying/NowPlayingUploader.hpp"

#include <gtest/gtest.h>
#include <set>

using namespace qb;

namespace {

struct Post {
    Json payload;
    UploadCredential credential;
    NowPlayingTransport::Completion completion;
};

// Keeps every request so the test can look at it and answer it when it likes.
class FakeTransport : public NowPlayingTransport {
  public:
    std::vector<Post> posts;
    void post(const Json& payload, const UploadCredential& credential,
              Completion completion) override {
        posts.push_back({payload, credential, std::move(completion)});
    }
    void answer(size_t index, std::optional<Json> json, int64_t status) {
        posts.at(index).completion(std::move(json), status);
    }
};

UploadCredential credential() {
    return {"tok", "https://svc.example", 1, "acct", "a@b.c"};
}

struct Fixture {
    FakeTransport transport;
    double now = 1000.0;
    std::optional<UploadCredential> stored = credential();
    std::shared_ptr<NowPlayingUploader> uploader = NowPlayingUploader::create(
        transport, [this] { return stored; }, [this] { return now; });

    std::vector<std::pair<std::string, std::string>> accepted;
    std::vector<Json> budgets;
    int rejected = 0;

    Fixture() {
        uploader->setOnAccepted(
            [this](const std::string& a, const std::string& t) { accepted.emplace_back(a, t); });
        uploader->setOnBudget([this](const Json& b) { budgets.push_back(b); });
        uploader->setOnCredentialRejected([this] { ++rejected; });
    }

    bool play(bool playing = true, std::string album = "Gamma",
              std::optional<int64_t> duration = 180000, std::string track = "Beta") {
        return uploader->send("Alpha", track, album, playing, duration, "00AA", "install-1", "Mac",
                              1'700'000'000);
    }
};

std::set<std::string> keysOf(const Json& object) {
    std::set<std::string> keys;
    for (auto it = object.begin(); it != object.end(); ++it)
        keys.insert(it.key());
    return keys;
}

} // namespace

TEST(NowPlayingUploaderTest, PlayReportBody) {
    Fixture f;
    ASSERT_TRUE(f.play());
    ASSERT_EQ(f.transport.posts.size(), 1u);
    const Json body = f.transport.posts[0].payload;
    EXPECT_EQ(body, Json::parse(R"({"artist":"Alpha","track":"Beta","album":"Gamma",
        "playback_state":"playing","duration_ms":180000,"library_persistent_id":"00AA",
        "install_id":"install-1","device_label":"Mac","source":"native_apple",
        "observed_at":1700000000})"));
    EXPECT_EQ(f.transport.posts[0].credential, credential());

    f.uploader->noteCredentialChanged();
    f.uploader->send("Alpha", "Beta", "", false, std::nullopt, "", "i", "Mac", 5);
    const Json& unknown = f.transport.posts.at(1).payload;
    EXPECT_EQ(keysOf(unknown), keysOf(body));
    EXPECT_TRUE(unknown.at("duration_ms").is_null());
    EXPECT_EQ(unknown.at("playback_state"), "paused");
    EXPECT_EQ(unknown.at("album"), "");
}

TEST(NowPlayingUploaderTest, HeartbeatSpacesRepeatsOfTheSameReport) {
    Fixture f;
    EXPECT_TRUE(f.play());
    f.now += 10;
    EXPECT_FALSE(f.play());
    f.now += 9.9;
    EXPECT_FALSE(f.play());
    f.now += 0.1;
    EXPECT_TRUE(f.play());
    EXPECT_EQ(f.transport.posts.size(), 2u);
}

TEST(NowPlayingUploaderTest, ChangesGoOutAtOnceExceptDuration) {
    Fixture f;
    EXPECT_TRUE(f.play(true));
    EXPECT_TRUE(f.play(false));
    EXPECT_TRUE(f.play(false, "Gamma (Deluxe)"));
    EXPECT_FALSE(f.play(false, "Gamma (Deluxe)", 1));
    EXPECT_TRUE(f.play(false, "Gamma (Deluxe)", 1, "Delta"));
    EXPECT_EQ(f.transport.posts.size(), 4u);
}

TEST(NowPlayingUploaderTest, ClockSetBackDoesNotStallTheHeartbeat) {
    Fixture f;
    EXPECT_TRUE(f.play());
    f.now -= 3600;
    EXPECT_TRUE(f.play());
    f.now += 1;
    EXPECT_FALSE(f.play());
}

TEST(NowPlayingUploaderTest, EmptyArtistOrTrackOrNoCredentialRecordsNothing) {
    Fixture f;
    EXPECT_FALSE(f.uploader->send("", "Beta", "", true, 1, "", "i", "Mac", 1));
    EXPECT_FALSE(f.play(true, "Gamma", 1, ""));
    f.stored.reset();
    EXPECT_FALSE(f.play());
    f.stored = credential();
    f.stored->baseURL = "http://svc.example";
    EXPECT_FALSE(f.play());
    EXPECT_TRUE(f.transport.posts.empty());
    // Nothing was recorded, so a stop has nothing to end and the next report goes out.
    f.stored = credential();
    f.uploader->sendStopped("stopped", "i", 2);
    EXPECT_TRUE(f.transport.posts.empty());
    EXPECT_TRUE(f.play());
}

TEST(NowPlayingUploaderTest, ServiceTunesTheHeartbeatWithinBounds) {
    Fixture f;
    auto answerWith = [&](Json heartbeat, int64_t status = 200) {
        f.uploader->noteCredentialChanged();
        ASSERT_TRUE(f.play());
        f.transport.answer(f.transport.posts.size() - 1, Json{{"heartbeat_seconds", heartbeat}},
                           status);
    };
    answerWith(60);
    EXPECT_EQ(f.uploader->heartbeatSeconds(), 60);
    f.now += 59;
    EXPECT_FALSE(f.play());
    f.now += 1;
    EXPECT_TRUE(f.play());

    answerWith(4);
    answerWith(601);
    answerWith(600.5);
    answerWith("30");
    answerWith(nullptr);
    answerWith(30, 500);
    answerWith(30, 401);
    EXPECT_EQ(f.uploader->heartbeatSeconds(), 60);
    answerWith(5);
    EXPECT_EQ(f.uploader->heartbeatSeconds(), 5);
    answerWith(600);
    EXPECT_EQ(f.uploader->heartbeatSeconds(), 600);
    answerWith(7.5);
    EXPECT_EQ(f.uploader->heartbeatSeconds(), 7.5);
}

TEST(NowPlayingUploaderTest, AcceptedOnlyForSuccessfulPlayReports) {
    Fixture f;
    ASSERT_TRUE(f.play());
    f.transport.answer(0, Json{{"accepted", true}}, 401);
    EXPECT_TRUE(f.accepted.empty());
    EXPECT_EQ(f.rejected, 1);

    f.transport.answer(0, Json{{"accepted", 1}}, 200);
    f.transport.answer(0, Json{{"accepted", "true"}}, 200);
    f.transport.answer(0, Json{{"accepted", true}}, 302);
    f.transport.answer(0, std::nullopt, 200);
    EXPECT_TRUE(f.accepted.empty());
    f.transport.answer(0, Json{{"accepted", true}}, 202);
    EXPECT_EQ(f.accepted, (std::vector<std::pair<std::string, std::string>>{{"Alpha", "Beta"}}));

    // A stop report carries no artist, so it is never accepted.
    f.uploader->sendStopped("stopped", "i", 2);
    f.transport.answer(1, Json{{"accepted", true}}, 200);
    EXPECT_EQ(f.accepted.size(), 1u);
}

TEST(NowPlayingUploaderTest, RejectionKeepsTheSignature) {
    Fixture f;
    ASSERT_TRUE(f.play());
    f.transport.answer(0, std::nullopt, 403);
    EXPECT_EQ(f.rejected, 1);
    EXPECT_FALSE(f.play());
    f.transport.answer(0, std::nullopt, 0);
    f.transport.answer(0, std::nullopt, 500);
    EXPECT_EQ(f.rejected, 1);
}

TEST(NowPlayingUploaderTest, BudgetObjectIsPassedOnForAnyStatus) {
    Fixture f;
    ASSERT_TRUE(f.play());
    const Json budget = {{"remaining", 3}};
    for (int64_t status : {200, 401, 429, 500})
        f.transport.answer(0, Json{{"budget", budget}}, status);
    f.transport.answer(0, Json{{"budget", Json::array({1})}}, 200);
    f.transport.answer(0, Json{{"budget", 5}}, 200);
    EXPECT_EQ(f.budgets, std::vector<Json>(4, budget));
    EXPECT_EQ(f.rejected, 1);
}

TEST(NowPlayingUploaderTest, StopFollowsOnlyAPlayReport) {
    Fixture f;
    f.uploader->sendStopped("stopped", "i", 2);
    EXPECT_TRUE(f.transport.posts.empty());
    ASSERT_TRUE(f.play());
    f.uploader->sendStopped("stopped", "install-1", 1'700'000'100);
    ASSERT_EQ(f.transport.posts.size(), 2u);
    EXPECT_EQ(f.transport.posts[1].payload,
              Json::parse(R"({"playback_state":"stopped","stop_reason":"stopped",
                  "install_id":"install-1","source":"native_apple","observed_at":1700000100})"));
    f.uploader->sendStopped("stopped", "i", 3);
    EXPECT_EQ(f.transport.posts.size(), 2u);
    // After the stop the same item counts as new.
    EXPECT_TRUE(f.play());

    // A stop without a credential is dropped but still resets.
    f.stored.reset();
    f.uploader->sendStopped("stopped", "i", 4);
    f.stored = credential();
    f.uploader->sendStopped("stopped", "i", 5);
    EXPECT_EQ(f.transport.posts.size(), 3u);
}

TEST(NowPlayingUploaderTest, CredentialChangeSendsTheNextReportAtOnce) {
    Fixture f;
    ASSERT_TRUE(f.play());
    EXPECT_FALSE(f.play());
    f.uploader->noteCredentialChanged();
    EXPECT_TRUE(f.play());
    f.uploader->noteCredentialChanged();
    f.uploader->sendStopped("stopped", "i", 2);
    EXPECT_EQ(f.transport.posts.size(), 2u);
}

TEST(NowPlayingUploaderTest, AnswersAfterTheUploaderIsGoneAreDropped) {
    Fixture f;
    ASSERT_TRUE(f.play());
    auto completion = f.transport.posts[0].completion;
    f.uploader.reset();
    completion(Json{{"accepted", true}, {"budget", Json::object()}}, 200);
    EXPECT_TRUE(f.accepted.empty());
    EXPECT_TRUE(f.budgets.empty());
}

TEST(NowPlayingUploaderTest, CallbacksMayCallBackIntoTheUploader) {
    Fixture f;
    f.uploader->setOnCredentialRejected([&] { f.uploader->noteCredentialChanged(); });
    f.uploader->setOnAccepted(
        [&](const std::string&, const std::string&) { f.uploader->setOnAccepted({}); });
    ASSERT_TRUE(f.play());
    f.transport.answer(0, Json{{"accepted", true}, {"heartbeat_seconds", 30}}, 200);
    f.transport.answer(0, std::nullopt, 401);
    EXPECT_TRUE(f.play());
    EXPECT_EQ(f.uploader->heartbeatSeconds(), 30);
}
