#include "core/nowplaying/HttpNowPlayingTransport.hpp"
#include "FakeService.hpp"
#include "core/nowplaying/NowPlayingUploader.hpp"

#include <future>
#include <gtest/gtest.h>
#include <thread>

namespace qb {
namespace {

using test::FakeService;

struct Answer {
    std::optional<Json> json;
    int64_t status = -1;
};

class HttpNowPlayingTransportTest : public ::testing::Test {
  protected:
    FakeService service;
    HttpNowPlayingTransport transport{service.client(), 10};
    const std::string path = "/api/native/now-playing";

    UploadCredential credential() const { return {"t0k", service.baseURL(), 1, "acct", ""}; }

    Answer post(const Json& payload, const UploadCredential& credential) {
        auto promise = std::make_shared<std::promise<Answer>>();
        auto future = promise->get_future();
        transport.post(payload, credential, [promise](std::optional<Json> json, int64_t status) {
            promise->set_value({std::move(json), status});
        });
        return future.get();
    }
};

TEST_F(HttpNowPlayingTransportTest, PostsTheReportWithBearerTokenAndPassesTheAnswerOn) {
    service.script(path, "POST",
                   Json::array({{{"status", 202}, {"body", {{"heartbeat_seconds", 30}}}}}));
    const Json payload = {{"artist", "Alpha"},
                          {"track", "Beta"},
                          {"duration_ms", nullptr},
                          {"observed_at", 1700000000}};

    Answer answer = post(payload, credential());

    EXPECT_EQ(answer.status, 202);
    EXPECT_EQ(answer.json, Json({{"heartbeat_seconds", 30}}));
    auto recorded = service.requestsTo(path);
    ASSERT_EQ(recorded.size(), 1u);
    EXPECT_EQ(recorded[0]["method"], "POST");
    EXPECT_EQ(recorded[0]["headers"]["authorization"], "Bearer t0k");
    EXPECT_EQ(recorded[0]["headers"]["content-type"], "application/json");
    EXPECT_EQ(recorded[0]["json"], payload);
    // Compact encoding: no spaces or line breaks outside strings.
    EXPECT_EQ(recorded[0]["body"].get<std::string>().find_first_of(" \n"), std::string::npos);
}

TEST_F(HttpNowPlayingTransportTest, AnswersThatAreNoJsonObjectArePassedOnWithoutJson) {
    service.script(path, "POST",
                   Json::array({{{"status", 200}, {"body", Json::array({1, 2})}},
                                {{"status", 502}, {"body", "<html>bad gateway</html>"}},
                                {{"status", 204}},
                                {{"status", 200}, {"body", "{\"accepted\": tru"}},
                                {{"status", 401}, {"body", {{"error", "unauthorized"}}}},
                                {{"reset", true}}}));
    const Json payload = {{"artist", "A"}};
    for (int64_t status : {200, 502, 204, 200}) {
        Answer answer = post(payload, credential());
        EXPECT_EQ(answer.status, status);
        EXPECT_EQ(answer.json, std::nullopt);
    }
    Answer rejected = post(payload, credential());
    EXPECT_EQ(rejected.status, 401);
    EXPECT_EQ(rejected.json, Json({{"error", "unauthorized"}}));
    Answer dropped = post(payload, credential());
    EXPECT_EQ(dropped.status, 0);
    EXPECT_EQ(dropped.json, std::nullopt);
}

TEST_F(HttpNowPlayingTransportTest, NothingIsSentWithoutAUsableCredentialOrEncodableBody) {
    UploadCredential noToken = credential();
    noToken.token.clear();
    UploadCredential plainHttp = credential();
    plainHttp.baseURL = "http://127.0.0.1:1";
    UploadCredential upperScheme = credential();
    upperScheme.baseURL = "HTTPS://127.0.0.1:1";
    for (const UploadCredential& unusable : {noToken, plainHttp, upperScheme}) {
        Answer answer = post({{"artist", "A"}}, unusable);
        EXPECT_EQ(answer.status, 0) << unusable.baseURL;
        EXPECT_EQ(answer.json, std::nullopt);
    }
    Answer badText = post({{"artist", "\xff\xfe"}}, credential());
    EXPECT_EQ(badText.status, 0);
    Answer notAnObject = post(Json::array({1}), credential());
    EXPECT_EQ(notAnObject.status, 0);
    EXPECT_TRUE(service.requestsTo(path).empty());
}

TEST_F(HttpNowPlayingTransportTest, UploaderReportsThroughTheServiceAndLearnsItsAnswer) {
    std::promise<std::pair<std::string, std::string>> acceptedPromise;
    auto uploader = NowPlayingUploader::create(transport, [this] { return credential(); });
    uploader->setOnAccepted([&](const std::string& artist, const std::string& track) {
        acceptedPromise.set_value({artist, track});
    });
    service.script(path, "POST",
                   Json::array({{{"status", 200},
                                 {"body", {{"accepted", true}, {"heartbeat_seconds", 45}}}}}));

    ASSERT_TRUE(uploader->send("Alpha", "Beta", "", true, std::nullopt, "", "i-1", "Mac", 7));

    auto accepted = acceptedPromise.get_future();
    ASSERT_EQ(accepted.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(accepted.get(), std::make_pair(std::string("Alpha"), std::string("Beta")));
    // The interval is taken right after the acceptance, still on the network thread.
    for (int i = 0; i < 500 && uploader->heartbeatSeconds() != 45; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(uploader->heartbeatSeconds(), 45);
    Json body = service.requestsTo(path).at(0)["json"];
    EXPECT_EQ(body["source"], "native_apple");
    EXPECT_TRUE(body["duration_ms"].is_null());
}

} // namespace
} // namespace qb
