// Folder totals as a disk-usage tool must give them: every inode once per
// folder however many hard links lie below it, and the space files take on
// the disk when AllocatedSize asks for it. Each total is checked against a
// sum made here from lstat, independently of the walk.

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "foldersize/FolderScanner.h"
#include "settings/IniFile.h"
#include "settings/Settings.h"
#include "tests/foldersize/FolderTreeChecks.h"
#include "tests/support/FolderTreeText.h"
#include "tests/support/TempTree.h"
#include "tests/support/TestFiles.h"

namespace quarn {
namespace {

using test::TempTree;

// The bytes below `folder` (or, with `ownOnly`, of its own files), each
// inode once.
uint64_t DistinctBytes(const std::string& folder, bool allocated, bool ownOnly = false) {
    std::set<std::pair<dev_t, ino_t>> seen;
    uint64_t sum = 0;
    auto add = [&](const std::filesystem::path& path) {
        struct ::stat status;
        if (::lstat(path.c_str(), &status) != 0 || S_ISDIR(status.st_mode) ||
            !seen.emplace(status.st_dev, status.st_ino).second) {
            return;
        }
        sum += allocated ? uint64_t(status.st_blocks) * 512 : uint64_t(status.st_size);
    };
    if (ownOnly) {
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            add(entry.path());
        }
    } else {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
            add(entry.path());
        }
    }
    return sum;
}

// One inode under four names in three folders, a 1 GiB sparse file with
// three links in three other places, and plain files around them.
void MakeLinkedTree(const TempTree& tree) {
    tree.MakeFile("a/song.flac", 40000);
    test::MakeHardLink(tree, "a/song.flac", "a/song-copy.flac");
    tree.MakeFolder("a/deep");
    test::MakeHardLink(tree, "a/song.flac", "a/deep/song.flac");
    tree.MakeFolder("b");
    test::MakeHardLink(tree, "a/song.flac", "b/song.flac");
    tree.MakeSparseFile("disk.img", uint64_t(1) << 30);
    tree.MakeFolder("c/inner");
    test::MakeHardLink(tree, "disk.img", "c/disk.img");
    test::MakeHardLink(tree, "disk.img", "c/inner/disk.img");
    tree.MakeFile("a/plain.txt", 300);
    tree.MakeFile("b/other.txt", 5000);
    tree.MakeFile("c/inner/note.txt", 12);
    tree.MakeFile("top.txt", 7);
}

void ExpectEveryTotalCountsInodesOnce(const FolderScanner& view, bool allocated) {
    auto items = test::ItemsByPath(view.Tree());
    ASSERT_GT(items.size(), 1u);
    for (const auto& [key, item] : items) {
        const bool filesItem = key.ends_with("|files");
        const std::string folder = filesItem ? key.substr(0, key.size() - 6) : key;
        EXPECT_EQ(view.Tree().GetItemSize(item), DistinctBytes(folder, allocated, filesItem))
            << key;
    }
}

TEST(FolderTotals, EachInodeCountsOnceInEveryFolderThatHoldsIt) {
    test::ScanSettings settings(/*sortBySize=*/true, /*relativeToDrive=*/false);
    TempTree tree;
    MakeLinkedTree(tree);
    FolderScanner view;
    view.RunScan(test::FolderRequest(tree.Root()));
    ExpectEveryTotalCountsInodesOnce(view, /*allocated=*/false);

    auto items = test::ItemsByPath(view.Tree());
    // The folder with two names of the song counts it once, its files item too.
    EXPECT_EQ(view.Tree().GetItemSize(items[tree.Path("a")]), 40000u + 300);
    EXPECT_EQ(view.Tree().GetItemSize(items[tree.Path("a") + "|files"]), 40000u + 300);
    EXPECT_EQ(test::ItemText(view.Tree(), items[tree.Path("a") + "|files"]), "[3 files]");  // names
    EXPECT_EQ(view.Tree().GetItemSize(items[tree.Path("c")]), (uint64_t(1) << 30) + 12);
    // The root holds both inodes once: far less than the disk image thrice.
    const uint64_t root = (uint64_t(1) << 30) + 40000 + 300 + 5000 + 12 + 7;
    EXPECT_EQ(view.Tree().GetItemSize(view.Tree().GetRootItem()), root);
    EXPECT_EQ(view.Tree().GetFigures().total, root);
    EXPECT_EQ(view.Tree().GetFigures().hardLinks, 7);  // 4 names of the song, 3 of the image
    EXPECT_EQ(view.Tree().GetFigures().files, 11);
    // Shares follow the counted sizes: c holds the image, not a third of it.
    EXPECT_EQ(view.Tree().GetItemPercent(items[tree.Path("c")]), 100);
}

