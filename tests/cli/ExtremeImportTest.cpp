// Imports at the edges of what the format holds, through the whole report
// command: times past the last one the program can show, sizes whose sum
// passes 64 bits, numbers no file system gives. The sanitized build runs
// these under UBSan, where an overflow on the way ends the child and fails
// the run.

#include <gtest/gtest.h>

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
using test::ReportRun;

constexpr const char* kLargestSize = "9223372036854775807";  // 2^63-1

size_t Count(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
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

}  // namespace
}  // namespace quarn::cli
