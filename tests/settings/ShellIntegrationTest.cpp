#include "settings/ShellIntegration.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "settings/Settings.h"
#include "tests/support/DesktopEntryProbe.h"
#include "tests/support/PrivateHome.h"
#include "tests/support/TestFiles.h"

namespace quarn {
namespace {

namespace fs = std::filesystem;
using test::PrivateHome;
using test::ReadText;
using test::ScopedEnv;
using test::SortedEntryNames;

// Private data, config and INI locations, and a PATH without the real
// update-desktop-database.
class ShellIntegrationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_tree.Point("XDG_DATA_HOME", "data");
        m_tree.Point("XDG_DATA_DIRS", "system-data");
        m_tree.Point("XDG_CONFIG_HOME", "config");
        m_tree.Point("XDG_CONFIG_DIRS", "system-config");
        m_tree.Point("QUARN_INI", "quarn.ini");
        m_tree.Point("PATH", "bin");
        m_tree.MakeFolder("bin");
    }

    // A stand-in for update-desktop-database that logs its arguments.
    void InstallFakeRefresher() {
        std::string script = m_tree.Path("bin/update-desktop-database");
        std::ofstream(script) << "#!/bin/sh\nprintf '%s\\n' \"$@\" >> '" << Log() << "'\n";
        ::chmod(script.c_str(), 0755);
    }

    std::string Log() const { return m_tree.Path("refresh.log"); }
    std::string Applications() const { return m_tree.Path("data/applications"); }

    PrivateHome m_tree;
};

TEST_F(ShellIntegrationTest, RegisteredEntryStartsTheProgramOnTheFolder) {
    EXPECT_EQ(ShellVerbEntryPath(), Applications() + "/Dirmass.desktop");
    ASSERT_EQ(RegisterShellVerb("/opt/quarn/bin/quarn"), 1);
    EXPECT_EQ(ReadText(ShellVerbEntryPath()),
              "[Desktop Entry]\nType=Application\nName=Dirmass\nMimeType=inode/directory;\n"
              "NoDisplay=true\nExec=/opt/quarn/bin/quarn %f\n");

    // The file manager's view: offered for folders; started on a folder,
    // it runs the program with the folder as its one argument, also when
    // the program's path holds blanks, quotes, backslashes, shell
    // characters or a line break. (GIO looks for the program before it
    // undoes "%%", so it never offers one whose path holds a "%".)
    EXPECT_EQ(test::DesktopEntryValue(ShellVerbEntryPath(), "MimeType"), "inode/directory;");
    for (const std::string& place :
         {std::string("my tools"), std::string("\"q\" it's"), std::string("a\\b/$(x);`y`"),
          std::string(" lead/space\nline")}) {
        const std::string program = m_tree.Path("programs/" + place + "/quarn");
        test::MakeArgumentRecorder(program);
        ASSERT_EQ(RegisterShellVerb(program), 1) << program;
        EXPECT_EQ(test::StartEntryOnFolder(ShellVerbEntryPath(), program, "/x y"),
                  (std::vector<std::string>{program, "/x y"}))
            << *test::DesktopEntryValue(ShellVerbEntryPath(), "Exec");
    }
    // Replacing leaves no temporary file behind.
    EXPECT_EQ(SortedEntryNames(Applications()), std::vector<std::string>{"Dirmass.desktop"});
}

TEST_F(ShellIntegrationTest, FailuresReturnZeroAndKeepTheOldEntry) {
    EXPECT_EQ(RegisterShellVerb(""), 0);  // the system could not tell our path
    EXPECT_FALSE(fs::exists(ShellVerbEntryPath()));

    ASSERT_EQ(RegisterShellVerb("/old/quarn"), 1);
    std::string old = ReadText(ShellVerbEntryPath());
    if (!test::RunningAsRoot()) {
        ::chmod(Applications().c_str(), 0555);
        EXPECT_EQ(RegisterShellVerb("/new/quarn"), 0);
        EXPECT_EQ(UnregisterShellVerb(), 0);
        ::chmod(Applications().c_str(), 0755);
        EXPECT_EQ(ReadText(ShellVerbEntryPath()), old);
    }

    // A data folder that cannot hold folders.
    m_tree.MakeFile("blocked", 1);
    ScopedEnv blocked("XDG_DATA_HOME", m_tree.Path("blocked"));
    EXPECT_EQ(RegisterShellVerb("/new/quarn"), 0);
    EXPECT_EQ(UnregisterShellVerb(), 0);
}

TEST_F(ShellIntegrationTest, UnregisterRemovesOnlyOurEntry) {
    // Nothing there: 0, and the folder and its other entries stay as they are.
    m_tree.MakeFile("data/applications/other.desktop", 10);
    EXPECT_EQ(UnregisterShellVerb(), 0);
    EXPECT_EQ(SortedEntryNames(Applications()), std::vector<std::string>{"other.desktop"});
    EXPECT_EQ(fs::file_size(Applications() + "/other.desktop"), 10u);

    ASSERT_EQ(RegisterShellVerb("/opt/quarn"), 1);
    EXPECT_EQ(UnregisterShellVerb(), 1);
    EXPECT_EQ(SortedEntryNames(Applications()), std::vector<std::string>{"other.desktop"});
    EXPECT_EQ(UnregisterShellVerb(), 0);

    // No applications folder at all: still 0, and none is created.
    fs::remove_all(Applications());
    EXPECT_EQ(UnregisterShellVerb(), 0);
    EXPECT_FALSE(fs::exists(Applications()));
}

TEST_F(ShellIntegrationTest, ApplyFollowsShellRunAndRefreshesTheCacheOnChange) {
    // Without an INI file ShellRun reads as on; without the refresher nothing fails.
    ApplyShellIntegration("/opt/quarn");
    EXPECT_TRUE(fs::exists(ShellVerbEntryPath()));

    InstallFakeRefresher();
    ASSERT_TRUE(WriteSetting(kShellRun, false));
    ApplyShellIntegration("/opt/quarn");
    EXPECT_FALSE(fs::exists(ShellVerbEntryPath()));
    EXPECT_EQ(ReadText(Log()), Applications() + "\n");

    // Nothing to change: the cache is left alone.
    fs::remove(Log());
    ApplyShellIntegration("/opt/quarn");
    EXPECT_FALSE(fs::exists(Log()));

    ASSERT_TRUE(WriteSetting(kShellRun, true));
    ApplyShellIntegration("/opt/quarn");
    EXPECT_TRUE(fs::exists(ShellVerbEntryPath()));
    EXPECT_EQ(ReadText(Log()), Applications() + "\n");
    fs::remove(Log());
    ApplyShellIntegration("/opt/quarn");
    EXPECT_FALSE(fs::exists(Log()));
    // A moved program rewrites the entry.
    ApplyShellIntegration("/usr/bin/quarn");
    EXPECT_EQ(test::DesktopEntryValue(ShellVerbEntryPath(), "Exec"), "/usr/bin/quarn %f");
    EXPECT_TRUE(fs::exists(Log()));
}

}  // namespace
}  // namespace quarn