TEST(FolderTotals, RandomLinksAcrossNestedFoldersAgreeWithIndependentSums) {
    // Names of one inode in a folder, its subfolders and its ancestors, met
    // in every order the listing happens to give: each total must still
    // count each inode once, and each files item each of its own once.
    test::ScanSettings settings(/*sortBySize=*/false, /*relativeToDrive=*/false);
    std::mt19937 random(20240611);
    for (int round = 0; round < 4; ++round) {
        TempTree tree;
        std::vector<std::string> folders{""};
        for (int i = 0; i < 14; ++i) {
            std::string parent = folders[random() % folders.size()];
            folders.push_back(parent + (parent.empty() ? "" : "/") + "f" + std::to_string(i));
            tree.MakeFolder(folders.back());
        }
        std::vector<std::string> originals;
        for (int i = 0; i < 8; ++i) {
            std::string folder = folders[random() % folders.size()];
            std::string name = (folder.empty() ? "" : folder + "/") + "o" + std::to_string(i);
            tree.MakeFile(name, 100 + random() % 5000);
            originals.push_back(name);
        }
        for (int i = 0; i < 30; ++i) {
            std::string folder = folders[random() % folders.size()];
            std::string name = (folder.empty() ? "" : folder + "/") + "l" + std::to_string(i);
            test::MakeHardLink(tree, originals[random() % originals.size()], name);
        }
        FolderScanner view;
        view.RunScan(test::FolderRequest(tree.Root()));
        ExpectEveryTotalCountsInodesOnce(view, /*allocated=*/false);
        int64_t linkedNames = 0;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(tree.Root())) {
            struct ::stat status;
            if (::lstat(entry.path().c_str(), &status) == 0 && !S_ISDIR(status.st_mode) &&
                status.st_nlink > 1) {
                ++linkedNames;
            }
        }
        EXPECT_EQ(view.Tree().GetFigures().hardLinks, linkedNames);
        if (HasFailure()) {
            break;
        }
    }
}

TEST(FolderTotals, AllocatedSizeCountsWhatFilesTakeOnTheDisk) {
    TempTree tree;
    MakeLinkedTree(tree);
    tree.MakeSparseFile("sparse/hole.bin", uint64_t(5) << 30);
    tree.MakeFile("sparse/tiny.txt", 1);
    test::ScanSettings settings(/*sortBySize=*/true, /*relativeToDrive=*/false);
    FolderScanner apparent;
    apparent.RunScan(test::FolderRequest(tree.Root()));
    EXPECT_FALSE(apparent.Tree().AreSizesAllocated());  // a missing key keeps the lengths

    ASSERT_TRUE(CIniFile(SettingsFilePath()).WriteBool(kSettingsSection, kAllocatedSize, true));
    FolderScanner allocated;
    allocated.RunScan(test::FolderRequest(tree.Root()));
    EXPECT_TRUE(allocated.Tree().AreSizesAllocated());
    ExpectEveryTotalCountsInodesOnce(allocated, /*allocated=*/true);
    auto items = test::ItemsByPath(allocated.Tree());
    struct ::stat tiny;
    ASSERT_EQ(::lstat(tree.Path("sparse/tiny.txt").c_str(), &tiny), 0);
    // 5 GiB of holes take (almost) nothing; one byte takes a whole block.
    EXPECT_LT(*allocated.Tree().GetItemSize(items[tree.Path("sparse")]), uint64_t(1) << 20);
    EXPECT_EQ(allocated.Tree().GetItemSize(items[tree.Path("sparse")]),
              DistinctBytes(tree.Path("sparse"), true));
    EXPECT_GE(*allocated.Tree().GetItemSize(items[tree.Path("sparse")]),
              uint64_t(tiny.st_blocks) * 512);
    EXPECT_GT(apparent.Tree().GetFigures().total, uint64_t(6) << 30);
    EXPECT_LT(allocated.Tree().GetFigures().total, uint64_t(1) << 30);
}

