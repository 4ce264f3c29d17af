// Typed values of CIniFile: what lands in the file and what reads back.

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

class IniFileTest : public ::testing::Test {
  protected:
    // The folder does not exist yet: the first write must make it.
    std::string Path() const { return m_tree.Path("conf/test.ini"); }
    void Seed(const std::string& text) const {
        m_tree.MakeFolder("conf");
        WriteText(Path(), text);
    }
    // The raw text stored for `key` of section [S].
    std::string Stored(const char* key) const {
        std::string text = ReadText(Path());
        std::string needle = std::string("\n") + key + "=";
        size_t at = ("\n" + text).find(needle);
        if (at == std::string::npos) {
            return "<absent>";
        }
        size_t start = at + needle.size() - 1;
        return text.substr(start, text.find('\n', start) - start);
    }

    test::TempTree m_tree;
    CIniFile m_ini{Path()};
};

TEST_F(IniFileTest, BooleansReadWordsAndNumbersAndWriteDigits) {
    Seed(
        "[S]\nt1=true\nt2=YES\nt3=1\nt4=12\nt5=1abc\nt6= 1\n"
        "f1=false\nf2=no\nf3=0\nf4=abc\nempty=\n");
    for (const char* key : {"t1", "t2", "t3", "t4", "t5", "t6"}) {
        EXPECT_TRUE(m_ini.ReadBool("S", key, false)) << key;
    }
    for (const char* key : {"f1", "f2", "f3", "f4"}) {
        EXPECT_FALSE(m_ini.ReadBool("S", key, true)) << key;
    }
    EXPECT_TRUE(m_ini.ReadBool("S", "empty", true));
    EXPECT_FALSE(m_ini.ReadBool("S", "empty", false));
    EXPECT_TRUE(m_ini.ReadBool("S", "missing", true));

    ASSERT_TRUE(m_ini.WriteBool("S", "f4", true));
    EXPECT_EQ(Stored("f4"), "1");
    ASSERT_TRUE(m_ini.ToggleBool("S", "f4"));
    EXPECT_EQ(Stored("f4"), "0");
    ASSERT_TRUE(m_ini.ToggleBool("S", "new"));  // absent counts as false
    EXPECT_EQ(Stored("new"), "1");
}

TEST_F(IniFileTest, IntegersInEveryRadix) {
    ASSERT_TRUE(m_ini.WriteInt("S", "a", -1, 10));
    ASSERT_TRUE(m_ini.WriteUInt("S", "b", static_cast<unsigned>(-1), 10));
    ASSERT_TRUE(m_ini.WriteUInt("S", "c", 5, 2));
    ASSERT_TRUE(m_ini.WriteInt("S", "d", 255, 16));
    ASSERT_TRUE(m_ini.WriteInt("S", "e", 8, 8));
    ASSERT_TRUE(m_ini.WriteInt("S", "f", -2, 2));
    ASSERT_TRUE(m_ini.WriteInt("S", "g", 7, 5));
    EXPECT_EQ(Stored("a"), "-1");
    EXPECT_EQ(Stored("b"), "4294967295");
    EXPECT_EQ(Stored("c"), "101");
    EXPECT_EQ(Stored("d"), "FF");
    EXPECT_EQ(Stored("e"), "10");
    EXPECT_EQ(Stored("f"), std::string(31, '1') + "0");
    EXPECT_EQ(Stored("g"), "7");

    EXPECT_EQ(m_ini.ReadInt("S", "a", 0), -1);
    EXPECT_EQ(m_ini.ReadUInt("S", "b", 0), 4294967295u);
    EXPECT_EQ(m_ini.ReadInt("S", "c", 0, 2), 5);
    EXPECT_EQ(m_ini.ReadInt("S", "d", 0, 16), 255);
    EXPECT_EQ(m_ini.ReadInt("S", "e", 0, 8), 8);
    EXPECT_EQ(m_ini.ReadInt("S", "f", 0, 2), -2);
    EXPECT_EQ(m_ini.ReadInt("S", "missing", 42), 42);

    ASSERT_TRUE(m_ini.AddToInt("S", "a", 3));
    EXPECT_EQ(m_ini.ReadInt("S", "a", 0), 2);
    ASSERT_TRUE(m_ini.AddToInt("S", "d", 1, 16));
    EXPECT_EQ(Stored("d"), "100");
    ASSERT_TRUE(m_ini.AddToUInt("S", "b", 2));  // wraps like 32 bits
    EXPECT_EQ(Stored("b"), "1");
    ASSERT_TRUE(m_ini.AddToUInt("S", "fresh", 7));
    EXPECT_EQ(m_ini.ReadUInt("S", "fresh", 0), 7u);

    Seed("[S]\nempty=\nword=abc\n");
    EXPECT_EQ(m_ini.ReadInt("S", "empty", 9), 9);
    EXPECT_EQ(m_ini.ReadInt("S", "word", 9), 0);
}

