// Settings files that are not settings files: a FIFO without a writer, a
// device that never ends, a file far too large. Each must read as the
// defaults at once, never be written over, and be named in the warning.
// Every read runs in a child process with a bounded wait and a memory
// bound, so a regression fails instead of hanging the suite.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>

#include "settings/IniFile.h"
#include "settings/IniFileIo.h"
#include "settings/Settings.h"
#include "tests/support/BoundedChild.h"
#include "tests/support/TempTree.h"
#include "tests/support/TestFiles.h"

namespace quarn {
namespace {

using namespace std::chrono_literals;

constexpr auto kBound = 20s;

// In a child: every setting reads as its default (yes), a write is refused
// and the warning gives `reason`; exit code 0 when so.
int ReadsDefaultsRefusesWritesAndSaysWhy(const std::string& reason) {
    for (const char* key :
         {kTwinMode, kShellRun, kSortBySize, kRelativToDriveSpace, kCmpSize, kCmpDate}) {
        if (!ReadSetting(key)) {
            return 1;
        }
    }
    if (WriteSetting(kSortBySize, false)) {
        return 2;
    }
    const std::optional<std::string> warning = UnreadableSettingsWarning();
    return warning && warning->find("(" + reason + ")") != std::string::npos ? 0 : 3;
}

void ExpectDefaultsAtOnce(const std::string& path, const std::string& reason) {
    test::ScopedEnv ini("QUARN_INI", path);
    test::ChildOutcome outcome = test::RunBoundedChild(
        [&reason] { return ReadsDefaultsRefusesWritesAndSaysWhy(reason); }, kBound);
    EXPECT_TRUE(outcome.ended) << path
                               << (outcome.tooBig ? ": memory grew without bound"
                                                  : ": still reading after the wait");
    EXPECT_TRUE(outcome.exited) << path;
    EXPECT_EQ(outcome.exitCode, 0)
        << path << " (1: a setting was not the default, 2: written, 3: wrong warning)";
}

// Only for files that a read cannot hang on.
std::string Warning(const std::string& path) {
    test::ScopedEnv ini("QUARN_INI", path);
    return UnreadableSettingsWarning().value_or("");
}

TEST(HostileSettingsFile, AFifoReadsAsTheDefaultsWithoutWaitingForAWriter) {
    test::TempTree tree;
    std::string fifo = tree.Path("quarn.ini");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ExpectDefaultsAtOnce(fifo, "not a regular file");

    struct stat st;
    ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "the write replaced the FIFO";
}

TEST(HostileSettingsFile, AnEndlessDeviceReadsAsTheDefaultsInBoundedMemory) {
    struct stat st;
    if (::stat("/dev/zero", &st) != 0 || !S_ISCHR(st.st_mode)) {
        GTEST_SKIP() << "no /dev/zero here";
    }
    ExpectDefaultsAtOnce("/dev/zero", "not a regular file");
}

TEST(HostileSettingsFile, AFileLargerThanTheBoundIsNotReadAndNotReplaced) {
    test::TempTree tree;
    const std::string text = "[SETTINGS]\nSortBySize=0\n";
    // At the bound the file is still read; one byte more and it is not.
    std::string atBound = tree.Path("at.ini");
    test::WriteText(atBound, text);
    ASSERT_EQ(::truncate(atBound.c_str(), kMaxIniFileSize), 0);
    EXPECT_FALSE(CIniFile(atBound).ReadBool("SETTINGS", "SortBySize", true));
    EXPECT_EQ(Warning(atBound), "");

    std::string tooLarge = tree.Path("large.ini");
    test::WriteText(tooLarge, text);
    ASSERT_EQ(::truncate(tooLarge.c_str(), kMaxIniFileSize + 1), 0);
    ExpectDefaultsAtOnce(tooLarge, "larger than 16 MB");
    struct stat st;
    ASSERT_EQ(::stat(tooLarge.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, kMaxIniFileSize + 1) << "the write replaced the file";
}

TEST(HostileSettingsFile, OnlyAFileThatExistsAndCannotBeReadIsWarnedAbout) {
    test::TempTree tree;
    const std::string folder = tree.Path("folder.ini");
    tree.MakeFolder("folder.ini");
    EXPECT_EQ(Warning(folder), "the settings file " + folder +
                                   " cannot be read (not a regular file); the defaults apply");
    EXPECT_EQ(Warning(tree.Path("missing.ini")), "");
    test::WriteText(tree.Path("fine.ini"), "[SETTINGS]\nCmpDate=0\n");
    EXPECT_EQ(Warning(tree.Path("fine.ini")), "");
    if (test::RunningAsRoot()) {
        GTEST_SKIP() << "permissions do not keep root out";
    }
    ASSERT_EQ(::chmod(tree.Path("fine.ini").c_str(), 0), 0);
    EXPECT_NE(Warning(tree.Path("fine.ini")).find("(Permission denied)"), std::string::npos);
}

}  // namespace
}  // namespace quarn
