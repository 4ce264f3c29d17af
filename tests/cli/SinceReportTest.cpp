// The headless comparison and keeping as a user runs them: `--since FILE`
// adds each folder's change, the new and the removed folders, a damaged
// earlier scan stops the report, `--save` keeps the scan once, and several
// imports are one tree whose twins say what could not be checked.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "cli/ProgramArguments.h"
#include "history/ScanStore.h"
#include "tests/cli/ParsedReport.h"
#include "tests/cli/ReportInChild.h"
#include "tests/history/HistoryFiles.h"
#include "tests/support/TempTree.h"

namespace quarn {
namespace {

using test::ReadText;

class SinceReportTest : public ::testing::Test {
  protected:
    SinceReportTest() : ini("QUARN_INI", scratch.Path("quarn.ini")) {
        test::WriteText(scratch.Path("quarn.ini"), "[SETTINGS]\nRelativToDriveSpace=0\n");
        tree.MakeFile("p/q.bin", 3000);
        tree.MakeFile("gone/deep/r.bin", 600);
        tree.MakeFile("same/s.bin", 10);
        test::ExportFolder(tree.Root(), scratch.Path("earlier.json"));
        tree.MakeFile("p/q.bin", 2000);
        tree.MakeFile("fresh/t.bin", 9000);
        std::system(("rm -rf '" + tree.Path("gone") + "'").c_str());
    }

    test::ReportRun Report(const std::vector<std::string>& args) {
        const std::string data = scratch.Path("data");
        return test::ReportInChild(args, scratch.Path("out"), scratch.Path("err"), "",
                                   [data] { ::setenv("XDG_DATA_HOME", data.c_str(), 1); });
    }

    test::TempTree scratch;
    test::ScopedEnv ini;
    test::TempTree tree;
};

TEST_F(SinceReportTest, JsonItemsCarryTheirChangeAndTheRemovedFoldersAreListed) {
    const test::ReportRun run =
        Report({"--json", "--since", scratch.Path("earlier.json"), tree.Root()});
    ASSERT_EQ(run.outcome.exitCode, 0) << run.err;
    const std::string& out = run.out;
    EXPECT_NE(out.find("\"total_change\":7400,\"removed\":[{\"path\":\"" + tree.Path("gone") +
                       "\",\"size\":600}]"),
              std::string::npos)
        << out;
    // The item's own object, from its path to its end.
    const auto item = [&](const std::string& path) {
        const size_t at = out.find("\"path\":\"" + path + "\"");
        return at == std::string::npos ? std::string() : out.substr(at, out.find('}', at) - at);
    };
    EXPECT_NE(item(tree.Path("fresh")).find("\"change\":9000,\"new\":true"), std::string::npos);
    EXPECT_NE(item(tree.Path("p")).find("\"files_item\":false,\"change\":-1000"),
              std::string::npos);
    EXPECT_EQ(item(tree.Path("p")).find("\"new\""), std::string::npos);
    EXPECT_NE(item(tree.Path("same")).find("\"change\":0"), std::string::npos);
    EXPECT_NE(item(tree.Root()).find("\"change\":7400"), std::string::npos);
}

TEST_F(SinceReportTest, TheTextHasAChangeColumnAndSortsByChange) {
    const test::ReportRun run =
        Report({"--since", scratch.Path("earlier.json"), "--sort", "change", tree.Root()});
    ASSERT_EQ(run.outcome.exitCode, 0) << run.err;
    const std::vector<std::string> lines = test::Lines(run.out);
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0], tree.Root() + "\t10.752 KB\t100%\t+7.227 KB (+205%)");
    // Grown most first, shrunk last.
    EXPECT_EQ(lines[1].rfind("  fresh\t", 0), 0u) << lines[1];
    EXPECT_EQ(lines[1].substr(lines[1].rfind('\t')), "\tnew");
    EXPECT_EQ(lines[2].rfind("  same\t", 0), 0u) << lines[2];
    EXPECT_EQ(lines[3].rfind("  p\t", 0), 0u) << lines[3];
    EXPECT_EQ(lines[3].substr(lines[3].rfind('\t')), "\t-0.977 KB (-33%)");
    const std::string tail =
        "\nTotal change\t+7.227 KB\n\nRemoved folders\n0.586 KB\t" + tree.Path("gone") + "\n";
    EXPECT_EQ(run.out.substr(run.out.size() - tail.size()), tail);
}

