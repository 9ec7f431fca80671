#include "platform/linux/keystore/CredentialStore.hpp"
#include "core/common/FileIO.hpp"
#include "platform/linux/keystore/FileCredentialStore.hpp"
#include "platform/linux/keystore/SecretServiceCredentialStore.hpp"

#include "TestSupport.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <libsecret/secret.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

using namespace qb;
using qb::test::TempDir;

namespace {

const std::string service = "io.quillabrenta.capture.mac";
const std::string account = "native-capture-upload";

UploadCredential paired(std::string token = "tok_live_1") {
    return UploadCredential{std::move(token), "https://quillabrenta.example", 1767225600, "acct_42",
                            "ada@example.com"};
}

// Unusable or unencodable credentials: save must refuse them before touching the store.
std::vector<UploadCredential> refusedCredentials() {
    UploadCredential upper = paired(), http = paired(), noToken = paired(), noHost = paired(),
                     badText = paired();
    upper.baseURL = "HTTPS://quillabrenta.example";
    http.baseURL = "http://quillabrenta.example";
    noToken.token.clear();
    noHost.baseURL = "not a url";
    badText.token = "tok\xff";
    return {upper, http, noToken, noHost, badText};
}

mode_t modeOf(const std::filesystem::path& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

// Sets environment variables for the life of the object and puts the old values back.
class ScopedEnvironment {
  public:
    void set(const std::string& name, const std::optional<std::string>& value) {
        const char* old = std::getenv(name.c_str());
        saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        if (value)
            ::setenv(name.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name.c_str());
    }
    ~ScopedEnvironment() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->second)
                ::setenv(it->first.c_str(), it->second->c_str(), 1);
            else
                ::unsetenv(it->first.c_str());
        }
    }

  private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

std::string findProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string directories = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= directories.size()) {
        size_t end = directories.find(':', start);
        if (end == std::string::npos) end = directories.size();
        std::filesystem::path candidate =
            std::filesystem::path(directories.substr(start, end - start)) / name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate.string();
        start = end + 1;
    }
    return {};
}

// Starts a program in the background with its output discarded, optionally feeding text to
// its standard input or reading its first line of standard output.
struct Daemon {
    pid_t pid = -1;
    std::string firstLine;

    bool start(const std::vector<std::string>& arguments, const std::string& input,
               bool readFirstLine) {
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0) return false;
        if (::pipe2(out, O_CLOEXEC) != 0) return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        if (readFirstLine)
            posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        else
            posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        std::vector<std::string> copy = arguments;
        std::vector<char*> argv;
        for (auto& argument : copy)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        int rc = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        if (rc == 0 && !input.empty()) (void)!::write(in[1], input.data(), input.size());
        ::close(in[1]);
        if (rc == 0 && readFirstLine) {
            char c;
            while (::read(out[0], &c, 1) == 1 && c != '\n')
                firstLine += c;
        }
        ::close(out[0]);
        if (rc != 0) pid = -1;
        return rc == 0;
    }

    void stop() {
        if (pid <= 0) return;
        ::kill(pid, SIGTERM);
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        pid = -1;
    }
};