TEST_F(IniFileTest, DoublesUseFixedNotationAndRoundTrip) {
    ASSERT_TRUE(m_ini.WriteDouble("S", "p0", 2.5, 0));
    ASSERT_TRUE(m_ini.WriteDouble("S", "p2", 2.5, 2));
    ASSERT_TRUE(m_ini.WriteDouble("S", "neg", -1.25, -3));
    ASSERT_TRUE(m_ini.WriteDouble("S", "big", 1e300, 1));
    EXPECT_EQ(Stored("p0"), "2.500000");
    EXPECT_EQ(Stored("p2"), "2.50");
    EXPECT_EQ(Stored("neg"), "-1.250000");
    EXPECT_EQ(Stored("big").size(), 303u);  // every digit, nothing cut

    EXPECT_DOUBLE_EQ(m_ini.ReadDouble("S", "p2", 0), 2.5);
    EXPECT_DOUBLE_EQ(m_ini.ReadDouble("S", "neg", 0), -1.25);
    EXPECT_DOUBLE_EQ(m_ini.ReadDouble("S", "missing", 7.5), 7.5);
    ASSERT_TRUE(m_ini.AddToDouble("S", "p2", 0.25, 3));
    EXPECT_EQ(Stored("p2"), "2.750");

    Seed("[S]\nplus=+3.5\nword=abc\nempty=\n");
    EXPECT_DOUBLE_EQ(m_ini.ReadDouble("S", "plus", 0), 3.5);
    EXPECT_DOUBLE_EQ(m_ini.ReadDouble("S", "word", 9), 0.0);
    EXPECT_DOUBLE_EQ(m_ini.ReadDouble("S", "empty", 9), 9.0);
}

TEST_F(IniFileTest, CharactersAndStrings) {
    ASSERT_TRUE(m_ini.WriteChar("S", "c", 'x'));
    EXPECT_EQ(m_ini.ReadChar("S", "c", '?'), 'x');
    EXPECT_EQ(m_ini.ReadChar("S", "none", '?'), '?');
    EXPECT_FALSE(m_ini.WriteChar(nullptr, "c", 'x'));

    ASSERT_TRUE(m_ini.WriteString("S", "s", "hello"));
    ASSERT_TRUE(m_ini.AppendString("S", "s", " world"));
    EXPECT_FALSE(m_ini.AppendString("S", "s", nullptr));
    EXPECT_EQ(m_ini.ReadString("S", "s"), "hello world");
    ASSERT_TRUE(m_ini.WriteString("S", "nul", nullptr));  // stored empty, key kept
    EXPECT_TRUE(m_ini.KeyExists("S", "nul"));
    EXPECT_EQ(m_ini.ReadString("S", "nul", "def"), "");
    EXPECT_EQ(m_ini.ReadString("S", "none", "def"), "def");
    EXPECT_EQ(m_ini.ReadString("S", "none", nullptr), "");
    EXPECT_EQ(m_ini.ReadString(nullptr, "s", "def"), "def");
    EXPECT_FALSE(m_ini.WriteString("S", nullptr, "x"));

    // The buffer form cuts, always ends with a NUL and leaves bytes beyond
    // `size` alone.
    char buffer[8];
    std::fill(buffer, buffer + sizeof buffer, '#');
    EXPECT_EQ(m_ini.ReadString("S", "s", buffer, 6, nullptr), 5u);
    EXPECT_STREQ(buffer, "hello");
    EXPECT_EQ(buffer[6], '#');
    EXPECT_EQ(m_ini.ReadString("S", "s", nullptr, 0, nullptr), 11u);
    EXPECT_EQ(m_ini.ReadString("S", "none", buffer, sizeof buffer, "dflt"), 4u);
    EXPECT_STREQ(buffer, "dflt");
}

TEST_F(IniFileTest, LongValuesRoundTripWhole) {
    for (size_t length : {511u, 512u, 513u, 1024u, 5000u}) {
        std::string value;
        for (size_t i = 0; i < length; ++i) {
            value += char('a' + i % 26);
        }
        ASSERT_TRUE(m_ini.WriteString("S", "long", value.c_str()));
        EXPECT_EQ(m_ini.ReadString("S", "long"), value) << length;
        EXPECT_EQ(m_ini.ReadString("S", "long", nullptr, 0, nullptr), length);
    }
}

