// The status item as the desktop sees it: on a virtual screen, registered with a stand-in
// StatusNotifierWatcher, its tooltip following the status and Activate opening the popover;
// and on a desktop without any tray, a second start showing the companion as a window.
#include "DesktopProcesses.hpp"

#include <gtest/gtest.h>

#include <sstream>

using namespace qb;
using namespace qb::test;

namespace {

// Xvfb on a free display number, for the xcb platform.
class VirtualScreen {
  public:
    VirtualScreen() {
        int number = 200 + static_cast<int>(::getpid() % 300);
        while (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(number)))
            ++number;
        display_ = ":" + std::to_string(number);
        server_ = std::make_unique<Child>(std::vector<std::string>{"/usr/bin/Xvfb", display_,
                                                                   "-screen", "0", "1024x640x24",
                                                                   "-nolisten", "tcp"},
                                          false);
        eventually(
            [&] { return std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(number)); },
            std::chrono::seconds(10));
        ::setenv("DISPLAY", display_.c_str(), 1);
    }
    ~VirtualScreen() { ::unsetenv("DISPLAY"); }

    // Widths of our visible windows (the popover is 300 wide).
    static std::vector<int> windowWidths() {
        std::vector<int> widths;
        const ProcessResult found = runProcess(
            "/usr/bin/xdotool", {"search", "--onlyvisible", "--classname", "quillabrenta"});
        std::istringstream ids(found.out);
        for (std::string id; ids >> id;) {
            const ProcessResult geometry =
                runProcess("/usr/bin/xdotool", {"getwindowgeometry", "--shell", id});
            const size_t at = geometry.out.find("WIDTH=");
            if (at != std::string::npos) widths.push_back(std::stoi(geometry.out.substr(at + 6)));
        }
        return widths;
    }
    static bool companionShown() {
        const auto widths = windowWidths();
        return std::find(widths.begin(), widths.end(), 300) != widths.end();
    }

  private:
    std::string display_;
    std::unique_ptr<Child> server_;
};

// The stand-in watcher (tests/e2e/sni_watcher.py), asked one line at a time.
class Watcher {
  public:
    Watcher()
        : child_({"/usr/bin/python3", (sourceDir() / "tests/e2e/sni_watcher.py").string()}, true) {
        if (child_.readLine() != "ready") throw std::runtime_error("the watcher did not start");
    }
    std::string waitForItem() { return child_.readLine(std::chrono::seconds(30)); }
    std::string ask(const std::string& command) {
        child_.send(command);
        return child_.readLine();
    }

  private:
    Child child_;
};

bool desktopToolsMissing(std::string& missing) {
    for (const char* program : {"/usr/bin/Xvfb", "/usr/bin/xdotool"})
        if (!std::filesystem::exists(program)) missing = program;
    return !missing.empty();
}

} // namespace

TEST(StatusItem, RegistersWithTheWatcherFollowsTheStatusAndOpensThePopover) {
    std::string missing;
    if (desktopToolsMissing(missing)) QB_SKIP_OR_FAIL(missing << " is not installed");
    VirtualScreen screen; // outlives the application
    PrivateBus bus;
    FakeService service;
    TempDir home;
    PlayCountLibrary{{{1, 4}}}.write(home / "library.json");
    Application app(home, service);
    app.set("QT_QPA_PLATFORM", "xcb");
    Keyring keyring;
    ASSERT_TRUE(keyring.ready());
    Watcher watcher;
    app.start();

    const std::string registered = watcher.waitForItem();
    ASSERT_EQ(registered.rfind("registered ", 0), 0u) << registered;
    EXPECT_TRUE(eventually(
        [&] { return watcher.ask("tooltip") == "Quillabrenta for Mac — sign-in required"; },
        std::chrono::seconds(20)))
        << watcher.ask("tooltip");

    const ProcessResult second = app.pairThroughSecondCopy(service);
    EXPECT_EQ(second.status, 0) << second.err;
    EXPECT_TRUE(eventually(
        [&] {
            return watcher.ask("tooltip") == "Quillabrenta for Mac — Listening Capture is active";
        },
        std::chrono::seconds(30)))
        << watcher.ask("tooltip");

    EXPECT_FALSE(VirtualScreen::companionShown());
    ASSERT_EQ(watcher.ask("activate"), "ok");
    EXPECT_TRUE(
        eventually([] { return VirtualScreen::companionShown(); }, std::chrono::seconds(10)));
    // A second click closes it again.
    ASSERT_EQ(watcher.ask("activate"), "ok");
    EXPECT_TRUE(
        eventually([] { return !VirtualScreen::companionShown(); }, std::chrono::seconds(10)));
}

TEST(StatusItem, WithoutATrayASecondStartShowsTheCompanionWindow) {
    std::string missing;
    if (desktopToolsMissing(missing)) QB_SKIP_OR_FAIL(missing << " is not installed");
    VirtualScreen screen;
    PrivateBus bus;
    FakeService service;
    TempDir home;
    PlayCountLibrary{{{1, 4}}}.write(home / "library.json");
    Application app(home, service);
    app.set("QT_QPA_PLATFORM", "xcb");
    app.start();
    ASSERT_FALSE(app.installID().empty()); // running
    EXPECT_FALSE(VirtualScreen::companionShown());

    // An alert would wait for a click that never comes: the second copy must leave by itself.
    Child second({executablePath()}, false);
    ASSERT_TRUE(second.waitExit(std::chrono::seconds(15)));
    EXPECT_TRUE(
        eventually([] { return VirtualScreen::companionShown(); }, std::chrono::seconds(10)));
}
