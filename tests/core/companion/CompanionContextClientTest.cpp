#include "core/companion/CompanionContextClient.hpp"
#include "core/common/ManualExecutor.hpp"
#include "core/common/UrlQuery.hpp"
#include "core/companion/HttpCompanionContextTransport.hpp"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace qb;

namespace {

// Records requests; answers are delivered by the test.
class FakeTransport : public CompanionContextTransport {
  public:
    struct Call {
        std::string url;
        UploadCredential credential;
        Completion completion;
    };
    void get(const std::string& url, const UploadCredential& credential,
             Completion completion) override {
        calls.push_back({url, credential, std::move(completion)});
    }
    void answer(size_t index, std::optional<Json> body, int64_t status) {
        calls.at(index).completion(std::move(body), status);
    }
    std::vector<Call> calls;
};

UploadCredential usableCredential() {
    return UploadCredential{"tok", "https://svc.example", 1, "acct", "a@example.com"};
}

struct Harness {
    FakeTransport transport;
    ManualExecutor main;
    std::optional<UploadCredential> credential = usableCredential();
    int credentialLoads = 0;
    double now = 1'700'000'000.75;
    std::shared_ptr<CompanionContextClient> client = CompanionContextClient::create(
        transport,
        [this] {
            ++credentialLoads;
            return credential;
        },
        main.executor(), [this] { return now; });
    std::vector<std::string> events;

    Harness() {
        client->setOnContextChange([this](const std::optional<CompanionContext>& context) {
            // The cache is already updated when the callback runs.
            EXPECT_EQ(client->currentContext(), context);
            events.push_back(context ? "context " + context->artist + "/" + context->track
                                     : "context none");
        });
        client->setOnReceiptChange([this](const std::optional<CompanionCaptureReceipt>& receipt) {
            EXPECT_EQ(client->currentReceipt(), receipt);
            events.push_back(receipt ? "receipt " + std::to_string(receipt->discoveredAt)
                                     : "receipt none");
        });
    }

    // One refresh answered with `body`, the main thread then drained.
    void roundTrip(const Json& body, int64_t status = 200, const std::string& artist = "A",
                   const std::string& track = "T") {
        size_t before = transport.calls.size();
        client->refresh(artist, track, 100);
        ASSERT_EQ(transport.calls.size(), before + 1);
        transport.answer(before, body, status);
        main.runAll();
    }
};

Json confirmation(int64_t uts) {
    return {{"ok", true},
            {"latest_capture_confirmation", {{"confirmed", true}, {"canonical_uts", uts}}}};
}

} // namespace

TEST(CompanionContextClient, BuildsTheRequestFromTheCredentialAndEncodesTheQuery) {
    Harness h;
    h.client->refresh("AC/DC & Friends + 🎸", "a=b #1 %", 1700000000);
    ASSERT_EQ(h.transport.calls.size(), 1u);
    const auto& url = h.transport.calls[0].url;
    const std::string prefix = "https://svc.example/api/native/capture/mac/companion-context?";
    ASSERT_EQ(url.substr(0, prefix.size()), prefix);
    auto items = urlquery::parseQuery(url.substr(prefix.size()));
    ASSERT_TRUE(items);
    EXPECT_EQ(*items, (std::vector<urlquery::QueryItem>{{"artist", "AC/DC & Friends + 🎸"},
                                                        {"track", "a=b #1 %"},
                                                        {"since", "1700000000"}}));
    EXPECT_EQ(h.transport.calls[0].credential, usableCredential());
}

TEST(CompanionContextClient, SendsNothingWithoutTextOrUsableCredential) {
    Harness h;
    h.client->refresh("A", "", 1);
    h.client->refresh("", "T", 1);
    EXPECT_EQ(h.credentialLoads, 0);
    h.credential.reset();
    h.client->refresh("A", "T", 1);
    h.credential = UploadCredential{"tok", "http://svc.example", 1, "", ""};
    h.client->refresh("A", "T", 1);
    h.credential = UploadCredential{"tok", "https://svc.example?x=1", 1, "", ""};
    h.client->refresh("A", "T", 1);
    EXPECT_TRUE(h.transport.calls.empty());
    // A URL that could not be built does not leave the client busy.
    h.credential = usableCredential();
    h.client->refresh("A", "T", 1);
    EXPECT_EQ(h.transport.calls.size(), 1u);
}

TEST(CompanionContextClient, DropsRequestsWhileOneRunsAndAcceptsOneAfterTheAnswer) {
    Harness h;
    h.client->refresh("A", "T", 1);
    h.client->refresh("A", "T2", 1);
    EXPECT_EQ(h.transport.calls.size(), 1u);
    EXPECT_EQ(h.credentialLoads, 1);
    // Even an ignored answer ends the request.
    h.transport.answer(0, std::nullopt, 0);
    h.client->refresh("A", "T2", 1);
    EXPECT_EQ(h.transport.calls.size(), 2u);
}

