#include "FakeService.hpp"
#include "TestSupport.hpp"
#include "core/account/PairingClient.hpp"
#include "core/common/ManualExecutor.hpp"
#include "core/common/ServiceEndpoints.hpp"
#include "core/companion/CompanionContextClient.hpp"
#include "core/companion/HttpCompanionContextTransport.hpp"
#include "core/service/CaptureController.hpp"
#include "core/service/HttpReconcileTransport.hpp"
#include "core/worker/CaptureScanWorker.hpp"
#include "platform/linux/keystore/FileCredentialStore.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <thread>

using namespace qb;
using namespace qb::test;

namespace {

const std::string installID = "5d0c3f9e-2b1a-4c8e-9f00-0123456789ab";

PairingClient::ExchangeResult exchangeAndWait(const PairingClient& client,
                                              const std::string& callbackURL) {
    auto promise = std::make_shared<std::promise<PairingClient::ExchangeResult>>();
    auto future = promise->get_future();
    client.exchange(callbackURL, installID, [promise](PairingClient::ExchangeResult result) {
        promise->set_value(std::move(result));
    });
    return future.get();
}

std::optional<std::string> identityAndWait(const PairingClient& client,
                                           const UploadCredential& credential) {
    auto promise = std::make_shared<std::promise<std::optional<std::string>>>();
    auto future = promise->get_future();
    client.fetchIdentity(credential, [promise](std::optional<std::string> email) {
        promise->set_value(std::move(email));
    });
    return future.get();
}

// The callback link on the service's connect page.
std::string callbackFromPage(const std::string& page) {
    const std::string marker = "href=\"";
    auto start = page.find(marker);
    if (start == std::string::npos) return {};
    start += marker.size();
    return page.substr(start, page.find('"', start) - start);
}

template <typename Condition> bool waitFor(Condition condition) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// A one-song library scanned in process, so the controller has something to upload.
struct OneSongLibrary : MusicLibraryScanning {
    LibraryScan scan() override {
        LibraryTrack track;
        track.persistentID = "000000000000002A";
        track.artist = "Artist";
        track.title = "Song";
        return {{track}, {}};
    }
};

struct InProcessWorker : CaptureWorkerRunning {
    explicit InProcessWorker(const std::filesystem::path& dir)
        : worker(library, CaptureBaselineStore(dir), CaptureRuntimeStore(dir)) {}
    CaptureWorkerResult run(const std::string& trigger) override {
        return worker.run(trigger, 1700000000);
    }
    OneSongLibrary library;
    CaptureScanWorker worker;
};

class PairingRoundTrip : public ::testing::Test {
  protected:
    void SetUp() override {
        ::setenv(endpoints::baseURLEnvironmentVariable, service.baseURL().c_str(), 1);
    }
    void TearDown() override { ::unsetenv(endpoints::baseURLEnvironmentVariable); }

    // Connect page, callback, exchange: the credential the service issued.
    UploadCredential pair(const PairingClient& client, std::string* callbackURL = nullptr) {
        auto connect = client.connectURL(installID);
        EXPECT_TRUE(connect);
        HttpRequest request;
        request.url = connect.value_or("");
        auto page = sendAndWait(service.client(), request);
        EXPECT_EQ(page.status, 302) << page.error;
        std::string callback = callbackFromPage(page.body);
        if (callbackURL) *callbackURL = callback;
        auto result = exchangeAndWait(client, callback);
        EXPECT_TRUE(std::holds_alternative<UploadCredential>(result)) << callback;
        return std::holds_alternative<UploadCredential>(result) ? std::get<UploadCredential>(result)
                                                                : UploadCredential{};
    }

    FakeService service;
};

} // namespace

