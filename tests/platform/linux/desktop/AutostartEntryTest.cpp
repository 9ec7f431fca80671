#include "platform/linux/desktop/AutostartEntry.hpp"
#include "TestSupport.hpp"
#include "core/common/FileIO.hpp"
#include "platform/linux/desktop/UserSettings.hpp"

#include <gtest/gtest.h>

using namespace qb;
using namespace qb::test;

TEST(AutostartEntry, RegistersThisExecutableAndHonoursTheDesktopsSwitch) {
    TempDir dir;
    AutostartEntry entry("/opt/My Apps/quillabrenta", dir / "autostart");
    EXPECT_FALSE(entry.isRegistered());

    entry.setRegistered(true);
    EXPECT_TRUE(entry.isRegistered());
    EXPECT_EQ(readFile(dir / "autostart" / "quillabrenta-capture.desktop"),
              "[Desktop Entry]\nType=Application\nName=Quillabrenta for Mac\n"
              "Comment=Puts every play into your Quillabrenta listening archive\n"
              "Exec=\"/opt/My Apps/quillabrenta\"\nIcon=quillabrenta-capture\nTerminal=false\n"
              "X-GNOME-Autostart-enabled=true\n");

    // Switched off in the desktop's startup settings, which edit the entry in place.
    writeFile(entry.file(), "[Desktop Entry]\nType=Application\nExec=x\nHidden=true\n");
    EXPECT_FALSE(entry.isRegistered());
    writeFile(entry.file(), "[Desktop Entry]\nExec=x\nX-GNOME-Autostart-enabled=false\n");
    EXPECT_FALSE(entry.isRegistered());
    writeFile(entry.file(), "[Desktop Entry]\nExec=x\n[Desktop Action a]\nHidden=true\n");
    EXPECT_TRUE(entry.isRegistered());

    entry.setRegistered(false);
    EXPECT_FALSE(std::filesystem::exists(entry.file()));
    entry.setRegistered(false); // nothing to remove is fine
}

TEST(AutostartEntry, QuotesTheExecArgumentAndReportsWhatItCannotWrite) {
    EXPECT_EQ(AutostartEntry::execArgument("/usr/bin/quillabrenta"), "\"/usr/bin/quillabrenta\"");
    // Quoting escapes " ` $ \, then the value escapes \ again; % would be a field code.
    EXPECT_EQ(AutostartEntry::execArgument("/a \"b\" `c` $d \\e 100%"),
              R"("/a \\"b\\" \\`c\\` \\$d \\\\e 100%%")");

    TempDir dir;
    writeFile(dir / "autostart", "a file where the folder should be");
    AutostartEntry blocked("/usr/bin/quillabrenta", dir / "autostart");
    EXPECT_THROW(blocked.setRegistered(true), FileError);
    EXPECT_THROW(AutostartEntry("/tmp/odd\nname", dir.path()).setRegistered(true), FileError);
    EXPECT_FALSE(AutostartEntry("/tmp/odd\nname", dir.path()).isRegistered());
}

TEST(UserSettings, ReadsOneFlagAndCountsAnythingElseAsOff) {
    TempDir dir;
    UserSettings settings(dir / "settings.json");
    const char* key = "io.quillabrenta.capture.nonLibraryPlayerSessions";
    EXPECT_FALSE(settings.flag(key));
    for (const char* text : {"{\"io.quillabrenta.capture.nonLibraryPlayerSessions\":1}", "[]",
                             "{\"other\":true}", "not json"}) {
        writeFile(settings.file(), text);
        EXPECT_FALSE(settings.flag(key)) << text;
    }
    writeFile(settings.file(), "{\"io.quillabrenta.capture.nonLibraryPlayerSessions\":true}");
    EXPECT_TRUE(settings.flag(key));
}
