// Yes/no parsing, trimming, delimited lists, radix formatting and the
// program path of a command line.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/IniText.h"
#include "settings/ProgramPathRule.h"

namespace quarn {
namespace {

std::vector<std::string> Items(const char* list) {
    std::vector<std::string> items;
    ForEachItem(list, [&](const char* item) {
        items.emplace_back(item);
        return true;
    });
    return items;
}

TEST(IniText, ParseBoolAcceptsWordsAndLeadingNumbers) {
    for (const char* yes : {"true", "TRUE", "True", "yes", "YES", "1", "12", "1abc", " 1", "-3"}) {
        EXPECT_TRUE(ParseBool(yes, false)) << yes;
    }
    for (const char* no : {"false", "no", "0", "abc", "yes!", " true", "0x1"}) {
        EXPECT_FALSE(ParseBool(no, true)) << no;
    }
    EXPECT_TRUE(ParseBool("", true));
    EXPECT_FALSE(ParseBool("", false));
    EXPECT_TRUE(ParseBool(nullptr, true));
}

TEST(IniText, TrimBlanksRemovesOnlyTheEnds) {
    char text[] = " \t a b \r\n";
    EXPECT_TRUE(TrimBlanks(text));
    EXPECT_STREQ(text, "a b");
    EXPECT_FALSE(TrimBlanks(text));
    char blanks[] = " \t\r\n";
    EXPECT_TRUE(TrimBlanks(blanks));
    EXPECT_STREQ(blanks, "");
    EXPECT_FALSE(TrimBlanks(static_cast<char*>(nullptr)));
    std::string s = "  x  ";
    EXPECT_TRUE(TrimBlanks(s));
    EXPECT_EQ(s, "x");
}

TEST(IniText, SplitListTrimsAndSkipsEmptyItems) {
    char buffer[32];
    EXPECT_EQ(SplitList(" a , ,b ", buffer, sizeof buffer, ",", true), 4u);
    EXPECT_EQ(Items(buffer), (std::vector<std::string>{"a", "b"}));

    EXPECT_EQ(SplitList(" a , ,b ", buffer, sizeof buffer, ",", false), 9u);
    EXPECT_EQ(Items(buffer), (std::vector<std::string>{" a ", " ", "b "}));

    EXPECT_EQ(SplitList("x::y::", buffer, sizeof buffer, "::", true), 4u);
    EXPECT_EQ(Items(buffer), (std::vector<std::string>{"x", "y"}));

    EXPECT_EQ(SplitList("p,q", buffer, sizeof buffer, nullptr, true), 4u);  // "," by default
    EXPECT_EQ(SplitList("p,q", buffer, sizeof buffer, "", true), 3u);       // one whole item
    EXPECT_EQ(Items(buffer), (std::vector<std::string>{"p,q"}));

    EXPECT_EQ(SplitList("", buffer, sizeof buffer, ",", true), 0u);
    EXPECT_EQ(SplitList(nullptr, buffer, sizeof buffer, ",", true), 0u);
    EXPECT_EQ(SplitList("a", nullptr, 8, ",", true), 0u);
}

TEST(IniText, SplitListStaysInsideASmallBufferAndClosesTheList) {
    // Guard bytes after the buffer must survive; the list must end in it.
    char buffer[12];
    std::fill(buffer, buffer + sizeof buffer, '#');
    EXPECT_EQ(SplitList("abc,def,ghi", buffer, 8, ",", true), 4u);
    EXPECT_EQ(Items(buffer), (std::vector<std::string>{"abc"}));
    EXPECT_EQ(buffer[8], '#');

    std::fill(buffer, buffer + sizeof buffer, '#');
    EXPECT_EQ(SplitList("abcdefghij", buffer, 6, "", true), 4u);
    EXPECT_EQ(Items(buffer), (std::vector<std::string>{"abcd"}));
    EXPECT_EQ(buffer[5], '\0');
    EXPECT_EQ(buffer[6], '#');
}

TEST(IniText, ForEachItemStopsWhenTheCallbackSaysSo) {
    const char list[] = "one\0two\0three\0";
    std::vector<std::string> seen;
    EXPECT_FALSE(ForEachItem(list, [&](const char* item) {
        seen.emplace_back(item);
        return seen.size() < 2;
    }));
    EXPECT_EQ(seen, (std::vector<std::string>{"one", "two"}));
    EXPECT_TRUE(ForEachItem("\0", [](const char*) { return false; }));
    EXPECT_FALSE(ForEachItem(nullptr, [](const char*) { return true; }));
    EXPECT_FALSE(ForEachItem(list, nullptr));
}

TEST(IniText, RadixFormattingAndParsingRoundTrip) {
    EXPECT_EQ(FormatUnsigned(0, 2), "0");
    EXPECT_EQ(FormatUnsigned(5, 2), "101");
    EXPECT_EQ(FormatUnsigned(~uint64_t(0), 2), std::string(64, '1'));
    EXPECT_EQ(FormatUnsigned(8, 8), "10");
    EXPECT_EQ(FormatUnsigned(255, 16), "FF");
    EXPECT_EQ(FormatUnsigned(255, 7), "255");

    EXPECT_EQ(ParseUnsigned32("101", 2), 5u);
    EXPECT_EQ(ParseUnsigned32("ff", 16), 255u);
    EXPECT_EQ(ParseUnsigned32("0xFF", 16), 255u);
    EXPECT_EQ(ParseUnsigned32("17", 8), 15u);
    EXPECT_EQ(ParseUnsigned32("12z", 10), 12u);
    EXPECT_EQ(ParseUnsigned32("-1", 10), 0xFFFFFFFFu);
    EXPECT_EQ(ParseUnsigned32("4294967295", 10), 0xFFFFFFFFu);
    EXPECT_EQ(ParseUnsigned32("99999999999", 10), 0xFFFFFFFFu);
    EXPECT_EQ(ParseUnsigned32("abc", 10), 0u);
    EXPECT_EQ(ParseUnsigned32("19", 3), 19u);  // unknown radix reads decimal
}

TEST(ProgramPathRule, QuotedProgramPathKeepsItsClosingQuote) {
    const std::string line = "\"C:\\Tools\\App.exe\" /dupmatch D:\\Data";
    EXPECT_EQ(GetProgramPath(line), "\"c:\\tools\\app.exe\"");
    EXPECT_EQ(IniPathFromCommandLine(line), "c:\\tools\\app.ini");
}

TEST(ProgramPathRule, UnquotedAndUnusualCommandLines) {
    EXPECT_EQ(GetProgramPath("C:\\App.EXE /dirmass"), "c:\\app.exe ");
    EXPECT_EQ(IniPathFromCommandLine("C:\\App.EXE /dirmass"), "c:\\app.ini");
    EXPECT_EQ(IniPathFromCommandLine("C:\\App.exe"), "c:\\app.ini");
    // Without "exe" the first word names the program.
    EXPECT_EQ(GetProgramPath("\"C:\\My Tools\\App\" x"), "\"c:\\my tools\\app\"");
    EXPECT_EQ(GetProgramPath("App /dupmatch"), "app");
    EXPECT_EQ(IniPathFromCommandLine("App /dupmatch"), "app");
}

}  // namespace
}  // namespace quarn