// A private session bus, optionally with a GNOME Keyring answering as the Secret Service,
// all under a temporary home so no real keyring is ever touched.
class PrivateSession {
  public:
    // Empty on success, else why the session could not be set up.
    std::string start(bool withKeyring, bool secretsActivatable = false) {
        const std::string busDaemon = findProgram("dbus-daemon");
        if (busDaemon.empty()) return "dbus-daemon is not installed";
        for (const char* sub : {"home", "data", "config", "runtime", "services"})
            std::filesystem::create_directories(dir / sub);
        std::filesystem::permissions(dir / "runtime", std::filesystem::perms::owner_all);
        if (secretsActivatable)
            test::writeFile(dir / "services" / "org.freedesktop.secrets.service",
                            "[D-BUS Service]\nName=org.freedesktop.secrets\nExec=/bin/false\n");
        // No service directories of the system: nothing may be started on our behalf.
        test::writeFile(dir / "bus.conf",
                        "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration "
                        "1.0//EN\" \"http://www.freedesktop.org/standards/dbus/1.0/"
                        "busconfig.dtd\">\n<busconfig><type>session</type><listen>unix:dir=" +
                            (dir / "runtime").string() + "</listen><servicedir>" +
                            (dir / "services").string() +
                            "</servicedir><policy context=\"default\"><allow "
                            "send_destination=\"*\" eavesdrop=\"true\"/><allow "
                            "eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
        environment.set("HOME", (dir / "home").string());
        environment.set("XDG_DATA_HOME", (dir / "data").string());
        environment.set("XDG_CONFIG_HOME", (dir / "config").string());
        environment.set("XDG_RUNTIME_DIR", (dir / "runtime").string());
        if (!bus.start({busDaemon, "--config-file=" + (dir / "bus.conf").string(), "--nofork",
                        "--print-address=1"},
                       "", true) ||
            bus.firstLine.empty())
            return "dbus-daemon did not start";
        environment.set("DBUS_SESSION_BUS_ADDRESS", bus.firstLine);
        if (!withKeyring) return {};

        const std::string keyringDaemon = findProgram("gnome-keyring-daemon");
        if (keyringDaemon.empty()) return "gnome-keyring-daemon is not installed";
        // The password unlocks (and first creates) the login keyring, the default collection.
        if (!keyring.start({keyringDaemon, "--foreground", "--unlock", "--components=secrets"},
                           "test-password", false))
            return "gnome-keyring-daemon did not start";
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            if (secretsNameOwned() && fileio::exists(dir / "data" / "keyrings" / "login.keyring"))
                return {};
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return "gnome-keyring-daemon never answered as the Secret Service";
    }

    ~PrivateSession() {
        // libsecret keeps its service object; it must not outlive the bus it talks to.
        secret_service_disconnect();
        keyring.stop();
        bus.stop();
    }

    // What secret-tool (another client of the Secret Service) sees for our item.
    static test::ProcessResult secretTool(std::vector<std::string> arguments) {
        return test::runProcess(findProgram("secret-tool"), std::move(arguments));
    }

    TempDir dir;

  private:
    bool secretsNameOwned() {
        test::ProcessResult reply = test::runProcess(
            findProgram("dbus-send"),
            {"--session", "--print-reply", "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
             "org.freedesktop.DBus.NameHasOwner", "string:org.freedesktop.secrets"});
        return reply.out.find("boolean true") != std::string::npos;
    }

    ScopedEnvironment environment;
    Daemon bus;
    Daemon keyring;
};

} // namespace

// ---- The file backend ----

class FileCredentialStoreTest : public ::testing::Test {
  protected:
    void SetUp() override { environment.set("XDG_CONFIG_HOME", (dir / "config").string()); }

    ScopedEnvironment environment;
    TempDir dir;
};

TEST_F(FileCredentialStoreTest, SavesToAUserOnlyFileUnderTheConfigDirectory) {
    EXPECT_EQ(FileCredentialStore::defaultDirectory(), dir / "config" / "quillabrenta");
    const std::filesystem::path file = dir / "config" / "quillabrenta" / "credential.json";
    FileCredentialStore store(file);
    EXPECT_EQ(store.load(), std::nullopt);

    ASSERT_TRUE(store.save(paired()));
    EXPECT_EQ(modeOf(file), 0600u);
    EXPECT_EQ(modeOf(file.parent_path()), 0700u);
    Json stored = json::parse(test::readFile(file));
    EXPECT_EQ(stored, Json::parse(R"({"token":"tok_live_1","baseURL":"https://quillabrenta.example",
        "issuedAt":1767225600,"accountID":"acct_42","accountEmail":"ada@example.com"})"));
    EXPECT_EQ(store.load(), paired());

    ASSERT_TRUE(store.save(paired("tok_live_2")));
    EXPECT_EQ(store.load(), paired("tok_live_2"));
    store.clear();
    EXPECT_EQ(store.load(), std::nullopt);
    EXPECT_FALSE(fileio::exists(file));
    store.clear(); // nothing left to delete is fine
}

