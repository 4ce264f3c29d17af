#include "platform/DesktopEntries.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>

#include "tests/support/TempTree.h"

namespace quarn {
namespace {

using test::ScopedEnv;
using test::TempTree;

// A private desktop: user data and config folders plus two system data folders.
class DesktopEntriesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_env.push_back(std::make_unique<ScopedEnv>("XDG_DATA_HOME", m_tree.Path("home-data")));
        m_env.push_back(std::make_unique<ScopedEnv>(
            "XDG_DATA_DIRS", m_tree.Path("sys1") + ":" + m_tree.Path("sys2")));
        m_env.push_back(std::make_unique<ScopedEnv>("XDG_CONFIG_HOME", m_tree.Path("home-config")));
        m_env.push_back(std::make_unique<ScopedEnv>("XDG_CONFIG_DIRS", m_tree.Path("etc-xdg")));
        m_env.push_back(std::make_unique<ScopedEnv>("XDG_CURRENT_DESKTOP", "Test:Other"));
    }

    void Write(const std::string& relative, const std::string& text) {
        m_tree.MakeFile(relative, 0);
        std::ofstream(m_tree.Path(relative), std::ios::binary) << text;
    }

    void App(const std::string& relative, const std::string& name, const std::string& mime,
             const std::string& extra = "") {
        Write(relative, "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + name +
                            " %F\nMimeType=" + mime + "\n" + extra);
    }

    static std::vector<std::string> Ids(const std::vector<DesktopApplication>& apps) {
        std::vector<std::string> ids;
        for (const DesktopApplication& app : apps) {
            ids.push_back(app.id);
        }
        return ids;
    }

    TempTree m_tree;
    std::vector<std::unique_ptr<ScopedEnv>> m_env;
};

TEST_F(DesktopEntriesTest, SearchFoldersFollowTheVariablesAndTheirDefaults) {
    EXPECT_EQ(XdgDataHome(), m_tree.Path("home-data"));
    EXPECT_EQ(XdgDataDirs(), (std::vector<std::string>{m_tree.Path("home-data"),
                                                       m_tree.Path("sys1"), m_tree.Path("sys2")}));
    {
        // Relative entries are invalid, repeats and trailing separators collapse.
        ScopedEnv dirs("XDG_DATA_DIRS", "relative/share:/opt/share/::/opt/share");
        EXPECT_EQ(XdgDataDirs(),
                  (std::vector<std::string>{m_tree.Path("home-data"), "/opt/share"}));
    }
    ScopedEnv home("HOME", m_tree.Path("user"));
    ScopedEnv dataHome("XDG_DATA_HOME", "");
    ScopedEnv dataDirs("XDG_DATA_DIRS", "");
    ScopedEnv configHome("XDG_CONFIG_HOME", "not/absolute");
    EXPECT_EQ(XdgDataDirs(), (std::vector<std::string>{m_tree.Path("user/.local/share"),
                                                       "/usr/local/share", "/usr/share"}));
    EXPECT_EQ(XdgConfigHome(), m_tree.Path("user/.config"));
}

TEST_F(DesktopEntriesTest, LoadsEntriesByIdWithShadowingAndSubfolders) {
    Write("sys1/applications/viewer.desktop",
          "# comment\n[Desktop Entry]\nType=Application\nName=Viewer\n"
          "Exec=\"/opt/my apps/viewer\" --title=a\\\\sb %f\nTerminal=true\nNoDisplay=true\n"
          "[Desktop Action new]\nExec=ignored\n");
    auto viewer = LoadDesktopApplication("viewer.desktop");
    ASSERT_TRUE(viewer);
    EXPECT_EQ(viewer->name, "Viewer");
    // The key-file layer turns "\\" into one backslash before the Exec rules apply.
    EXPECT_EQ(viewer->exec, "\"/opt/my apps/viewer\" --title=a\\sb %f");
    EXPECT_EQ(viewer->filePath, m_tree.Path("sys1/applications/viewer.desktop"));
    EXPECT_TRUE(viewer->terminal);
    EXPECT_TRUE(viewer->noDisplay);

    // The user's own copy wins over the system's, and a hidden one deletes it.
    App("sys2/applications/tool.desktop", "systool", "text/plain;");
    App("home-data/applications/tool.desktop", "mytool", "text/plain;");
    ASSERT_TRUE(LoadDesktopApplication("tool.desktop"));
    EXPECT_EQ(LoadDesktopApplication("tool.desktop")->name, "mytool");
    App("home-data/applications/viewer.desktop", "x", "", "Hidden=true\n");
    EXPECT_FALSE(LoadDesktopApplication("viewer.desktop"));

    // "vendor-app.desktop" may live in the subfolder vendor/.
    App("sys2/applications/vendor/suite/app.desktop", "suiteapp", "");
    ASSERT_TRUE(LoadDesktopApplication("vendor-suite-app.desktop"));
    EXPECT_EQ(LoadDesktopApplication("vendor-suite-app.desktop")->name, "suiteapp");

    // Not applications, or not startable.
    Write("sys1/applications/link.desktop", "[Desktop Entry]\nType=Link\nURL=x\nExec=x\n");
    Write("sys1/applications/noexec.desktop", "[Desktop Entry]\nType=Application\nName=n\n");
    Write("sys1/applications/gone.desktop",
          "[Desktop Entry]\nType=Application\nExec=g\nTryExec=" + m_tree.Path("no-such") + "\n");
    Write("sys1/applications/here.desktop",
          "[Desktop Entry]\nType=Application\nExec=h\nTryExec=/bin/sh\n");
    EXPECT_FALSE(LoadDesktopApplication("gone.desktop"));
    EXPECT_TRUE(LoadDesktopApplication("here.desktop"));
    EXPECT_FALSE(LoadDesktopApplication("link.desktop"));
    EXPECT_FALSE(LoadDesktopApplication("noexec.desktop"));
    EXPECT_FALSE(LoadDesktopApplication("missing.desktop"));
    EXPECT_FALSE(LoadDesktopApplication("../sys1/applications/tool.desktop"));
}

