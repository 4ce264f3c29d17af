// After the user deletes or moves a folder or a files item's files, and after
// a refresh of one folder, the tree must show what a fresh scan of the same
// folder shows: every size, files item, percentage, order, total and count.
// The trees hold hard links across folders, where a plain subtraction of
// the removed total would be wrong.

#include <sys/mount.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "foldersize/FolderScanner.h"
#include "foldersize/SizeText.h"
#include "settings/Settings.h"
#include "tests/foldersize/FolderTreeChecks.h"
#include "tests/support/TempTree.h"

namespace quarn {
namespace {

namespace fs = std::filesystem;
using test::ExpectSameAsFreshScan;
using test::ItemsByPath;
using test::MakeHardLink;
using test::ScanSettings;
using test::TempTree;

// Folders that share inodes with each other and with the root's own files.
void MakeSharingTree(const TempTree& tree) {
    tree.MakeFile("music/album/one.flac", 30000);
    tree.MakeFile("music/album/two.flac", 20000);
    tree.MakeFile("music/cover.jpg", 900);
    tree.MakeFolder("music/best");
    MakeHardLink(tree, "music/album/one.flac", "music/best/one.flac");
    tree.MakeFolder("backup/music");
    MakeHardLink(tree, "music/album/two.flac", "backup/music/two.flac");
    tree.MakeFile("backup/list.txt", 4000);
    tree.MakeFile("docs/a.txt", 1500);
    tree.MakeFile("docs/b.txt", 2500);
    tree.MakeFile("docs/old/c.txt", 700);
    tree.MakeSparseFile("image.raw", uint64_t(1) << 30);
    MakeHardLink(tree, "image.raw", "docs/image.raw");
    tree.MakeFile("readme.txt", 123);
}

NodeHandle FilesItemOf(const FolderScanner& view, const std::string& folder) {
    return ItemsByPath(view.Tree())[folder + "|files"];
}

TEST(TreeActions, DeletesAndMovesKeepEveryAncestorTrue) {
    ScanSettings settings(/*sortBySize=*/true, /*relativeToDrive=*/false);
    TempTree tree;
    MakeSharingTree(tree);
    FolderScanner view;
    view.RunScan(test::FolderRequest(tree.Root()));

    // A folder whose file has another name elsewhere: the ancestors that
    // hold that name keep its bytes.
    fs::remove_all(tree.Path("music/best"));
    ASSERT_TRUE(view.RemoveFolderItem(ItemsByPath(view.Tree())[tree.Path("music/best")]));
    ExpectSameAsFreshScan(view);

    // Moved out of the tree: music keeps only its own file, so its files
    // item goes, as a scan would not make one.
    TempTree elsewhere;
    fs::rename(tree.Path("music/album"), elsewhere.Path("album"));
    ASSERT_TRUE(view.RemoveFolderItem(ItemsByPath(view.Tree())[tree.Path("music/album")]));
    EXPECT_EQ(ItemsByPath(view.Tree()).count(tree.Path("music") + "|files"), 0u);
    ExpectSameAsFreshScan(view);

    // The last name of an inode goes: now every ancestor loses it.
    fs::remove_all(tree.Path("backup/music"));
    ASSERT_TRUE(view.RemoveFolderItem(ItemsByPath(view.Tree())[tree.Path("backup/music")]));
    ExpectSameAsFreshScan(view);

    // Items that are not folders of this scan are refused.
    EXPECT_FALSE(view.RemoveFolderItem(FilesItemOf(view, tree.Root())));
    EXPECT_FALSE(view.RemoveFolderItem(kNoNode));
}

TEST(TreeActions, RemovingAFilesItemsFilesKeepsItsSubfolders) {
    ScanSettings settings(/*sortBySize=*/true, /*relativeToDrive=*/false);
    TempTree tree;
    MakeSharingTree(tree);
    FolderScanner view;
    view.RunScan(test::FolderRequest(tree.Root()));
    const NodeHandle old = ItemsByPath(view.Tree())[tree.Path("docs/old")];
    const uint64_t oldSize = *view.Tree().GetItemSize(old);

    // docs' loose files, one of them another name of the root's image.
    for (const char* name : {"docs/a.txt", "docs/b.txt", "docs/image.raw"}) {
        fs::remove(tree.Path(name));
    }
    ASSERT_TRUE(view.RemoveLooseFiles(FilesItemOf(view, tree.Path("docs"))));
    EXPECT_EQ(ItemsByPath(view.Tree())[tree.Path("docs/old")],
              old);  // the subfolder stays as it was
    EXPECT_EQ(view.Tree().GetItemSize(old), oldSize);
    ExpectSameAsFreshScan(view);

    // The root's own files: the image's last name goes with them.
    const uint64_t before = view.Tree().GetFigures().total;
    fs::remove(tree.Path("image.raw"));
    fs::remove(tree.Path("readme.txt"));
    ASSERT_TRUE(view.RemoveLooseFiles(FilesItemOf(view, tree.Root())));
    EXPECT_EQ(view.Tree().GetFigures().total, before - (uint64_t(1) << 30) - 123);
    ExpectSameAsFreshScan(view);
    EXPECT_FALSE(
        view.RemoveLooseFiles(ItemsByPath(view.Tree())[tree.Path("docs")]));  // not a files item
}

TEST(TreeActions, ChangesOfANetworkStyleScanKeepItsStatusCountsTrue) {
    ScanSettings settings(/*sortBySize=*/true, /*relativeToDrive=*/true);
    TempTree tree;
    MakeSharingTree(tree);
    FolderScanner view;
    view.RunScan(test::FolderRequest(
        "/" + tree.Root()));  // "Ready - ... files, ... foders": counts in the status
    const std::string network = "/" + tree.Root();
    fs::remove_all(tree.Path("backup"));
    ASSERT_TRUE(view.RemoveFolderItem(ItemsByPath(view.Tree())[network + "/backup"]));
    ExpectSameAsFreshScan(view);
    EXPECT_EQ(view.GetStatus().rfind("Ready - " + network + " [", 0), 0u) << view.GetStatus();

    // Deleting the scanned folder itself leaves an empty tree.
    ASSERT_TRUE(view.RemoveFolderItem(view.Tree().GetRootItem()));
    EXPECT_EQ(view.Tree().GetRootItem(), kNoNode);
    EXPECT_EQ(view.Tree().GetFigures().total, 0u);
    EXPECT_EQ(view.Tree().GetFigures().files, 0);
    EXPECT_EQ(view.Tree().GetFigures().folders, 0);
    EXPECT_EQ(view.GetStatus(),
              "Ready - " + network + " [0.000 KB], 0 files, 0 foders, Exceptions: 0");
}

TEST(TreeActions, RefreshAfterChangesOutsideTheProgramEqualsAFreshScan) {
    ScanSettings settings(/*sortBySize=*/true, /*relativeToDrive=*/false);
    TempTree tree;
    MakeSharingTree(tree);
    FolderScanner view;
    view.RunScan(test::FolderRequest(tree.Root()));

    tree.MakeFile("docs/old/new.txt", 64000);
    tree.MakeFile("docs/fresh/big.bin", 250000);
    tree.MakeFile("docs/fresh/deeper/small.bin", 10);
    MakeHardLink(tree, "music/album/two.flac", "docs/fresh/two.flac");  // shared with music, backup
    MakeHardLink(tree, "docs/a.txt", "docs/fresh/a.txt");               // shared within docs
    MakeHardLink(tree, "docs/fresh/big.bin", "docs/old/big.bin");       // new, within docs
    fs::remove(tree.Path("docs/b.txt"));
    ASSERT_TRUE(view.StartRefresh(ItemsByPath(view.Tree())[tree.Path("docs")]));
    view.Wait();
    EXPECT_FALSE(view.IsBusy());
    ExpectSameAsFreshScan(view);

    // A files item refreshes its folder; a folder gone since is taken out.
    tree.MakeFile("music/album/three.flac", 5000);
    ASSERT_TRUE(view.StartRefresh(FilesItemOf(view, tree.Path("music"))));
    view.Wait();
    ExpectSameAsFreshScan(view);
    fs::remove_all(tree.Path("backup"));
    ASSERT_TRUE(view.StartRefresh(ItemsByPath(view.Tree())[tree.Path("backup")]));
    view.Wait();
    EXPECT_EQ(ItemsByPath(view.Tree()).count(tree.Path("backup")), 0u);
    ExpectSameAsFreshScan(view);
    EXPECT_EQ(view.GetExceptionCount(), 0);

    // The root's refresh is a new scan, not a refresh in place.
    EXPECT_FALSE(view.StartRefresh(view.Tree().GetRootItem()));
}

// A refresh walks with the scope the scan had: what Exclude left out (by
// name anywhere, and by a pattern rooted at the scanned folder) and what lies
// on another file system with OneFileSystem stay out of the refreshed folder.
TEST(TreeActions, ARefreshKeepsTheScansScope) {
    ScanSettings settings(/*sortBySize=*/true, /*relativeToDrive=*/false);
    ASSERT_TRUE(WriteSettingText(kExclude, "node_modules; /app/cache/"));
    ASSERT_TRUE(WriteSetting(kOneFileSystem, true));
    TempTree tree;
    tree.MakeFile("app/main.js", 1000);
    tree.MakeFile("app/node_modules/lib/index.js", 1048576);
    tree.MakeFile("app/cache/blob", 300000);
    tree.MakeFolder("app/mounted");
    // A file system of its own inside the tree, where mounting is allowed.
    const std::string mountPoint = tree.Path("app/mounted");
    const bool mounted = ::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=2m") == 0;
    // Unmounted however the test ends, before the tree is removed.
    const std::unique_ptr<const std::string, void (*)(const std::string*)> unmount(
        mounted ? &mountPoint : nullptr,
        [](const std::string* point) { ::umount(point->c_str()); });
    if (mounted) {
        tree.MakeFile("app/mounted/other.bin", 500000);
    }
    FolderScanner view;
    view.RunScan(test::FolderRequest(tree.Root()));
    const uint64_t scanned = view.Tree().GetFigures().total;
    EXPECT_EQ(scanned, 1000u);

    tree.MakeFile("app/more.js", 24);
    ASSERT_TRUE(view.StartRefresh(ItemsByPath(view.Tree())[tree.Path("app")]));
    view.Wait();
    EXPECT_EQ(view.Tree().GetFigures().total, 1024u);
    EXPECT_EQ(ItemsByPath(view.Tree()).count(tree.Path("app/node_modules")), 0u);
    EXPECT_EQ(ItemsByPath(view.Tree()).count(tree.Path("app/cache")), 0u);
    ExpectSameAsFreshScan(view);
}

TEST(TreeActions, NothingChangesTheTreeWhileAWalkRuns) {
    ScanSettings settings(/*sortBySize=*/true, /*relativeToDrive=*/false);
    TempTree tree;
    MakeSharingTree(tree);
    FolderScanner view;
    view.RunScan(test::FolderRequest(tree.Root()));
    const NodeHandle docs = ItemsByPath(view.Tree())[tree.Path("docs")];
    const NodeHandle files = FilesItemOf(view, tree.Path("docs"));

    // A scan held in the middle of docs: the folder's node is live, and
    // nothing may take it out or walk it again until the scan has ended.
    std::vector<std::string> messages;
    FolderScanner busy([&](const std::string& text) { messages.push_back(text); });
    test::RecordingTwinFeed held;
    held.holdAt = tree.Path("docs/");
    busy.SetTwinFeed(&held);
    busy.StartScan(test::CombinedRequest(tree.Root()));
    held.WaitUntilHeld();
    const NodeHandle walkedDocs = busy.Tree().FindFolderItem(tree.Path("docs"));
    ASSERT_EQ(busy.Tree().GetItemPath(walkedDocs), tree.Path("docs"));
    EXPECT_TRUE(busy.IsBusy());
    EXPECT_FALSE(busy.StartRefresh(walkedDocs));
    EXPECT_FALSE(busy.RemoveFolderItem(walkedDocs));
    EXPECT_TRUE(busy.Tree().IsLiveItem(walkedDocs));
    EXPECT_EQ(messages, std::vector<std::string>{"App is busy.."});
    held.Release();
    busy.Wait();
    ExpectSameAsFreshScan(busy);
    // Once it has ended, the same changes are taken.
    EXPECT_TRUE(view.RemoveLooseFiles(files));
    EXPECT_TRUE(view.RemoveFolderItem(docs));
}

TEST(TreeActions, FoldersArePlacedByTheirPathsInsideTheScannedTree) {
    ScanSettings settings(/*sortBySize=*/true, /*relativeToDrive=*/false);
    TempTree tree;
    MakeSharingTree(tree);
    FolderScanner view;
    view.RunScan(test::FolderRequest(tree.Root() + "/"));
    auto items = ItemsByPath(view.Tree());
    EXPECT_EQ(view.Tree().FindFolderItem(tree.Root()), view.Tree().GetRootItem());
    EXPECT_EQ(view.Tree().FindFolderItem(tree.Path("music/album")),
              items[tree.Path("music/album")]);
    EXPECT_EQ(view.Tree().FindFolderItem(tree.Path("music//album/")),
              items[tree.Path("music/album")]);
    // Made after the scan: the deepest folder the tree knows.
    EXPECT_EQ(view.Tree().FindFolderItem(tree.Path("music/album/new/deeper")),
              items[tree.Path("music/album")]);
    EXPECT_EQ(view.Tree().FindFolderItem(tree.Root() + "-other"), kNoNode);
    EXPECT_EQ(view.Tree().FindFolderItem("/"), kNoNode);
}

}  // namespace
}  // namespace quarn
