// What changed since an earlier scan: folders matched by their path below
// the root as exact bytes, every ancestor of a change changed alike, a moved
// or renamed folder one removed and one new, and several imports side by
// side adding up.

#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foldersize/FolderScanner.h"
#include "history/EarlierTree.h"
#include "history/FolderComparison.h"
#include "platform/ImportSet.h"
#include "tests/history/HistoryFiles.h"
#include "tests/support/TempTree.h"

namespace quarn {
namespace {

using test::FolderRequest;
using test::ImportRequest;

class FolderComparisonTest : public ::testing::Test {
  protected:
    FolderComparisonTest() : ini("QUARN_INI", home.Path("quarn.ini")) {}

    // Exports the tree as it is now: the earlier scan.
    void KeepEarlier() {
        test::ExportFolder(tree.Root(), home.Path("earlier.json"));
        std::string error;
        ASSERT_TRUE(earlier.Read(home.Path("earlier.json"), false, error)) << error;
    }
    // Scans the tree as it is now and compares.
    void CompareNow() {
        scanner.RunScan(FolderRequest(tree.Root()));
        comparison = FolderComparison(scanner.Tree(), earlier);
    }
    std::optional<FolderChange> ChangeOf(const std::string& relative) {
        const std::string path = relative.empty() ? tree.Root() : tree.Path(relative);
        const NodeHandle node = scanner.Tree().FindFolderItem(path);
        EXPECT_EQ(scanner.Tree().GetItemPath(node), path) << relative << " has no node";
        return comparison.ChangeOf(node);
    }
    int64_t Change(const std::string& relative) {
        const std::optional<FolderChange> change = ChangeOf(relative);
        EXPECT_TRUE(change.has_value()) << relative;
        return change ? change->change : INT64_MIN;
    }
    bool IsNew(const std::string& relative) {
        const std::optional<FolderChange> change = ChangeOf(relative);
        return change && change->isNew;
    }
    std::vector<std::pair<std::string, uint64_t>> Removed() const {
        std::vector<std::pair<std::string, uint64_t>> removed;
        for (const RemovedFolder& folder : comparison.Removed()) {
            removed.push_back({folder.key, folder.size});
        }
        return removed;
    }

