#include "core/ratings/HttpRatingsTransport.hpp"
#include "FakeService.hpp"

#include <future>
#include <gtest/gtest.h>

namespace qb {
namespace {

using test::FakeService;
using test::FakeServiceSuite;

const std::string ratingsPath = "/api/native/capture/ratings";

RatingsPayload samplePayload(const std::string& title = "So What") {
    RatingEntry entry;
    entry.persistentID = "00AB12CD34EF5678";
    entry.artist = "Miles Davis";
    entry.albumArtist = "Miles Davis";
    entry.album = "Kind of Blue";
    entry.title = title;
    entry.rating = 80;
    entry.favourite = true;
    entry.playCount = 12;
    RatingsPayload payload;
    payload.installID = "install-1";
    payload.syncID = "qz_0123456789abcdef";
    payload.kind = "baseline";
    payload.snapshotID = "qz_fedcba9876543210";
    payload.page = 1;
    payload.pages = 2;
    payload.observedAt = 1700000100;
    payload.librarySongCount = 1200;
    payload.entries = {entry};
    return payload;
}

RatingsAvailabilityAnswer availabilityAndWait(RatingsTransport& transport,
                                              const UploadCredential& credential) {
    auto result = std::make_shared<std::promise<RatingsAvailabilityAnswer>>();
    auto future = result->get_future();
    transport.availability(
        credential, [result](RatingsAvailabilityAnswer a) { result->set_value(std::move(a)); });
    return future.get();
}

RatingsUploadResult postAndWait(RatingsTransport& transport, const RatingsPayload& payload,
                                const UploadCredential& credential) {
    auto result = std::make_shared<std::promise<RatingsUploadResult>>();
    auto future = result->get_future();
    transport.post(payload, credential,
                   [result](RatingsUploadResult r) { result->set_value(std::move(r)); });
    return future.get();
}

RatingsAvailabilityAnswer enabled(bool on, std::string snapshot = "") {
    return RatingsAvailability{on, std::move(snapshot)};
}
RatingsAvailabilityAnswer failed(std::string message) {
    return RatingsAvailabilityError{std::move(message)};
}

class HttpRatingsTransportTest : public FakeServiceSuite {
  protected:
    UploadCredential credential(std::string baseURL = "") const {
        return credentialWith("tok-ratings", std::move(baseURL));
    }