TEST_F(FileCredentialStoreTest, OlderItemsLoadAndBrokenOnesCountAsAbsent) {
    const std::filesystem::path file = dir / "credential.json";
    FileCredentialStore store(file);
    test::writeFile(file, R"({"token":"t","baseURL":"https://a.example","issuedAt":5})");
    EXPECT_EQ(store.load(), (UploadCredential{"t", "https://a.example", 5, "", ""}));

    for (std::string broken : {"", "{", "[]", R"({"token":"t","baseURL":"https://a.example"})",
                               R"({"token":"t","baseURL":"https://a.example","issuedAt":"5"})",
                               R"({"baseURL":"https://a.example","issuedAt":5})"}) {
        test::writeFile(file, broken);
        EXPECT_EQ(store.load(), std::nullopt) << broken;
    }
}

TEST_F(FileCredentialStoreTest, RefusedCredentialLeavesTheStoredOneUntouched) {
    const std::filesystem::path file = dir / "credential.json";
    FileCredentialStore store(file);
    ASSERT_TRUE(store.save(paired()));
    const std::string before = test::readFile(file);
    for (const UploadCredential& refused : refusedCredentials()) {
        EXPECT_FALSE(store.save(refused)) << refused.baseURL;
        EXPECT_EQ(test::readFile(file), before);
    }
}

TEST_F(FileCredentialStoreTest, FailedAddReportsFalseAfterTheOldItemIsGone) {
    test::writeFile(dir / "occupied", "a file where the directory should be");
    FileCredentialStore store(dir / "occupied" / "credential.json");
    EXPECT_FALSE(store.save(paired()));
    EXPECT_EQ(store.load(), std::nullopt);
}

// ---- Choosing a backend ----

TEST(CredentialStoreChoiceTest, WithoutASessionBusTheFileIsUsed) {
    TempDir dir;
    ScopedEnvironment environment;
    environment.set("DBUS_SESSION_BUS_ADDRESS", std::nullopt);
    environment.set("XDG_RUNTIME_DIR", dir.path().string()); // no "bus" socket in there
    environment.set("XDG_CONFIG_HOME", (dir / "config").string());
    EXPECT_FALSE(SecretServiceCredentialStore::isAvailable());

    CredentialStore store;
    EXPECT_EQ(store.service(), service);
    EXPECT_EQ(store.account(), account);
    EXPECT_FALSE(store.usesSecretService());
    ASSERT_TRUE(store.save(paired()));
    EXPECT_TRUE(fileio::exists(dir / "config" / "quillabrenta" / "credential.json"));
    EXPECT_EQ(CredentialStore().load(), paired());

    // Another service and account pair keeps its own item.
    CredentialStore other("io.quillabrenta.capture.test", "other");
    EXPECT_EQ(other.load(), std::nullopt);
    ASSERT_TRUE(other.save(paired("tok_other")));
    EXPECT_EQ(store.load(), paired());
}

TEST(CredentialStoreChoiceTest, ABusWithoutSecretServiceFallsBackToTheFile) {
    PrivateSession session;
    std::string problem = session.start(false);
    if (!problem.empty()) QB_SKIP_OR_FAIL(problem);
    EXPECT_FALSE(SecretServiceCredentialStore::isAvailable());
    CredentialStore store;
    EXPECT_FALSE(store.usesSecretService());
    ASSERT_TRUE(store.save(paired()));
    EXPECT_TRUE(fileio::exists(session.dir / "config" / "quillabrenta" / "credential.json"));
}

TEST(CredentialStoreChoiceTest, ASecretServiceTheBusCanStartCounts) {
    PrivateSession session;
    std::string problem = session.start(false, true);
    if (!problem.empty()) QB_SKIP_OR_FAIL(problem);
    EXPECT_TRUE(SecretServiceCredentialStore::isAvailable());

    // The same bus found the way GLib finds it when the address variable is missing.
    ScopedEnvironment environment;
    environment.set("DBUS_SESSION_BUS_ADDRESS", std::nullopt);
    std::filesystem::path socket;
    for (const auto& entry : std::filesystem::directory_iterator(session.dir / "runtime"))
        if (entry.is_socket()) socket = entry.path();
    ASSERT_FALSE(socket.empty());
    std::filesystem::create_symlink(socket, session.dir / "runtime" / "bus");
    EXPECT_TRUE(SecretServiceCredentialStore::isAvailable());
}

// ---- The Secret Service backend, against a real GNOME Keyring ----

// GLib keeps its session-bus connection for the life of the process, so the whole suite
// shares one private session; every test starts from an empty keyring item.
class SecretServiceCredentialStoreTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        session = new PrivateSession;
        problem = session->start(true);
    }
    static void TearDownTestSuite() {
        delete session;
        session = nullptr;
    }
    void SetUp() override {
        if (!problem.empty()) QB_SKIP_OR_FAIL(problem);
        SecretServiceCredentialStore(service, account).clear();
    }

    // The items other clients find under our two attributes.
    static size_t itemsInKeyring() {
        test::ProcessResult found =
            PrivateSession::secretTool({"search", "--all", "service", service, "account", account});
        size_t count = 0;
        for (size_t at = found.out.find("\n[/"); at != std::string::npos;
             at = found.out.find("\n[/", at + 1))
            ++count;
        return count + (found.out.rfind("[/", 0) == 0 ? 1 : 0);
    }

    static inline PrivateSession* session = nullptr;
    static inline std::string problem;
};