TEST_F(PairingRoundTrip, PairsThroughTheConnectPageAndUsesTheIssuedToken) {
    PairingClient client(service.client(), endpoints::effectiveBaseURL(), [] { return 1234.5; });
    ASSERT_EQ(client.productionBaseURL(), service.baseURL());

    std::string callback;
    auto credential = pair(client, &callback);
    EXPECT_TRUE(credential.isUsable());
    EXPECT_EQ(credential.baseURL, service.baseURL());
    EXPECT_EQ(credential.issuedAt, 1234);
    EXPECT_EQ(credential.accountID, "acct_fake_1");
    EXPECT_EQ(credential.accountEmail, "listener@example.com");

    auto connects = service.requestsTo("/native/mac-capture/connect");
    ASSERT_EQ(connects.size(), 1u);
    EXPECT_EQ(connects[0]["query"]["install_id"], Json::array({installID}));
    auto exchanges = service.requestsTo("/api/native/capture/mac/exchange");
    ASSERT_EQ(exchanges.size(), 1u);
    EXPECT_EQ(exchanges[0]["method"], "POST");
    EXPECT_FALSE(exchanges[0]["headers"].contains("authorization"));
    EXPECT_EQ(exchanges[0]["headers"]["content-type"], "application/json");
    EXPECT_EQ(exchanges[0]["json"]["install_id"], installID);

    // The code is single-use.
    EXPECT_EQ(exchangeAndWait(client, callback),
              PairingClient::ExchangeResult(PairingError::exchangeRejected()));

    // Identity and disconnect carry the issued token.
    EXPECT_EQ(identityAndWait(client, credential), "listener@example.com");
    client.disconnect(credential);
    ASSERT_TRUE(
        waitFor([&] { return !service.requestsTo("/api/native/capture/mac/disconnect").empty(); }));
    for (const auto& path :
         {"/api/native/capture/mac/identity", "/api/native/capture/mac/disconnect"})
        EXPECT_EQ(service.requestsTo(path).at(0)["headers"]["authorization"],
                  "Bearer " + credential.token);
}

TEST_F(PairingRoundTrip, CompanionContextQueryArrivesUnchanged) {
    PairingClient pairing(service.client(), endpoints::effectiveBaseURL());
    auto credential = pair(pairing);
    const std::string artist = "AC/DC & Friends + 🎸";
    const std::string track = "100% = \"Live\" #1 / ½?";
    service.script(
        "/api/native/capture/mac/companion-context", "GET",
        Json::array(
            {{{"status", 200},
              {"body",
               {{"ok", true},
                {"current_context", {{"artist", artist}, {"track", track}, {"track_rank", 4}}},
                {"latest_capture_confirmation",
                 {{"confirmed", true}, {"canonical_uts", 1700000000}}}}}}}));

    HttpCompanionContextTransport transport(service.client(), 10);
    ManualExecutor main;
    auto client = CompanionContextClient::create(
        transport, [&] { return std::optional(credential); }, main.executor(), [] { return 99.0; });
    client->refresh(artist, track, 1699999000);
    ASSERT_TRUE(waitFor([&] { return main.pending() > 0; }));
    main.runAll();

    auto requests = service.requestsTo("/api/native/capture/mac/companion-context");
    ASSERT_EQ(requests.size(), 1u);
    const Json& query = requests[0]["query"];
    EXPECT_EQ(query["artist"], Json::array({artist}));
    EXPECT_EQ(query["track"], Json::array({track}));
    EXPECT_EQ(query["since"], Json::array({"1699999000"}));
    EXPECT_EQ(requests[0]["headers"]["authorization"], "Bearer " + credential.token);

    EXPECT_EQ(client->currentContext(),
              (CompanionContext{artist, track, {4, std::nullopt, std::nullopt}}));
    EXPECT_EQ(client->currentReceipt(), (CompanionCaptureReceipt{artist, track, 1700000000, 99}));
}

TEST_F(PairingRoundTrip, StoredCredentialIsWhatTheControllerUploadsWith) {
    PairingClient client(service.client(), endpoints::effectiveBaseURL());
    auto credential = pair(client);
    qb::test::TempDir dir;
    FileCredentialStore store(dir / "config" / "credential.json");
    ASSERT_TRUE(store.save(credential));

    HttpReconcileTransport transport(service.client(), 20);
    CaptureController::Options options;
    options.stateDirectory = dir / "state";
    options.worker = std::make_shared<InProcessWorker>(dir / "state");
    options.transport = std::shared_ptr<ReconcileTransport>(&transport, [](ReconcileTransport*) {});
    options.credentialProvider = [&store] { return store.load(); };
    options.mainExecutor = [](std::function<void()>) {};
    auto controller = CaptureController::make(std::move(options));
    ASSERT_TRUE(controller->status().connected);
    controller->scan("launch", false);
    ASSERT_TRUE(waitFor([&] {
        auto status = controller->status();
        return status.pending == 0 && status.lastUploadAt.has_value();
    }));

    auto uploads = service.requestsTo("/api/native/capture/reconcile");
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_EQ(uploads[0]["headers"]["authorization"], "Bearer " + credential.token);
    EXPECT_EQ(uploads[0]["json"]["install_id"], controller->installID());
    EXPECT_EQ(uploads[0]["json"]["completion_library"]["is_baseline"], true);
}