    HttpRatingsTransport transport{service->client(), 5};
};

TEST_F(HttpRatingsTransportTest, AvailabilityAnswersMapToResults) {
    // Texts are sent as they are; other JSON values are encoded by the service.
    const std::vector<std::pair<Json, RatingsAvailabilityAnswer>> table = {
        {{{"status", 200}, {"body", {{"enabled", true}, {"baseline_snapshot", "S1"}}}},
         enabled(true, "S1")},
        {{{"status", 200}, {"body", {{"enabled", false}, {"baseline_snapshot", "S2"}}}},
         enabled(false, "S2")},
        {{{"status", 200}, {"body", {{"enabled", "true"}, {"baseline_snapshot", 7}}}},
         enabled(false)},
        {{{"status", 200}, {"body", {{"enabled", 1}, {"baseline_snapshot", nullptr}}}},
         enabled(false)},
        {{{"status", 200}, {"body", Json::object()}}, enabled(false)},
        {{{"status", 200}, {"body", "{\"enabled\":true,\"n\":123456789012345678901234567890}"}},
         enabled(true)},
        {{{"status", 200}}, failed("http_200")},
        {{{"status", 200}, {"body", Json::array({{{"enabled", true}}})}}, failed("http_200")},
        {{{"status", 200}, {"body", "\"enabled\""}}, failed("http_200")},
        {{{"status", 200}, {"body", "{\"enabled\": tru"}}, failed("http_200")},
        {{{"status", 200}, {"body", "{\"enabled\":true,\"n\":1e400}"}}, failed("http_200")},
        {{{"status", 201}, {"body", {{"enabled", true}}}}, failed("http_201")},
        {{{"status", 404}, {"body", {{"enabled", true}, {"baseline_snapshot", "S"}}}},
         enabled(false)},
        {{{"status", 401}, {"body", {{"enabled", true}}}}, failed("http_401")},
        {{{"status", 302}}, failed("http_302")},
        {{{"status", 500}, {"body", "<html>oops</html>"}}, failed("http_500")},
    };
    Json answers = Json::array();
    for (const auto& row : table)
        answers.push_back(row.first);
    service->script(ratingsPath, "GET", answers);

    for (const auto& [answer, expected] : table)
        EXPECT_EQ(availabilityAndWait(transport, credential()), expected) << answer.dump();
    EXPECT_EQ(service->requestsTo(ratingsPath).size(), table.size());
}

TEST_F(HttpRatingsTransportTest, PostAnswersMapToResults) {
    const std::vector<std::pair<Json, RatingsUploadResult>> table = {
        {{{"status", 200}, {"body", {{"baseline_snapshot", "S"}}}},
         RatingsUploadResult::accepted("S")},
        {{{"status", 201}, {"body", {{"baseline_snapshot", 5}}}},
         RatingsUploadResult::accepted("")},
        {{{"status", 204}}, RatingsUploadResult::accepted("")},
        {{{"status", 299}, {"body", Json::array({"baseline_snapshot", "S"})}},
         RatingsUploadResult::accepted("")},
        {{{"status", 200}, {"body", "not json"}}, RatingsUploadResult::accepted("")},
        {{{"status", 200}, {"body", "{\"baseline_snapshot\":\"S\",\"n\":-1e400}"}},
         RatingsUploadResult::accepted("")},
        {{{"status", 400}}, RatingsUploadResult::permanentRejected(400)},
        {{{"status", 413}}, RatingsUploadResult::permanentRejected(413)},
        {{{"status", 422}, {"body", {{"baseline_snapshot", "S"}}}},
         RatingsUploadResult::permanentRejected(422)},
        {{{"status", 401}}, RatingsUploadResult::credentialRejected(401)},
        {{{"status", 403}}, RatingsUploadResult::credentialRejected(403)},
        {{{"status", 404}}, RatingsUploadResult::unavailable()},
        {{{"status", 500}}, RatingsUploadResult::transient("http_500")},
        {{{"status", 429}}, RatingsUploadResult::transient("http_429")},
        {{{"status", 302}}, RatingsUploadResult::transient("http_302")},
    };
    Json answers = Json::array();
    for (const auto& row : table)
        answers.push_back(row.first);
    service->script(ratingsPath, "POST", answers);

    for (const auto& [answer, expected] : table)
        EXPECT_EQ(postAndWait(transport, samplePayload(), credential()), expected) << answer.dump();
    EXPECT_EQ(service->requestsTo(ratingsPath).size(), table.size());
}

TEST_F(HttpRatingsTransportTest, RequestsCarryMethodBearerTokenAndBody) {
    ASSERT_EQ(availabilityAndWait(transport, credential()), enabled(true, ""));
    ASSERT_EQ(postAndWait(transport, samplePayload(), credential()),
              RatingsUploadResult::accepted(""));

    auto recorded = service->requestsTo(ratingsPath);
    ASSERT_EQ(recorded.size(), 2u);
    const Json& check = recorded[0];
    EXPECT_EQ(check["method"], "GET");
    EXPECT_EQ(check["headers"]["authorization"], "Bearer tok-ratings");
    EXPECT_EQ(check["body"], "");
    EXPECT_FALSE(check["headers"].contains("content-type"));

    const Json& page = recorded[1];
    EXPECT_EQ(page["method"], "POST");
    EXPECT_EQ(page["headers"]["authorization"], "Bearer tok-ratings");
    EXPECT_EQ(page["headers"]["content-type"], "application/json");
    const std::string text = page["body"];
    EXPECT_EQ(text.find('\n'), std::string::npos);
    EXPECT_EQ(text.find("\": "), std::string::npos);
    EXPECT_EQ(text.find(", \""), std::string::npos);
    const Json& body = page["json"];
    EXPECT_EQ(body["install_id"], "install-1");
    EXPECT_EQ(body["sync_id"], "qz_0123456789abcdef");
    EXPECT_EQ(body["kind"], "baseline");
    EXPECT_EQ(body["snapshot_id"], "qz_fedcba9876543210");
    EXPECT_EQ(body["page"], 1);
    EXPECT_EQ(body["pages"], 2);
    EXPECT_EQ(body["observed_at"], 1700000100);
    EXPECT_EQ(body["library_song_count"], 1200);
    ASSERT_EQ(body["entries"].size(), 1u);
    const Json& entry = body["entries"][0];
    EXPECT_EQ(entry["persistent_id"], "00AB12CD34EF5678");
    EXPECT_EQ(entry["album_artist"], "Miles Davis");
    EXPECT_EQ(entry["title"], "So What");
    EXPECT_EQ(entry["rating"], 80);
    EXPECT_EQ(entry["rating_computed"], false);
    EXPECT_EQ(entry["favourite"], true);
    EXPECT_EQ(entry["play_count"], 12);
}

TEST_F(HttpRatingsTransportTest, PathIsAppendedToBaseURLAsText) {
    availabilityAndWait(transport, credential(service->baseURL() + "/"));
    postAndWait(transport, samplePayload(), credential(service->baseURL() + "/"));
    EXPECT_EQ(service->requestsTo("/" + ratingsPath).size(), 2u);
}

TEST_F(HttpRatingsTransportTest, UnusableEndpointFailsAtOnceWithoutRequest) {
    const std::string hostAndPort = service->baseURL().substr(std::string("https://").size());
    std::vector<UploadCredential> unusable = {
        credential("http://" + hostAndPort),
        credential("HTTPS://" + hostAndPort),
        credential("https://exa mple.com"),
        credential("not a url"),
    };
    UploadCredential noToken = credential();
    noToken.token = "";
    unusable.push_back(noToken);

    for (const auto& c : unusable) {
        std::optional<RatingsAvailabilityAnswer> checked;
        std::optional<RatingsUploadResult> posted;
        transport.availability(c, [&](RatingsAvailabilityAnswer a) { checked = a; });
        transport.post(samplePayload(), c, [&](RatingsUploadResult r) { posted = r; });
        ASSERT_TRUE(checked.has_value()) << c.baseURL;
        ASSERT_TRUE(posted.has_value()) << c.baseURL;
        EXPECT_EQ(*checked, failed("invalid_endpoint")) << c.baseURL;
        EXPECT_EQ(*posted, RatingsUploadResult::transient("invalid_endpoint")) << c.baseURL;
    }
    EXPECT_TRUE(service->requests().empty());
}

TEST_F(HttpRatingsTransportTest, UnencodablePayloadFailsAtOnceWithoutRequest) {
    std::optional<RatingsUploadResult> result;
    transport.post(samplePayload("Bad \xff title"), credential(),
                   [&](RatingsUploadResult r) { result = r; });
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(*result, RatingsUploadResult::transient("encode_failed"));
    EXPECT_TRUE(service->requests().empty());
}

TEST_F(HttpRatingsTransportTest, TransportFailuresCarryTheClientsDescription) {
    service->script(ratingsPath, "GET",
                    Json::array({{{"reset", true}}, {{"status", 200}, {"delay", 3}}}));
    service->script(ratingsPath, "POST",
                    Json::array({{{"reset", true}}, {{"status", 200}, {"delay", 3}}}));
    HttpRatingsTransport impatient(service->client(), 1);

    auto resetCheck = availabilityAndWait(transport, credential());
    auto resetPage = postAndWait(transport, samplePayload(), credential());
    // Both time-outs run side by side.
    auto lateCheck = std::async(std::launch::async,
                                [&] { return availabilityAndWait(impatient, credential()); });
    auto latePage = postAndWait(impatient, samplePayload(), credential());
    auto lateCheckAnswer = lateCheck.get();

    ASSERT_TRUE(std::holds_alternative<RatingsAvailabilityError>(resetCheck));
    const std::string resetText = std::get<RatingsAvailabilityError>(resetCheck).message;
    EXPECT_FALSE(resetText.empty());
    EXPECT_NE(resetText, "http_0");
    EXPECT_EQ(resetPage.kind, RatingsUploadResult::Kind::transient);
    EXPECT_FALSE(resetPage.message.empty());
    EXPECT_NE(resetPage.message, "http_0");

    ASSERT_TRUE(std::holds_alternative<RatingsAvailabilityError>(lateCheckAnswer));
    const std::string lateText = std::get<RatingsAvailabilityError>(lateCheckAnswer).message;
    EXPECT_NE(lateText.find("timed out"), std::string::npos) << lateText;
    EXPECT_EQ(latePage.kind, RatingsUploadResult::Kind::transient);
    EXPECT_NE(latePage.message.find("timed out"), std::string::npos) << latePage.message;
}

TEST_F(HttpRatingsTransportTest, OversizedAnswersAreTransportFailures) {
    // A client with a small limit stands in for the 8 MB one.
    HttpClient::Options options;
    options.extraCAFile = service->caFile();
    options.maxResponseBytes = 4096;
    HttpClient small(options);
    HttpRatingsTransport limited(small, 5);
    const Json tooMuch = {{"enabled", true}, {"padding", std::string(8192, 'x')}};
    service->script(ratingsPath, "", Json::array({{{"status", 200}, {"body", tooMuch}}}),
                    Json{{"status", 200}, {"body", tooMuch}});

    auto check = availabilityAndWait(limited, credential());
    auto page = postAndWait(limited, samplePayload(), credential());

    ASSERT_TRUE(std::holds_alternative<RatingsAvailabilityError>(check));
    const std::string checkText = std::get<RatingsAvailabilityError>(check).message;
    EXPECT_NE(checkText.find("larger than"), std::string::npos) << checkText;
    EXPECT_EQ(page.kind, RatingsUploadResult::Kind::transient);
    EXPECT_NE(page.message.find("larger than"), std::string::npos) << page.message;
}

TEST(HttpRatingsTransportInterpretTest, HostileBodiesNeverCrash) {
    const std::vector<std::string> unreadable = {
        "{\"enabled\":true,\"baseline_snapshot\":\"\xff\xfe\"}",
        "{\"enabled\":true,\"baseline_snapshot\":\"\\ud800\"}",
        std::string("{\"enabled\":true,\"baseline_snapshot\":\"S\"}") + '\0' + "trailing",
        "{\"enabled\":1e400}",
        "{\"enabled\":true,\"baseline_snapshot\":\"S\"",
    };
    for (const auto& body : unreadable) {
        EXPECT_EQ(HttpRatingsTransport::interpretAvailability({200, body, ""}), failed("http_200"));
        EXPECT_EQ(HttpRatingsTransport::interpretPost({200, body, ""}),
                  RatingsUploadResult::accepted(""));
    }

    // Nesting far beyond any recursion limit, and a body as large as the client lets through.
    const std::string deep = std::string(50000, '[') + std::string(50000, ']');
    EXPECT_EQ(HttpRatingsTransport::interpretAvailability({200, deep, ""}), failed("http_200"));
    EXPECT_EQ(HttpRatingsTransport::interpretPost(
                  {201, "{\"baseline_snapshot\":\"S\",\"x\":" + deep + "}", ""}),
              RatingsUploadResult::accepted("S"));
    const std::string padding(8 * 1024 * 1024 - 100, 'x');
    EXPECT_EQ(
        HttpRatingsTransport::interpretAvailability(
            {200, "{\"enabled\":true,\"baseline_snapshot\":\"S\",\"x\":\"" + padding + "\"}", ""}),
        enabled(true, "S"));
}

TEST(HttpRatingsTransportInterpretTest, FailureWithoutDescriptionIsHttpZero) {
    EXPECT_EQ(HttpRatingsTransport::interpretAvailability(HttpResponse{}), failed("http_0"));
    EXPECT_EQ(HttpRatingsTransport::interpretPost(HttpResponse{}),
              RatingsUploadResult::transient("http_0"));
}

} // namespace
} // namespace qb