TEST_F(SecretServiceCredentialStoreTest, SavedCredentialIsAKeyringItemOthersCanSee) {
    CredentialStore store;
    ASSERT_TRUE(store.usesSecretService());
    EXPECT_EQ(store.load(), std::nullopt);

    ASSERT_TRUE(store.save(paired()));
    test::ProcessResult lookup =
        PrivateSession::secretTool({"lookup", "service", service, "account", account});
    ASSERT_EQ(lookup.status, 0) << lookup.err;
    EXPECT_EQ(UploadCredential::fromJson(json::parse(lookup.out)), paired());
    EXPECT_EQ(store.load(), paired());
    EXPECT_FALSE(fileio::exists(session->dir / "config" / "quillabrenta" / "credential.json"));

    // Replacing deletes and adds: still exactly one item, holding the new credential.
    ASSERT_TRUE(store.save(paired("tok_live_2")));
    EXPECT_EQ(itemsInKeyring(), 1u);
    EXPECT_EQ(SecretServiceCredentialStore(service, account).load(), paired("tok_live_2"));

    store.clear();
    EXPECT_EQ(store.load(), std::nullopt);
    EXPECT_EQ(itemsInKeyring(), 0u);
    store.clear();
}

TEST_F(SecretServiceCredentialStoreTest, RefusedCredentialLeavesTheItemUntouched) {
    SecretServiceCredentialStore store(service, account);
    ASSERT_TRUE(store.save(paired()));
    for (const UploadCredential& refused : refusedCredentials())
        EXPECT_FALSE(store.save(refused)) << refused.baseURL;
    EXPECT_EQ(store.load(), paired());
    EXPECT_EQ(itemsInKeyring(), 1u);
}

