// Folders the scan cannot read count as empty, carry their reason, and are
// counted; the counts and marks follow the tree through its actions.

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "foldersize/FolderScanner.h"
#include "tests/foldersize/FolderTreeChecks.h"
#include "tests/support/FolderTreeText.h"
#include "tests/support/TempTree.h"
#include "tests/support/Unprivileged.h"

namespace quarn {
namespace {

using test::ItemsByPath;
using test::TempTree;

// The child process that checks as nobody cannot use gtest's assertions;
// it collects what went wrong instead.
struct Problems {
    std::string text;
    template <typename A, typename B>
    void Equal(const A& actual, const B& expected, const std::string& what) {
        if (!(actual == expected)) {
            text += what + ": " + ::testing::PrintToString(actual) + ", expected " +
                    ::testing::PrintToString(expected) + "\n";
        }
    }
};

// The reason a folder's item gives when the pointer rests on it.
std::string ToolTip(const FolderSizeTree& view, NodeHandle item) {
    const std::optional<FolderReadProblems::Problem> problem = view.GetReadProblem(item);
    return problem ? FolderReadProblems::Describe(*problem) : std::string();
}

// Hands the tree to nobody, so that the check that runs as nobody can open
// up a folder again; a no-op when the tests do not run as root.
void GiveTreeToNobody(const TempTree& tree) {
    if (!test::RunningAsRoot()) {
        return;
    }
    ::chmod(tree.Root().c_str(), 0755);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(tree.Root())) {
        ::lchown(entry.path().c_str(), 65534, 65534);
    }
    ::lchown(tree.Root().c_str(), 65534, 65534);
}

TEST(UnreadableFolders, CountAsEmptyAreMarkedWithTheirReasonAndFollowTheTree) {
    test::ScanSettings settings(true, false);
    TempTree tree;
    tree.MakeFile("r/open/visible", 7);
    tree.MakeFile("r/closed/secret", 5);
    tree.MakeFile("r/gone/deep/lost", 3);
    tree.MakeFile("r/unsearchable/hidden", 9);
    tree.MakeFolder("r/unsearchable/inner");
    GiveTreeToNobody(tree);
    const std::string r = tree.Path("r");
    const std::string denied = std::strerror(EACCES);

    std::optional<std::string> outcome = test::RunUnprivileged([&]() -> std::string {
        ::chmod(tree.Path("r/closed").c_str(), 0);
        ::chmod(tree.Path("r/gone").c_str(), 0);
        ::chmod(tree.Path("r/unsearchable").c_str(), 0444);  // names, no stats
        Problems problems;
        FolderScanner view;
        view.RunScan(test::FolderRequest(r));
        auto items = ItemsByPath(view.Tree());
        problems.Equal(view.GetExceptionCount(), 0, "exceptions");
        problems.Equal(view.Tree().GetFigures().total, uint64_t(7), "total");
        // closed, gone and unsearchable/inner; unsearchable/hidden was listed
        // but could not be stat'ed.
        problems.Equal(view.Tree().GetFigures().unreadableFolders, 3, "unreadable folders");
        problems.Equal(view.Tree().GetFigures().skippedEntries, 1, "skipped entries");

        const NodeHandle closed = items[r + "/closed"];
        problems.Equal(view.Tree().GetItemSize(closed), std::optional<uint64_t>(0), "closed size");
        problems.Equal(view.Tree().GetItemKind(closed), NodeKind::Unreadable, "closed kind");
        problems.Equal(ToolTip(view.Tree(), closed), denied, "closed tool tip");
        problems.Equal(view.Tree().GetItemKind(items[r + "/unsearchable/inner"]),
                       NodeKind::Unreadable, "inner image");
        // A folder that was listed keeps its image; its tool tip tells of
        // the entry it could not count.
        const NodeHandle unsearchable = items[r + "/unsearchable"];
        problems.Equal(view.Tree().GetItemKind(unsearchable), NodeKind::Folder,
                       "unsearchable kind");
        problems.Equal(ToolTip(view.Tree(), unsearchable), "1 entry could not be read: " + denied,
                       "unsearchable tool tip");
        problems.Equal(view.Tree().GetItemKind(items[r + "/open"]), NodeKind::Folder, "open kind");
        problems.Equal(ToolTip(view.Tree(), items[r + "/open"]), std::string(), "open tool tip");
        problems.Equal(view.Tree().GetReadProblem(items[r + "/open"]).has_value(), false, "open");

        // The folder leaves the tree (a Delete): so does its count.
        problems.Equal(view.RemoveFolderItem(items[r + "/gone"]), true, "remove gone");
        problems.Equal(view.Tree().GetFigures().unreadableFolders, 2,
                       "unreadable after the delete");

        // Opened up and refreshed: read whole, unmarked, and the new items
        // do not inherit the old marks.
        ::chmod(tree.Path("r/unsearchable").c_str(), 0755);
        problems.Equal(view.StartRefresh(unsearchable), true, "refresh started");
        view.Wait();
        items = ItemsByPath(view.Tree());
        problems.Equal(view.Tree().GetFigures().unreadableFolders, 1,
                       "unreadable after the refresh");
        problems.Equal(view.Tree().GetFigures().skippedEntries, 0, "skipped after the refresh");
        problems.Equal(view.Tree().GetFigures().total, uint64_t(16), "total after the refresh");
        problems.Equal(view.Tree().GetItemKind(items[r + "/unsearchable/inner"]), NodeKind::Folder,
                       "inner image after the refresh");
        problems.Equal(ToolTip(view.Tree(), items[r + "/unsearchable"]), std::string(),
                       "unsearchable tool tip after the refresh");
        problems.Equal(ToolTip(view.Tree(), items[r + "/closed"]), denied,
                       "closed tool tip after the refresh");

        // Refreshed while it cannot be read: marked, as a scan would.
        ::chmod(tree.Path("r/open").c_str(), 0);
        problems.Equal(view.StartRefresh(items[r + "/open"]), true, "refresh of open");
        view.Wait();
        items = ItemsByPath(view.Tree());
        problems.Equal(view.Tree().GetItemKind(items[r + "/open"]), NodeKind::Unreadable,
                       "open image when closed");
        problems.Equal(view.Tree().GetFigures().unreadableFolders, 2,
                       "unreadable with open closed");
        problems.Equal(view.Tree().GetFigures().total, uint64_t(9), "total with open closed");
        for (const char* folder : {"r/closed", "r/gone", "r/open"}) {
            ::chmod(tree.Path(folder).c_str(), 0755);
        }
        return problems.text;
    });
    if (!outcome) {
        GTEST_SKIP() << "privileges cannot be dropped: chmod does not keep root out";
    }
    EXPECT_EQ(*outcome, "");
}

// Entries unlinked while the walk lists their folder: those listed but gone
// before their stat are counted and skipped, the rest of the tree stays
// exact, and the scan ends as any other.
TEST(UnreadableFolders, EntriesThatVanishWhileListedAreCountedNotAnError) {
    constexpr int kFiles = 2000;
    test::ScanSettings settings(true, false);
    TempTree tree;
    tree.MakeFile("r/stay/keep", 100);
    int64_t skippedSeen = 0;
    // Whether an unlink falls between a listing and its stat is up to the
    // scheduler: on an idle machine the first round mostly sees it, on a
    // loaded one it can take many; only a walk that never stats after its
    // listing misses it in all.
    for (int round = 0; round < 100 && skippedSeen == 0; ++round) {
        std::vector<std::string> names;
        for (int i = 0; i < kFiles; ++i) {
            names.push_back("r/many/f" + std::to_string(i));
            tree.MakeFile(names.back(), 1);
        }
        std::shuffle(names.begin(), names.end(), std::mt19937(round));
        FolderScanner view;
        std::atomic<bool> go{false};
        std::jthread remover([&] {
            while (!go.load()) {
                std::this_thread::yield();
            }
            for (const std::string& name : names) {
                ::unlink(tree.Path(name).c_str());
            }
        });
        view.StartScan(test::FolderRequest(tree.Path("r"), WalkOptions(4)));
        go = true;
        view.Wait();
        remover.join();

        auto items = ItemsByPath(view.Tree());
        const int64_t files = view.Tree().GetFigures().files;
        const int64_t skipped = view.Tree().GetFigures().skippedEntries;
        EXPECT_EQ(view.GetExceptionCount(), 0);
        EXPECT_EQ(view.Tree().GetFigures().unreadableFolders, 0);
        EXPECT_LE(files - 1 + skipped, kFiles);
        // Every file counted is one byte, the kept one a hundred.
        EXPECT_EQ(view.Tree().GetFigures().total, uint64_t(files - 1 + 100));
        EXPECT_EQ(view.Tree().GetItemSize(items[tree.Path("r/stay")]), uint64_t(100));
        EXPECT_EQ(view.Tree().GetItemSize(items[tree.Path("r/many")]), uint64_t(files - 1));
        if (skipped > 0) {
            std::optional<FolderReadProblems::Problem> problem =
                view.Tree().GetReadProblem(items[tree.Path("r/many")]);
            ASSERT_TRUE(problem.has_value());
            EXPECT_EQ(problem->error, 0);  // the folder itself was read
            EXPECT_EQ(int64_t(problem->skipped), skipped);
            EXPECT_EQ(problem->skipError, ENOENT);
        }
        skippedSeen += skipped;
    }
    EXPECT_GT(skippedSeen, 0) << "no entry vanished between its listing and its stat";
}

}  // namespace
}  // namespace quarn