    test::TempTree home;
    test::ScopedEnv ini;
    test::TempTree tree;
    EarlierTree earlier;
    FolderScanner scanner;
    FolderComparison comparison;
};

TEST_F(FolderComparisonTest, AFileGrownDeepChangesEveryAncestorByTheSameBytes) {
    tree.MakeFile("a/b/c/d/e/grows.bin", 100);
    tree.MakeFile("a/b/stays.txt", 50);
    tree.MakeFile("side/other.txt", 70);
    tree.MakeFile("loose.txt", 5);
    KeepEarlier();
    tree.MakeFile("a/b/c/d/e/grows.bin", 1100);
    CompareNow();

    for (const char* folder : {"", "a", "a/b", "a/b/c", "a/b/c/d", "a/b/c/d/e"}) {
        EXPECT_EQ(Change(folder), 1000) << "'" << folder << "'";
        EXPECT_FALSE(IsNew(folder)) << folder;
    }
    EXPECT_EQ(Change("side"), 0);
    EXPECT_EQ(comparison.TotalChange(), 1000);
    EXPECT_TRUE(comparison.Removed().empty());
    // The share is of the earlier size.
    EXPECT_EQ(ChangeOf("a/b/c")->earlierSize, 100u);
}

TEST_F(FolderComparisonTest, AFolderMovedOrRenamedIsOneRemovedAndOneNew) {
    tree.MakeFile("x/data/inner/keep.bin", 400);
    tree.MakeFile("x/data/more.bin", 100);
    tree.MakeFile("x/stay.txt", 1);
    tree.MakeFile("y/stay.txt", 2);
    tree.MakeFile("old/name.txt", 30);
    KeepEarlier();
    // The same name under another parent, and a new name for the same folder.
    ASSERT_EQ(::rename(tree.Path("x/data").c_str(), tree.Path("y/data").c_str()), 0);
    ASSERT_EQ(::rename(tree.Path("old").c_str(), tree.Path("renamed").c_str()), 0);
    CompareNow();

    // Only the topmost gone folder is listed; its size holds the rest.
    EXPECT_EQ(Removed(),
              (std::vector<std::pair<std::string, uint64_t>>{{"old", 30}, {"x/data", 500}}));
    EXPECT_TRUE(IsNew("y/data"));
    EXPECT_TRUE(IsNew("y/data/inner"));
    EXPECT_TRUE(IsNew("renamed"));
    EXPECT_EQ(Change("y/data"), 500);
    EXPECT_EQ(Change("x"), -500);
    EXPECT_EQ(Change("y"), 500);
    EXPECT_EQ(Change(""), 0);
    EXPECT_EQ(comparison.TotalChange(), 0);
    const NodeHandle x = scanner.Tree().FindFolderItem(tree.Path("x"));
    ASSERT_EQ(comparison.RemovedUnder(x).size(), 1u);
    EXPECT_EQ(comparison.RemovedUnder(x)[0]->path, tree.Path("x/data"));
}

TEST_F(FolderComparisonTest, NamesThatAreNotUtf8MatchByTheirExactBytes) {
    const std::string latin1 = "caf\xe9";
    const std::string utf8 = "caf\xc3\xa9";
    const std::string stray = "bad\xff\xfe";
    tree.MakeFile(latin1 + "/a.txt", 10);
    tree.MakeFile(utf8 + "/a.txt", 20);
    tree.MakeFile(stray + "/a.txt", 40);
    KeepEarlier();
    tree.MakeFile(utf8 + "/b.txt", 5);
    ASSERT_EQ(::unlink(tree.Path(stray + "/a.txt").c_str()), 0);
    ASSERT_EQ(::rmdir(tree.Path(stray).c_str()), 0);
    CompareNow();

    EXPECT_EQ(Change(latin1), 0);
    EXPECT_EQ(Change(utf8), 5);
    EXPECT_FALSE(IsNew(latin1));
    EXPECT_FALSE(IsNew(utf8));
    EXPECT_EQ(Removed(), (std::vector<std::pair<std::string, uint64_t>>{{stray, 40}}));
}

TEST_F(FolderComparisonTest, TwoExportsCompareWithNoDiskAtAll) {
    tree.MakeFile("p/q.bin", 300);
    tree.MakeFile("gone/r.bin", 60);
    KeepEarlier();
    tree.MakeFile("p/q.bin", 200);
    tree.MakeFile("fresh/s.bin", 9);
    ASSERT_EQ(::unlink(tree.Path("gone/r.bin").c_str()), 0);
    ASSERT_EQ(::rmdir(tree.Path("gone").c_str()), 0);
    test::ExportFolder(tree.Root(), home.Path("now.json"));
    FolderScanner imported;
    imported.RunScan(ImportRequest(home.Path("now.json")));
    const FolderComparison fromFiles(imported.Tree(), earlier);
    CompareNow();

    EXPECT_EQ(fromFiles.TotalChange(), 200 + 9 - 300 - 60);
    EXPECT_EQ(fromFiles.TotalChange(), comparison.TotalChange());
    ASSERT_EQ(fromFiles.Removed().size(), 1u);
    EXPECT_EQ(fromFiles.Removed()[0].key, "gone");
    const NodeHandle fresh = imported.Tree().FindFolderItem(tree.Path("fresh"));
    ASSERT_TRUE(fromFiles.ChangeOf(fresh).has_value());
    EXPECT_TRUE(fromFiles.ChangeOf(fresh)->isNew);
}

TEST_F(FolderComparisonTest, TwoImportsSideBySideAddUpToTheSumOfTheirTotals) {
    tree.MakeFile("docs/a.txt", 1000);
    tree.MakeFile("docs/deep/b.bin", 5000);
    // A hard link: in two machines' exports the same inode numbers are two files.
    ASSERT_EQ(::link(tree.Path("docs/a.txt").c_str(), tree.Path("docs/deep/a-link.txt").c_str()),
              0);
    test::TempTree other;
    other.MakeFile("media/c.bin", 777);
    test::ExportFolder(tree.Root(), home.Path("host1.json"));
    test::ExportFolder(other.Root(), home.Path("host2.json"));

    const auto totalOf = [](const ScanRequest& request) {
        FolderScanner scanner;
        scanner.RunScan(request);
        EXPECT_EQ(scanner.GetImportError(), "");
        return scanner.Tree().GetFigures();
    };
    const auto one = totalOf(ImportRequest(home.Path("host1.json")));
    const auto two = totalOf(ImportRequest(home.Path("host2.json")));
    ScanRequest both = ImportRequest(home.Path("host1.json"));
    // The same file twice stands for two machines with the same inodes.
    both.importSet = {home.Path("host1.json"), home.Path("host2.json"), home.Path("host1.json")};
    FolderScanner scanner;
    scanner.RunScan(both);
    ASSERT_EQ(scanner.GetImportError(), "");
    const FolderSizeTree& view = scanner.Tree();
    EXPECT_EQ(view.GetFigures().total, one.total * 2 + two.total);
    EXPECT_EQ(view.GetFigures().files, one.files * 2 + two.files);

    const NodeHandle root = view.GetRootItem();
    EXPECT_EQ(view.GetItemName(root), "imported");
    std::vector<std::pair<std::string, uint64_t>> tops;
    for (int row = 0; row < view.GetChildCount(root); ++row) {
        const NodeHandle top = view.GetChildItem(root, row);
        tops.push_back({view.GetItemName(top), view.GetItemSize(top).value_or(0)});
    }
    std::sort(tops.begin(), tops.end());
    EXPECT_EQ(tops, (std::vector<std::pair<std::string, uint64_t>>{
                        {"host1", one.total}, {"host1 (2)", one.total}, {"host2", two.total}}));
}

TEST_F(FolderComparisonTest, ADamagedImportOfASetFailsTheWholeSet) {
    tree.MakeFile("a.txt", 1);
    test::ExportFolder(tree.Root(), home.Path("good.json"));
    const std::string text = test::ReadText(home.Path("good.json"));
    test::WriteText(home.Path("cut.json"), text.substr(0, text.size() - 3));
    ScanRequest both = ImportRequest(home.Path("good.json"));
    both.importSet = {home.Path("good.json"), home.Path("cut.json")};
    scanner.RunScan(both);
    EXPECT_EQ(scanner.GetImportError().rfind(home.Path("cut.json") + ": truncated at byte ", 0), 0u)
        << scanner.GetImportError();
    EXPECT_EQ(scanner.Tree().GetRootItem(), kNoNode) << "part of the machines would pass for all";
    EXPECT_EQ(ImportSetNames({"/a/x.json.zst", "-", "/b/x.json", "/c/.json"}),
              (std::vector<std::string>{"x", "standard input", "x (2)", "import 4"}));
}

}  // namespace
}  // namespace quarn
