#include "platform/Trash.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>

#include "tests/support/TempTree.h"
#include "tests/support/TestFiles.h"

namespace quarn {
namespace {

namespace fs = std::filesystem;
using test::PathExists;
using test::ReadText;
using test::ScopedEnv;
using test::TempTree;

size_t CountEntries(const std::string& folder) {
    if (!fs::exists(folder)) {
        return 0;
    }
    return size_t(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

// Checks the .trashinfo the way a file manager reads it back.
void ExpectInfo(const std::string& infoPath, const std::string& escapedPath) {
    std::string info = ReadText(infoPath);
    EXPECT_TRUE(info.starts_with("[Trash Info]\n")) << info;
    EXPECT_NE(info.find("\nPath=" + escapedPath + "\n"), std::string::npos) << info;
    size_t date = info.find("\nDeletionDate=");
    ASSERT_NE(date, std::string::npos) << info;
    std::string value = info.substr(date + 14, 19);
    ASSERT_EQ(value.size(), 19u);
    EXPECT_EQ(value[4], '-');
    EXPECT_EQ(value[10], 'T');
    EXPECT_EQ(value[13], ':');
}

class TrashTest : public ::testing::Test {
  protected:
    TempTree tree;
    std::string dataHome = tree.Path("data");
    std::string trash = dataHome + "/Trash";
    ScopedEnv env{"XDG_DATA_HOME", dataHome};
};

TEST_F(TrashTest, FileAndFolderGoToTheHomeTrashWithTheirInfo) {
    tree.MakeFile("work/a b%.txt", 10);
    tree.MakeFile("work/folder/inner/x.bin", 100);
    tree.MakeSymlink("/nonexistent/target", "work/dangling");
    tree.MakeFolder("data");

    TrashResult file = MoveToTrash(tree.Path("work/a b%.txt"));
    ASSERT_TRUE(file.Ok()) << file.error;
    EXPECT_FALSE(PathExists(tree.Path("work/a b%.txt")));
    EXPECT_EQ(file.trashedPath, trash + "/files/a b%.txt");
    EXPECT_EQ(fs::file_size(file.trashedPath), 10u);
    ExpectInfo(trash + "/info/a b%.txt.trashinfo", tree.Path("work/a%20b%25.txt"));

    TrashResult folder = MoveToTrash(tree.Path("work/folder"));
    ASSERT_TRUE(folder.Ok()) << folder.error;
    EXPECT_FALSE(PathExists(tree.Path("work/folder")));
    EXPECT_EQ(fs::file_size(trash + "/files/folder/inner/x.bin"), 100u);
    ExpectInfo(folder.infoPath, tree.Path("work/folder"));

    // A dangling link is trashed as the link itself.
    TrashResult link = MoveToTrash(tree.Path("work/dangling"));
    ASSERT_TRUE(link.Ok()) << link.error;
    EXPECT_TRUE(fs::is_symlink(link.trashedPath));
    EXPECT_EQ(fs::read_symlink(link.trashedPath), "/nonexistent/target");

    // The trash folders are private.
    for (const char* sub : {"/files", "/info"}) {
        struct stat st;
        ASSERT_EQ(::stat((trash + sub).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
    }
}

TEST_F(TrashTest, MissingDataFolderIsCreatedAndTheFileReallyLeaves) {
    // Neither the data folder nor its parents exist yet.
    ScopedEnv deep{"XDG_DATA_HOME", tree.Path("no/such/share")};
    tree.MakeFile("work/doc.txt", 5);
    std::string cwdBefore = fs::current_path();
    fs::current_path(tree.Path("work"));

    TrashResult result = MoveToTrash("doc.txt");  // relative to the working folder
    fs::current_path(cwdBefore);

    ASSERT_TRUE(result.Ok()) << result.error;
    EXPECT_FALSE(PathExists(tree.Path("work/doc.txt")));
    EXPECT_EQ(CountEntries(tree.Path("work")), 0u) << "nothing may stay in the working folder";
    EXPECT_TRUE(PathExists(tree.Path("no/such/share/Trash/files/doc.txt")));
    ExpectInfo(tree.Path("no/such/share/Trash/info/doc.txt.trashinfo"), tree.Path("work/doc.txt"));
}

TEST_F(TrashTest, NameCollisionsGetNumberedNames) {
    std::vector<std::string> expected = {"report.txt", "report 2.txt", "report 3.txt"};
    for (size_t i = 0; i < expected.size(); ++i) {
        tree.MakeFile("work/report.txt", i + 1);
        TrashResult result = MoveToTrash(tree.Path("work/report.txt"));
        ASSERT_TRUE(result.Ok()) << result.error;
        EXPECT_EQ(result.trashedPath, trash + "/files/" + expected[i]);
        EXPECT_EQ(fs::file_size(result.trashedPath), i + 1) << "an earlier entry was replaced";
        EXPECT_TRUE(PathExists(trash + "/info/" + expected[i] + ".trashinfo"));
    }
    // An entry in files/ without its info (left by another program) is kept.
    tree.MakeFile("data/Trash/files/.hidden", 1);
    tree.MakeFile("work/.hidden", 2);
    TrashResult hidden = MoveToTrash(tree.Path("work/.hidden"));
    ASSERT_TRUE(hidden.Ok()) << hidden.error;
    EXPECT_EQ(hidden.trashedPath, trash + "/files/.hidden 2");
    EXPECT_EQ(fs::file_size(trash + "/files/.hidden"), 1u);

    // A name at the length limit still fits with its ".trashinfo".
    std::string longName(255, 'n');
    tree.MakeFile("work/" + longName, 1);
    TrashResult longResult = MoveToTrash(tree.Path("work/" + longName));
    ASSERT_TRUE(longResult.Ok()) << longResult.error;
    EXPECT_FALSE(PathExists(tree.Path("work/" + longName)));
}

TEST_F(TrashTest, RefusalsAndFailuresLeaveEverythingInPlace) {
    tree.MakeFile("work/keep.txt", 3);
    std::optional<FileIdentity> shown = IdentityOf(tree.Path("work/keep.txt"));
    ASSERT_TRUE(shown.has_value());

    // Replaced by another file of the same name since it was shown.
    fs::remove(tree.Path("work/keep.txt"));
    tree.MakeFile("work/other.txt", 3);
    fs::rename(tree.Path("work/other.txt"), tree.Path("work/keep.txt"));
    TrashResult replaced = MoveToTrash(tree.Path("work/keep.txt"), shown);
    EXPECT_EQ(replaced.status, TrashStatus::IdentityChanged);
    EXPECT_FALSE(replaced.error.empty());
    EXPECT_TRUE(PathExists(tree.Path("work/keep.txt")));

    // Changed content (size) of the same inode is another file too.
    std::optional<FileIdentity> before = IdentityOf(tree.Path("work/keep.txt"));
    tree.MakeFile("work/keep.txt", 30);
    EXPECT_EQ(MoveToTrash(tree.Path("work/keep.txt"), before).status, TrashStatus::IdentityChanged);
    EXPECT_EQ(CountEntries(trash + "/files"), 0u);
    EXPECT_EQ(CountEntries(trash + "/info"), 0u);

    // The unchanged file with its identity goes.
    TrashResult same =
        MoveToTrash(tree.Path("work/keep.txt"), IdentityOf(tree.Path("work/keep.txt")));
    EXPECT_TRUE(same.Ok()) << same.error;

    // A folder stays itself while its content changes; another folder in
    // its place is refused.
    tree.MakeFile("work/dir/one.txt", 1);
    std::optional<FileIdentity> folder = IdentityOf(tree.Path("work/dir"));
    tree.MakeFile("work/dir/two.txt", 1);
    fs::rename(tree.Path("work/dir"), tree.Path("work/dir-old"));
    tree.MakeFolder("work/dir");
    EXPECT_EQ(MoveToTrash(tree.Path("work/dir"), folder).status, TrashStatus::IdentityChanged);
    EXPECT_TRUE(MoveToTrash(tree.Path("work/dir-old"), folder).Ok());

    // A vanished path fails and leaves no info file behind.
    TrashResult gone = MoveToTrash(tree.Path("work/keep.txt"));
    EXPECT_EQ(gone.status, TrashStatus::Vanished);
    EXPECT_FALSE(IdentityOf(tree.Path("work/keep.txt")).has_value());
    EXPECT_EQ(CountEntries(trash + "/info"), 2u);

    // A home trash that cannot be made fails the file on its filesystem:
    // no trash folder is made elsewhere for it.
    tree.MakeFile("blocked/Trash", 1);
    tree.MakeFile("top/work/stay.txt", 1);
    TrashLocations blocked;
    blocked.homeTrash = tree.Path("blocked/Trash");
    std::string top = tree.Path("top");
    blocked.topDirOf = [top](const std::string&) { return std::optional<std::string>(top); };
    TrashResult refused = MoveToTrash(tree.Path("top/work/stay.txt"), {}, blocked);
    EXPECT_EQ(refused.status, TrashStatus::NoTrash);
    EXPECT_TRUE(PathExists(tree.Path("top/work/stay.txt")));
    EXPECT_FALSE(PathExists(tree.Path("top/.Trash-" + std::to_string(::getuid()))));

    // The trash itself and anything holding it are never trashed.
    EXPECT_EQ(MoveToTrash(trash).status, TrashStatus::Refused);
    EXPECT_EQ(MoveToTrash(trash + "/files/keep.txt").status, TrashStatus::Refused);
    EXPECT_EQ(MoveToTrash(dataHome).status, TrashStatus::Refused);
    EXPECT_EQ(MoveToTrash("/").status, TrashStatus::Refused);
    EXPECT_TRUE(PathExists(trash + "/files/keep.txt"));
}

// A second filesystem for the cross-device cases: /dev/shm when it is one.
class CrossDeviceTrashTest : public TrashTest {
  protected:
    void SetUp() override {
        other = test::TempTreeOnAnotherFileSystem(tree.Root());
        if (!other) {
            GTEST_SKIP() << "no second writable filesystem";
        }
        locations.homeTrash = trash;
        std::string top = other->Root();
        locations.topDirOf = [top](const std::string&) { return std::optional<std::string>(top); };
    }
    std::unique_ptr<TempTree> other;
    TrashLocations locations;
};

TEST_F(CrossDeviceTrashTest, UsesThePersonalTrashOfTheFileSystem) {
    other->MakeFile("sub/far.txt", 7);
    TrashResult result = MoveToTrash(other->Path("sub/far.txt"), {}, locations);
    ASSERT_TRUE(result.Ok()) << result.error;
    std::string topTrash = other->Path(".Trash-" + std::to_string(::getuid()));
    EXPECT_EQ(result.trashedPath, topTrash + "/files/far.txt");
    EXPECT_FALSE(PathExists(other->Path("sub/far.txt")));
    ExpectInfo(topTrash + "/info/far.txt.trashinfo", "sub/far.txt");  // relative to the top
    // What lies in a trash stays there; a name that only looks alike does not.
    EXPECT_EQ(MoveToTrash(result.trashedPath, {}, locations).status, TrashStatus::Refused);
    other->MakeFile(".Trashy", 1);
    EXPECT_TRUE(MoveToTrash(other->Path(".Trashy"), {}, locations).Ok());
    struct stat st;
    ASSERT_EQ(::stat(topTrash.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    // Nothing was left in the home trash by the first attempt.
    EXPECT_EQ(CountEntries(trash + "/info"), 0u);
}

TEST_F(CrossDeviceTrashTest, SharedTrashOnlyWhenStickyAndNoLink) {
    std::string uid = std::to_string(::getuid());
    other->MakeFolder(".Trash");
    ::chmod(other->Path(".Trash").c_str(), 01777);
    other->MakeFile("one.txt", 1);
    TrashResult sticky = MoveToTrash(other->Path("one.txt"), {}, locations);
    ASSERT_TRUE(sticky.Ok()) << sticky.error;
    EXPECT_EQ(sticky.trashedPath, other->Path(".Trash/" + uid + "/files/one.txt"));

    ::chmod(other->Path(".Trash").c_str(), 0777);
    other->MakeFile("two.txt", 1);
    TrashResult plain = MoveToTrash(other->Path("two.txt"), {}, locations);
    ASSERT_TRUE(plain.Ok()) << plain.error;
    EXPECT_EQ(plain.trashedPath, other->Path(".Trash-" + uid + "/files/two.txt"));

    fs::remove_all(other->Path(".Trash"));
    other->MakeFolder("elsewhere");
    ::chmod(other->Path("elsewhere").c_str(), 01777);
    other->MakeSymlink(other->Path("elsewhere"), ".Trash");
    other->MakeFile("three.txt", 1);
    TrashResult linked = MoveToTrash(other->Path("three.txt"), {}, locations);
    ASSERT_TRUE(linked.Ok()) << linked.error;
    EXPECT_EQ(linked.trashedPath, other->Path(".Trash-" + uid + "/files/three.txt"));
    EXPECT_EQ(CountEntries(other->Path("elsewhere")), 0u);
}

TEST_F(CrossDeviceTrashTest, NoUsableTrashFailsWithoutDeleting) {
    other->MakeFile("stay.txt", 4);
    TrashLocations none;
    none.homeTrash = trash;
    none.topDirOf = [](const std::string&) { return std::optional<std::string>(); };
    TrashResult result = MoveToTrash(other->Path("stay.txt"), {}, none);
    EXPECT_EQ(result.status, TrashStatus::NoTrash);
    EXPECT_FALSE(result.error.empty());
    EXPECT_EQ(fs::file_size(other->Path("stay.txt")), 4u);
    EXPECT_EQ(CountEntries(trash + "/info"), 0u);
    EXPECT_EQ(CountEntries(trash + "/files"), 0u);

    // A file where the personal trash would go blocks it as well.
    other->MakeFile(".Trash-" + std::to_string(::getuid()), 1);
    TrashResult blocked = MoveToTrash(other->Path("stay.txt"), {}, locations);
    EXPECT_EQ(blocked.status, TrashStatus::NoTrash);
    EXPECT_TRUE(PathExists(other->Path("stay.txt")));
}

}  // namespace
}  // namespace quarn
