#include "platform/linux/http/HttpClient.hpp"
#include "FakeService.hpp"
#include "TestSupport.hpp"

#include <arpa/inet.h>
#include <atomic>
#include <future>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace qb {
namespace {

using test::FakeService;
using test::sendAndWait;

HttpRequest request(const std::string& method, const std::string& url, double timeout = 10) {
    HttpRequest r;
    r.method = method;
    r.url = url;
    r.timeoutSeconds = timeout;
    return r;
}

HttpClient::Options trusting(const std::string& caFile) {
    HttpClient::Options options;
    options.extraCAFile = caFile;
    return options;
}

// A loopback port on which nothing listens: bound, so nobody else can take it meanwhile, but
// never listening, so a connection is refused.
class ClosedPort {
  public:
    ClosedPort() : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(fd_, reinterpret_cast<sockaddr*>(&address), length);
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    ~ClosedPort() { ::close(fd_); }
    int port() const { return port_; }

  private:
    int fd_;
    int port_ = 0;
};

class HttpClientTest : public ::testing::Test {
  protected:
    FakeService service;
    HttpClient client{trusting(service.caFile())};

    std::string url(const std::string& path) const { return service.baseURL() + path; }
};

TEST_F(HttpClientTest, PostDeliversMethodHeadersAndBodyAndReturnsAnswer) {
    service.script("/echo", "POST", Json::array({{{"status", 201}, {"body", {{"seen", true}}}}}));
    HttpRequest post = request("POST", url("/echo?x=1&y=a%20b"));
    post.headers = {{"Content-Type", "application/json"}, {"Authorization", "Bearer t0k"}};
    post.body = R"({"install_id":"i-1"})";

    HttpResponse response = sendAndWait(client, post);

    EXPECT_EQ(response.status, 201);
    EXPECT_EQ(Json::parse(response.body), Json({{"seen", true}}));
    EXPECT_EQ(response.error, "");
    Json recorded = service.requestsTo("/echo").at(0);
    EXPECT_EQ(recorded["method"], "POST");
    EXPECT_EQ(recorded["query"]["y"], Json::array({"a b"}));
    EXPECT_EQ(recorded["headers"]["authorization"], "Bearer t0k");
    EXPECT_EQ(recorded["headers"]["content-type"], "application/json");
    EXPECT_EQ(recorded["body"], post.body);
}

TEST_F(HttpClientTest, GetPassesStatusesAndBodiesThrough) {
    service.script("/status", "GET",
                   Json::array({{{"status", 404}, {"body", "gone"}},
                                {{"status", 500}, {"body", {{"error", "x"}}}},
                                {{"status", 204}}}));
    HttpResponse notFound = sendAndWait(client, request("GET", url("/status")));
    HttpResponse serverError = sendAndWait(client, request("GET", url("/status")));
    HttpResponse noContent = sendAndWait(client, request("GET", url("/status")));

    EXPECT_EQ(notFound.status, 404);
    EXPECT_EQ(notFound.body, "gone");
    EXPECT_EQ(serverError.status, 500);
    EXPECT_EQ(noContent.status, 204);
    EXPECT_EQ(noContent.body, "");
    for (const auto& r : {notFound, serverError, noContent})
        EXPECT_EQ(r.error, "");
    for (const auto& recorded : service.requestsTo("/status")) {
        EXPECT_EQ(recorded["method"], "GET");
        EXPECT_EQ(recorded["body"], "");
    }
}

TEST_F(HttpClientTest, PostWithoutContentTypeSendsNoFormType) {
    sendAndWait(client, request("POST", url("/api/native/capture/mac/disconnect")));
    Json recorded = service.requestsTo("/api/native/capture/mac/disconnect").at(0);
    EXPECT_FALSE(recorded["headers"].contains("content-type"));
    EXPECT_EQ(recorded["headers"]["content-length"], "0");
}

TEST_F(HttpClientTest, RedirectIsHandedBackNotFollowed) {
    service.script(
        "/moved", "POST",
        Json::array({{{"status", 307}, {"headers", {{"Location", url("/elsewhere")}}}}}));
    HttpRequest post = request("POST", url("/moved"));
    post.body = "{}";
    EXPECT_EQ(sendAndWait(client, post).status, 307);
    EXPECT_TRUE(service.requestsTo("/elsewhere").empty());
}

TEST_F(HttpClientTest, TransportFailuresGiveStatusZeroAndDescription) {
    service.script("/slow", "", Json::array({{{"status", 200}, {"delay", 5}}}));
    service.script("/reset", "", Json::array({{{"reset", true}}}));

    HttpResponse timedOut = sendAndWait(client, request("GET", url("/slow"), 0.5));
    HttpResponse reset = sendAndWait(client, request("GET", url("/reset")));
    const ClosedPort closed;
    HttpResponse refused = sendAndWait(
        client, request("GET", "https://127.0.0.1:" + std::to_string(closed.port()) + "/"));

    EXPECT_EQ(timedOut.status, 0);
    EXPECT_NE(timedOut.error.find("timed out"), std::string::npos) << timedOut.error;
    EXPECT_EQ(reset.status, 0);
    EXPECT_FALSE(reset.error.empty());
    EXPECT_EQ(refused.status, 0);
    EXPECT_FALSE(refused.error.empty());
}

TEST_F(HttpClientTest, OnlyHttpAndHttpsAreAllowed) {
    for (const std::string& target : {std::string("file:///etc/hostname"),
                                      std::string("ftp://127.0.0.1/"), std::string("not a url")}) {
        HttpResponse response = sendAndWait(client, request("GET", target));
        EXPECT_EQ(response.status, 0) << target;
        EXPECT_FALSE(response.error.empty()) << target;
        EXPECT_EQ(response.body, "") << target;
    }
}

TEST_F(HttpClientTest, HeaderWithLineBreakIsRefusedBeforeSending) {
    HttpRequest injected = request("GET", url("/injected"));
    injected.headers = {{"Authorization", "Bearer a\r\nX-Evil: 1"}};
    HttpResponse response = sendAndWait(client, injected);
    EXPECT_EQ(response.status, 0);
    EXPECT_TRUE(service.requestsTo("/injected").empty());
}

TEST_F(HttpClientTest, OversizedAnswerFailsAsTransportError) {
    HttpClient::Options options = trusting(service.caFile());
    options.maxResponseBytes = 1000;
    HttpClient small(options);
    service.script("/big", "GET",
                   Json::array({{{"status", 200}, {"body", std::string(5000, 'x')}},
                                {{"status", 200}, {"body", std::string(1000, 'y')}}}));

    HttpResponse tooBig = sendAndWait(small, request("GET", url("/big")));
    HttpResponse atLimit = sendAndWait(small, request("GET", url("/big")));

    EXPECT_EQ(tooBig.status, 0);
    EXPECT_EQ(tooBig.body, "");
    EXPECT_NE(tooBig.error.find("1000"), std::string::npos) << tooBig.error;
    EXPECT_EQ(atLimit.status, 200);
    EXPECT_EQ(atLimit.body.size(), 1000u);
}

TEST_F(HttpClientTest, ServerIsRefusedWithoutItsCertificateAuthority) {
    test::TempDir other;
    auto made = test::runProcess("/usr/bin/openssl",
                                 {"req", "-x509", "-newkey", "ec", "-pkeyopt",
                                  "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
                                  (other / "key.pem").string(), "-out", (other / "ca.pem").string(),
                                  "-subj", "/CN=Some Other CA", "-days", "2"});
    ASSERT_EQ(made.status, 0) << made.err;

    HttpClient systemOnly{HttpClient::Options{}};
    HttpClient wrongCA{trusting((other / "ca.pem").string())};
    for (HttpClient* untrusting : {&systemOnly, &wrongCA}) {
        HttpResponse response = sendAndWait(*untrusting, request("GET", url("/refused")));
        EXPECT_EQ(response.status, 0);
        EXPECT_NE(response.error.find("certificate"), std::string::npos) << response.error;
    }
    EXPECT_TRUE(service.requestsTo("/refused").empty());
}

TEST(HttpClientHostTest, CertificateForAnotherHostIsRefused) {
    // The certificate names 127.0.0.1 and localhost only.
    FakeService elsewhere(FakeService::Options{"127.0.0.2"});
    HttpClient client{trusting(elsewhere.caFile())};
    HttpResponse response = sendAndWait(client, request("GET", elsewhere.baseURL() + "/x"));
    EXPECT_EQ(response.status, 0);
    EXPECT_FALSE(response.error.empty());
    EXPECT_NE(response.error.find("127.0.0.2"), std::string::npos) << response.error;
}

TEST_F(HttpClientTest, EnvironmentCertificateAuthorityIsTrusted) {
    // FakeService exports its CA in QUILLABRENTA_CA_FILE.
    HttpClient fromEnvironment;
    EXPECT_EQ(sendAndWait(fromEnvironment, request("GET", url("/api/native/capture/mac/identity")))
                  .status,
              200);
}

TEST_F(HttpClientTest, ManyConcurrentRequestsCompleteExactlyOnce) {
    constexpr int perThread = 15;
    constexpr int threads = 4;
    std::mutex mutex;
    std::map<int, int> completions;
    std::map<int, HttpResponse> responses;
    std::atomic<int> done{0};
    std::vector<std::thread> senders;
    for (int t = 0; t < threads; ++t)
        senders.emplace_back([&, t] {
            for (int i = 0; i < perThread; ++i) {
                int id = t * perThread + i;
                client.send(request("GET", url("/many?id=" + std::to_string(id)), 30),
                            [&, id](HttpResponse response) {
                                std::lock_guard lock(mutex);
                                ++completions[id];
                                responses[id] = std::move(response);
                                ++done;
                            });
            }
        });
    for (auto& s : senders)
        s.join();
    while (done < threads * perThread)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    std::lock_guard lock(mutex);
    ASSERT_EQ(completions.size(), static_cast<size_t>(threads * perThread));
    for (const auto& [id, count] : completions) {
        EXPECT_EQ(count, 1) << id;
        // An unknown path: the service's own answer.
        EXPECT_EQ(responses[id].status, 404) << id << " " << responses[id].error;
    }
    EXPECT_EQ(service.requestsTo("/many").size(), static_cast<size_t>(threads * perThread));
}

TEST_F(HttpClientTest, CompletionMaySendTheNextRequest) {
    std::promise<HttpResponse> second;
    client.send(request("GET", url("/first")), [&](HttpResponse) {
        client.send(request("GET", url("/second")),
                    [&](HttpResponse response) { second.set_value(std::move(response)); });
    });
    EXPECT_EQ(second.get_future().get().status, 404);
}

TEST_F(HttpClientTest, DestructionCancelsRequestsInFlight) {
    service.script("/hang", "", Json::array(), Json({{"status", 200}, {"delay", 20}}));
    std::mutex mutex;
    std::vector<HttpResponse> results;
    {
        HttpClient doomed{trusting(service.caFile())};
        for (int i = 0; i < 3; ++i)
            doomed.send(request("GET", url("/hang"), 30), [&](HttpResponse response) {
                std::lock_guard lock(mutex);
                results.push_back(std::move(response));
            });
        while (service.requestsTo("/hang").size() < 3)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_EQ(results.size(), 3u);
    for (const auto& r : results) {
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.error, "cancelled");
    }
}

} // namespace
} // namespace qb
