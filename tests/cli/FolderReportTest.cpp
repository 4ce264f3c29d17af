#include "cli/FolderReport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "cli/Interrupt.h"
#include "cli/ReportCommand.h"
#include "foldersize/SizeText.h"
#include "settings/Settings.h"
#include "tests/cli/ParsedReport.h"
#include "tests/support/FolderTreeText.h"
#include "tests/support/ScanRequests.h"
#include "tests/support/TempTree.h"
#include "tests/support/TestFiles.h"
#include "tests/support/Unprivileged.h"

namespace quarn::cli {
namespace {

using quarn::test::ReadText;
using test::ScopedEnv;
using test::TempTree;

std::string Capture(const FolderScanner& view, bool json) {
    char* data = nullptr;
    size_t size = 0;
    std::FILE* out = open_memstream(&data, &size);
    WriteFolderReport(view, json, out);
    std::fclose(out);
    std::string text(data, size);
    std::free(data);
    return text;
}

// big/ 3000, small/ 1000 and a loose file of 500: distinct shares, so the
// order after sorting does not depend on the order of the listing.
class FolderReportTest : public ::testing::Test {
  protected:
    FolderReportTest() : m_ini("QUARN_INI", m_settings.Path("quarn.ini")) {
        WriteSetting(kSortBySize, true);
        WriteSetting(kRelativToDriveSpace, false);
        m_tree.MakeFile("big/b.bin", 3000);
        m_tree.MakeFile("small/s.bin", 1000);
        m_tree.MakeFile("top.txt", 500);
        m_tree.MakeFile(
            "small/bad\xff"
            "name/x",
            0);
    }