// Sizes of up to 2^63-1 each, as an import may carry them: no total may wrap
// to below one of its parts, before or after a folder leaves the tree.
TEST(FolderTotals, HugeSizesSaturateEveryTotalInsteadOfWrapping) {
    test::ScanSettings settings(/*sortBySize=*/true, /*relativeToDrive=*/false);
    TempTree scratch;
    const std::string big = std::to_string(INT64_MAX);
    auto file = [&big](const std::string& name, const std::string& more = "") {
        return R"({"name":")" + name + R"(","asize":)" + big + more + "}";
    };
    // A linked inode in two folders of "shared" counts once there.
    const std::string linked = R"(,"ino":7,"nlink":2)";
    const std::string text = R"([1,2,{},[{"name":"/r"},[{"name":"one"},)" + file("a") + "," +
                             file("b") + R"(],[{"name":"two"},)" + file("a") +
                             R"(],[{"name":"shared"},[{"name":"p"},)" + file("h", linked) +
                             R"(],[{"name":"q"},)" + file("h", linked) + "]]," +
                             R"({"name":"small","asize":100}]])";
    test::WriteText(scratch.Path("huge.json"), text);
    FolderScanner view;
    view.RunScan(test::ImportRequest(scratch.Path("huge.json")));
    ASSERT_EQ(view.GetImportError(), "");

    const FolderSizeTree& tree = view.Tree();
    auto items = test::ItemsByPath(tree);
    auto size = [&](const std::string& path) { return tree.GetItemSize(items.at(path)); };
    EXPECT_EQ(size("/r/one"), 2 * uint64_t(INT64_MAX));
    EXPECT_EQ(size("/r/shared"), uint64_t(INT64_MAX));
    EXPECT_EQ(size("/r"), UINT64_MAX);
    EXPECT_EQ(tree.GetFigures().total, UINT64_MAX);
    auto expectNoFolderBelowItsParts = [&](const char* when) {
        for (const auto& [path, item] : test::ItemsByPath(tree)) {
            for (int row = 0; row < tree.GetChildCount(item); ++row) {
                EXPECT_GE(tree.GetItemSize(item), tree.GetItemSize(tree.GetChildItem(item, row)))
                    << path << " " << when;
            }
        }
        EXPECT_EQ(tree.GetFigures().total, tree.GetItemSize(tree.GetRootItem())) << when;
    };
    expectNoFolderBelowItsParts("after the scan");

    // How much of a saturated total a removal takes is unknown: it stays.
    ASSERT_TRUE(view.RemoveFolderItem(items.at("/r/two")));
    expectNoFolderBelowItsParts("after removing two");
    EXPECT_EQ(size("/r"), UINT64_MAX);
    // Below it, totals that fit stay exact.
    ASSERT_TRUE(view.RemoveFolderItem(items.at("/r/shared/q")));
    EXPECT_EQ(size("/r/shared"), uint64_t(INT64_MAX));
    ASSERT_TRUE(view.RemoveFolderItem(items.at("/r/shared/p")));
    EXPECT_EQ(size("/r/shared"), 0u);
    expectNoFolderBelowItsParts("after removing shared's folders");
}

}  // namespace
}  // namespace quarn
