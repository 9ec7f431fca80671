// The product as a user runs it: the application process on a private session bus beside a
// scripted MPRIS player, talking to the fake service; paired through a connection link handed
// over by a second process; then listening raises play counts in the library file.
#include "DesktopProcesses.hpp"
#include "TestSupport.hpp"
#include "core/common/JsonFields.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>

using namespace qb;
using namespace qb::test;

namespace {

// Everything the process and its state directory could leak the token through.
std::string everythingOnDisk(const std::filesystem::path& directory) {
    std::string all;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(directory))
        if (entry.is_regular_file()) all += readFile(entry.path());
    return all;
}

} // namespace

TEST(Application, CapturesPairsAndUploadsAsItRuns) {
    PrivateBus bus;
    FakeService service;
    TempDir home;
    PlayCountLibrary library{{{1, 4}, {2, 0}}};
    library.write(home / "library.json");
    Emitter player("testplayer");
    player.command(R"({"metadata": {"xesam:title": ["s", "First Song"],
                       "xesam:artist": ["as", ["The Artist"]],
                       "mpris:length": ["x", 180000000]}, "status": "Playing"})");

    Application app(home, service);
    Keyring keyring;
    ASSERT_TRUE(keyring.ready());
    app.start();
    // The launch scan takes the forward-only baseline; then the user pairs.
    const std::string installID = app.installID();
    ASSERT_FALSE(installID.empty());
    const ProcessResult second = app.pairThroughSecondCopy(service);
    EXPECT_EQ(second.status, 0) << second.err;

    // The baseline report goes out with the issued token.
    ASSERT_TRUE(
        eventually([&] { return !service.requestsTo("/api/native/capture/reconcile").empty(); },
                   std::chrono::seconds(20)));
    const Json first = service.requestsTo("/api/native/capture/reconcile").at(0);
    const std::string authorization = first["headers"]["authorization"];
    ASSERT_EQ(authorization.rfind("Bearer qbt_", 0), 0u) << authorization;
    const std::string token = authorization.substr(7);
    EXPECT_EQ(first["json"]["install_id"], installID);

    // A new track: reported now playing, and then asked about for the companion.
    player.command(R"({"metadata": {"xesam:title": ["s", "Second Song"],
                       "xesam:artist": ["as", ["The Artist"]],
                       "mpris:length": ["x", 200000000]}})");
    ASSERT_TRUE(eventually(
        [&] {
            for (const Json& r : service.requestsTo("/api/native/now-playing"))
                if (r["json"].value("track", "") == "Second Song") return true;
            return false;
        },
        std::chrono::seconds(30)));
    ASSERT_TRUE(eventually(
        [&] { return !service.requestsTo("/api/native/capture/mac/companion-context").empty(); },
        std::chrono::seconds(30)));
    const Json context = service.requestsTo("/api/native/capture/mac/companion-context").at(0);
    EXPECT_EQ(context["headers"]["authorization"], authorization);

    // Listening: two plays of song 1, one of song 2, written by rename as players do. The
    // minimum interval holds the scan until a minute after the launch scan.
    library.plays = {{1, 6}, {2, 1}};
    library.write(home / "library.json.tmp");
    std::filesystem::rename(home / "library.json.tmp", home / "library.json");
    ASSERT_TRUE(eventually(
        [&] {
            for (const Json& r : service.requestsTo("/api/native/capture/reconcile"))
                if (!r["json"]["completion_library"]["deltas"].empty()) return true;
            return false;
        },
        std::chrono::seconds(90)));
    Json deltas;
    for (const Json& r : service.requestsTo("/api/native/capture/reconcile")) {
        EXPECT_EQ(r["headers"]["authorization"], authorization);
        if (!r["json"]["completion_library"]["deltas"].empty())
            deltas = r["json"]["completion_library"]["deltas"];
    }
    ASSERT_EQ(deltas.size(), 2u) << deltas.dump();
    int64_t plays = 0;
    for (const Json& d : deltas)
        plays += d["play_count_after"].get<int64_t>() - d["play_count_before"].get<int64_t>();
    EXPECT_EQ(plays, 3);

    // The token lives in the key store only: no state file, no command line.
    EXPECT_EQ(json::parse(Keyring::item())["token"], token);
    EXPECT_FALSE(std::filesystem::exists(home / "config" / "quillabrenta" / "credential.json"));
    EXPECT_EQ(everythingOnDisk(app.stateDirectory()).find(token), std::string::npos);
    EXPECT_EQ(second.out.find(token), std::string::npos);
    EXPECT_EQ(second.err.find(token), std::string::npos);
    const std::string commandLine =
        readFile("/proc/" + std::to_string(app.process().pid()) + "/cmdline");
    EXPECT_EQ(commandLine.find(token), std::string::npos);
    EXPECT_EQ(commandLine.find("qbt_"), std::string::npos);
    const std::string environment =
        readFile("/proc/" + std::to_string(app.process().pid()) + "/environ");
    EXPECT_EQ(environment.find(token), std::string::npos);
    EXPECT_EQ(std::filesystem::status(app.stateDirectory()).permissions() &
                  std::filesystem::perms::all,
              std::filesystem::perms::owner_all);
}