TEST_F(IniFileTest, BlocksAreUpperCaseHexAndDecodeStrictly) {
    const unsigned char data[] = {0x00, 0x0A, 0xFF, 0x7B};
    ASSERT_TRUE(m_ini.WriteBlock("S", "b", data, sizeof data));
    EXPECT_EQ(Stored("b"), "000AFF7B");
    ASSERT_TRUE(m_ini.AppendBlock("S", "b", data + 1, 1));
    EXPECT_EQ(Stored("b"), "000AFF7B0A");
    EXPECT_FALSE(m_ini.WriteBlock("S", "b", nullptr, 4));

    unsigned char out[8] = {};
    EXPECT_EQ(m_ini.ReadBlock("S", "b", out, sizeof out, 0), 5u);
    EXPECT_EQ(out[2], 0xFF);
    EXPECT_EQ(m_ini.ReadBlock("S", "b", out, 2, 3), 2u);
    EXPECT_EQ(out[0], 0x7B);
    EXPECT_EQ(out[1], 0x0A);
    EXPECT_EQ(m_ini.ReadBlock("S", "b", nullptr, 0, 1), 4u);

    Seed("[S]\nok=0a1B\nbad=0a1G\nodd=0a1\n");
    std::fill(out, out + sizeof out, 0);
    EXPECT_EQ(m_ini.ReadBlock("S", "ok", out, sizeof out, 0), 2u);
    EXPECT_EQ(out[0], 0x0A);
    EXPECT_EQ(out[1], 0x1B);
    EXPECT_EQ(m_ini.ReadBlock("S", "ok", out, sizeof out, 2), 0u);
    EXPECT_EQ(m_ini.ReadBlock("S", "bad", out, sizeof out, 0), 0u);
    EXPECT_EQ(m_ini.ReadBlock("S", "odd", out, sizeof out, 0), 1u);
}

TEST_F(IniFileTest, PointsAndRectanglesAreLittleEndianBlocks) {
    ASSERT_TRUE(m_ini.WritePoint("S", "pt", IniPoint{1, -1}));
    EXPECT_EQ(Stored("pt"), "01000000FFFFFFFF");
    EXPECT_EQ(m_ini.ReadPoint("S", "pt", IniPoint{}), (IniPoint{1, -1}));

    const IniRect rect{-100, 2, 0x12345678, -0x7FFFFFFF - 1};
    ASSERT_TRUE(m_ini.WriteRect("S", "rc", rect));
    EXPECT_EQ(Stored("rc"), "9CFFFFFF020000007856341200000080");
    EXPECT_EQ(m_ini.ReadRect("S", "rc", IniRect{}), rect);

    const IniPoint def{7, 8};
    ASSERT_TRUE(m_ini.WriteString("S", "six", "010000000200"));  // 6 bytes
    EXPECT_EQ(m_ini.ReadPoint("S", "six", def), def);
    EXPECT_EQ(m_ini.ReadPoint("S", "rc", def), def);  // 16 bytes is no point
    EXPECT_EQ(m_ini.ReadRect("S", "pt", rect), rect);
}

TEST_F(IniFileTest, ListsSplitJoinAndReportTheirSize) {
    ASSERT_TRUE(m_ini.WriteList("S", "l", {"a", "bb", "ccc"}, -1, nullptr));
    EXPECT_EQ(Stored("l"), "a,bb,ccc");
    ASSERT_TRUE(m_ini.WriteList("S", "two", {"a", "bb", "ccc"}, 2, ";"));
    EXPECT_EQ(Stored("two"), "a;bb");
    ASSERT_TRUE(m_ini.WriteList("S", "all", {"x", "y"}, 9, ""));
    EXPECT_EQ(Stored("all"), "x,y");

    std::vector<std::string> items{"stale"};
    EXPECT_EQ(m_ini.ReadList("S", "l", items), 3u);
    EXPECT_EQ(items, (std::vector<std::string>{"a", "bb", "ccc"}));
    EXPECT_EQ(m_ini.ReadList("S", "two", items, ";"), 2u);

    size_t need = m_ini.ReadList("S", "l", nullptr, 0);
    std::vector<char> buffer(need);
    EXPECT_EQ(m_ini.ReadList("S", "l", buffer.data(), buffer.size()), need - 1);
    EXPECT_STREQ(buffer.data() + 5, "ccc");
    EXPECT_EQ(m_ini.ReadList("S", "none", buffer.data(), buffer.size()), 0u);
    EXPECT_EQ(m_ini.ReadList("S", "none", items), 0u);
    EXPECT_TRUE(items.empty());
}

TEST_F(IniFileTest, PathBindingAndUnboundObjects) {
    char buffer[8];
    EXPECT_EQ(m_ini.GetPath(buffer, sizeof buffer), 7u);
    EXPECT_EQ(std::string(buffer), Path().substr(0, 7));
    EXPECT_EQ(m_ini.GetPath(), Path());

    CIniFile none;
    EXPECT_EQ(none.GetPath(), "");
    EXPECT_EQ(none.ReadInt("S", "k", 5), 5);
    EXPECT_FALSE(none.WriteInt("S", "k", 1));
    CIniFile alsoNone(static_cast<const char*>(nullptr));
    EXPECT_FALSE(alsoNone.WriteBool("S", "k", true));

    CIniFile rebound;
    rebound.SetPath(Path().c_str());
    ASSERT_TRUE(rebound.WriteInt("S", "k", 3));
    EXPECT_EQ(m_ini.ReadInt("S", "k", 0), 3);
    rebound.SetPath(nullptr);
    EXPECT_EQ(rebound.GetPath(), "");
    EXPECT_FALSE(rebound.WriteInt("S", "k", 4));
    EXPECT_EQ(m_ini.ReadInt("S", "k", 0), 3);
}

}  // namespace
}  // namespace quarn