TEST_F(SecretServiceCredentialStoreTest, ItemsWrittenByOthersLoadOnlyWhenTheyDecode) {
    auto plant = [](const std::string& secret) {
        // secret-tool reads the secret from standard input; the schema attribute is what
        // libsecret adds to our own items.
        test::ProcessResult stored = test::runProcess(
            "/bin/sh", {"-c",
                        "printf '%s' \"$1\" | \"$2\" store --label=planted xdg:schema "
                        "io.quillabrenta.capture.mac.Credential service \"$3\" account \"$4\"",
                        "sh", secret, findProgram("secret-tool"), service, account});
        ASSERT_EQ(stored.status, 0) << stored.err;
    };
    SecretServiceCredentialStore store(service, account);
    plant(R"({"token":"t","baseURL":"https://a.example","issuedAt":5,"accountID":"acct"})");
    EXPECT_EQ(store.load(), (UploadCredential{"t", "https://a.example", 5, "acct", ""}));
    store.clear();
    plant("not json");
    EXPECT_EQ(store.load(), std::nullopt);
}

TEST_F(SecretServiceCredentialStoreTest, LoadsFromSeveralThreadsAtOnce) {
    SecretServiceCredentialStore store(service, account);
    ASSERT_TRUE(store.save(paired()));
    std::atomic<int> loaded{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 5; ++i)
                if (store.load() == paired()) ++loaded;
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(loaded.load(), 20);
}

// What a session without a Secret Service left in the file is newer than the keyring's item:
// it moves in (or, as a "cleared" marker, removes the item), and the file goes.
TEST_F(SecretServiceCredentialStoreTest, TheFileOfASessionWithoutKeyringMovesIn) {
    const std::filesystem::path file = session->dir / "config" / "quillabrenta" / "credential.json";
    SecretServiceCredentialStore keyring(service, account);

    ASSERT_TRUE(keyring.save(paired("tok_stale_other_account")));
    ASSERT_TRUE(FileCredentialStore(file).save(paired("tok_from_the_file")));
    CredentialStore store;
    EXPECT_EQ(store.load(), paired("tok_from_the_file"));
    EXPECT_EQ(keyring.load(), paired("tok_from_the_file"));
    EXPECT_FALSE(fileio::exists(file));
    EXPECT_EQ(itemsInKeyring(), 1u);

    FileCredentialStore(file).markCleared(); // "Disconnect" in a session without a keyring
    EXPECT_EQ(store.load(), std::nullopt);
    EXPECT_EQ(itemsInKeyring(), 0u);
    EXPECT_FALSE(fileio::exists(file));

    // Clearing reaches both places.
    ASSERT_TRUE(keyring.save(paired()));
    ASSERT_TRUE(FileCredentialStore(file).save(paired("tok_file")));
    store.clear();
    EXPECT_EQ(itemsInKeyring(), 0u);
    EXPECT_FALSE(fileio::exists(file));
}

TEST(CredentialStoreChoiceTest, DisconnectingWithoutAKeyringLeavesAMarkerForTheNextSession) {
    PrivateSession session;
    std::string problem = session.start(false);
    if (!problem.empty()) QB_SKIP_OR_FAIL(problem);
    CredentialStore store;
    ASSERT_TRUE(store.save(paired()));
    store.clear();
    EXPECT_EQ(store.load(), std::nullopt);
    const std::filesystem::path file = session.dir / "config" / "quillabrenta" / "credential.json";
    EXPECT_TRUE(FileCredentialStore(file).clearedMarkerPresent());
}

// Last of the keyring's tests: nothing unlocks it again without a person at a prompt.
TEST_F(SecretServiceCredentialStoreTest, ZLockedKeyringReadsAsNotConnectedWithoutAPrompt) {
    SecretServiceCredentialStore keyring(service, account);
    ASSERT_TRUE(keyring.save(paired()));
    test::ProcessResult locked =
        test::runProcess(findProgram("dbus-send"),
                         {"--session", "--print-reply", "--dest=org.freedesktop.secrets",
                          "/org/freedesktop/secrets", "org.freedesktop.Secret.Service.Lock",
                          "array:objpath:/org/freedesktop/secrets/collection/login"});
    ASSERT_EQ(locked.status, 0) << locked.err;
    EXPECT_EQ(keyring.load(), std::nullopt);
    EXPECT_EQ(CredentialStore().load(), std::nullopt);
}
