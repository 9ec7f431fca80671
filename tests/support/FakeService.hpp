#pragma once

#include "core/account/UploadCredential.hpp"
#include "core/common/HttpSending.hpp"
#include "core/common/JsonFields.hpp"
#include "platform/linux/http/HttpClient.hpp"

#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace qb::test {

// Sends one request and waits for its completion.
HttpResponse sendAndWait(HttpSending& http, HttpRequest request);

// The scriptable HTTPS stand-in for the service (tools/fake-service/fake_service.py), run as a
// child process on loopback. All services of one test process share one certificate authority,
// whose file is also put into QUILLABRENTA_CA_FILE so that HttpClient::shared() trusts it.
class FakeService {
  public:
    struct Options {
        // Address to listen on; the certificate names only 127.0.0.1 and localhost.
        std::string host = "127.0.0.1";
    };

    FakeService();
    explicit FakeService(Options options);
    ~FakeService();
    FakeService(const FakeService&) = delete;
    FakeService& operator=(const FakeService&) = delete;

    // "https://127.0.0.1:<port>", without a trailing slash.
    const std::string& baseURL() const { return baseURL_; }
    const std::string& caFile() const { return caFile_; }
    // A client that trusts this service.
    HttpClient& client() { return *client_; }

    // Queues answers for one endpoint (an empty method matches any), each an object such as
    // {"status": 500}, {"status": 200, "body": {...}, "delay": 1.5}, {"reset": true} or
    // {"timeout": true}; after them the default, if given, else the built-in answer.
    void script(const std::string& path, const std::string& method, const Json& responses,
                const std::optional<Json>& defaultAnswer = std::nullopt);
    // Fails a share of the requests to one endpoint with kinds "500" (any status), "reset" or
    // "timeout", drawn from a seeded generator.
    void randomFailures(const std::string& path, double rate, uint64_t seed,
                        const std::vector<std::string>& kinds, const std::string& method = "");
    // Every recorded request, oldest first: method, path, query (name → list of values),
    // raw_query, headers (lower-case names), body (text) and json (parsed body or null).
    Json requests();
    std::vector<Json> requestsTo(const std::string& path);
    // Forgets scripts, failures, recorded requests and pairing codes.
    void reset();

  private:
    void stop();
    Json control(const std::string& method, const std::string& path, const Json& body);

    pid_t pid_ = -1;
    int stdinFd_ = -1;
    std::string baseURL_;
    std::string caFile_;
    std::unique_ptr<HttpClient> client_;
};

// A test suite sharing one fake service, forgotten before each test: starting the service takes
// longer than most tests.
class FakeServiceSuite : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { service = new FakeService(); }
    static void TearDownTestSuite() {
        delete service;
        service = nullptr;
    }
    void SetUp() override { service->reset(); }

    // A usable credential with this token for the service, or for another base URL.
    static UploadCredential credentialWith(std::string token, std::string baseURL = "") {
        return {std::move(token), baseURL.empty() ? service->baseURL() : std::move(baseURL),
                1700000000, "acct", "listener@example.com"};
    }

    static inline FakeService* service = nullptr;
};

} // namespace qb::test
