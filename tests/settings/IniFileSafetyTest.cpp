// What a write must never do: lose another writer's change, show a reader
// half a file, report success it did not have, or damage what was there.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "settings/IniFile.h"
#include "tests/support/TempTree.h"
#include "tests/support/TestFiles.h"

namespace quarn {
namespace {

using test::SortedEntryNames;

namespace fs = std::filesystem;
using test::ReadText;
using test::WriteText;

constexpr int kWritesPerWriter = 1000;

// Each write uses a fresh object, as every settings access does.
void WriteKeys(const std::string& path, const std::string& prefix) {
    for (int i = 0; i < kWritesPerWriter; ++i) {
        std::string key = prefix + std::to_string(i);
        CIniFile(path).WriteInt("Keys", key.c_str(), i);
    }
}

void ExpectAllKeys(const std::string& path, const std::string& prefix) {
    CIniFile ini(path);
    int missing = 0;
    for (int i = 0; i < kWritesPerWriter; ++i) {
        std::string key = prefix + std::to_string(i);
        missing += ini.ReadInt("Keys", key.c_str(), -1) == i ? 0 : 1;
    }
    EXPECT_EQ(missing, 0) << prefix;
}

class IniFileSafetyTest : public ::testing::Test {
  protected:
    std::string Path() const { return m_tree.Path("conf/test.ini"); }

    test::TempTree m_tree;
};

TEST_F(IniFileSafetyTest, FirstWriteMakesFolderAndFileAndLeavesNoLitter) {
    CIniFile ini(Path());
    EXPECT_TRUE(ini.DeleteKey("S", "k"));  // nothing to delete: no file made
    EXPECT_FALSE(fs::exists(Path()));
    ASSERT_TRUE(ini.WriteString("S", "k", "v"));
    EXPECT_EQ(ReadText(Path()), "[S]\nk=v\n");
    EXPECT_EQ(SortedEntryNames(m_tree.Path("conf")),
              (std::vector<std::string>{"test.ini", "test.ini.lock"}));

    // No cache: a change made behind the object's back is seen at once.
    WriteText(Path(), "[S]\nk=changed\n");
    EXPECT_EQ(ini.ReadString("S", "k"), "changed");
}

TEST_F(IniFileSafetyTest, RewriteKeepsPermissionsAndLinks) {
    CIniFile ini(Path());
    ASSERT_TRUE(ini.WriteInt("S", "k", 1));
    ASSERT_EQ(::chmod(Path().c_str(), 0640), 0);
    ASSERT_TRUE(ini.WriteInt("S", "k", 2));
    struct stat st;
    ASSERT_EQ(::stat(Path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    m_tree.MakeSymlink("conf/test.ini", "link.ini");
    CIniFile viaLink(m_tree.Path("link.ini"));
    ASSERT_TRUE(viaLink.WriteInt("S", "k", 3));
    EXPECT_TRUE(fs::is_symlink(m_tree.Path("link.ini")));
    EXPECT_EQ(ini.ReadInt("S", "k", 0), 3);

    m_tree.MakeSymlink("loop-b.ini", "loop-a.ini");
    m_tree.MakeSymlink("loop-a.ini", "loop-b.ini");
    EXPECT_FALSE(CIniFile(m_tree.Path("loop-a.ini")).WriteInt("S", "k", 4));
    EXPECT_TRUE(fs::is_symlink(m_tree.Path("loop-a.ini")));
}

TEST_F(IniFileSafetyTest, ThreadsNeverLoseWritesAndReadersNeverSeeHalfAFile) {
    CIniFile(Path()).WriteString("Keys", "seed", "1");
    std::atomic<bool> done{false};
    std::atomic<int> shrinks{0};
    std::thread reader([&] {
        size_t last = 0;
        while (!done) {
            std::vector<std::string> names;
            CIniFile(Path()).ReadKeyNames("Keys", names);
            shrinks += names.size() < last ? 1 : 0;
            last = names.size();
        }
    });
    std::thread first(WriteKeys, Path(), "a");
    std::thread second(WriteKeys, Path(), "b");
    first.join();
    second.join();
    done = true;
    reader.join();
    ExpectAllKeys(Path(), "a");
    ExpectAllKeys(Path(), "b");
    EXPECT_EQ(shrinks, 0);
}

TEST_F(IniFileSafetyTest, ProcessesNeverLoseWrites) {
    CIniFile(Path()).WriteString("Keys", "seed", "1");
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        WriteKeys(Path(), "child");
        ::_exit(0);
    }
    WriteKeys(Path(), "parent");
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ExpectAllKeys(Path(), "child");
    ExpectAllKeys(Path(), "parent");
}

TEST_F(IniFileSafetyTest, ReadModifyWriteStepsAreNotInterleaved) {
    constexpr int kSteps = 100;
    auto add = [&] {
        for (int i = 0; i < kSteps; ++i) {
            CIniFile(Path()).AddToInt("S", "count", 1);
            CIniFile(Path()).AppendString("S", "text", "x");
        }
    };
    std::thread first(add);
    std::thread second(add);
    first.join();
    second.join();
    CIniFile ini(Path());
    EXPECT_EQ(ini.ReadInt("S", "count", 0), 2 * kSteps);
    EXPECT_EQ(ini.ReadString("S", "text").size(), size_t(2 * kSteps));
}

TEST_F(IniFileSafetyTest, UnwritablePlacesFailQuietlyAndChangeNothing) {
    // A folder that cannot be made: its parent is a regular file.
    m_tree.MakeFile("blocker", 3);
    CIniFile blocked(m_tree.Path("blocker/test.ini"));
    EXPECT_FALSE(blocked.WriteBool("S", "k", false));
    EXPECT_TRUE(blocked.ReadBool("S", "k", true));
    EXPECT_EQ(ReadText(m_tree.Path("blocker")), "qqq");

    // A file that cannot be read must not be replaced by one without it.
    m_tree.MakeFolder("dir.ini");
    CIniFile folder(m_tree.Path("dir.ini"));
    EXPECT_FALSE(folder.WriteInt("S", "k", 1));
    EXPECT_TRUE(fs::is_directory(m_tree.Path("dir.ini")));

    if (test::RunningAsRoot()) {
        GTEST_SKIP() << "permissions do not keep root out";
    }
    CIniFile ini(Path());
    ASSERT_TRUE(ini.WriteInt("S", "k", 1));
    ASSERT_EQ(::chmod(m_tree.Path("conf").c_str(), 0555), 0);
    EXPECT_FALSE(ini.WriteInt("S", "k", 2));
    EXPECT_FALSE(ini.WriteInt("S", "other", 2));
    EXPECT_EQ(ini.ReadInt("S", "k", 0), 1);
    ASSERT_EQ(::chmod(m_tree.Path("conf").c_str(), 0755), 0);

    ASSERT_EQ(::chmod(Path().c_str(), 0), 0);
    EXPECT_FALSE(ini.WriteInt("S", "other", 3));
    ASSERT_EQ(::chmod(Path().c_str(), 0644), 0);
    EXPECT_EQ(ReadText(Path()), "[S]\nk=1\n");
}

}  // namespace
}  // namespace quarn
