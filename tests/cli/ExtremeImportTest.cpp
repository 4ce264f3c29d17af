// Imports at the edges of what the format holds, through the whole report
// command: times past the last one the program can show, sizes whose sum
// passes 64 bits, numbers no file system gives, and trees far deeper than a
// reader wants listed. The sanitized build runs these under UBSan, where an
// overflow on the way ends the child and fails the run.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "duplicates/TwinRowText.h"
#include "platform/FileTime.h"
#include "tests/cli/ReportInChild.h"
#include "tests/support/TempTree.h"
#include "tests/support/TestFiles.h"

namespace quarn::cli {
namespace {

using test::ExitCode;
using test::Lines;
using test::ReportRun;

constexpr const char* kLargestSize = "9223372036854775807";  // 2^63-1

size_t Count(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

// `depth` folders "d", each inside the last, below the root "/deep"; the root
// and every folder hold one file of one byte.
std::string DeepImport(int depth) {
    std::string text = R"([1,2,{},[{"name":"/deep"},{"name":"f","asize":1})";
    for (int level = 0; level < depth; ++level) {
        text += R"(,[{"name":"d"},{"name":"f","asize":1})";
    }
    text.append(size_t(depth), ']');
    return text + "]]";
}

class ExtremeImportTest : public ::testing::Test {
  protected:
    ExtremeImportTest() : m_ini("QUARN_INI", m_scratch.Path("quarn.ini")) {
        test::WriteText(m_scratch.Path("quarn.ini"), "[SETTINGS]\nRelativToDriveSpace=0\n");
    }

    // `quarn --report ARGS --import FILE` of the import `text`.
    ReportRun Report(const std::string& text, std::vector<std::string> args) {
        test::WriteText(ImportFile(), text);
        args.push_back("--import");
        args.push_back(ImportFile());
        return test::ReportInChild(args, m_scratch.Path("out"), m_scratch.Path("err"));
    }
    std::string ImportFile() const { return m_scratch.Path("import.json"); }

    test::TempTree m_scratch;
    test::ScopedEnv m_ini;
};

TEST_F(ExtremeImportTest, TimesPastTheLastOneShownAreClampedInBothReports) {
    // 2^64-1 does not fit the seconds of a time: it reads as the latest that
    // does, 2^63-1, which lies past the last FILETIME. Both show as the last
    // FILETIME, as a walked file of that time does, never as 1969.
    const std::string text =
        R"([1,2,{},[{"name":"/r"},)"
        R"([{"name":"one"},{"name":"late","asize":10,"mtime":18446744073709551615},)"
        R"({"name":"near","asize":20,"mtime":9223372036854775807}],)"
        R"([{"name":"two"},{"name":"late","asize":10,"mtime":18446744073709551615},)"
        R"({"name":"near","asize":20,"mtime":9223372036854775807}]]])";
    const std::string modified = FormatModifiedText(FileTimeFromUnix(INT64_MAX, 0));
    ASSERT_EQ(modified, FormatModifiedText(kLastFileTime));
    ASSERT_NE(modified, FormatModifiedText(FileTimeFromUnix(-1, 0)));

    ReportRun folders = Report(text, {"--json"});
    EXPECT_EQ(ExitCode(folders), 0) << folders.err;
    EXPECT_NE(folders.out.find(R"("total":60,)"), std::string::npos) << folders.out;

    ReportRun twins = Report(text, {"--dupmatch", "--json"});
    EXPECT_EQ(ExitCode(twins), 0) << twins.err;
    EXPECT_EQ(Count(twins.out, R"("mtime":18446744073709551615,"modified":")" + modified + "\""),
              4u)
        << twins.out;
    // Both pairs are twins: each pair's times are equal, as clamped.
    EXPECT_NE(twins.out.find(R"("twin_bytes":30,)"), std::string::npos) << twins.out;

    ReportRun rows = Report(text, {"--dupmatch"});
    EXPECT_EQ(ExitCode(rows), 0) << rows.err;
    EXPECT_EQ(Count(rows.out, "\t" + modified + "\n"), 4u) << rows.out;
}

TEST_F(ExtremeImportTest, TotalsOfHugeSizesStopAtTheLargestInsteadOfWrapping) {
    auto file = [](const char* name) {
        return std::string(R"({"name":")") + name + R"(","asize":)" + kLargestSize +
               R"(,"mtime":1600000000})";
    };
    const std::string text = std::string(R"([1,2,{},[{"name":"/r"},[{"name":"one"},)") + file("a") +
                             "," + file("b") + R"(],[{"name":"two"},)" + file("a") +
                             R"(],[{"name":"three"},)" + file("a") + R"(],[{"name":"four"},)" +
                             file("a") + "]]]";
    ReportRun folders = Report(text, {"--json", "--largest", "10"});
    ASSERT_EQ(ExitCode(folders), 0) << folders.err;
    const std::string& json = folders.out;
    EXPECT_NE(json.find(R"("total":18446744073709551615,)"), std::string::npos) << json;
    EXPECT_NE(json.find(R"("path":"/r","size":18446744073709551615,"percent":100,)"),
              std::string::npos)
        << json;
    // The subfolder of two files still fits, and is no larger than its root.
    EXPECT_NE(json.find(R"("path":"/r/one","size":18446744073709551614,)"), std::string::npos)
        << json;
    EXPECT_NE(json.find(R"("path":"/r/two","size":9223372036854775807,)"), std::string::npos)
        << json;
    EXPECT_NE(json.find(R"({"ext":"","files":5,"bytes":18446744073709551615})"), std::string::npos)
        << json;

    // Three copies of "a" beyond the first.
    ReportRun twins = Report(text, {"--dupmatch", "--json"});
    ASSERT_EQ(ExitCode(twins), 0) << twins.err;
    EXPECT_NE(twins.out.find(R"("twin_bytes":18446744073709551615,)"), std::string::npos)
        << twins.out;
}

TEST_F(ExtremeImportTest, NumbersNoFileSystemGivesAreRefusedWithTheirOffset) {
    const std::string head = R"([1,2,{},[{"name":"/r"},{"name":"f",)";
    struct Case {
        std::string field;
        std::string reason;
    } cases[] = {
        {R"("asize":9223372036854775808)", "a size above 9223372036854775807 bytes"},
        {R"("dsize":18446744073709551615)", "a size above 9223372036854775807 bytes"},
        // Cut to 32 bits it read as 0 links, a file counted as unlinked.
        {R"("nlink":4294967296,"ino":5,"hlnkc":true)", "a link count above 4294967295"},
    };
    for (const Case& c : cases) {
        const size_t offset = head.size() + c.field.find(':') + 1;
        for (const char* mode : {"--json", "--dupmatch"}) {
            ReportRun run = Report(head + c.field + "}]]", {mode});
            EXPECT_EQ(ExitCode(run), 2) << c.field << " " << mode;
            EXPECT_EQ(run.out, "") << c.field << " " << mode;
            EXPECT_EQ(run.err, "quarn: " + ImportFile() + ": malformed at byte " +
                                   std::to_string(offset) + ": " + c.reason + "\n")
                << mode;
        }
    }
}

TEST_F(ExtremeImportTest, MaxDepthBoundsTheReportOfADeepTreeAndKeepsItsTotals) {
    const std::string deep = DeepImport(20000);
    ReportRun json = Report(deep, {"--json", "--max-depth", "3"});
    ASSERT_EQ(ExitCode(json), 0) << json.err;
    EXPECT_LT(json.out.size(), 4096u) << json.out.substr(0, 4096);
    EXPECT_NE(json.out.find(R"("total":20001,"files":20001,)"), std::string::npos) << json.out;
    // The root, three levels of folders and the files items of the first
    // three: each with every field, the deeper folders in their sizes.
    EXPECT_EQ(Count(json.out, R"({"parent":)"), 7u) << json.out;
    EXPECT_EQ(Count(json.out, R"(,"path":")"), 7u) << json.out;
    EXPECT_NE(json.out.find(R"("path":"/deep","size":20001,"percent":100,)"), std::string::npos);
    EXPECT_NE(json.out.find(R"({"parent":2,"name":"d","path":"/deep/d/d/d","size":19998,)"),
              std::string::npos)
        << json.out;

    ReportRun text = Report(deep, {"--max-depth", "3"});
    ASSERT_EQ(ExitCode(text), 0) << text.err;
    const std::vector<std::string> lines = Lines(text.out);
    ASSERT_EQ(lines.size(), 8u) << text.out.substr(0, 4096);
    EXPECT_EQ(lines[3], "      d\t19.529 KB\t100%");

    ReportRun root = Report(deep, {"--max-depth", "0"});
    ASSERT_EQ(ExitCode(root), 0) << root.err;
    EXPECT_EQ(Lines(root.out).size(), 2u) << root.out.substr(0, 4096);  // the root, the status
}

TEST_F(ExtremeImportTest, ADeepTreeComparesWithItsEarlierScanWithoutRecursion) {
    const std::string earlier = m_scratch.Path("earlier.json");
    test::WriteText(earlier, DeepImport(20000));
    // One level less now: the deepest folder, and only it, is gone.
    ReportRun shrunk =
        Report(DeepImport(19999), {"--json", "--max-depth", "2", "--since", earlier});
    ASSERT_EQ(ExitCode(shrunk), 0) << shrunk.err;
    EXPECT_EQ(Count(shrunk.out, R"("change":-1)"), 3u) << shrunk.out.substr(0, 4096);
    EXPECT_NE(shrunk.out.find(R"("total_change":-1,"removed":[{"path":"/deep/d/d/)"),
              std::string::npos);
    EXPECT_EQ(Count(shrunk.out, R"({"path":)"), 1u);

    // One level more now: nothing is gone, every ancestor grew by the byte.
    ReportRun grown = Report(DeepImport(20001), {"--json", "--max-depth", "2", "--since", earlier});
    ASSERT_EQ(ExitCode(grown), 0) << grown.err;
    EXPECT_EQ(Count(grown.out, R"("change":1})"), 3u) << grown.out.substr(0, 4096);
    EXPECT_NE(grown.out.find(R"("total_change":1,"removed":[])"), std::string::npos);
}

TEST_F(ExtremeImportTest, TheTextOfADeepTreeKeepsItsLinesShortAndSaysTheDepth) {
    ReportRun text = Report(DeepImport(2000), {});
    ASSERT_EQ(ExitCode(text), 0) << text.err;
    const std::vector<std::string> lines = Lines(text.out);
    ASSERT_EQ(lines.size(), 4002u);  // 2001 folders, 2000 files items, the status
    size_t longest = 0;
    for (const std::string& line : lines) {
        longest = std::max(longest, line.size());
    }
    EXPECT_LE(longest, 100u);
    EXPECT_EQ(Count(text.out, "\n" + std::string(64, ' ') + "d\t"), 1u);  // depth 32
    EXPECT_EQ(Count(text.out, "\n" + std::string(64, ' ') + "(depth 33) d\t"), 1u);
    EXPECT_EQ(Count(text.out, "\n" + std::string(64, ' ') + "(depth 2000) d\t"), 1u);
}

TEST_F(ExtremeImportTest, MaxDepthTakesANumberOfLevelsForTheFolderReportOnly) {
    const std::string tree = DeepImport(2);
    for (const char* bad : {"-1", "x", "", "1000000000", "3.5"}) {
        ReportRun run = Report(tree, {"--max-depth", bad});
        EXPECT_EQ(ExitCode(run), 2) << bad;
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, std::string("quarn: --max-depth takes a number of levels from 0 to "
                                       "999999999, not '") +
                               bad + "' (see quarn --help)\n");
    }
    ReportRun twins = Report(tree, {"--dupmatch", "--max-depth", "1"});
    EXPECT_EQ(ExitCode(twins), 2);
    EXPECT_EQ(twins.err,
              "quarn: --max-depth belongs to the folder report, not to --dupmatch (see quarn "
              "--help)\n");
}

}  // namespace
}  // namespace quarn::cli
