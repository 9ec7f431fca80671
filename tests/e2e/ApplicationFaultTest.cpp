// The running application against faults of what it talks to: a certificate it does not trust,
// a service that never answers, a key store that refuses. Each ends in a clear message, and
// nothing is sent or lost.
#include "DesktopProcesses.hpp"
#include "core/capture/CaptureRuntimeState.hpp"

#include <gtest/gtest.h>

using namespace qb;
using namespace qb::test;

namespace {

struct Session {
    PrivateBus bus;
    FakeService service;
    TempDir home;
    std::unique_ptr<Application> app;
    std::unique_ptr<Keyring> keyring;

    Session() {
        PlayCountLibrary{{{1, 4}}}.write(home / "library.json");
        app = std::make_unique<Application>(home, service);
        keyring = std::make_unique<Keyring>();
        EXPECT_TRUE(keyring->ready());
    }
    bool saw(const std::string& text, std::chrono::seconds limit = std::chrono::seconds(30)) {
        return eventually([&] { return app->errors().find(text) != std::string::npos; }, limit);
    }
};

} // namespace

TEST(ApplicationFaults, AnUntrustedCertificateSendsNothingAndSaysWhy) {
    Session s;
    s.app->unset("QUILLABRENTA_CA_FILE");
    s.app->start();
    EXPECT_EQ(s.app->pairThroughSecondCopy(s.service).status, 0);
    ASSERT_TRUE(s.saw("certificate")) << s.app->errors();
    EXPECT_TRUE(s.service.requestsTo("/api/native/capture/mac/exchange").empty());
    EXPECT_EQ(Keyring::item(), "");
}

TEST(ApplicationFaults, AServiceThatNeverAnswersLeavesThePayloadQueued) {
    Session s;
    s.service.script("/api/native/capture/reconcile", "POST", Json::array(),
                     Json{{"timeout", true}});
    s.app->start();
    EXPECT_EQ(s.app->pairThroughSecondCopy(s.service).status, 0);
    // The reconcile request times out after 20 s; the payload waits for its next attempt.
    const std::filesystem::path runtime = s.app->stateDirectory() / "capture-runtime.json";
    ASSERT_TRUE(eventually(
        [&] {
            const auto state = CaptureRuntimeState::fromJson(Json::parse(readFile(runtime)));
            return !state.pending.empty() && state.pending[0].attempts == 1;
        },
        std::chrono::seconds(60)));
    const auto state = CaptureRuntimeState::fromJson(Json::parse(readFile(runtime)));
    EXPECT_NE(state.pending[0].lastError.find("timed out"), std::string::npos)
        << state.pending[0].lastError;
}

TEST(ApplicationFaults, ALockedKeyStoreRefusesTheCredentialAndSaysSo) {
    Session s;
    const ProcessResult locked = runProcess(
        "/usr/bin/dbus-send", {"--session", "--print-reply", "--dest=org.freedesktop.secrets",
                               "/org/freedesktop/secrets", "org.freedesktop.Secret.Service.Lock",
                               "array:objpath:/org/freedesktop/secrets/collection/login"});
    ASSERT_EQ(locked.status, 0) << locked.err;
    s.app->start();
    EXPECT_EQ(s.app->pairThroughSecondCopy(s.service).status, 0);
    ASSERT_TRUE(s.saw("Could not store the capture credential securely.")) << s.app->errors();
    // Nothing was sent with a credential that could not be kept.
    EXPECT_TRUE(s.service.requestsTo("/api/native/capture/reconcile").empty());
}
