#include "platform/DesktopEntries.h"

#include <gtest/gtest.h>

#include "tests/support/TempTree.h"

namespace quarn {
namespace {

using test::ScopedEnv;
using test::TempTree;

TEST(XdgFoldersTest, FollowTheVariablesAndTheirDefaults) {
    TempTree tree;
    {
        ScopedEnv data("XDG_DATA_HOME", tree.Path("data"));
        ScopedEnv config("XDG_CONFIG_HOME", tree.Path("config"));
        EXPECT_EQ(XdgDataHome(), tree.Path("data"));
        EXPECT_EQ(XdgConfigHome(), tree.Path("config"));
    }
    // Unset, empty or relative: below the home folder.
    ScopedEnv home("HOME", tree.Path("home"));
    ScopedEnv data("XDG_DATA_HOME", "");
    ScopedEnv config("XDG_CONFIG_HOME", "relative/config");
    EXPECT_EQ(XdgDataHome(), tree.Path("home") + "/.local/share");
    EXPECT_EQ(XdgConfigHome(), tree.Path("home") + "/.config");
}

TEST(ExecLineTest, SplitsQuotedArgumentsAndEscapes) {
    EXPECT_EQ(SplitExec("app  -x\t%f"), (std::vector<std::string>{"app", "-x", "%f"}));
    EXPECT_EQ(SplitExec("\"/my apps/a\\\"b\\\\c\\$d\\`e\" \"\" 'x y'"),
              (std::vector<std::string>{"/my apps/a\"b\\c$d`e", "", "x y"}));
    // Inside double quotes a backslash before an ordinary character stays.
    EXPECT_EQ(SplitExec("\"a\\nb\" c\\ d"), (std::vector<std::string>{"a\\nb", "c d"}));
    EXPECT_EQ(SplitExec("   "), std::vector<std::string>{});
}

TEST(ExecLineTest, ExpandsFieldCodesWithExactBytes) {
    const std::vector<std::string> files = {"/t/a b.txt", "/t/\xff$(rm).txt"};
    EXPECT_EQ(ExpandExec("view %F", files),
              (std::vector<std::string>{"view", "/t/a b.txt", "/t/\xff$(rm).txt"}));
    EXPECT_EQ(ExpandExec("view %U", files), ExpandExec("view %F", files));
    EXPECT_EQ(ExpandExec("view --file=%f %i %c %k 100%%", files),
              (std::vector<std::string>{"view", "--file=/t/a b.txt", "100%"}));
    EXPECT_EQ(ExpandExec("view \"%u\"", {"/x"}), (std::vector<std::string>{"view", "/x"}));
    // Without files the placeholder disappears instead of leaving an empty argument.
    EXPECT_EQ(ExpandExec("view %f -n", {}), (std::vector<std::string>{"view", "-n"}));
    // A line without a file code still gets the files.
    EXPECT_EQ(ExpandExec("view --new", {"/x"}), (std::vector<std::string>{"view", "--new", "/x"}));
}

TEST(ExecLineTest, QuotedArgumentsSurviveTheRoundTrip) {
    const std::vector<std::string> nasty = {
        "/usr/bin/quarn",
        "/home/u/my tools/quarn",
        "/opt/it's \"quoted\"/quarn",
        "/opt/$HOME/`id`/quarn;rm -rf ~",
        "/opt/back\\slash\\/quarn",
        "/opt/100% sure/quarn",
        "/opt/line\nbreak\t/quarn",
        "",
    };
    for (const std::string& path : nasty) {
        std::string exec = QuoteExecArgument(path) + " %f";
        EXPECT_EQ(ExpandExec(exec, {"/the folder"}),
                  (std::vector<std::string>{path, "/the folder"}))
            << exec;
        if (path.find('%') == std::string::npos) {
            EXPECT_EQ(SplitExec(QuoteExecArgument(path)), std::vector<std::string>{path});
        }
    }
    EXPECT_EQ(QuoteExecArgument("/usr/bin/quarn"), "/usr/bin/quarn");
    EXPECT_EQ(EscapeDesktopValue("  a\\b\nc"), "\\s\\sa\\\\b\\nc");
}

}  // namespace
}  // namespace quarn
