#include <gtest/gtest.h>

#include <filesystem>

#include "platform/FileSystems.h"
#include "platform/PathRules.h"
#include "tests/support/TempTree.h"

namespace quarn {
namespace {

TEST(PathRules, OneSpellingPerFolderOutsideNetworkPaths) {
    EXPECT_EQ(NormalisedPath("/home//user"), "/home/user");
    EXPECT_EQ(NormalisedPath("/a//b//c/"), "/a/b/c");
    // Every run goes: the trash and the walk must spell a folder alike.
    EXPECT_EQ(NormalisedPath("/a///b"), "/a/b");
    EXPECT_EQ(NormalisedPath("/"), "/");
    EXPECT_EQ(NormalisedPath("//server/share//x/"), "//server/share//x");
    EXPECT_TRUE(IsNetworkStylePath("//server"));
    EXPECT_FALSE(IsNetworkStylePath("/server"));
}

TEST(PathRules, JoinsWithoutDoublingAtTheRoot) {
    std::string path = "/";
    AppendPathComponent(path, "usr");
    EXPECT_EQ(path, "/usr");
    AppendPathComponent(path, "lib");
    EXPECT_EQ(path, "/usr/lib");
    std::string network = "//server/share/";
    AppendPathComponent(network, "x");
    EXPECT_EQ(network, "//server/share//x");
    EXPECT_EQ(FolderOfPath("/dir/a.txt"), "/dir");
    EXPECT_EQ(FolderOfPath("a.txt"), "");
    EXPECT_EQ(FolderOfPath("/a.txt"), "/");  // the root, not nothing
    EXPECT_EQ(NameOfPath("/dir/a.txt"), "a.txt");
    EXPECT_EQ(NameOfPath("a.txt"), "a.txt");
}

TEST(PathRules, AbsolutePathJoinsTheWorkingFolderAndCleans) {
    test::TempTree tree;
    tree.MakeFolder("work");
    std::string before = std::filesystem::current_path().string();
    std::filesystem::current_path(tree.Path("work"));
    std::string work = std::filesystem::current_path().string();
    EXPECT_EQ(AbsolutePath("a//b/"), work + "/a/b");
    EXPECT_EQ(AbsolutePath(""), work);
    std::filesystem::current_path("/");
    EXPECT_EQ(AbsolutePath("usr"), "/usr");  // no "//usr" from the root
    std::filesystem::current_path(before);
    EXPECT_EQ(AbsolutePath("/a///b//"), "/a/b");
    EXPECT_EQ(AbsolutePath("///"), "/");
}

TEST(FileSystems, ClassifiesVirtualNetworkAndLocalKinds) {
    EXPECT_EQ(ClassifyFileSystem(0x9fa0, "proc"), FileSystemKind::Virtual);
    EXPECT_EQ(ClassifyFileSystem(0x62656572, ""), FileSystemKind::Virtual);  // sysfs by magic
    // devtmpfs shares tmpfs's magic: only the type name tells them apart.
    EXPECT_EQ(ClassifyFileSystem(0x01021994, "devtmpfs"), FileSystemKind::Virtual);
    EXPECT_EQ(ClassifyFileSystem(0x01021994, "tmpfs"), FileSystemKind::Local);
    EXPECT_EQ(ClassifyFileSystem(0x6969, "nfs4"), FileSystemKind::Network);
    EXPECT_EQ(ClassifyFileSystem(0xff534d42, ""), FileSystemKind::Network);
    EXPECT_EQ(ClassifyFileSystem(0x65735546, "fuse.sshfs"), FileSystemKind::Network);
    EXPECT_EQ(ClassifyFileSystem(0x65735546, "fuse.archivemount"), FileSystemKind::Local);
    EXPECT_EQ(ClassifyFileSystem(0xef53, "ext4"), FileSystemKind::Local);
    EXPECT_EQ(ClassifyFileSystem(0x01021997, "9p"), FileSystemKind::Network);
}

TEST(FileSystems, FindsMountPointSpaceAndKindOfRealPaths) {
    test::TempTree tree;
    auto mount = MountPointOf(tree.Root());
    ASSERT_TRUE(mount.has_value());
    EXPECT_EQ(tree.Root().rfind(*mount == "/" ? "/" : *mount + "/", 0), 0u) << *mount;
    auto space = DiskSpaceOf(tree.Root());
    ASSERT_TRUE(space.has_value());
    EXPECT_GT(space->total, 0u);
    EXPECT_LE(space->freeToCaller, space->totalFree);
    EXPECT_LE(space->totalFree, space->total);
    EXPECT_FALSE(DiskSpaceOf(tree.Path("missing")).has_value());
    EXPECT_EQ(FileSystemKindOfPath("/proc"), FileSystemKind::Virtual);
    EXPECT_NE(FileSystemKindOfPath(tree.Root()), FileSystemKind::Virtual);
    for (const MountEntry& volume : ListUserVolumes()) {
        EXPECT_NE(volume.typeName, "proc");
        EXPECT_NE(volume.typeName, "sysfs");
    }
}

}  // namespace
}  // namespace quarn