    TempTree m_settings;
    ScopedEnv m_ini;
    TempTree m_tree;
};

TEST_F(FolderReportTest, TextAndJsonShowTheSortedTreeInDisplayOrder) {
    // Network style: the status text holds the counts, not the free space.
    std::string root = "/" + m_tree.Root();
    FolderScanner view;
    view.RunScan(test::FolderRequest(root));
    std::string status = "Ready - " + root + " [4.395 KB], 4 files, 3 foders, Exceptions: 0";

    EXPECT_EQ(Capture(view, false), root + "\t4.395 KB\t100%\n" + "  big\t2.930 KB\t67%\n" +
                                        "  small\t0.977 KB\t23%\n" +
                                        "    bad\xff"
                                        "name\t0.000 KB\t0%\n" +
                                        "    [1 file ]\t0.977 KB\t23%\n" +
                                        "  [1 file ]\t0.488 KB\t12%\n" + status + "\n");

    std::string expected =
        "{\"status\":\"" + status +
        "\",\"total\":4500,\"files\":4,\"folders\":3,\"exceptions\":0,\"hardlinks\":0,"
        "\"unreadable\":0,"
        "\"items\":[" +
        "{\"parent\":null,\"name\":\"" + root + "\",\"path\":\"" + root +
        "\",\"size\":4500,\"percent\":100,\"files_item\":false}," +
        "{\"parent\":0,\"name\":\"big\",\"path\":\"" + root +
        "/big\",\"size\":3000,\"percent\":67,\"files_item\":false}," +
        "{\"parent\":0,\"name\":\"small\",\"path\":\"" + root +
        "/small\",\"size\":1000,\"percent\":23,\"files_item\":false}," +
        // Bytes that are not UTF-8 come back as \udcXX.
        "{\"parent\":2,\"name\":\"bad\\udcffname\",\"path\":\"" + root +
        "/small/bad\\udcffname\",\"size\":0,\"percent\":0,\"files_item\":false}," +
        "{\"parent\":2,\"name\":\"[1 file ]\",\"path\":\"" + root +
        "/small\",\"size\":1000,\"percent\":23,\"files_item\":true}," +
        // A files item carries its folder's path.
        "{\"parent\":0,\"name\":\"[1 file ]\",\"path\":\"" + root +
        "\",\"size\":500,\"percent\":12,\"files_item\":true}]}\n";
    EXPECT_EQ(Capture(view, true), expected);
}

TEST_F(FolderReportTest, AFolderLeftUnfinishedByACancelHasNoSizeOrPercentage) {
    struct CancelOnFirstFile : TwinFeed, WalkSink {
        FolderScanner* scanner = nullptr;
        void BeginFeed(const ScanRequest&) override {}
        WalkSink& FeedSink() override { return *this; }
        void DiscardFeed(const std::string&) override {}
        void EndFeed() override {}
        bool EnterFolder(const std::string&, const FileEntry*) override { return true; }
        void AddFile(const std::string&, const FileEntry&) override { scanner->Cancel(); }
        void LeaveFolder(const std::string&) override {}
    } sink;
    FolderScanner view;
    sink.scanner = &view;
    view.SetTwinFeed(&sink);
    view.RunScan(test::CombinedRequest("/" + m_tree.Root()));
    std::string text = Capture(view, false);
    // The root was being walked: it keeps no size.
    EXPECT_EQ(text.substr(0, text.find('\n')), "/" + m_tree.Root() + "\t-\t-") << text;
    EXPECT_NE(text.find("Exceptions: 1\n"), std::string::npos) << text;
    std::string json = Capture(view, true);
    EXPECT_NE(json.find("\"size\":null,\"percent\":null"), std::string::npos) << json;
}

TEST_F(FolderReportTest, SharesOfADriveThatReadAlikeAreListedLargestFirst) {
    // Each folder is far below 0.1 % of the drive: all read 0 %, and only
    // their bytes can order them.
    WriteSetting(kRelativToDriveSpace, true);
    TempTree tree;
    for (int i = 0; i < 12; ++i) {
        tree.MakeFile("f" + std::to_string(i) + "/x.bin", uint64_t(100 + 37 * ((i * 5) % 12)));
    }
    FolderScanner view;
    view.RunScan(test::FolderRequest(tree.Root()));
    std::string text = Capture(view, false);
    uint64_t previous = UINT64_MAX;
    int lines = 0;
    for (int row = 0; row < view.Tree().GetChildCount(view.Tree().GetRootItem()); ++row) {
        NodeHandle child = view.Tree().GetChildItem(view.Tree().GetRootItem(), row);
        uint64_t size = view.Tree().GetItemSize(child).value_or(0);
        EXPECT_LE(size, previous) << text;
        EXPECT_NE(text.find("  " + test::ItemText(view.Tree(), child) + "\t" + FormatSize(size) +
                            "\t0%\n"),
                  std::string::npos)
            << text;
        previous = size;
        ++lines;
    }
    EXPECT_EQ(lines, 12);
    // The report lists them in that order.
    size_t at = 0;
    for (int row = 0; row < 12; ++row) {
        std::string line =
            "\n  " +
            test::ItemText(view.Tree(), view.Tree().GetChildItem(view.Tree().GetRootItem(), row)) +
            "\t";
        size_t found = text.find(line, at);
        ASSERT_NE(found, std::string::npos) << text;
        at = found + 1;
    }
}

// Runs the whole report in a child process with stdout in a file.
int RunReportInChild(const ReportOptions& options, const std::string& outPath, bool interrupt) {
    std::fflush(stdout);
    pid_t child = ::fork();
    if (child == 0) {
        int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(out, STDOUT_FILENO);
        ::close(out);
        if (interrupt) {
            InstallInterruptHandler();
            ::raise(SIGINT);  // as if Ctrl+C came while the scan runs
        }
        int code = RunFolderReport(options);
        std::fflush(stdout);
        ::_exit(code);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A folder that cannot be read: an empty folder in both forms, its reason
// and the count in the JSON only, so the text keeps its lines.
TEST_F(FolderReportTest, AnUnreadableFolderCountsAsEmptyAndTheJsonSaysWhy) {
    m_tree.MakeFile("closed/secret", 800);
    ::chmod(m_tree.Root().c_str(), 0755);
    ::chmod(m_tree.Path("closed").c_str(), 0);
    const std::string root = "/" + m_tree.Root();
    std::optional<std::string> outcome = test::RunUnprivileged([&root] {
        FolderScanner view;
        view.RunScan(test::FolderRequest(root));
        return Capture(view, true) + '\x01' + Capture(view, false);
    });
    ::chmod(m_tree.Path("closed").c_str(), 0755);
    if (!outcome) {
        GTEST_SKIP() << "privileges cannot be dropped: chmod does not keep root out";
    }
    const std::string json = outcome->substr(0, outcome->find('\x01'));
    const std::string text = outcome->substr(json.size() + 1);
    EXPECT_NE(json.find("\"total\":4500,"), std::string::npos) << json;
    EXPECT_NE(json.find("\"hardlinks\":0,\"unreadable\":1,\"items\""), std::string::npos) << json;
    EXPECT_NE(json.find("{\"parent\":0,\"name\":\"closed\",\"path\":\"" + root +
                        "/closed\",\"size\":0,\"percent\":0,\"files_item\":false,"
                        "\"error\":\"" +
                        std::strerror(EACCES) + "\"}"),
              std::string::npos)
        << json;
    // Only that folder says so.
    EXPECT_EQ(json.find("\"error\"", json.find("\"error\"") + 1), std::string::npos) << json;
    EXPECT_NE(text.find("\n  closed\t0.000 KB\t0%\n"), std::string::npos) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 8) << text;  // 7 items, the status
    EXPECT_NE(text.find("Ready - " + root + " [4.395 KB], 4 files, 4 foders, Exceptions: 0\n"),
              std::string::npos)
        << text;
}

TEST_F(FolderReportTest, ExitCodesOfTheWholeReport) {
    ReportOptions options;
    options.folder = m_tree.Root();
    std::string out = m_settings.Path("out.txt");
    EXPECT_EQ(RunReportInChild(options, out, false), 0);
    std::string text = ReadText(out);
    EXPECT_EQ(text.rfind(m_tree.Root() + "\t4.395 KB\t", 0), 0u) << text;
    EXPECT_NE(text.find(" [free "), std::string::npos) << text;

    // Ctrl+C: the scan is stopped, what was found is printed, exit 130.
    options.json = true;
    EXPECT_EQ(RunReportInChild(options, out, true), 130);
    std::string json = ReadText(out);
    EXPECT_EQ(json.rfind("{\"status\":", 0), 0u) << json;
    EXPECT_EQ(json.substr(json.size() - 3), "]}\n") << json;

    // The root itself must be readable; below it nothing is an error.
    options.folder = m_tree.Path("no-such-folder");
    EXPECT_EQ(RunReportInChild(options, out, false), 2);
    EXPECT_EQ(ReadText(out), "");
}

TEST_F(FolderReportTest, HardLinksCountOnceAndAllocatedCountsTheDisk) {
    ASSERT_EQ(::link(m_tree.Path("big/b.bin").c_str(), m_tree.Path("small/b-again.bin").c_str()),
              0);
    m_tree.MakeSparseFile("holes/sparse.img", uint64_t(3) << 30);
    ReportOptions options;
    options.folder = m_tree.Root();
    options.json = true;
    std::string out = m_settings.Path("out.json");
    ASSERT_EQ(RunReportInChild(options, out, false), 0);
    std::string json = ReadText(out);
    // b.bin's second name adds nothing to the root; small counts it once.
    EXPECT_NE(json.find("\"total\":" + std::to_string((uint64_t(3) << 30) + 4500) + ","),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"hardlinks\":2,"), std::string::npos) << json;
    EXPECT_NE(
        json.find("\"name\":\"small\",\"path\":\"" + m_tree.Path("small") + "\",\"size\":4000,"),
        std::string::npos)
        << json;

    // --allocated: what the files take on the disk, the sparse file nearly
    // nothing; the same as the setting gives.
    std::string error;
    std::optional<ReportOptions> parsed =
        test::ParsedReport({"--report", "--json", "--allocated", m_tree.Root()}, error);
    ASSERT_TRUE(parsed.has_value()) << error;
    EXPECT_TRUE(parsed->allocated);
    ASSERT_EQ(RunReportInChild(*parsed, out, false), 0);
    std::string allocated = ReadText(out);
    WriteSetting(kAllocatedSize, true);
    ASSERT_EQ(RunReportInChild(options, out, false), 0);
    // The status names the drive's free space, which other programs change
    // between the two runs; everything after it must match.
    auto after_status = [](const std::string& report) {
        return report.substr(report.find("\"total\":"));
    };
    EXPECT_EQ(after_status(ReadText(out)), after_status(allocated));
    size_t total = allocated.find("\"total\":");
    ASSERT_NE(total, std::string::npos);
    EXPECT_LT(std::stoull(allocated.substr(total + 8)), uint64_t(1) << 30) << allocated;
    EXPECT_FALSE(
        test::ParsedReport({"--report", "--dupmatch", "--allocated", m_tree.Root()}, error));
    EXPECT_EQ(error, "--allocated is for the folder report, not --dupmatch");
}

}  // namespace
}  // namespace quarn::cli
