#include "foldersize/FolderScanner.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "foldersize/SizeText.h"
#include "platform/FileSystems.h"
#include "settings/Settings.h"
#include "tests/foldersize/FolderTreeChecks.h"
#include "tests/support/FolderTreeText.h"
#include "tests/support/TempTree.h"

namespace quarn {
namespace {

using test::ItemsByPath;
using test::ScanSettings;
using test::ScopedEnv;
using test::TempTree;

// An independent sum: every entry that is not a folder, by its own (lstat) size.
uint64_t SumOfTree(const std::string& root, int64_t* files = nullptr) {
    uint64_t sum = 0;
    int64_t count = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        struct ::stat status;
        if (::lstat(entry.path().c_str(), &status) != 0 || S_ISDIR(status.st_mode)) {
            continue;
        }
        sum += uint64_t(status.st_size);
        ++count;
    }
    if (files != nullptr) {
        *files = count;
    }
    return sum;
}

std::vector<std::string> ChildTexts(const FolderScanner& view, NodeHandle parent) {
    std::vector<std::string> texts;
    for (int row = 0; row < view.Tree().GetChildCount(parent); ++row) {
        texts.push_back(test::ItemText(view.Tree(), view.Tree().GetChildItem(parent, row)));
    }
    return texts;
}

// root: 1 file + folders a (1 file + sub), b (2 files + sub), c (files only),
// e (folders only), .hidden; a sparse file of 5 GiB; a link to a file.
void MakeMixedTree(const TempTree& tree) {
    tree.MakeFile("top.txt", 10);
    tree.MakeFile("a/one.txt", 100);
    tree.MakeFile("a/sub/x.bin", 300);
    tree.MakeFile("b/1.txt", 1000);
    tree.MakeFile("b/2.txt", 2000);
    tree.MakeFolder("b/empty");
    tree.MakeFile("c/only.txt", 5);
    tree.MakeFile("e/inner/deep.txt", 7);
    tree.MakeFile(".hidden/secret", 11);
    tree.MakeSparseFile("c/sparse.img", uint64_t(5) << 30);
    tree.MakeSymlink("../top.txt", "c/link-to-file");
}

TEST(FolderScan, TotalsCountsTextsAndRecordsOfARealTree) {
    ScanSettings settings(/*sortBySize=*/false, /*relativeToDrive=*/false);
    TempTree tree;
    MakeMixedTree(tree);
    const std::string& root = tree.Root();
    int64_t files = 0;
    uint64_t expected = SumOfTree(root, &files);

    FolderScanner view;
    view.RunScan(test::FolderRequest(root));
    EXPECT_EQ(view.Tree().GetFigures().total, expected);
    EXPECT_GE(view.Tree().GetFigures().total, uint64_t(5) << 30);  // the sparse file counts whole
    EXPECT_EQ(view.Tree().GetFigures().files, files);
    EXPECT_EQ(view.Tree().GetFigures().folders, 8);  // a, a/sub, b, b/empty, c, e, e/inner, .hidden
    EXPECT_EQ(view.GetExceptionCount(), 0);
    EXPECT_FALSE(view.IsBusy());

    auto items = ItemsByPath(view.Tree());
    ASSERT_EQ(items.count(root), 1u);
    EXPECT_EQ(view.Tree().GetItemSize(items[root]), expected);
    EXPECT_EQ(test::ItemText(view.Tree(), items[root]), root);
    // only.txt, the sparse file, and the link by its own size (its target's length).
    EXPECT_EQ(view.Tree().GetItemSize(items[tree.Path("c")]), 5 + (uint64_t(5) << 30) + 10);
    EXPECT_EQ(view.Tree().GetItemSize(items[tree.Path(".hidden")]), 11u);
    EXPECT_EQ(view.Tree().GetItemSize(items[tree.Path("b/empty")]), 0u);

    // Files items: only where a folder has both files and subfolders.
    EXPECT_EQ(items.count(root + "|files"), 1u);
    EXPECT_EQ(view.Tree().GetItemSize(items[tree.Path("a") + "|files"]), 100u);
    EXPECT_EQ(view.Tree().GetItemSize(items[tree.Path("b") + "|files"]), 3000u);
    EXPECT_EQ(items.count(tree.Path("c") + "|files"), 0u);
    EXPECT_EQ(items.count(tree.Path("e") + "|files"), 0u);
    EXPECT_EQ(items.count(tree.Path("a/sub") + "|files"), 0u);
    EXPECT_EQ(test::ItemText(view.Tree(), items[tree.Path("a") + "|files"]), "[1 file ]");
    EXPECT_EQ(test::ItemText(view.Tree(), items[tree.Path("b") + "|files"]), "[2 files]");
    EXPECT_EQ(view.Tree().GetItemFileCount(items[tree.Path("b") + "|files"]), 2);
    EXPECT_EQ(view.Tree().GetItemKind(items[tree.Path("b") + "|files"]), NodeKind::FilesItem);
    EXPECT_EQ(view.Tree().GetItemKind(items[tree.Path("b")]), NodeKind::Folder);
    EXPECT_EQ(items.size(), 12u);  // 9 folders, 3 files items
    EXPECT_EQ(view.Tree().GetRecordCount(), items.size());

    for (const auto& [path, item] : items) {
        ASSERT_TRUE(view.Tree().GetItemSize(item).has_value()) << path;
        EXPECT_EQ(test::ItemSizeText(view.Tree(), item), FormatSize(*view.Tree().GetItemSize(item)))
            << path;
        std::string text = test::ItemText(view.Tree(), item);
        EXPECT_NE(text, ".");
        EXPECT_NE(text, "..");
        EXPECT_NE(text, "link-to-file");  // a link is a file, never an item
        // A folder with a files item holds exactly its children's bytes,
        // and (unsorted) the files item comes after every subfolder.
        int count = view.Tree().GetChildCount(item);
        uint64_t sum = 0;
        bool hasFilesItem = false;
        for (int row = 0; row < count; ++row) {
            NodeHandle child = view.Tree().GetChildItem(item, row);
            sum += view.Tree().GetItemSize(child).value_or(0);
            if (view.Tree().IsFilesItem(child)) {
                hasFilesItem = true;
                EXPECT_EQ(row, count - 1) << path;
            }
        }
        if (hasFilesItem) {
            EXPECT_EQ(sum, *view.Tree().GetItemSize(item)) << path;
        }
    }
    EXPECT_EQ(view.Tree().GetItemPercent(view.Tree().GetRootItem()), 100);
    EXPECT_EQ(view.Tree().GetItemPercent(items[tree.Path("b/empty")]), 0);
}

TEST(FolderScan, SortingBySizeKeepsFilesItemsLastExceptUnderTheRoot) {
    TempTree tree;
    tree.MakeFile("big.bin", 10000);  // the root's files item is the root's largest child
    tree.MakeFile("a/a-files.bin", 2500);
    tree.MakeFile("a/small/s.bin", 500);
    tree.MakeFile("a/mid/m.bin", 900);
    tree.MakeFile("b/b.bin", 100);
    tree.MakeFile("c/c.bin", 1500);
    {
        ScanSettings settings(/*sortBySize=*/true, /*relativeToDrive=*/false);
        FolderScanner view;
        view.RunScan(test::FolderRequest(tree.Root()));
        NodeHandle root = view.Tree().GetRootItem();
        EXPECT_EQ(ChildTexts(view, root), (std::vector<std::string>{"[1 file ]", "a", "c", "b"}));
        NodeHandle a = view.Tree().GetChildItem(root, 1);
        // The files item (2500) stays last although it is a's largest child.
        EXPECT_EQ(ChildTexts(view, a), (std::vector<std::string>{"mid", "small", "[1 file ]"}));
    }
    {
        ScanSettings settings(/*sortBySize=*/false, /*relativeToDrive=*/false);
        FolderScanner view;
        view.RunScan(test::FolderRequest(tree.Root()));
        std::vector<std::string> texts = ChildTexts(view, view.Tree().GetRootItem());
        ASSERT_EQ(texts.size(), 4u);
        EXPECT_EQ(texts.back(), "[1 file ]");  // walk order: the files item last
    }
}

TEST(FolderScan, CancelledScansCountExceptionsAndEachByteOnce) {
    ScanSettings settings(/*sortBySize=*/true, /*relativeToDrive=*/true);
    TempTree tree;
    for (int i = 0; i < 6; ++i) {
        std::string folder = "f" + std::to_string(i);
        tree.MakeFile(folder + "/x.bin", 1000 + i);
        tree.MakeFile(folder + "/y.bin", 10);
        tree.MakeFile(folder + "/deeper/z.bin", 77);
    }
    FolderScanner view;
    test::RecordingTwinFeed sink;
    sink.scannerToCancel = &view;  // the first file met cancels the walk
    view.SetTwinFeed(&sink);
    for (int scan = 0; scan < 2; ++scan) {
        sink.paths.clear();
        sink.bytes = 0;
        view.RunScan(test::CombinedRequest(tree.Root()));
        EXPECT_EQ(view.GetExceptionCount(), scan + 1);
        // Each counted byte once, not a running sum of nested totals, and
        // nothing carried over from the scan before.
        EXPECT_EQ(view.Tree().GetFigures().total, sink.bytes);
        EXPECT_EQ(view.Tree().GetFigures().files, int64_t(sink.paths.size()));
        EXPECT_FALSE(view.IsBusy());
        EXPECT_EQ(sink.rebuilds, scan + 1);  // the sink is rebuilt after a cancel too
    }
    // The folders still being walked keep no size; the root is one of them.
    EXPECT_EQ(test::ItemSizeText(view.Tree(), view.Tree().GetRootItem()), "");
    EXPECT_FALSE(view.Tree().GetItemSize(view.Tree().GetRootItem()).has_value());
    EXPECT_EQ(view.Tree().GetItemPercent(view.Tree().GetRootItem()), -1);

    // The next complete scan of a network-style path reports both cancels,
    // and its percentages are of the scan total whatever the drive setting.
    std::string networkStyle = "/" + tree.Root();
    view.RunScan(test::FolderRequest(networkStyle));
    uint64_t total = SumOfTree(tree.Root());
    EXPECT_EQ(view.GetStatus(), "Ready - " + networkStyle + " [" + FormatSize(total) +
                                    "], 18 files, 12 foders, Exceptions: 2");
    EXPECT_EQ(view.Tree().GetItemPercent(view.Tree().GetRootItem()), 100);
    EXPECT_EQ(test::ItemText(view.Tree(), view.Tree().GetRootItem()), networkStyle);
    EXPECT_EQ(view.Tree().GetRootPlace(), FolderTreeStore::RootPlace::Network);
}

TEST(FolderScan, DoubledSeparatorsAreWalkedAsSingleOnesOutsideNetworkPaths) {
    ScanSettings settings(/*sortBySize=*/false, /*relativeToDrive=*/false);
    TempTree tree;
    tree.MakeFile("x/y/z.txt", 3);
    FolderScanner view;
    view.RunScan(test::FolderRequest(tree.Root() + "//x//"));
    // The folder's one spelling: the trash and the file operations spell it so.
    EXPECT_EQ(test::ItemText(view.Tree(), view.Tree().GetRootItem()), tree.Root() + "/x");
    auto items = ItemsByPath(view.Tree());
    EXPECT_EQ(items.count(tree.Path("x/y")), 1u);
    EXPECT_EQ(view.Tree().GetFigures().total, 3u);

    // Network style: every separator is kept as given.
    view.RunScan(test::FolderRequest("/" + tree.Root() + "//x"));
    EXPECT_EQ(test::ItemText(view.Tree(), view.Tree().GetRootItem()), "/" + tree.Root() + "//x");
    EXPECT_EQ(view.Tree().GetFigures().total, 3u);
}

TEST(FolderScan, LinksAreEntriesOfTheirOwnSizeAndNeverWalked) {
    ScanSettings settings(/*sortBySize=*/true, /*relativeToDrive=*/false);
    TempTree tree;
    tree.MakeFile("a/f.txt", 50);
    tree.MakeSymlink("..", "a/up");         // a loop back to the root
    tree.MakeSymlink("/", "a/slash");       // the whole machine
    tree.MakeSymlink(tree.Root(), "self");  // the root by its absolute path
    FolderScanner view;
    test::RecordingTwinFeed sink;
    view.SetTwinFeed(&sink);
    view.RunScan(test::CombinedRequest(tree.Root()));
    EXPECT_EQ(view.Tree().GetFigures().total, SumOfTree(tree.Root()));
    EXPECT_EQ(view.Tree().GetFigures().files, 4);
    EXPECT_EQ(view.Tree().GetFigures().folders, 1);
    EXPECT_EQ(sink.paths, (std::set<std::string>{tree.Path("a/f.txt"), tree.Path("a/up"),
                                                 tree.Path("a/slash"), tree.Path("self")}));
    EXPECT_EQ(sink.rebuilds, 1);
    EXPECT_EQ(sink.filesAtRebuild, 4u);  // rebuilt once, after the walk
}

TEST(FolderScan, AnUnreadableFolderIsAnEmptyFolder) {
    ScanSettings settings(/*sortBySize=*/false, /*relativeToDrive=*/false);
    TempTree tree;
    tree.MakeFile("open/o.txt", 40);
    tree.MakeFile("locked/l.txt", 900);
    tree.MakeFile("locked/inner/i.txt", 900);
    auto scanAndCheck = [&] {
        FolderScanner view;
        view.RunScan(test::FolderRequest(tree.Root()));
        auto items = ItemsByPath(view.Tree());
        bool ok = view.Tree().GetFigures().total == 40 && items.count(tree.Path("locked")) == 1 &&
                  view.Tree().GetItemSize(items[tree.Path("locked")]) == 0u &&
                  test::ItemSizeText(view.Tree(), items[tree.Path("locked")]) == "0.000 KB" &&
                  items.count(tree.Path("locked/inner")) == 0 && view.GetExceptionCount() == 0;
        return ok;
    };
    ASSERT_EQ(::chmod(tree.Path("locked").c_str(), 0), 0);
    if (!test::RunningAsRoot()) {
        EXPECT_TRUE(scanAndCheck());
        return;
    }
    // Root reads everything: scan as an unprivileged user in a child process.
    ::chmod(tree.Root().c_str(), 0755);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0 ||
            ::access(tree.Root().c_str(), R_OK | X_OK) != 0) {
            ::_exit(2);
        }
        ::_exit(scanAndCheck() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 2) {
        GTEST_SKIP() << "the temporary folder is not reachable for an unprivileged user";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(FolderScan, AHundredThousandLevelsDeepTreeIsWalkedCompletely) {
    ScanSettings settings(/*sortBySize=*/true, /*relativeToDrive=*/false);
    // 100,000 nested folders are slow to make and remove on a disk; a
    // memory filesystem, when there is one, takes a second.
    struct ::stat shm;
    bool haveShm = ::stat("/dev/shm", &shm) == 0 && S_ISDIR(shm.st_mode) &&
                   ::access("/dev/shm", W_OK | X_OK) == 0;
    std::optional<ScopedEnv> inMemory;
    if (haveShm) {
        inMemory.emplace("QUARN_TEST_TMP", "/dev/shm");
    }
    TempTree tree;
    constexpr int kDepth = 100000;
    // Made relative to each parent: the full path is far beyond PATH_MAX.
    int handle = ::open(tree.Root().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(handle, 0);
    for (int level = 0; level < kDepth; ++level) {
        ASSERT_EQ(::mkdirat(handle, "d", 0755), 0);
        int next = ::openat(handle, "d", O_RDONLY | O_DIRECTORY);
        ::close(handle);
        ASSERT_GE(next, 0);
        handle = next;
    }
    int file = ::openat(handle, "bottom.txt", O_WRONLY | O_CREAT, 0644);
    ASSERT_EQ(::write(file, "1234567", 7), 7);
    ::close(file);
    ::close(handle);

    auto view = std::make_unique<FolderScanner>();
    view->StartScan(test::FolderRequest(tree.Root()));
    view->Wait();
    EXPECT_EQ(view->Tree().GetFigures().total, 7u);
    EXPECT_EQ(view->Tree().GetFigures().folders, kDepth);
    EXPECT_EQ(view->Tree().GetFigures().files, 1);
    EXPECT_EQ(view->Tree().GetRecordCount(), size_t(kDepth) + 1);
    NodeHandle bottom = view->Tree().GetRootItem();
    for (int level = 0; level < kDepth; ++level) {
        ASSERT_EQ(view->Tree().GetChildCount(bottom), 1);
        bottom = view->Tree().GetChildItem(bottom, 0);
    }
    EXPECT_EQ(test::ItemSizeText(view->Tree(), bottom), "0.007 KB");
    EXPECT_EQ(view->Tree().GetItemPercent(bottom), 100);
    std::optional<std::string> path = view->Tree().GetItemPath(bottom);
    ASSERT_TRUE(path.has_value());
    EXPECT_EQ(path->size(), tree.Root().size() + 2 * size_t(kDepth));
    view.reset();  // frees the whole chain without recursion
}

TEST(FolderScan, DestroyingTheViewDuringAWalkStopsAndJoinsItFirst) {
    ScanSettings settings(/*sortBySize=*/true, /*relativeToDrive=*/false);
    TempTree tree;
    for (int i = 0; i < 40; ++i) {
        tree.MakeFile("f" + std::to_string(i) + "/x.txt", 1);
    }
    test::RecordingTwinFeed sink;
    sink.holdFirstFile = true;
    auto view = std::make_unique<FolderScanner>();
    view->SetTwinFeed(&sink);
    view->StartScan(test::CombinedRequest(tree.Root()));
    sink.WaitUntilHeld();
    // Released only once the destructor has begun: it cancels first, then
    // waits for the walk. The walk is held, so the scanner outlives this wait.
    FolderScanner* const scanner = view.get();
    std::thread release([&sink, scanner] {
        while (scanner->IsBusy()) {
            std::this_thread::yield();
        }
        sink.Release();
    });
    view.reset();  // must wait for the walk, which the sink holds
    // The worker finished (its rebuild ran) before the view was gone.
    EXPECT_EQ(sink.rebuilds, 1);
    EXPECT_LT(sink.paths.size(), 40u);
    release.join();
}

TEST(FolderScan, ReadersDuringAWalkSeeTrueParentsAndOnlyFinalSizes) {
    // The store is read while the worker fills it: every size a reader sees
    // is the folder's final total (sizes are set once, when a folder is
    // complete), and every item's path is its parent's path and its name.
    ScanSettings settings(/*sortBySize=*/true, /*relativeToDrive=*/false);
    TempTree tree;
    for (int i = 0; i < 30; ++i) {
        std::string folder = "f" + std::to_string(i);
        for (int j = 0; j < 4; ++j) {
            tree.MakeFile(folder + "/g" + std::to_string(j) + "/x.bin", uint64_t(i * 10 + j));
        }
        tree.MakeFile(folder + "/loose.bin", 3);
    }
    FolderScanner view;
    std::map<std::string, uint64_t> seen;  // path (files items: "|files") -> size
    int badPaths = 0;
    view.StartScan(test::FolderRequest(tree.Root()));
    std::thread reader([&] {
        bool last = false;
        while (!last) {
            last = !view.IsScanRunning();
            std::vector<NodeHandle> pending{view.Tree().GetRootItem()};
            while (!pending.empty()) {
                NodeHandle item = pending.back();
                pending.pop_back();
                std::optional<std::string> path = view.Tree().GetItemPath(item);
                if (!path) {
                    continue;  // not (or no longer) an item of this scan
                }
                std::string key = *path + (view.Tree().IsFilesItem(item) ? "|files" : "");
                if (std::optional<uint64_t> size = view.Tree().GetItemSize(item)) {
                    seen[key] = *size;
                }
                for (int row = 0; row < view.Tree().GetChildCount(item); ++row) {
                    NodeHandle child = view.Tree().GetChildItem(item, row);
                    std::optional<std::string> childPath = view.Tree().GetItemPath(child);
                    if (childPath && !view.Tree().IsFilesItem(child) &&
                        *childPath != *path + "/" + test::ItemText(view.Tree(), child)) {
                        ++badPaths;
                    }
                    pending.push_back(child);
                }
            }
        }
    });
    view.Wait();
    reader.join();
    EXPECT_EQ(badPaths, 0);
    auto items = ItemsByPath(view.Tree());
    EXPECT_EQ(items.size(), 1u + 30 * 6);  // root, 30 folders, 120 subfolders, 30 files items
    ASSERT_FALSE(seen.empty());
    for (const auto& [path, size] : seen) {
        ASSERT_EQ(items.count(path), 1u) << path;
        EXPECT_EQ(view.Tree().GetItemSize(items[path]), size) << path;
    }
    EXPECT_EQ(seen.size(), items.size());  // the last pass ran after the scan
}

TEST(FolderScan, ScanStartsCancelsAndRefusesAsTheFrameExpects) {
    ScanSettings settings(/*sortBySize=*/true, /*relativeToDrive=*/false);
    TempTree tree;
    for (int i = 0; i < 5; ++i) {
        tree.MakeFile("f" + std::to_string(i) + "/x.txt", 100);
    }
    std::mutex messagesMutex;
    std::vector<std::string> messages;
    FolderScanner view([&](const std::string& text) {
        std::lock_guard lock(messagesMutex);
        messages.push_back(text);
    });

    // A press right after the start cancels reliably: the flag is already
    // set. The new worker first waits for a cancelled one that is held, so
    // that a quick walk cannot end before the press.
    test::RecordingTwinFeed first;
    first.holdFirstFile = true;
    view.SetTwinFeed(&first);
    view.StartScan(test::CombinedRequest(tree.Root()));
    first.WaitUntilHeld();
    view.Cancel();
    view.StartScan(test::FolderRequest(tree.Root()));
    EXPECT_TRUE(view.IsBusy());
    view.Cancel();
    first.Release();
    view.Wait();
    EXPECT_EQ(view.GetExceptionCount(), 2);
    EXPECT_EQ(view.Tree().GetRecordCount(), 0u);  // the second walk stopped at its root

    // A start while a walk runs is refused with the message; the walk goes on.
    test::RecordingTwinFeed held;
    held.holdFirstFile = true;
    view.SetTwinFeed(&held);
    view.StartScan(test::CombinedRequest(tree.Root()));
    held.WaitUntilHeld();
    view.StartScan(test::FolderRequest(tree.Root()));
    view.RunScan(test::FolderRequest(tree.Root()));
    held.Release();
    view.Wait();
    {
        std::lock_guard lock(messagesMutex);
        EXPECT_EQ(messages, (std::vector<std::string>{"App is busy..", "App is busy.."}));
    }
    EXPECT_EQ(view.GetExceptionCount(), 2);
    EXPECT_EQ(view.Tree().GetFigures().total, 500u);

    // Cancel, then start again at once while the cancelled worker is still
    // held: the late end of the old worker must not cancel the new scan.
    test::RecordingTwinFeed slow;
    slow.holdFirstFile = true;
    view.SetTwinFeed(&slow);
    view.StartScan(test::CombinedRequest(tree.Root()));
    slow.WaitUntilHeld();
    view.Cancel();
    view.StartScan(test::FolderRequest(tree.Root()));
    slow.Release();
    view.Wait();
    EXPECT_EQ(view.GetExceptionCount(), 3);
    EXPECT_EQ(view.Tree().GetFigures().total, 500u);
    EXPECT_EQ(view.Tree().GetRecordCount(), 6u);
    EXPECT_FALSE(view.IsBusy());
    EXPECT_FALSE(view.IsScanRunning());
}

TEST(FolderScan, StatusNamesTheMountPointAndAMountPointScanRenamesTheRoot) {
    ScanSettings settings(/*sortBySize=*/true, /*relativeToDrive=*/true);
    TempTree tree;
    tree.MakeFile("sub/f.txt", 10);
    {
        FolderScanner view;
        uint64_t statusChanges = view.Progress().serial;
        view.RunScan(test::FolderRequest(tree.Path("sub")));
        std::optional<std::string> mountPoint = MountPointOf(tree.Root());
        ASSERT_TRUE(mountPoint.has_value());
        EXPECT_EQ(view.GetStatus().rfind(*mountPoint + " [free ", 0), 0u) << view.GetStatus();
        EXPECT_EQ(test::ItemText(view.Tree(), view.Tree().GetRootItem()), tree.Path("sub"));
        EXPECT_EQ(view.Tree().GetItemKind(view.Tree().GetRootItem()), NodeKind::Folder);
        EXPECT_GT(view.Progress().serial, statusChanges);
    }
    {
        // An empty folder: no bars unless the drive is the denominator.
        TempTree empty;
        ScanSettings scanTotal(/*sortBySize=*/true, /*relativeToDrive=*/false);
        FolderScanner view;
        view.RunScan(test::FolderRequest(empty.Root()));
        EXPECT_EQ(test::ItemSizeText(view.Tree(), view.Tree().GetRootItem()), "0.000 KB");
        EXPECT_EQ(view.Tree().GetItemPercent(view.Tree().GetRootItem()), -1);
    }
    if (!test::RunningAsRoot() ||
        ::mount("quarn-test", tree.Path("sub").c_str(), "tmpfs", 0, "size=1m") != 0) {
        GTEST_SKIP() << "cannot mount a small filesystem here";
    }
    std::string mounted = tree.Path("sub");
    tree.MakeFile("sub/inside.txt", 20);
    FolderScanner view;
    view.RunScan(test::FolderRequest(mounted));
    std::string status = view.GetStatus();
    EXPECT_EQ(status.rfind(mounted + " [free ", 0), 0u) << status;
    EXPECT_EQ(test::ItemText(view.Tree(), view.Tree().GetRootItem()), status);
    EXPECT_EQ(view.Tree().GetRootPlace(), FolderTreeStore::RootPlace::MountPoint);
    EXPECT_EQ(view.Tree().GetItemPath(view.Tree().GetRootItem()),
              mounted);  // the rename leaves the path
    ::umount2(mounted.c_str(), MNT_DETACH);
}

}  // namespace
}  // namespace quarn