TEST_F(DesktopEntriesTest, DefaultApplicationFollowsTheListsInPrecedenceOrder) {
    App("sys1/applications/a.desktop", "a", "text/html;");
    App("sys1/applications/b.desktop", "b", "text/html;");
    App("sys1/applications/c.desktop", "c", "text/html;");

    // Without any list, an entry that lists the type stands in.
    ASSERT_TRUE(DefaultApplicationFor("text/html"));
    EXPECT_FALSE(DefaultApplicationFor("image/png"));

    Write("sys2/applications/mimeapps.list", "[Default Applications]\ntext/html=c.desktop\n");
    EXPECT_EQ(DefaultApplicationFor("text/html")->id, "c.desktop");

    // A default that is not installed gives way to the next one of its line.
    Write("etc-xdg/mimeapps.list", "[Default Applications]\ntext/html=gone.desktop;b.desktop;\n");
    EXPECT_EQ(DefaultApplicationFor("text/html")->id, "b.desktop");

    // The desktop's own list comes before the general list of the same folder,
    // and the user's config before everything.
    Write("etc-xdg/test-mimeapps.list", "[Default Applications]\ntext/html=c.desktop\n");
    EXPECT_EQ(DefaultApplicationFor("text/html")->id, "c.desktop");
    Write("home-config/mimeapps.list", "[Default Applications]\ntext/html=a.desktop\n");
    EXPECT_EQ(DefaultApplicationFor("text/html")->id, "a.desktop");
}

TEST_F(DesktopEntriesTest, ApplicationsForOrdersDefaultAddedThenListedMinusRemoved) {
    App("sys1/applications/a.desktop", "a", "text/plain;");
    App("sys1/applications/b.desktop", "b", "text/plain;image/png");
    App("sys2/applications/c.desktop", "c", "image/png;");
    App("sys2/applications/d.desktop", "d", "text/plain;");
    App("sys2/applications/e.desktop", "e", "text/plain;");
    // A stale cache may name entries that are gone; they must not appear.
    Write("sys2/applications/mimeinfo.cache",
          "[MIME Cache]\ntext/plain=e.desktop;removed-long-ago.desktop;\n");
    Write("home-config/mimeapps.list",
          "[Default Applications]\ntext/plain=d.desktop\n"
          "[Added Associations]\ntext/plain=c.desktop;d.desktop;\n"
          "[Removed Associations]\ntext/plain=a.desktop;\n");
    // A removal below an addition does not undo it.
    Write("sys1/applications/mimeapps.list",
          "[Removed Associations]\ntext/plain=b.desktop;c.desktop;\n");

    EXPECT_EQ(Ids(ApplicationsFor("text/plain")),
              (std::vector<std::string>{"d.desktop", "c.desktop", "e.desktop"}));
    EXPECT_EQ(Ids(ApplicationsFor("image/png")),
              (std::vector<std::string>{"b.desktop", "c.desktop"}));
    EXPECT_TRUE(ApplicationsFor("video/none").empty());

    // A user copy that no longer lists the type hides the system copy's claim.
    App("home-data/applications/c.desktop", "c", "text/plain;");
    EXPECT_EQ(Ids(ApplicationsFor("image/png")), (std::vector<std::string>{"b.desktop"}));
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
    EXPECT_TRUE(ExecTakesFileList("a %U"));
    EXPECT_FALSE(ExecTakesFileList("a %f"));
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
