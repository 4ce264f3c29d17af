#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <set>
#include <string>

#include "foldersize/FolderScanner.h"
#include "tests/foldersize/FolderTreeChecks.h"
#include "tests/support/TempTree.h"

namespace quarn {
namespace {

using test::ScopedEnv;
using test::TempTree;
using Kind = TreemapTree::Kind;

// Every folder's bytes are its children's.
void ExpectFoldersHoldTheirChildrensBytes(const TreemapTree& map) {
    for (uint32_t i = 0; i < map.Size(); ++i) {
        const TreemapTree::Node& node = map.At(i);
        if (node.kind == Kind::Folder && node.childCount > 0) {
            uint64_t sum = 0;
            for (uint32_t c = 0; c < node.childCount; ++c) {
                sum += map.At(node.firstChild + c).bytes;
            }
            EXPECT_EQ(sum, node.bytes) << map.Name(i);
        }
    }
}

// The copy a treemap takes of a scanned tree: folders with their totals and
// handles, and the largest files placed under the item that holds their
// folder's own files, with the rest of that folder's bytes and a colour by
// type.
TEST(TreemapSnapshotTest, FoldersAndTheirLargestFilesWithTheirColours) {
    TempTree settings;
    ScopedEnv ini("QUARN_INI", settings.Path("quarn.ini"));
    TempTree tree;
    tree.MakeFile("a/big.iso", 50000);
    tree.MakeFile("a/small.txt", 100);
    tree.MakeFile("a/sub/x.txt", 3000);
    tree.MakeFile("b/c.jpg", 2000);
    tree.MakeFile("top.txt", 10);
    tree.MakeFolder("empty");

    FolderScanner view;
    EXPECT_EQ(view.Tree().TreemapSnapshot().Size(), 0u);
    ScanRequest request = test::FolderRequest(tree.Root());
    request.largestFiles = 3;
    view.RunScan(request);
    const TreemapTree map = view.Tree().TreemapSnapshot();
    ASSERT_GT(map.Size(), 0u);
    EXPECT_EQ(map.At(0).bytes, view.Tree().GetFigures().total);
    EXPECT_EQ(map.paletteTypes, (std::vector<std::string>{"iso", "txt", "jpg"}));

    std::map<std::string, uint32_t> byPath;  // folders and files items by path
    for (uint32_t i = 0; i < map.Size(); ++i) {
        const TreemapTree::Node& node = map.At(i);
        // Children lie side by side after their parent.
        for (uint32_t c = 0; c < node.childCount; ++c) {
            EXPECT_EQ(map.At(node.firstChild + c).parent, i);
            EXPECT_GT(node.firstChild, i);
        }
        if (node.kind == Kind::File) {
            byPath[std::string(map.Name(i))] = i;
        } else if (node.kind == Kind::Folder) {
            std::optional<std::string> path = view.Tree().GetItemPath(node.item);
            ASSERT_TRUE(path);
            byPath[*path] = i;
        }
    }
    ASSERT_TRUE(byPath.count(tree.Path("a/big.iso")));
    const TreemapTree::Node& big = map.At(byPath[tree.Path("a/big.iso")]);
    EXPECT_EQ(big.bytes, 50000u);
    EXPECT_EQ(big.colour, 0);
    // Folder a has a subfolder, so its own files sit in its files item,
    // beside the rest of its bytes (small.txt, not among the largest).
    const TreemapTree::Node& holder = map.At(big.parent);
    EXPECT_EQ(holder.kind, Kind::FilesItem);
    EXPECT_EQ(map.At(holder.parent).item, view.Tree().FindFolderItem(tree.Path("a")));
    ASSERT_EQ(holder.childCount, 2u);
    EXPECT_EQ(map.At(holder.firstChild + 1).kind, Kind::Rest);
    EXPECT_EQ(map.At(holder.firstChild + 1).bytes, 100u);

    // A folder without subfolders holds its files itself; all of them are
    // known, so no rest.
    const TreemapTree::Node& x = map.At(byPath[tree.Path("a/sub/x.txt")]);
    EXPECT_EQ(x.colour, 1);
    EXPECT_EQ(map.At(x.parent).item, view.Tree().FindFolderItem(tree.Path("a/sub")));
    EXPECT_EQ(map.At(x.parent).childCount, 1u);
    EXPECT_EQ(map.At(byPath[tree.Path("b/c.jpg")]).colour, 2);

    ASSERT_TRUE(byPath.count(tree.Path("empty")));
    EXPECT_EQ(map.At(byPath[tree.Path("empty")]).bytes, 0u);
    ExpectFoldersHoldTheirChildrensBytes(map);
}

// The snapshot reads the store in slices, letting go of its lock between
// them. Taken again and again while a scan fills the tree, each must still
// be whole (children side by side after their parent, no item twice); the
// one after the scan has every folder, with the sums of a finished tree.
TEST(TreemapSnapshotTest, SnapshotsTakenInSlicesDuringAScanAreWholeAndTheLastHasEveryFolder) {
    TempTree settings;
    ScopedEnv ini("QUARN_INI", settings.Path("quarn.ini"));
    TempTree tree;
    constexpr int kWide = 24;  // 24 * 24 * 24 leaf folders: many slices
    for (int a = 0; a < kWide; ++a) {
        for (int b = 0; b < kWide; ++b) {
            for (int c = 0; c < kWide; ++c) {
                tree.MakeFile("a" + std::to_string(a) + "/b" + std::to_string(b) + "/c" +
                                  std::to_string(c) + "/f",
                              uint64_t(1 + c));
            }
        }
    }
    constexpr size_t kFolders = 1 + kWide + kWide * kWide + kWide * kWide * kWide;

    auto checkWhole = [](const TreemapTree& map) {
        std::set<uint64_t> items;
        size_t folders = 0;
        for (uint32_t i = 0; i < map.Size(); ++i) {
            const TreemapTree::Node& node = map.At(i);
            for (uint32_t c = 0; c < node.childCount; ++c) {
                EXPECT_EQ(map.At(node.firstChild + c).parent, i);
            }
            if (node.childCount > 0) {
                EXPECT_GT(node.firstChild, i);
            }
            if (node.kind == Kind::Folder) {
                ++folders;
                EXPECT_TRUE(items.insert(node.item).second) << "an item twice: " << map.Name(i);
            }
        }
        return folders;
    };

    FolderScanner view;
    ASSERT_TRUE(view.StartScan(test::FolderRequest(tree.Root())));
    int taken = 0;
    while (view.IsScanRunning()) {
        checkWhole(view.Tree().TreemapSnapshot());
        ++taken;
    }
    ASSERT_TRUE(view.WaitFor(std::chrono::seconds(60)));
    const TreemapTree last = view.Tree().TreemapSnapshot();
    EXPECT_EQ(checkWhole(last), kFolders);
    EXPECT_EQ(last.At(0).bytes, view.Tree().GetFigures().total);
    ExpectFoldersHoldTheirChildrensBytes(last);
    RecordProperty("snapshots_during_scan", taken);
}

}  // namespace
}  // namespace quarn
