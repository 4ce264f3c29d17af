// The seven yes/no settings as the rest of the program sees them.

#include <sys/stat.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "settings/Settings.h"
#include "tests/support/TempTree.h"
#include "tests/support/TestFiles.h"

namespace quarn {
namespace {

using test::ReadText;
using test::WriteText;

const char* const kAllKeys[] = {kTwinMode, kShellRun, kSortBySize, kRelativToDriveSpace,
                                kCmpName,  kCmpSize,  kCmpDate};

TEST(Settings, EveryKeyIsOnWithoutAFile) {
    test::TempTree tree;
    test::ScopedEnv ini("QUARN_INI", tree.Path("none/quarn.ini"));
    for (const char* key : kAllKeys) {
        EXPECT_TRUE(ReadSetting(key)) << key;
    }
}

TEST(Settings, HandWrittenValuesAndWrittenDigits) {
    test::TempTree tree;
    test::ScopedEnv ini("QUARN_INI", tree.Path("quarn.ini"));
    EXPECT_EQ(SettingsFilePath(), tree.Path("quarn.ini"));
    WriteText(tree.Path("quarn.ini"),
              "[settings]\nTwinMode=yes\nSortBySize=TRUE\nCmpSize=no\nCmpDate=\n");
    EXPECT_TRUE(ReadSetting(kTwinMode));
    EXPECT_TRUE(ReadSetting(kSortBySize));
    EXPECT_FALSE(ReadSetting(kCmpSize));
    EXPECT_TRUE(ReadSetting(kCmpDate));  // empty counts as absent

    ASSERT_TRUE(WriteSetting(kShellRun, false));
    ASSERT_TRUE(WriteSetting(kCmpSize, true));
    EXPECT_FALSE(ReadSetting(kShellRun));
    EXPECT_EQ(ReadText(tree.Path("quarn.ini")),
              "[settings]\nTwinMode=yes\nSortBySize=TRUE\nCmpSize=1\nCmpDate=\nShellRun=0\n");
}

TEST(Settings, UnwritableFileKeepsTheOldValues) {
    test::TempTree tree;
    tree.MakeFile("blocker", 1);
    test::ScopedEnv ini("QUARN_INI", tree.Path("blocker/quarn.ini"));
    EXPECT_FALSE(WriteSetting(kSortBySize, false));
    EXPECT_TRUE(ReadSetting(kSortBySize));
}

// A copy of a small program that reads and writes settings as Quarn does,
// installed in a folder of the test's choosing and started afresh for every
// step, as a user starts the program again.
class InstalledProgram : public ::testing::Test {
  protected:
    struct Run {
        int exitCode = -1;
        std::string value;  // first line: "written", "refused", "1" or "0"
        std::string file;   // second line: the file written to
    };

    void SetUp() override {
        m_tree.MakeFolder("bin");
        std::filesystem::copy_file(QUARN_SETTINGS_PROBE, Program());
        m_env.push_back(std::make_unique<test::ScopedEnv>("QUARN_INI", ""));
        m_env.push_back(std::make_unique<test::ScopedEnv>("HOME", m_tree.Path("home")));
        m_env.push_back(
            std::make_unique<test::ScopedEnv>("XDG_CONFIG_HOME", m_tree.Path("config")));
    }

    std::string Program() const { return m_tree.Path("bin/quarn"); }
    std::string UserFile() const { return m_tree.Path("config/quarn/quarn.ini"); }
    std::string BesideFile() const { return Program() + ".ini"; }

    Run Start(const std::string& arguments) const {
        Run run;
        std::FILE* out = ::popen(("'" + Program() + "' " + arguments).c_str(), "r");
        if (out == nullptr) {
            return run;
        }
        std::string text;
        char buffer[512];
        while (size_t n = std::fread(buffer, 1, sizeof buffer, out)) {
            text.append(buffer, n);
        }
        const int status = ::pclose(out);
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        const size_t first = text.find('\n');
        run.value = text.substr(0, first);
        if (first != std::string::npos) {
            run.file = text.substr(first + 1, text.find('\n', first + 1) - first - 1);
        }
        return run;
    }

    void SetFolderWritable(bool writable) const {
        ::chmod(m_tree.Path("bin").c_str(), writable ? 0755 : 0555);
    }

    test::TempTree m_tree;
    std::vector<std::unique_ptr<test::ScopedEnv>> m_env;
};

TEST_F(InstalledProgram, InAWritableFolderTheFileSitsBesideIt) {
    const Run written = Start("write SortBySize 0");
    EXPECT_EQ(written.exitCode, 0);
    EXPECT_EQ(written.file, BesideFile());
    EXPECT_EQ(ReadText(BesideFile()), "[SETTINGS]\nSortBySize=0\n");
    EXPECT_EQ(Start("read SortBySize").value, "0");
    EXPECT_FALSE(test::PathExists(UserFile()));
}

TEST_F(InstalledProgram, InAReadOnlyFolderTheUsersConfigFolderKeepsTheSettings) {
    if (test::RunningAsRoot()) {
        GTEST_SKIP() << "root may write into any folder";
    }
    SetFolderWritable(false);
    const Run written = Start("write SortBySize 0");
    EXPECT_EQ(written.value, "written");
    EXPECT_EQ(written.file, UserFile());
    EXPECT_EQ(ReadText(UserFile()), "[SETTINGS]\nSortBySize=0\n");
    // Started again, the program finds the value where it left it.
    EXPECT_EQ(Start("read SortBySize").value, "0");
    EXPECT_EQ(Start("read CmpSize").value, "1");
    EXPECT_FALSE(test::PathExists(BesideFile()));

    // Without XDG_CONFIG_HOME the folder is ~/.config.
    {
        test::ScopedEnv unset("XDG_CONFIG_HOME", "");
        EXPECT_EQ(Start("write CmpDate 0").file, m_tree.Path("home/.config/quarn/quarn.ini"));
        EXPECT_EQ(Start("read CmpDate").value, "0");
    }

    // QUARN_INI still wins.
    {
        test::ScopedEnv chosen("QUARN_INI", m_tree.Path("chosen.ini"));
        EXPECT_EQ(Start("write CmpSize 0").file, m_tree.Path("chosen.ini"));
        EXPECT_EQ(Start("read SortBySize").value, "1");
    }
}

TEST_F(InstalledProgram, AFileBesideAReadOnlyProgramIsStillRead) {
    if (test::RunningAsRoot()) {
        GTEST_SKIP() << "root may write into any folder";
    }
    test::WriteText(BesideFile(), "[SETTINGS]\nCmpDate=0\nCmpSize=0\n");
    SetFolderWritable(false);
    EXPECT_EQ(Start("read CmpDate").value, "0");
    // A change goes to the user's file and wins from then on; the other
    // keys of the file beside the program still count.
    EXPECT_EQ(Start("write CmpDate 1").file, UserFile());
    EXPECT_EQ(Start("read CmpDate").value, "1");
    EXPECT_EQ(Start("read CmpSize").value, "0");
    EXPECT_EQ(ReadText(BesideFile()), "[SETTINGS]\nCmpDate=0\nCmpSize=0\n");
}

}  // namespace
}  // namespace quarn