TEST(CompanionContextClient, IgnoresAnswersThatAreNotAcceptedAndKeepsTheCache) {
    Harness h;
    h.roundTrip({{"ok", true}, {"current_context", {{"artist", "A"}, {"track", "T"}}}});
    auto cached = h.client->currentContext();
    ASSERT_TRUE(cached);
    h.events.clear();

    const std::vector<std::pair<std::optional<Json>, int64_t>> ignored = {
        {Json{{"ok", false}, {"current_context", {{"artist", "B"}, {"track", "U"}}}}, 200},
        {Json{{"ok", true}, {"current_context", {{"artist", "B"}, {"track", "U"}}}}, 500},
        {Json{{"ok", true}}, 199},
        {Json{{"ok", true}}, 300},
        {Json::object(), 200},
        {std::nullopt, 200},
        {Json{{"ok", "true"}}, 200},
        {Json{{"ok", 1}}, 200},
        {Json{{"ok", nullptr}}, 200},
    };
    for (const auto& [body, status] : ignored) {
        h.client->refresh("B", "U", 1);
        h.transport.answer(h.transport.calls.size() - 1, body, status);
    }
    EXPECT_EQ(h.main.runAll(), 0u);
    EXPECT_TRUE(h.events.empty());
    EXPECT_EQ(h.client->currentContext(), cached);
}

TEST(CompanionContextClient, ParsesContextAndClearsAReceiptNotConfirmedAgain) {
    Harness h;
    h.roundTrip(confirmation(500));
    ASSERT_TRUE(h.client->currentReceipt());

    h.roundTrip({{"ok", true},
                 {"current_context", {{"artist", "A2"}, {"track", "T2"}, {"track_rank", 3}}}});
    EXPECT_EQ(h.client->currentContext(),
              (CompanionContext{"A2", "T2", {3, std::nullopt, std::nullopt}}));
    EXPECT_FALSE(h.client->currentReceipt());
    EXPECT_EQ(h.events.back(), "receipt none");
}

TEST(CompanionContextClient, TakesOnlyIntegerRanksAndRequiresArtistAndTrack) {
    EXPECT_EQ(CompanionContextClient::parseContext(nullptr), std::nullopt);
    const std::vector<Json> absentContexts = {
        Json::array(),
        Json("A"),
        {{"artist", ""}, {"track", "T"}, {"track_rank", 1}},
        {{"artist", "A"}, {"track", ""}},
        {{"artist", "A"}},
        {{"artist", 7}, {"track", "T"}},
        {{"artist", "A"}, {"track", nullptr}},
    };
    for (const auto& value : absentContexts)
        EXPECT_EQ(CompanionContextClient::parseContext(&value), std::nullopt) << value.dump();

    auto ranks = [](const std::string& text) {
        Json value = json::parse(R"({"artist":"A","track":"T",)" + text + "}");
        auto context = CompanionContextClient::parseContext(&value);
        EXPECT_TRUE(context) << text;
        return context ? context->personalContext : CompanionPersonalContext{};
    };
    EXPECT_EQ(ranks(R"("track_rank":1,"artist_rank":-2,"album_rank":0)"),
              (CompanionPersonalContext{1, -2, 0}));
    EXPECT_EQ(ranks(R"("track_rank":2.5,"artist_rank":"3","album_rank":null)"),
              CompanionPersonalContext{});
    EXPECT_EQ(ranks(R"("track_rank":1.0,"artist_rank":true)"), CompanionPersonalContext{});
    EXPECT_EQ(ranks(R"("track_rank":9223372036854775807,"artist_rank":9223372036854775808,)"
                    R"("album_rank":-9223372036854775809)"),
              (CompanionPersonalContext{INT64_MAX, std::nullopt, std::nullopt}));
    EXPECT_TRUE(ranks(R"("track_rank":99999999999999999999999)").isEmpty());
}