TEST_F(SinceReportTest, ADamagedEarlierScanStopsTheReportWithWhereItIsDamaged) {
    test::WriteZstd(scratch.Path("whole.zst"), ReadText(scratch.Path("earlier.json")));
    const std::string whole = ReadText(scratch.Path("whole.zst"));
    test::WriteText(scratch.Path("cut.json.zst"), whole.substr(0, whole.size() - 5));
    const test::ReportRun run = Report({"--since", scratch.Path("cut.json.zst"), tree.Root()});
    EXPECT_EQ(run.outcome.exitCode, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "quarn: " + scratch.Path("cut.json.zst") + ": truncated at byte " +
                           std::to_string(whole.size() - 5) +
                           " (the file ends inside its zstd data)\n");
}

TEST_F(SinceReportTest, SaveKeepsTheScanOnceAndAKeptScanComparesLikeAnExport) {
    const test::ReportRun first = Report({"--save", tree.Root()});
    ASSERT_EQ(first.outcome.exitCode, 0) << first.err;
    EXPECT_EQ(first.err.rfind("quarn: the scan is kept as " + scratch.Path("data/quarn/scans/"), 0),
              0u)
        << first.err;
    const test::ReportRun second = Report({"--save", tree.Root()});
    EXPECT_EQ(second.err, "quarn: the scan is the same as the newest kept one; not kept again\n");
    const std::vector<KeptScan> kept =
        ScanStore(scratch.Path("data/quarn/scans")).List(tree.Root());
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].total, 11010u);

    const test::ReportRun since = Report({"--json", "--since", kept[0].file, tree.Root()});
    ASSERT_EQ(since.outcome.exitCode, 0) << since.err;
    EXPECT_NE(since.out.find("\"total_change\":0,\"removed\":[]"), std::string::npos) << since.out;
}

TEST_F(SinceReportTest, TwinsOfSeveralImportsSayTheirContentsWereNotChecked) {
    test::ExportFolder(tree.Root(), scratch.Path("host.json"));
    test::WriteZstd(scratch.Path("host.json.zst"), ReadText(scratch.Path("host.json")));
    const test::ReportRun run =
        Report({"--dupmatch", "--json", "--import", scratch.Path("host.json"), "--import",
                scratch.Path("host.json.zst")});
    ASSERT_EQ(run.outcome.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("contents not checked"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\"path\":\"imported/host (2)/p/q.bin\""), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\"path\":\"imported/host/p/q.bin\""), std::string::npos) << run.out;
}

TEST_F(SinceReportTest, TheOptionsAreRefusedWhereTheyHaveNoMeaning) {
    std::string error;
    EXPECT_FALSE(test::ParsedReport({"--report", "--sort", "change", "/x"}, error));
    EXPECT_EQ(error, "--sort change needs --since");
    EXPECT_FALSE(test::ParsedReport({"--report", "--since", "a", "--sort", "size", "/x"}, error));
    EXPECT_EQ(error, "--sort takes change, not 'size'");
    EXPECT_FALSE(test::ParsedReport({"--report", "--dupmatch", "--since", "a", "/x"}, error));
    EXPECT_FALSE(test::ParsedReport({"--report", "--save", "--import", "a"}, error));
    const auto both =
        test::ParsedReport({"--report", "--import", "a", "--import", "b", "--since", "c"}, error);
    ASSERT_TRUE(both) << error;
    EXPECT_EQ(both->importFile, "a");
    EXPECT_EQ(both->importSet, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(both->sinceFile, "c");
}

}  // namespace
}  // namespace quarn
