// The headless twin report: the printed list and status, text and JSON.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/ReportCommand.h"
#include "platform/ProgramPath.h"
#include "tests/support/TempTree.h"
#include "tests/support/TestFiles.h"
#include "tests/support/Unprivileged.h"

namespace quarn::cli {
namespace {

using test::Lines;

// Runs the report with stdout sent to a file, and returns what it printed.
std::string Capture(const ReportOptions& options, const test::TempTree& scratch, int& exitCode) {
    std::string outPath = scratch.Path("stdout.txt");
    std::fflush(stdout);
    int saved = ::dup(STDOUT_FILENO);
    int fd = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, STDOUT_FILENO);
    ::close(fd);
    exitCode = RunTwinReport(options);
    std::fflush(stdout);
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    std::ifstream in(outPath);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class TwinReportTest : public ::testing::Test {
  protected:
    TwinReportTest() : ini("QUARN_INI", scratch.Path("quarn.ini")), tz("TZ", "UTC") {
        tzset();
        for (const char* folder : {"one", "two", "three"}) {
            std::string file = std::string(folder) + "/a.txt";
            tree.MakeFile(file, 512);
            tree.SetModified(file, 1600000000);
        }
        tree.MakeFile("two/Other.TXT", 70000);
        options.folder = tree.Root();
        options.dupmatch = true;
    }
    ~TwinReportTest() override { tzset(); }

    test::TempTree scratch;
    test::TempTree tree;
    test::ScopedEnv ini;
    test::ScopedEnv tz;
    ReportOptions options;
};

TEST_F(TwinReportTest, TextRowsAreTabSeparatedThenTheStatus) {
    int exitCode = -1;
    std::vector<std::string> lines = Lines(Capture(options, scratch, exitCode));
    EXPECT_EQ(exitCode, 0);
    ASSERT_EQ(lines.size(), 4u);
    for (int i = 0; i < 3; ++i) {
        std::string prefix = "a.txt\t" + tree.Root() + "/";
        EXPECT_EQ(lines[i].rfind(prefix, 0), 0u) << lines[i];
        EXPECT_NE(lines[i].find("/a.txt\t512 Bytes\t13.09.20  12:26:40 "), std::string::npos)
            << lines[i];
    }
    EXPECT_EQ(lines[3], "Twin Files: 2 [1.000 KB] of Files 4, Exceptions: 0");
}

TEST_F(TwinReportTest, JsonCarriesTheScanCountsAndTheSearchRows) {
    int exitCode = -1;
    options.json = true;
    std::string json = Capture(options, scratch, exitCode);
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(json.rfind("{\"status\":\"Twin Files: 2 [1.000 KB] of Files 4, Exceptions: 0\","
                         "\"files\":4,\"twin_rows_during_scan\":2,\"twin_bytes\":1024,"
                         "\"exceptions\":0,\"groups\":[{\"name\":\"a.txt\",\"files\":[{\"path\":",
                         0),
              0u)
        << json;
    EXPECT_NE(json.find("\"size\":512,\"mtime\":132444736000000000,\"modified\":\"13.09.20  "
                        "12:26:40 \"}"),
              std::string::npos);

    // A search replaces the list and the status; the scan's counts stay.
    options.search = true;
    options.filterText = "oth";
    options.sizeRange = true;
    options.minKB = "60";
    json = Capture(options, scratch, exitCode);
    EXPECT_EQ(json.rfind("{\"status\":\"FileFind - Objects found 1 - ready\",\"files\":4,"
                         "\"twin_rows_during_scan\":2,\"twin_bytes\":1024,\"exceptions\":0,"
                         "\"groups\":[{\"name\":\"Other.TXT\",\"files\":[{\"path\":\"" +
                             tree.Path("two/Other.TXT") + "\",\"size\":70000,",
                         0),
              0u)
        << json;
}

TEST_F(TwinReportTest, VerifyAddsWhatTheContentsShowed) {
    // A fourth a.txt of the same size and time, other bytes.
    tree.MakeFolder("four");
    std::ofstream(tree.Path("four/a.txt")) << std::string(512, 'x');
    tree.SetModified("four/a.txt", 1600000000);
    options.verify = true;
    int exitCode = -1;
    std::vector<std::string> lines = Lines(Capture(options, scratch, exitCode));
    EXPECT_EQ(exitCode, 0);
    ASSERT_EQ(lines.size(), 5u);
    int identical = 0;
    for (int i = 0; i < 4; ++i) {
        identical += lines[i].ends_with(" \tidentical");
    }
    EXPECT_EQ(identical, 3);
    EXPECT_NE(
        std::find(lines.begin(), lines.end(),
                  "a.txt\t" + tree.Path("four/a.txt") + "\t512 Bytes\t13.09.20  12:26:40 \tunique"),
        lines.end());
    EXPECT_EQ(lines[4],
              "Verified: 2 identical copies [1.000 KB] beyond the first of each set, 1 unique, 0 "
              "hard links, 0 changed, 0 unread");

    options.json = true;
    std::string json = Capture(options, scratch, exitCode);
    EXPECT_NE(json.find("\"exceptions\":0,\"identical_bytes\":1024,\"groups\""), std::string::npos)
        << json;
    EXPECT_NE(json.find("\"content\":\"unique\"}"), std::string::npos) << json;
    // The three identical files stand together, first or after the other.
    EXPECT_TRUE(json.find("\"sets\":[[0,1,2]]}") != std::string::npos ||
                json.find("\"sets\":[[1,2,3]]}") != std::string::npos)
        << json;

    // Without --verify nothing of it: the list's four columns.
    options.verify = false;
    options.json = false;
    lines = Lines(Capture(options, scratch, exitCode));
    EXPECT_EQ(std::count(lines[0].begin(), lines[0].end(), '\t'), 3);
}

TEST_F(TwinReportTest, VerifyContentsInTheProgramsIniCountsWhereTheUsersIniLacksIt) {
    // An installed program: its folder is not the user's to write, so the
    // user's own file is read first and the one beside the program gives
    // what that file does not hold. Only root can make the first true of
    // the test program's folder (by running the check as nobody).
    if (!test::RunningAsRoot()) {
        GTEST_SKIP() << "needs root to run the report as a user who cannot write the build";
    }
    const std::string beside = ExecutableRealPath() + ".ini";
    ASSERT_FALSE(test::PathExists(beside)) << "left over: " << beside;
    test::WriteText(beside, "[SETTINGS]\nVerifyContents=1\n");
    test::TempTree home;
    test::WriteText(home.Path("config/quarn/quarn.ini"), "[SETTINGS]\nCmpSize=1\n");
    for (const test::TempTree* open : {&home, &tree, &scratch}) {
        ASSERT_EQ(::chmod(open->Root().c_str(), 0777), 0);
    }
    options.json = true;
    std::optional<std::string> json = test::RunUnprivileged([&]() -> std::string {
        if (::access(beside.c_str(), R_OK) != 0) {
            return "unreadable";  // a build below a folder closed to others
        }
        ::unsetenv("QUARN_INI");
        ::setenv("XDG_CONFIG_HOME", home.Path("config").c_str(), 1);
        int exitCode = -1;
        return Capture(options, scratch, exitCode);
    });
    ::unlink(beside.c_str());
    if (!json || *json == "unreadable") {
        GTEST_SKIP() << "nobody cannot read " << beside;
    }
    EXPECT_NE(json->find("\"identical_bytes\":1024"), std::string::npos) << *json;
    EXPECT_NE(json->find("\"content\":\"identical\""), std::string::npos) << *json;
}

TEST_F(TwinReportTest, ARelativeFolderGivesAbsolutePaths) {
    char buffer[4096];
    ASSERT_NE(::getcwd(buffer, sizeof buffer), nullptr);
    std::string saved = buffer;
    ASSERT_EQ(::chdir(tree.Path("two").c_str()), 0);
    options.folder = "..";
    int exitCode = -1;
    std::vector<std::string> lines = Lines(Capture(options, scratch, exitCode));
    ASSERT_EQ(::chdir(saved.c_str()), 0);
    EXPECT_EQ(exitCode, 0);
    ASSERT_EQ(lines.size(), 4u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(lines[i].rfind("a.txt\t" + tree.Root() + "/", 0), 0u) << lines[i];
    }
}

TEST_F(TwinReportTest, AFolderThatCannotBeListedIsAnErrorNotAnEmptyList) {
    options.folder = tree.Path("missing");
    int exitCode = -1;
    EXPECT_EQ(Capture(options, scratch, exitCode), "");
    EXPECT_EQ(exitCode, 2);
}

}  // namespace
}  // namespace quarn::cli
