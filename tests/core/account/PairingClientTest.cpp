#include "core/account/PairingClient.hpp"
#include "core/account/AccountEmailBackfill.hpp"
#include "core/common/ServiceEndpoints.hpp"
#include "core/common/UrlQuery.hpp"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace qb;

namespace {

const std::string production = "https://quillabrenta.test";
const std::string encodedProduction = "https%3A%2F%2Fquillabrenta.test";

// Keeps requests and their completions; the test answers them.
class FakeHttp : public HttpSending {
  public:
    void send(HttpRequest request, std::function<void(HttpResponse)> completion) override {
        requests.push_back(std::move(request));
        completions.push_back(std::move(completion));
    }
    void answer(HttpResponse response, size_t index = 0) {
        completions.at(index)(std::move(response));
    }
    std::vector<HttpRequest> requests;
    std::vector<std::function<void(HttpResponse)>> completions;
};

using Headers = std::vector<std::pair<std::string, std::string>>;

UploadCredential credential(std::string token = "tok", std::string email = "") {
    return UploadCredential{std::move(token), production, 5, "acct", std::move(email)};
}

struct Harness {
    FakeHttp http;
    PairingClient client{http, production, [] { return 1'700'000'123.9; }};
    std::vector<PairingClient::ExchangeResult> results;

    void exchange(const std::string& url) {
        client.exchange(url, "install-1", [this](PairingClient::ExchangeResult r) {
            results.push_back(std::move(r));
        });
    }
    // Exchanges a valid callback and answers it.
    PairingClient::ExchangeResult answered(HttpResponse response) {
        exchange("quillabrenta-capture://auth?code=c1&base_url=" + encodedProduction);
        EXPECT_TRUE(results.empty());
        http.answer(std::move(response), http.completions.size() - 1);
        EXPECT_EQ(results.size(), 1u);
        auto result = results.back();
        results.clear();
        return result;
    }
};

bool isRejected(const PairingClient::ExchangeResult& result) {
    return result == PairingClient::ExchangeResult(PairingError::exchangeRejected());
}

} // namespace

TEST(PairingClient, CallbackValidation) {
    const std::string good = "quillabrenta-capture://auth?code=abc&base_url=" + encodedProduction;
    struct Case {
        std::string url;
        std::optional<PairingClient::Callback> expected;
    };
    const std::string longCode(20000, 'x');
    const std::vector<Case> cases = {
        {good, PairingClient::Callback{"abc", production}},
        {"quillabrenta-capture://auth/?base_url=" + encodedProduction + "&code=a%2Fb%3Ac#frag",
         PairingClient::Callback{"a/b:c", production}},
        {"quillabrenta-capture://auth?code=&base_url=" + encodedProduction,
         PairingClient::Callback{"", production}},
        {"quillabrenta-capture://auth?code=1&code=2&base_url=" + encodedProduction +
             "&base_url=https%3A%2F%2Fevil.test&x",
         PairingClient::Callback{"1", production}},
        {"quillabrenta-capture://auth?code=" + longCode + "&base_url=" + encodedProduction,
         PairingClient::Callback{longCode, production}},
        // Unescaped ':' and '/' in the value are taken as they are.
        {"quillabrenta-capture://auth?code=c&base_url=" + production,
         PairingClient::Callback{"c", production}},
        {"other-scheme://auth?code=abc&base_url=" + encodedProduction, std::nullopt},
        {"QUILLABRENTA-CAPTURE://auth?code=abc&base_url=" + encodedProduction, std::nullopt},
        {"quillabrenta-capture://login?code=abc&base_url=" + encodedProduction, std::nullopt},
        {"quillabrenta-capture://auth:443?code=abc&base_url=" + encodedProduction, std::nullopt},
        {"quillabrenta-capture://x@auth?code=abc&base_url=" + encodedProduction, std::nullopt},
        {"quillabrenta-capture:auth?code=abc&base_url=" + encodedProduction, std::nullopt},
        {"quillabrenta-capture://auth?code&code=abc&base_url=" + encodedProduction, std::nullopt},
        {"quillabrenta-capture://auth?base_url=" + encodedProduction, std::nullopt},
        {"quillabrenta-capture://auth?code=abc", std::nullopt},
        {"quillabrenta-capture://auth?code=abc&base_url", std::nullopt},
        {"quillabrenta-capture://auth?code=abc&base_url=" + encodedProduction + "%2F",
         std::nullopt},
        {"quillabrenta-capture://auth?code=abc&base_url=https%3A%2F%2Fevil.test", std::nullopt},
        {"quillabrenta-capture://auth?code=abc&base_url=HTTPS%3A%2F%2Fquillabrenta.test",
         std::nullopt},
        {"quillabrenta-capture://auth?code=%ZZ&base_url=" + encodedProduction, std::nullopt},
        {"quillabrenta-capture://auth?code=abc&base_url=" + encodedProduction + "&junk=%",
         std::nullopt},
        {"quillabrenta-capture://auth?code=%FF&base_url=" + encodedProduction, std::nullopt},
        {"quillabrenta-capture://auth?code=a b&base_url=" + encodedProduction, std::nullopt},
        {"quillabrenta-capture://auth#?code=abc&base_url=" + encodedProduction, std::nullopt},
        {"quillabrenta-capture://auth", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PairingClient::parseCallback(c.url, production), c.expected) << c.url;

    // The production origin itself must leave a URL for the exchange.
    EXPECT_EQ(
        PairingClient::parseCallback("quillabrenta-capture://auth?code=c&base_url=x%3Fy", "x?y"),
        std::nullopt);
}

TEST(PairingClient, InvalidCallbackCompletesAtOnceWithoutARequest) {
    Harness h;
    h.exchange("quillabrenta-capture://auth?code=abc&base_url=https%3A%2F%2Fevil.test");
    ASSERT_EQ(h.results.size(), 1u);
    EXPECT_EQ(h.results[0], PairingClient::ExchangeResult(PairingError::invalidCallback()));
    EXPECT_EQ(std::get<PairingError>(h.results[0]).description,
              "Quillabrenta returned an invalid connection.");
    EXPECT_TRUE(h.http.requests.empty());
}

TEST(PairingClient, ExchangePostsCodeAndInstallIDWithoutAuthorization) {
    Harness h;
    h.exchange("quillabrenta-capture://auth?code=a%26b%2B&base_url=" + encodedProduction);
    ASSERT_EQ(h.http.requests.size(), 1u);
    const auto& request = h.http.requests[0];
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.url, production + "/api/native/capture/mac/exchange");
    EXPECT_EQ(request.headers, (Headers{{"Content-Type", "application/json"}}));
    EXPECT_EQ(request.timeoutSeconds, 20);
    EXPECT_EQ(json::parse(request.body), (Json{{"code", "a&b+"}, {"install_id", "install-1"}}));
}

TEST(PairingClient, SuccessfulExchangeGivesACredential) {
    Harness h;
    auto bare =
        h.answered({200, R"({"ok":true,"token":"t1","base_url":")" + production + R"("})", ""});
    EXPECT_EQ(bare, PairingClient::ExchangeResult(
                        UploadCredential{"t1", production, 1'700'000'123, "", ""}));

    auto full = h.answered({201,
                            R"({"ok":true,"token":"t2","base_url":")" + production +
                                R"(","account_id":"u7","account_email":"me@example.com",)"
                                R"("error":null,"extra":[1e10]})",
                            ""});
    EXPECT_EQ(full, PairingClient::ExchangeResult(
                        UploadCredential{"t2", production, 1'700'000'123, "u7", "me@example.com"}));
    EXPECT_TRUE(std::get<UploadCredential>(full).isUsable());

    auto nulls = h.answered({200,
                             R"({"ok":true,"token":"t3","base_url":")" + production +
                                 R"(","account_id":null,"account_email":null})",
                             ""});
    EXPECT_EQ(nulls, PairingClient::ExchangeResult(
                         UploadCredential{"t3", production, 1'700'000'123, "", ""}));
}

TEST(PairingClient, EveryOtherExchangeAnswerIsRejected) {
    Harness h;
    const std::string base = R"("base_url":")" + production + R"(")";
    const std::vector<HttpResponse> answers = {
        {410, R"({"ok":true,"token":"t",)" + base + "}", ""},
        {200, R"({"ok":false,"token":"t",)" + base + "}", ""},
        {200, R"({"ok":true,)" + base + "}", ""},
        {200, R"({"ok":true,"token":"",)" + base + "}", ""},
        {200, R"({"ok":true,"token":"t"})", ""},
        {200, R"({"ok":true,"token":"t","base_url":"https://evil.test"})", ""},
        {200, R"({"ok":true,"token":"t","base_url":")" + production + R"(/"})", ""},
        {200, R"({"token":"t",)" + base + "}", ""},
        {200, R"({"ok":"true","token":"t",)" + base + "}", ""},
        {200, R"({"ok":true,"token":42,)" + base + "}", ""},
        {200, R"({"ok":true,"token":"t",)" + base + R"(,"account_id":12345678901234567890123})",
         ""},
        {200, R"({"ok":true,"token":"t",)" + base + R"(,"account_email":1e400})", ""},
        {200, R"([{"ok":true}])", ""},
        {200, "", ""},
        {200, "<html>", ""},
        {200, R"({"ok":true,"token":"t",)", ""},
    };
    for (const auto& answer : answers) {
        auto result = h.answered(answer);
        EXPECT_TRUE(isRejected(result)) << answer.status << " " << answer.body;
    }
    EXPECT_EQ(PairingError::exchangeRejected().description,
              "The connection expired or was already used.");
}

TEST(PairingClient, TransportFailureShowsItsOwnDescription) {
    Harness h;
    EXPECT_EQ(h.answered({0, "", "Connection refused"}),
              PairingClient::ExchangeResult(PairingError::transport("Connection refused")));
    auto unnamed = h.answered({0, "", ""});
    ASSERT_TRUE(std::holds_alternative<PairingError>(unnamed));
    EXPECT_EQ(std::get<PairingError>(unnamed).kind, PairingError::Kind::transport);
    EXPECT_FALSE(std::get<PairingError>(unnamed).description.empty());
}

TEST(PairingClient, IdentityNeedsUsableCredentialAndANonEmptyEmail) {
    Harness h;
    int calls = 0;
    std::vector<std::optional<std::string>> emails;
    auto collect = [&](std::optional<std::string> email) {
        ++calls;
        emails.push_back(std::move(email));
    };
    h.client.fetchIdentity(UploadCredential{"", production, 0, "", ""}, collect);
    h.client.fetchIdentity(UploadCredential{"t", "http://quillabrenta.test", 0, "", ""}, collect);
    EXPECT_TRUE(h.http.requests.empty());

    h.client.fetchIdentity(credential("tok"), collect);
    ASSERT_EQ(h.http.requests.size(), 1u);
    EXPECT_EQ(h.http.requests[0].method, "GET");
    EXPECT_EQ(h.http.requests[0].url, production + "/api/native/capture/mac/identity");
    EXPECT_EQ(h.http.requests[0].headers, (Headers{{"Authorization", "Bearer tok"}}));
    EXPECT_EQ(h.http.requests[0].timeoutSeconds, 8);
    h.http.answer({200, R"({"ok":true,"account_email":"me@example.com"})", ""});
    EXPECT_EQ(emails, (std::vector<std::optional<std::string>>{"me@example.com"}));

    for (const HttpResponse& answer :
         std::vector<HttpResponse>{{200, R"({"ok":true,"account_email":""})", ""},
                                   {200, R"({"ok":true})", ""},
                                   {200, R"({"ok":false,"account_email":"me@example.com"})", ""},
                                   {200, R"({"ok":true,"account_email":7})", ""},
                                   {404, R"({"ok":true,"account_email":"me@example.com"})", ""},
                                   {200, "[]", ""},
                                   {0, "", "timed out"}}) {
        emails.clear();
        h.client.fetchIdentity(credential(), collect);
        h.http.answer(answer, h.http.completions.size() - 1);
        EXPECT_EQ(emails, (std::vector<std::optional<std::string>>{std::nullopt})) << answer.body;
    }
    EXPECT_EQ(calls, 8);
}

TEST(PairingClient, DisconnectPostsWithTheBearerAndIgnoresTheAnswer) {
    Harness h;
    h.client.disconnect(UploadCredential{"", production, 0, "", ""});
    EXPECT_TRUE(h.http.requests.empty());
    h.client.disconnect(credential("tok"));
    ASSERT_EQ(h.http.requests.size(), 1u);
    EXPECT_EQ(h.http.requests[0].method, "POST");
    EXPECT_EQ(h.http.requests[0].url, production + "/api/native/capture/mac/disconnect");
    EXPECT_EQ(h.http.requests[0].headers, (Headers{{"Authorization", "Bearer tok"}}));
    EXPECT_EQ(h.http.requests[0].timeoutSeconds, 8);
    EXPECT_TRUE(h.http.requests[0].body.empty());
    h.http.answer({500, "oops", ""});
}

TEST(PairingClient, ConnectURLEncodesTheInstallID) {
    Harness h;
    EXPECT_EQ(h.client.connectURL("3f2a-b9"),
              production + "/native/mac-capture/connect?install_id=3f2a-b9");
    auto odd = h.client.connectURL("a&b=c d/é");
    ASSERT_TRUE(odd);
    const std::string prefix = production + "/native/mac-capture/connect?";
    ASSERT_EQ(odd->substr(0, prefix.size()), prefix);
    EXPECT_EQ(urlquery::parseQuery(odd->substr(prefix.size())),
              (std::vector<urlquery::QueryItem>{{"install_id", "a&b=c d/é"}}));

    FakeHttp http;
    EXPECT_EQ(PairingClient(http, "not a url").connectURL("x"), std::nullopt);
    EXPECT_EQ(PairingClient(http, "").connectURL("x"), std::nullopt);
}

TEST(ServiceEndpoints, EnvironmentOverridesTheCompiledOrigin) {
    ::unsetenv("QUILLABRENTA_BASE_URL");
    EXPECT_EQ(endpoints::effectiveBaseURL(), endpoints::compiledProductionBaseURL);
    EXPECT_EQ(urlScheme(endpoints::effectiveBaseURL()), "https");
    ::setenv("QUILLABRENTA_BASE_URL", "", 1);
    EXPECT_EQ(endpoints::effectiveBaseURL(), endpoints::compiledProductionBaseURL);
    ::setenv("QUILLABRENTA_BASE_URL", "https://127.0.0.1:8443", 1);
    EXPECT_EQ(endpoints::effectiveBaseURL(), "https://127.0.0.1:8443");
    ::unsetenv("QUILLABRENTA_BASE_URL");
}

TEST(AccountEmailBackfill, WritesOnlyIntoTheCredentialThatWasAskedAbout) {
    using namespace accountEmailBackfill;
    EXPECT_TRUE(isNeeded(credential("tok", "")));
    EXPECT_FALSE(isNeeded(credential("tok", "me@example.com")));
    EXPECT_FALSE(isNeeded(std::nullopt));
    EXPECT_FALSE(isNeeded(UploadCredential{"", production, 0, "", ""}));

    auto asked = credential("tok", "");
    auto saved = credentialToSave(asked, "me@example.com", asked);
    ASSERT_TRUE(saved);
    EXPECT_EQ(*saved, asked.withAccountEmail("me@example.com"));
    EXPECT_EQ(saved->issuedAt, asked.issuedAt);

    EXPECT_EQ(credentialToSave(asked, std::nullopt, asked), std::nullopt);
    EXPECT_EQ(credentialToSave(asked, "", asked), std::nullopt);
    EXPECT_EQ(credentialToSave(asked, "me@example.com", std::nullopt), std::nullopt);
    // A new pairing replaced the credential while the request ran.
    EXPECT_EQ(credentialToSave(asked, "me@example.com", credential("newer", "")), std::nullopt);
    EXPECT_EQ(credentialToSave(asked, "me@example.com", credential("tok", "other@example.com")),
              std::nullopt);
}
