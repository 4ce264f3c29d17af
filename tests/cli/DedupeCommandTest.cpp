// The headless content search and --dedupe: what they print, what they
// change on disk (nothing in a dry run), and their exit codes.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/DedupeCommand.h"
#include "cli/ReportCommand.h"
#include "tests/support/TempTree.h"
#include "tests/support/TestFiles.h"
#include "tests/support/Unprivileged.h"

namespace quarn::cli {
namespace {

// Runs `command` with stdout sent to a file, and returns what it printed.
template <typename Command>
std::string Capture(Command command, const ReportOptions& options, const test::TempTree& scratch,
                    int& exitCode) {
    const std::string outPath = scratch.Path("stdout.txt");
    std::fflush(stdout);
    const int saved = ::dup(STDOUT_FILENO);
    const int fd = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, STDOUT_FILENO);
    ::close(fd);
    exitCode = command(options);
    std::fflush(stdout);
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    return test::ReadText(outPath);
}

// Every entry below `folder` with its inode, link count and bytes.
std::string Listing(const std::string& folder) {
    std::string listing;
    for (const std::string& name : test::SortedEntryNames(folder)) {
        struct stat status {};
        ::lstat((folder + "/" + name).c_str(), &status);
        listing += name + " " + std::to_string(status.st_ino) + " " +
                   std::to_string(status.st_nlink) + " " + std::to_string(status.st_mtim.tv_sec) +
                   " " + test::ReadText(folder + "/" + name) + "\n";
    }
    return listing;
}

class DedupeCommandTest : public ::testing::Test {
  protected:
    DedupeCommandTest()
        : ini("QUARN_INI", scratch.Path("quarn.ini")),
          cache("XDG_CACHE_HOME", scratch.Path("cache")) {
        for (const char* name : {"a.txt", "b-renamed.txt", "c.txt"}) {
            test::WriteText(tree.Path(name), "the same bytes in three files");
        }
        test::WriteText(tree.Path("other.txt"), "the same length, other bytes!");
        tree.SetModified("b-renamed.txt", 1500000000);  // the oldest: kept
        options.folder = tree.Root();
        options.dedupe = ReportOptions::Dedupe::HardLink;
    }

    test::TempTree scratch;
    test::ScopedEnv ini;
    test::ScopedEnv cache;
    test::TempTree tree;
    ReportOptions options;
};

TEST_F(DedupeCommandTest, ADryRunSaysWhatItWouldDoAndChangesNothing) {
    const std::string before = Listing(tree.Root());
    options.dryRun = true;
    int exitCode = -1;
    const std::string printed = Capture(RunDedupeCommand, options, scratch, exitCode);
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(Listing(tree.Root()), before);
    EXPECT_NE(
        printed.find("would replace\t" + tree.Path("a.txt") + "\t=> " + tree.Path("b-renamed.txt")),
        std::string::npos)
        << printed;
    EXPECT_NE(printed.find("Would replace 2 copies with hard links"), std::string::npos) << printed;
}

TEST_F(DedupeCommandTest, CopiesBecomeHardLinksOfTheOldestAndJsonSaysSo) {
    options.json = true;
    int exitCode = -1;
    const std::string printed = Capture(RunDedupeCommand, options, scratch, exitCode);
    EXPECT_EQ(exitCode, 0);
    struct stat kept {
    }, a{}, c{}, other{};
    ::lstat(tree.Path("b-renamed.txt").c_str(), &kept);
    ::lstat(tree.Path("a.txt").c_str(), &a);
    ::lstat(tree.Path("c.txt").c_str(), &c);
    ::lstat(tree.Path("other.txt").c_str(), &other);
    EXPECT_EQ(a.st_ino, kept.st_ino);
    EXPECT_EQ(c.st_ino, kept.st_ino);
    EXPECT_NE(other.st_ino, kept.st_ino);
    EXPECT_EQ(kept.st_nlink, 3u);
    EXPECT_EQ(test::ReadText(tree.Path("a.txt")), "the same bytes in three files");
    for (const char* field : {"\"method\":\"hardlink\"", "\"dry_run\":false", "\"replaced\":2",
                              "\"skipped\":0", "\"failed\":0", "\"result\":\"replaced\""}) {
        EXPECT_NE(printed.find(field), std::string::npos) << field << " in " << printed;
    }
    // A second run finds nothing left to replace.
    options.json = false;
    Capture(RunDedupeCommand, options, scratch, exitCode);
    EXPECT_EQ(exitCode, 0);
}

// Copies inside twin folders are not listed as file sets, but they are
// copies all the same: --dedupe replaces them too.
TEST_F(DedupeCommandTest, CopiesInsideTwinFoldersAreReplacedToo) {
    for (const char* folder : {"project", "project backup"}) {
        ::mkdir(tree.Path(folder).c_str(), 0755);
        test::WriteText(tree.Path(std::string(folder) + "/main.c"), std::string(9000, 'm'));
        test::WriteText(tree.Path(std::string(folder) + "/util.c"), std::string(7000, 'u'));
    }
    int exitCode = -1;
    Capture(RunDedupeCommand, options, scratch, exitCode);
    EXPECT_EQ(exitCode, 0);
    for (const char* name : {"main.c", "util.c"}) {
        struct stat one {
        }, two{};
        ::lstat(tree.Path(std::string("project/") + name).c_str(), &one);
        ::lstat(tree.Path(std::string("project backup/") + name).c_str(), &two);
        EXPECT_EQ(one.st_ino, two.st_ino) << name;
    }
}

TEST_F(DedupeCommandTest, AFolderThatCannotTakeTheLinksFailsWithExitOne) {
    // Readable, not writable, for whoever runs the command: every link fails.
    const bool root = ::geteuid() == 0;
    ::chmod(tree.Root().c_str(), root ? 0755 : 0555);
    const std::string before = Listing(tree.Root());
    const std::optional<std::string> exitCode = test::RunUnprivileged([this] {
        ReportOptions unprivileged = options;
        unprivileged.noCache = true;
        return std::to_string(RunDedupeCommand(unprivileged));
    });
    ::chmod(tree.Root().c_str(), 0755);
    if (!exitCode) {
        GTEST_SKIP() << "privileges cannot be dropped here";
    }
    EXPECT_EQ(*exitCode, "1");
    EXPECT_EQ(Listing(tree.Root()), before);
}

TEST_F(DedupeCommandTest, TheContentReportMarksReferenceFiles) {
    test::TempTree archive;
    test::WriteText(archive.Path("kept.txt"), "the same bytes in three files");
    ReportOptions report;
    report.folder = tree.Root();
    report.dupmatch = true;
    report.content = true;
    report.json = true;
    report.references = {archive.Root()};
    int exitCode = -1;
    const std::string printed = Capture(RunTwinReport, report, scratch, exitCode);
    EXPECT_EQ(exitCode, 0);
    EXPECT_NE(printed.find("\"path\":\"" + archive.Path("kept.txt") + "\""), std::string::npos)
        << printed;
    EXPECT_NE(printed.find("\"reference\":true"), std::string::npos) << printed;
    EXPECT_NE(printed.find("\"content\":\"identical\""), std::string::npos) << printed;
    EXPECT_NE(printed.find("\"identical_bytes\":87"), std::string::npos) << printed;
    // The other file of the same length is no twin by content.
    EXPECT_EQ(printed.find("other.txt"), std::string::npos) << printed;
}

}  // namespace
}  // namespace quarn::cli
