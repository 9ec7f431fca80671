#include "core/service/HttpReconcileTransport.hpp"
#include "FakeService.hpp"

#include <future>
#include <gtest/gtest.h>

namespace qb {
namespace {

using test::FakeService;
using test::FakeServiceSuite;

const std::string reconcilePath = "/api/native/capture/reconcile";

ReconcilePayload samplePayload(const std::string& title = "Blue in Green") {
    CompletionDelta delta;
    delta.track = title;
    delta.artist = "Miles Davis";
    delta.album = "Kind of Blue";
    delta.durationMS = 337000;
    delta.persistentID = "00AB12CD34EF5678";
    delta.playCountBefore = 2;
    delta.playCountAfter = 3;
    delta.lastPlayedAfter = 1700000000;
    delta.snapshotBeforeAt = 1699990000;
    ReconcilePayload payload;
    payload.installID = "install-1";
    payload.completionLibrary.observedAt = 1700000100;
    payload.completionLibrary.songCount = 1200;
    payload.completionLibrary.positiveDeltas = 1;
    payload.completionLibrary.deltas = {delta};
    return payload;
}

UploadResult postAndWait(ReconcileTransport& transport, const ReconcilePayload& payload,
                         const UploadCredential& credential) {
    std::promise<UploadResult> result;
    transport.post(payload, credential, [&](UploadResult r) { result.set_value(std::move(r)); });
    return result.get_future().get();
}

class HttpReconcileTransportTest : public FakeServiceSuite {
  protected:
    UploadCredential credential(std::string baseURL = "") const {
        return credentialWith("tok-123", std::move(baseURL));
    }

    HttpReconcileTransport transport{service->client(), 5};
};

TEST_F(HttpReconcileTransportTest, StatusesMapToResults) {
    const std::vector<std::pair<int, UploadResult>> table = {
        {200, UploadResult::accepted()},
        {201, UploadResult::accepted()},
        {299, UploadResult::accepted()},
        {400, UploadResult::permanentRejected(400)},
        {422, UploadResult::permanentRejected(422)},
        {401, UploadResult::credentialRejected(401)},
        {403, UploadResult::credentialRejected(403)},
        {500, UploadResult::transient("http_500")},
        {404, UploadResult::transient("http_404")},
        {413, UploadResult::transient("http_413")},
        {302, UploadResult::transient("http_302")},
    };
    Json answers = Json::array();
    for (const auto& [status, expected] : table)
        answers.push_back({{"status", status}, {"body", "not json"}});
    service->script(reconcilePath, "POST", answers);

    for (const auto& [status, expected] : table)
        EXPECT_EQ(postAndWait(transport, samplePayload(), credential()), expected) << status;
    EXPECT_EQ(service->requestsTo(reconcilePath).size(), table.size());
}

// The client keeps at most 8 MiB of an answer; an accepted payload must not come back as a
// failure because the service said more than that.
TEST_F(HttpReconcileTransportTest, AnAcceptedAnswerOfAnySizeIsAccepted) {
    service->script(reconcilePath, "POST",
                    Json::array({{{"status", 200}, {"body", std::string(9 << 20, 'x')}}}));
    EXPECT_EQ(postAndWait(transport, samplePayload(), credential()), UploadResult::accepted());
}

TEST_F(HttpReconcileTransportTest, RequestCarriesBearerTokenAndSnakeCaseBody) {
    ReconcilePayload payload = samplePayload();
    ASSERT_EQ(postAndWait(transport, payload, credential()), UploadResult::accepted());

    auto recorded = service->requestsTo(reconcilePath);
    ASSERT_EQ(recorded.size(), 1u);
    const Json& request = recorded[0];
    EXPECT_EQ(request["method"], "POST");
    EXPECT_EQ(request["headers"]["authorization"], "Bearer tok-123");
    EXPECT_EQ(request["headers"]["content-type"], "application/json");
    const std::string body = request["body"];
    for (const char* key : {"\"install_id\"", "\"device_context\"", "\"completion_library\"",
                            "\"play_count_before\"", "\"persistent_id\""})
        EXPECT_NE(body.find(key), std::string::npos) << key;
    EXPECT_EQ(body.find('\n'), std::string::npos);
    EXPECT_EQ(ReconcilePayload::fromJson(request["json"]), payload);
}

TEST_F(HttpReconcileTransportTest, PathIsAppendedToBaseURLAsText) {
    postAndWait(transport, samplePayload(), credential(service->baseURL() + "/"));
    EXPECT_EQ(service->requestsTo("/" + reconcilePath).size(), 1u);
}

TEST_F(HttpReconcileTransportTest, TransportFailuresAreTransientWithClientDescription) {
    service->script(reconcilePath, "POST",
                    Json::array({{{"reset", true}}, {{"status", 200}, {"delay", 4}}}));
    HttpReconcileTransport impatient(service->client(), 1);

    UploadResult reset = postAndWait(transport, samplePayload(), credential());
    UploadResult timedOut = postAndWait(impatient, samplePayload(), credential());

    EXPECT_EQ(reset.kind, UploadResult::Kind::transient);
    EXPECT_FALSE(reset.message.empty());
    EXPECT_NE(reset.message, "http_0");
    EXPECT_EQ(timedOut.kind, UploadResult::Kind::transient);
    EXPECT_NE(timedOut.message.find("timed out"), std::string::npos) << timedOut.message;
}

TEST_F(HttpReconcileTransportTest, TransportErrorWithoutTextIsHttpZero) {
    EXPECT_EQ(HttpReconcileTransport::interpret(HttpResponse{}), UploadResult::transient("http_0"));
}

TEST_F(HttpReconcileTransportTest, UnusableEndpointFailsAtOnceWithoutRequest) {
    const std::string origin = service->baseURL();
    const std::string hostAndPort = origin.substr(std::string("https://").size());
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
        std::optional<UploadResult> result;
        transport.post(samplePayload(), c, [&](UploadResult r) { result = r; });
        ASSERT_TRUE(result.has_value()) << c.baseURL;
        EXPECT_EQ(*result, UploadResult::transient("invalid_endpoint")) << c.baseURL;
    }
    EXPECT_TRUE(service->requests().empty());
}

TEST_F(HttpReconcileTransportTest, UnencodablePayloadFailsAtOnceWithoutRequest) {
    std::optional<UploadResult> result;
    transport.post(samplePayload("Bad \xff title"), credential(),
                   [&](UploadResult r) { result = r; });
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(*result, UploadResult::transient("encode_failed"));
    EXPECT_TRUE(service->requests().empty());
}

} // namespace
} // namespace qb