TEST(CompanionContextClient, ReceiptKeepsItsDiscoveryTimeForTheSameConfirmation) {
    Harness h;
    h.roundTrip(confirmation(500));
    EXPECT_EQ(h.client->currentReceipt(), (CompanionCaptureReceipt{"A", "T", 500, 1'700'000'000}));

    h.now += 60;
    h.roundTrip(confirmation(500));
    EXPECT_EQ(h.client->currentReceipt()->discoveredAt, 1'700'000'000);

    h.roundTrip(confirmation(501));
    EXPECT_EQ(h.client->currentReceipt(), (CompanionCaptureReceipt{"A", "T", 501, 1'700'000'060}));

    h.now += 60;
    h.roundTrip(confirmation(501), 200, "A", "T other");
    EXPECT_EQ(h.client->currentReceipt(),
              (CompanionCaptureReceipt{"A", "T other", 501, 1'700'000'120}));
}

TEST(CompanionContextClient, MalformedConfirmationsGiveNoReceipt) {
    Harness h;
    const std::vector<Json> malformed = {
        {{"confirmed", false}, {"canonical_uts", 5}},
        {{"confirmed", "true"}, {"canonical_uts", 5}},
        {{"canonical_uts", 5}},
        {{"confirmed", true}},
        {{"confirmed", true}, {"canonical_uts", 5.5}},
        {{"confirmed", true}, {"canonical_uts", "5"}},
        {{"confirmed", true}, {"canonical_uts", 18446744073709551615ull}},
        Json::array(),
    };
    for (const auto& value : malformed) {
        h.roundTrip(confirmation(5));
        ASSERT_TRUE(h.client->currentReceipt());
        h.roundTrip({{"ok", true}, {"latest_capture_confirmation", value}});
        EXPECT_FALSE(h.client->currentReceipt()) << value.dump();
    }
}

TEST(CompanionContextClient, PostsBothCallbacksInOneBlockAfterTheCacheChanged) {
    Harness h;
    h.client->refresh("A", "T", 1);
    Json body = confirmation(9);
    body["current_context"] = {{"artist", "A"}, {"track", "T"}};
    h.transport.answer(0, body, 204);
    EXPECT_TRUE(h.events.empty());
    EXPECT_EQ(h.main.pending(), 1u);
    h.main.runAll();
    EXPECT_EQ(h.events, (std::vector<std::string>{"context A/T", "receipt 1700000000"}));

    // Called again when nothing changed.
    h.events.clear();
    h.roundTrip(body);
    EXPECT_EQ(h.events.size(), 2u);
}

TEST(CompanionContextClient, AccountChangeClearsAtOnceAndDiscardsTheLateAnswer) {
    Harness h;
    h.roundTrip(confirmation(9));
    h.events.clear();

    h.client->refresh("A", "T", 1);
    h.client->noteAccountChanged();
    EXPECT_EQ(h.events, (std::vector<std::string>{"context none", "receipt none"}));
    EXPECT_FALSE(h.client->currentReceipt());

    h.transport.answer(
        1, Json{{"ok", true}, {"current_context", {{"artist", "A"}, {"track", "T"}}}}, 200);
    EXPECT_EQ(h.main.runAll(), 0u);
    EXPECT_FALSE(h.client->currentContext());
    // The discarded answer still ended the request.
    h.client->refresh("A", "T", 1);
    EXPECT_EQ(h.transport.calls.size(), 3u);
}

TEST(CompanionContextClient, AnswerAfterTheClientIsGoneIsHarmless) {
    FakeTransport transport;
    ManualExecutor main;
    auto client = CompanionContextClient::create(
        transport, [] { return std::optional(usableCredential()); }, main.executor());
    client->refresh("A", "T", 1);
    client.reset();
    transport.answer(0, confirmation(1), 200);
    EXPECT_EQ(main.runAll(), 0u);
}

TEST(CompanionContextClient, ConcurrentRefreshesSendAtMostOneRequest) {
    FakeTransport transport;
    ManualExecutor main;
    auto client = CompanionContextClient::create(
        transport, [] { return std::optional(usableCredential()); }, main.executor());
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&] {
            for (int k = 0; k < 50; ++k)
                client->refresh("A", "T", k);
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(transport.calls.size(), 1u);
}

namespace {
class RecordingHttp : public HttpSending {
  public:
    void send(HttpRequest request, std::function<void(HttpResponse)> completion) override {
        requests.push_back(request);
        completion(next);
    }
    std::vector<HttpRequest> requests;
    HttpResponse next;
};
} // namespace

TEST(HttpCompanionContextTransport, SendsBearerGetAndHandsBackOnlyObjects) {
    RecordingHttp http;
    HttpCompanionContextTransport transport(http, 10);
    std::vector<std::pair<std::optional<Json>, int64_t>> answers;
    auto collect = [&](std::optional<Json> body, int64_t status) {
        answers.emplace_back(std::move(body), status);
    };

    http.next = {200, R"({"ok":true})", ""};
    transport.get("https://svc.example/x", usableCredential(), collect);
    ASSERT_EQ(http.requests.size(), 1u);
    EXPECT_EQ(http.requests[0].method, "GET");
    EXPECT_EQ(http.requests[0].url, "https://svc.example/x");
    EXPECT_EQ(http.requests[0].timeoutSeconds, 10);
    EXPECT_TRUE(http.requests[0].body.empty());
    EXPECT_EQ(http.requests[0].headers,
              (std::vector<std::pair<std::string, std::string>>{{"Authorization", "Bearer tok"}}));

    for (const auto& body : {"[1,2]", "\"text\"", "not json", "", "{\"a\":1e400}", "{\"a\":"}) {
        http.next = {404, body, ""};
        transport.get("https://svc.example/x", usableCredential(), collect);
    }
    http.next = {0, "", "timed out"};
    transport.get("https://svc.example/x", usableCredential(), collect);

    ASSERT_EQ(answers.size(), 8u);
    EXPECT_EQ(answers[0], (std::pair<std::optional<Json>, int64_t>{Json{{"ok", true}}, 200}));
    for (size_t i = 1; i < 7; ++i)
        EXPECT_EQ(answers[i], (std::pair<std::optional<Json>, int64_t>{std::nullopt, 404})) << i;
    EXPECT_EQ(answers[7], (std::pair<std::optional<Json>, int64_t>{std::nullopt, 0}));
}
