// The INI text itself: how names are matched, what a write leaves alone, and
// sections and keys as wholes.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "settings/IniFile.h"
#include "tests/support/TempTree.h"
#include "tests/support/TestFiles.h"

namespace quarn {
namespace {

using test::ReadText;
using test::WriteText;

class IniFormatTest : public ::testing::Test {
  protected:
    std::string Path() const { return m_tree.Path("test.ini"); }

    test::TempTree m_tree;
    CIniFile m_ini{Path()};
};

TEST_F(IniFormatTest, NamesMatchWithoutCaseAndBlanksAndQuotesAreDropped) {
    WriteText(Path(),
              "  [ Main ]  \n"
              "  Alpha  =  one two  \n"
              "dq=\"quoted \"\n"
              "sq=' single'\n"
              "mixed=\"no'\n"
              "first=1\n"
              "FIRST=2\n"
              "[main]\n"
              "alpha=shadowed\n"
              "late=unreachable\n");
    EXPECT_EQ(m_ini.ReadString("MAIN", "ALPHA"), "one two");
    EXPECT_EQ(m_ini.ReadString("main", "dq"), "quoted ");
    EXPECT_EQ(m_ini.ReadString("main", "sq"), " single");
    EXPECT_EQ(m_ini.ReadString("main", "mixed"), "\"no'");
    // The first matching section and key win.
    EXPECT_EQ(m_ini.ReadString("main", "first"), "1");
    EXPECT_FALSE(m_ini.KeyExists("main", "late"));
    EXPECT_TRUE(m_ini.SectionExists("mAiN"));

    // A write with other letter case changes the same key, not a new one.
    ASSERT_TRUE(m_ini.WriteString("mAIN", "alpha", "changed"));
    EXPECT_EQ(m_ini.ReadString("Main", "Alpha"), "changed");
    std::vector<std::string> names;
    m_ini.ReadKeyNames("main", names);
    EXPECT_EQ(names, (std::vector<std::string>{"alpha", "dq", "sq", "mixed", "first", "FIRST"}));
}

TEST_F(IniFormatTest, WritesKeepEveryOtherLine) {
    const std::string head =
        "orphan=before any section\n"
        "; a comment\n"
        "\n"
        "[One]\n"
        "# another comment\n"
        "a=1\n"
        "not a key line\n"
        "b=2\n"
        "\n"
        "[Two]\n"
        "c=3\n";
    WriteText(Path(), head);

    ASSERT_TRUE(m_ini.WriteString("One", "a", "10"));
    ASSERT_TRUE(m_ini.WriteString("One", "new", "x"));
    ASSERT_TRUE(m_ini.WriteString("Three", "d", "4"));
    EXPECT_EQ(ReadText(Path()),
              "orphan=before any section\n"
              "; a comment\n"
              "\n"
              "[One]\n"
              "# another comment\n"
              "a=10\n"
              "not a key line\n"
              "b=2\n"
              "new=x\n"
              "\n"
              "[Two]\n"
              "c=3\n"
              "[Three]\n"
              "d=4\n");

    // Lines before the first section belong to no section.
    EXPECT_FALSE(m_ini.KeyExists("", "orphan"));
    ASSERT_TRUE(m_ini.DeleteKey("One", "b"));
    ASSERT_TRUE(m_ini.DeleteSection("two"));
    EXPECT_EQ(ReadText(Path()),
              "orphan=before any section\n"
              "; a comment\n"
              "\n"
              "[One]\n"
              "# another comment\n"
              "a=10\n"
              "not a key line\n"
              "new=x\n"
              "\n"
              "[Three]\n"
              "d=4\n");
}

// A file keeps the line ends it came with; a lone CR (as old Mac editors
// write) ends a line as LF and CR LF do, instead of joining the lines.
TEST_F(IniFormatTest, EveryKindOfLineEndEndsALineAndStaysAsItWas) {
    WriteText(Path(), "[S]\r\na=1\r\n");
    ASSERT_TRUE(m_ini.WriteString("S", "b", "2"));
    EXPECT_EQ(m_ini.ReadString("S", "a"), "1");
    EXPECT_EQ(ReadText(Path()), "[S]\r\na=1\r\nb=2\r\n");

    WriteText(Path(), "[S]\ra=1\r[T]\rc=3\r");
    EXPECT_EQ(m_ini.ReadString("S", "a"), "1");
    EXPECT_EQ(m_ini.ReadString("T", "c"), "3");
    ASSERT_TRUE(m_ini.WriteString("S", "b", "2"));
    EXPECT_EQ(ReadText(Path()), "[S]\ra=1\rb=2\r[T]\rc=3\r");

    // Mixed: each line ends where any line end is; writes use the first kind.
    WriteText(Path(), "[S]\na=1\r\nb=2\rc=3");
    EXPECT_EQ(m_ini.ReadString("S", "a"), "1");
    EXPECT_EQ(m_ini.ReadString("S", "b"), "2");
    EXPECT_EQ(m_ini.ReadString("S", "c"), "3");
    ASSERT_TRUE(m_ini.WriteString("S", "c", "4"));
    EXPECT_EQ(ReadText(Path()), "[S]\na=1\nb=2\nc=4\n");
}

TEST_F(IniFormatTest, TextThatWouldBreakTheFileIsRefused) {
    WriteText(Path(), "[S]\na=1\n");
    EXPECT_FALSE(m_ini.WriteString("S", "a", "x\n[Evil]\nb=2"));
    EXPECT_FALSE(m_ini.WriteString("S", "k=v", "1"));
    EXPECT_FALSE(m_ini.WriteString("S", ";k", "1"));
    EXPECT_FALSE(m_ini.WriteString("S]x", "k", "1"));
    EXPECT_FALSE(m_ini.AppendString("S", "a", "\r\n"));
    EXPECT_EQ(ReadText(Path()), "[S]\na=1\n");
}

TEST_F(IniFormatTest, SectionsAndKeysAsLists) {
    WriteText(Path(), "[A]\nk1=v1\n; note\n =skipped\nbare\n  k2 = v2 \n[B]\n[a]\nx=y\n");
    std::vector<std::string> names;
    EXPECT_EQ(m_ini.ReadSectionNames(names), 2u);
    EXPECT_EQ(names, (std::vector<std::string>{"A", "B"}));
    std::vector<std::string> lines;
    m_ini.ReadKeyLines("a", lines);
    EXPECT_EQ(lines, (std::vector<std::string>{"k1=v1", "=skipped", "bare", "k2 = v2"}));
    m_ini.ReadKeyNames("A", names);
    EXPECT_EQ(names, (std::vector<std::string>{"k1", "k2"}));

    // Buffer forms: the size probe, then a list that fits.
    size_t need = m_ini.ReadSection("A", nullptr, 0);
    std::vector<char> buffer(need);
    size_t got = m_ini.ReadSection("A", buffer.data(), buffer.size());
    EXPECT_EQ(got, need - 2);
    EXPECT_STREQ(buffer.data() + got - 8, "k2 = v2");
    EXPECT_EQ(m_ini.ReadSection(nullptr, buffer.data(), buffer.size()), 0u);
    EXPECT_EQ(m_ini.ReadSectionNames(nullptr, 0), 6u);

    EXPECT_EQ(m_ini.ReadKeyNames("A", nullptr, 0), 6u);
    char small[8];
    std::fill(small, small + sizeof small, '#');
    EXPECT_EQ(m_ini.ReadKeyNames("A", small, 6), 5u);  // "k1", then "k" cut
    EXPECT_STREQ(small, "k1");
    EXPECT_STREQ(small + 3, "k");
    EXPECT_EQ(small[5], '\0');
    EXPECT_EQ(small[6], '#');
}

TEST_F(IniFormatTest, KeyExistsTreatsTheSentinelValueAsAbsent) {
    WriteText(Path(), std::string("[S]\nempty=\nodd=") + kIniKeyExistsSentinel + "\n");
    EXPECT_TRUE(m_ini.KeyExists("S", "empty"));
    EXPECT_FALSE(m_ini.KeyExists("S", "odd"));
    EXPECT_FALSE(m_ini.KeyExists("S", "none"));
    EXPECT_FALSE(m_ini.KeyExists(nullptr, "empty"));
}

TEST_F(IniFormatTest, CopyAndMoveSections) {
    WriteText(Path(), "[Src]\na=1\nb=2\n[Dst]\nold=x\n");
    struct stat before;
    ASSERT_EQ(::stat(Path().c_str(), &before), 0);
    // Onto itself: fails, and the file is not even rewritten.
    EXPECT_FALSE(m_ini.CopySection("Src", "SRC", false));
    EXPECT_FALSE(m_ini.MoveSection("src", "Src", false));
    EXPECT_FALSE(m_ini.CopySection("Missing", "New", false));
    EXPECT_FALSE(m_ini.CopySection("Src", "Dst", true));
    EXPECT_FALSE(m_ini.CopySection(nullptr, "Dst", false));
    struct stat after;
    ASSERT_EQ(::stat(Path().c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(ReadText(Path()), "[Src]\na=1\nb=2\n[Dst]\nold=x\n");

    ASSERT_TRUE(m_ini.CopySection("Src", "Dst", false));
    EXPECT_FALSE(m_ini.KeyExists("Dst", "old"));
    EXPECT_EQ(m_ini.ReadInt("Dst", "b", 0), 2);
    EXPECT_EQ(m_ini.ReadInt("Src", "b", 0), 2);

    ASSERT_TRUE(m_ini.MoveSection("Src", "Moved", true));
    EXPECT_FALSE(m_ini.SectionExists("Src"));
    EXPECT_EQ(m_ini.ReadInt("Moved", "a", 0), 1);
}

TEST_F(IniFormatTest, CopyAndMoveKeys) {
    WriteText(Path(), "[S]\na=1\nb=2\n");
    EXPECT_FALSE(m_ini.CopyKey("S", "a", "s", "A", false));  // the same key
    EXPECT_FALSE(m_ini.CopyKey("S", "none", "S", "c", false));
    EXPECT_FALSE(m_ini.CopyKey("S", "a", "S", "b", true));
    EXPECT_FALSE(m_ini.CopyKey("S", "a", "S", nullptr, false));
    EXPECT_EQ(m_ini.ReadInt("S", "b", 0), 2);

    ASSERT_TRUE(m_ini.CopyKey("S", "a", "T", "c", false));
    EXPECT_EQ(m_ini.ReadInt("T", "c", 0), 1);
    ASSERT_TRUE(m_ini.MoveKey("S", "b", "T", "d", true));
    EXPECT_FALSE(m_ini.KeyExists("S", "b"));
    EXPECT_EQ(m_ini.ReadInt("T", "d", 0), 2);
}

}  // namespace
}  // namespace quarn
