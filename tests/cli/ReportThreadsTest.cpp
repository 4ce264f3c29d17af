// --threads: the reports print the same bytes whatever the number of
// threads the walk lists with (also the default, which adds threads as the
// walk goes), for every combination of the settings.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/ReportCommand.h"
#include "settings/Settings.h"
#include "tests/cli/ParsedReport.h"
#include "tests/support/TempTree.h"
#include "tests/support/TestFiles.h"

namespace quarn::cli {
namespace {

using test::ReadText;
using test::TempTree;

const char* const kAllSettings[] = {kTwinMode, kShellRun, kSortBySize, kRelativToDriveSpace,
                                    kCmpName,  kCmpSize,  kCmpDate};

// Runs the whole report in a child process (the reports set up stdout and
// signals for a process of their own) and returns what it printed.
std::string Report(ReportOptions options, unsigned threads, const std::string& outPath) {
    options.threads = threads;
    std::fflush(stdout);
    pid_t child = ::fork();
    if (child == 0) {
        int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ::dup2(out, STDOUT_FILENO);
        ::close(out);
        int code = options.dupmatch ? RunTwinReport(options) : RunFolderReport(options);
        std::fflush(stdout);
        ::_exit(code);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    return ReadText(outPath);
}

class ReportThreadsTest : public ::testing::Test {
  protected:
    ReportThreadsTest() : m_ini("QUARN_INI", m_scratch.Path("quarn.ini")), m_tz("TZ", "UTC") {
        // Twins in several folders, a folder of several listing pieces, a
        // chain deeper than the walk keeps handles open, links and specials.
        for (int i = 0; i < 40; ++i) {
            std::string folder = "t/f" + std::to_string(i % 7) + "/g" + std::to_string(i % 3);
            m_tree.MakeFile(folder + "/same.txt", 100 + i % 2);
            m_tree.SetModified(folder + "/same.txt", 1600000000 + i % 3);
            m_tree.MakeFile(folder + "/own" + std::to_string(i), size_t(i) * 37);
        }
        for (int i = 0; i < 2600; ++i) {
            m_tree.MakeFile("t/many/n" + std::to_string(i), size_t(i % 50));
        }
        std::string deep = "t/deep";
        for (int level = 0; level < 80; ++level) {
            deep += "/d";
            m_tree.MakeFile(deep + "/same.txt", 100);
        }
        m_tree.MakeFile("t/bad\xff/same.txt", 101);
        // Hard links within a folder, across folders and to a twin.
        for (int i = 0; i < 12; ++i) {
            std::string to = "t/f" + std::to_string((i * 5) % 7) + "/g" + std::to_string(i % 3);
            EXPECT_EQ(::link(m_tree.Path("t/many/n" + std::to_string(i * 97)).c_str(),
                             m_tree.Path(to + "/linked" + std::to_string(i % 4)).c_str()),
                      0);
        }
        EXPECT_EQ(
            ::link(m_tree.Path("t/f0/g0/same.txt").c_str(), m_tree.Path("t/many/same.txt").c_str()),
            0);
        m_tree.MakeSymlink("../f1", "t/f0/up");
        ::mkfifo(m_tree.Path("t/f2/fifo").c_str(), 0644);
        m_options.folder = m_tree.Path("t");
        m_options.json = true;
    }
    ~ReportThreadsTest() override { tzset(); }

    // The whole INI in one write: seven atomic replacements, each with its
    // flush to the disk, would cost more than the reports.
    void WriteSettings(unsigned combination) {
        std::string text = std::string("[") + kSettingsSection + "]\n";
        for (size_t bit = 0; bit < std::size(kAllSettings); ++bit) {
            text += std::string(kAllSettings[bit]) + "=" + ((combination >> bit) & 1 ? "1" : "0") +
                    "\n";
        }
        test::WriteText(m_scratch.Path("quarn.ini"), text);
    }

    TempTree m_scratch;
    TempTree m_tree;
    test::ScopedEnv m_ini;
    test::ScopedEnv m_tz;
    ReportOptions m_options;
};

TEST_F(ReportThreadsTest, AnyThreadCountPrintsTheSameBytesForEverySetting) {
    // A network-style path: the status holds counts, not the free space,
    // which other programs change between two runs.
    m_options.folder = "/" + m_tree.Path("t");
    std::string out = m_scratch.Path("out");
    // Every combination of the four keys the reports read; TwinMode,
    // ShellRun and CmpName, which do not reach them, take both values along.
    for (unsigned combination = 0; combination < 16; ++combination) {
        unsigned sortBySize = combination & 1, relative = (combination >> 1) & 1,
                 cmpSize = (combination >> 2) & 1, cmpDate = (combination >> 3) & 1,
                 others = combination % 2 == (combination >> 2) % 2 ? 0b10011 : 0;
        WriteSettings(others | sortBySize << 2 | relative << 3 | cmpSize << 5 | cmpDate << 6);
        for (int form = 0; form < 3; ++form) {
            m_options.dupmatch = form > 0;
            m_options.search = m_options.twinsOnly = form == 2;
            m_options.filterText = form == 2 ? "SAME" : "";
            // The largest files and the types follow the one walk order too.
            m_options.largest = form == 0 && combination % 2 == 1 ? 30 : 0;
            std::string one = Report(m_options, 1, out);
            ASSERT_GT(one.size(), 300u) << one;
            for (unsigned threads : {2u, 8u, 0u}) {
                ASSERT_EQ(one, Report(m_options, threads, out))
                    << threads << " threads, settings " << combination << " form " << form;
            }
        }
    }
}

// The free space in the status changes whenever others write to the disk:
// the figure is left out of the comparison, everything else counts.
std::string WithoutFreeSpace(std::string text) {
    size_t at = text.find(" [free ");
    if (at != std::string::npos) {
        text.erase(at, text.find(']', at) - at);
    }
    return text;
}

TEST_F(ReportThreadsTest, SoOnALocalFolderWithTheDrivesSpace) {
    std::string out = m_scratch.Path("out");
    for (unsigned combination : {0u, 4u, 8u, 12u}) {  // SortBySize x RelativToDriveSpace
        WriteSettings(combination);
        std::string one = Report(m_options, 1, out);
        std::string eight = Report(m_options, 8, out);
        EXPECT_NE(one.find(" [free "), std::string::npos);
        EXPECT_EQ(WithoutFreeSpace(one), WithoutFreeSpace(eight)) << "settings " << combination;
    }
}

TEST(ReportArguments, ThreadsTakeANumberFromOneToSixtyFour) {
    std::string error;
    auto parse = [&error](std::vector<std::string> args) {
        error.clear();
        return test::ParsedReport(args, error);
    };
    EXPECT_EQ(parse({"--report", "--threads", "8", "/x"})->threads, 8u);
    EXPECT_EQ(parse({"--report", "--dupmatch", "--threads", "1", "/x"})->threads, 1u);
    EXPECT_EQ(parse({"--report", "/x"})->threads, 0u);  // the walk's default
    for (const char* bad : {"0", "65", "-1", "two", "", "99999999999999999999"}) {
        EXPECT_FALSE(parse({"--report", "--threads", bad, "/x"})) << bad;
        EXPECT_NE(error.find("--threads takes a number from 1 to 64"), std::string::npos) << error;
    }
    EXPECT_FALSE(parse({"--report", "/x", "--threads"}));
    EXPECT_EQ(error, "--threads needs a value");
}

TEST(ReportArguments, LargestTakesACountAndBelongsToTheFolderReport) {
    std::string error;
    auto parse = [&error](std::vector<std::string> args) {
        error.clear();
        return test::ParsedReport(args, error);
    };
    EXPECT_EQ(parse({"--report", "--largest", "1000", "/x"})->largest, 1000u);
    EXPECT_EQ(parse({"--report", "/x"})->largest, 0u);  // neither list
    for (const char* bad : {"0", "1000001", "-3", "many", "99999999999999999999"}) {
        EXPECT_FALSE(parse({"--report", "--largest", bad, "/x"})) << bad;
        EXPECT_NE(error.find("--largest takes a number from 1 to"), std::string::npos) << error;
    }
    EXPECT_FALSE(parse({"--report", "--dupmatch", "--largest", "5", "/x"}));
}

}  // namespace
}  // namespace quarn::cli
