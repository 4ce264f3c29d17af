// Twin folders: whole copies found from the content search, topmost only,
// listed above the twin files, and trashed only when still what was found.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "duplicates/TwinFolderFinder.h"
#include "duplicates/TwinScanner.h"
#include "duplicates/TwinTrash.h"
#include "settings/Settings.h"
#include "tests/support/TempTree.h"
#include "tests/support/TestFiles.h"
#include "tests/support/Unprivileged.h"

namespace quarn {
namespace {

// The finder alone, on files described by hand: content numbers stand for
// what a content search decided.
class TwinFolderFinderTest : public ::testing::Test {
  protected:
    // A project tree at `at`: two files, and a subfolder with two more.
    void Project(TwinFolderFinder& finder, const std::string& at, uint64_t lastContent = 14) {
        finder.AddFile(at, "main.c", 100, 11);
        finder.AddFile(at, "README", 10, 12);
        finder.AddFile(at + "/lib", "x.c", 200, 13);
        finder.AddFile(at + "/lib", "y.c", 300, lastContent);
    }
    static std::vector<std::vector<std::string>> Sets(const std::vector<TwinFolderSet>& found) {
        std::vector<std::vector<std::string>> sets;
        for (const TwinFolderSet& set : found) {
            sets.push_back(set.folders);
        }
        return sets;
    }
};

TEST_F(TwinFolderFinderTest, NestedCopiesAreOnePairAtTheTop) {
    TwinFolderFinder finder(false);
    finder.AddRoot("/r");
    Project(finder, "/r/a/project");
    Project(finder, "/r/backup/project");
    const std::vector<TwinFolderSet> found = finder.Find();
    // Not one pair per level: "project" and "lib" share their parents' pair;
    // "a" and "backup" hold only the copies, so they are the pair.
    EXPECT_EQ(Sets(found), (std::vector<std::vector<std::string>>{{"/r/a", "/r/backup"}}));
    EXPECT_EQ(found[0].bytes, 610u);
    EXPECT_EQ(found[0].files, 4u);
}

TEST_F(TwinFolderFinderTest, ADifferenceDeepDownLeavesTheIdenticalSubfoldersAsTwins) {
    TwinFolderFinder finder(false);
    finder.AddRoot("/r");
    Project(finder, "/r/one");
    Project(finder, "/r/two");
    Project(finder, "/r/three", /*lastContent=*/99);  // lib/y.c differs
    finder.AddFile("/r/three", "extra", 1, 50);
    finder.AddFile("/r/unrelated", "extra", 1, 50);
    const std::vector<TwinFolderSet> found = finder.Find();
    // one and two are twins; three is not, but its main.c/README are no
    // folder, and its lib differs too: nothing of it is listed.
    EXPECT_EQ(Sets(found), (std::vector<std::vector<std::string>>{{"/r/one", "/r/two"}}));

    TwinFolderFinder deep(false);
    deep.AddRoot("/r");
    Project(deep, "/r/one");
    Project(deep, "/r/two");
    deep.AddFile("/r/two", "notes.txt", 5, 60);  // two differs at its top only
    EXPECT_EQ(Sets(deep.Find()),
              (std::vector<std::vector<std::string>>{{"/r/one/lib", "/r/two/lib"}}));
}

TEST_F(TwinFolderFinderTest, NamesCountUnlessIgnored) {
    for (const bool ignoreNames : {false, true}) {
        TwinFolderFinder finder(ignoreNames);
        finder.AddRoot("/r");
        Project(finder, "/r/a/p");
        finder.AddFile("/r/b/p", "main-renamed.c", 100, 11);
        finder.AddFile("/r/b/p", "README", 10, 12);
        finder.AddFile("/r/b/p/lib", "x.c", 200, 13);
        finder.AddFile("/r/b/p/lib", "y.c", 300, 14);
        const auto sets = Sets(finder.Find());
        if (ignoreNames) {
            EXPECT_EQ(sets, (std::vector<std::vector<std::string>>{{"/r/a", "/r/b"}}));
        } else {
            EXPECT_EQ(sets, (std::vector<std::vector<std::string>>{{"/r/a/p/lib", "/r/b/p/lib"}}));
        }
    }
}

TEST_F(TwinFolderFinderTest, EmptyFoldersUnknownContentAndUnreadableFolders) {
    // An empty folder beside a copy neither makes nor breaks it (the walk
    // gives no file of it, so it is not even known).
    TwinFolderFinder finder(false);
    finder.AddRoot("/r");
    Project(finder, "/r/a");
    Project(finder, "/r/b");
    EXPECT_EQ(finder.Find().size(), 1u);

    // A file of unknown content (unique, unread) keeps its folder from twins.
    TwinFolderFinder unknown(false);
    unknown.AddRoot("/r");
    Project(unknown, "/r/a");
    Project(unknown, "/r/b", TwinFolderFinder::kUnknownContent);
    EXPECT_EQ(Sets(unknown.Find()), (std::vector<std::vector<std::string>>{}));

    // A folder holding an unreadable folder is never a twin, even an empty one.
    TwinFolderFinder unreadable(false);
    unreadable.AddRoot("/r");
    Project(unreadable, "/r/a");
    Project(unreadable, "/r/b");
    unreadable.AddUnreadable("/r/b/lib/locked");
    EXPECT_EQ(Sets(unreadable.Find()), (std::vector<std::vector<std::string>>{}));
}

TEST_F(TwinFolderFinderTest, SpaceInCopiesCountsANestedCopyOnce) {
    const std::vector<TwinFolderSet> sets = {
        {1000, 10, {"/r/a", "/r/b"}},
        {400, 4, {"/r/a/x", "/r/b/x", "/r/c/x"}},
    };
    // /r/b goes (1000); /r/b/x is inside it, /r/c/x is not (400).
    EXPECT_EQ(BytesInFolderCopies(sets), 1400u);
}

// The engine: a real tree, a content search, the rows.
class TwinFolderScanTest : public ::testing::Test {
  protected:
    TwinFolderScanTest() : ini("QUARN_INI", settingsTree.Path("quarn.ini")) {}

    void Project(const std::string& at) {
        tree.MakeFile(at + "/lib/x.c", 0);
        test::WriteText(tree.Path(at + "/main.c"), std::string(5000, 'm'));
        test::WriteText(tree.Path(at + "/lib/x.c"), std::string(7000, 'x'));
        test::WriteText(tree.Path(at + "/lib/empty"), "");
    }
    ScanRequest Request() {
        ScanAdditions additions;
        additions.content = true;
        additions.noCache = true;
        return ScanRequestFromSettings(ScanRequest::Source::Folder, tree.Root(), additions);
    }
    std::vector<std::string> Rows() const {
        std::vector<std::string> rows;
        for (int row = 0; row < twins.Rows().GetItemCount(); ++row) {
            const std::optional<TwinRow> shown = twins.RowAt(row);
            rows.push_back(shown->path.substr(tree.Root().size() + 1) + " " +
                           std::string(ContentText(shown->content)));
        }
        return rows;
    }

    test::TempTree settingsTree;
    test::ScopedEnv ini;
    test::TempTree tree;
    TwinScanner twins;
};

TEST_F(TwinFolderScanTest, TwinFoldersLeadTheListAndTheirFilesAreNotListedAgain) {
    Project("work/app");
    Project("old/app copy");
    // A file that also has a copy outside the twin folders stays listed.
    test::WriteText(tree.Path("loose.c"), std::string(5000, 'm'));
    twins.Scan(Request());
    EXPECT_EQ(Rows(), (std::vector<std::string>{
                          "old/app copy folder", "work/app folder", "loose.c identical",
                          "old/app copy/main.c identical", "work/app/main.c identical"}));
    const std::vector<TwinFolderSet> folders = twins.TwinFolders();
    ASSERT_EQ(folders.size(), 1u);
    EXPECT_EQ(folders[0].bytes, 12000u);
    EXPECT_EQ(folders[0].files, 3u);
    EXPECT_EQ(twins.RowAt(0)->files, 3u);
    // Select Copies keeps one folder of the pair.
    EXPECT_EQ(twins.CopyRows(TwinScanner::KeepRule::FirstPath).front(), 1);
}

TEST_F(TwinFolderScanTest, AnExcludedFileDoesNotBreakATwin) {
    Project("a/p");
    Project("b/p");
    test::WriteText(tree.Path("b/p/lib/scratch.tmp"), "left out");
    ASSERT_TRUE(WriteSettingText(kExclude, "*.tmp"));
    twins.Scan(Request());
    ASSERT_EQ(twins.TwinFolders().size(), 1u);
    EXPECT_EQ(twins.TwinFolders()[0].folders,
              (std::vector<std::string>{tree.Path("a"), tree.Path("b")}));
    // Counted, it breaks it.
    ASSERT_TRUE(WriteSettingText(kExclude, ""));
    twins.Scan(Request());
    EXPECT_TRUE(twins.TwinFolders().empty());
}

TEST_F(TwinFolderScanTest, AFolderWithAnUnreadableEntryIsNeverATwin) {
    Project("a/p");
    Project("b/p");
    ::mkdir(tree.Path("b/p/lib/locked").c_str(), 0755);
    test::WriteText(tree.Path("b/p/lib/locked/secret"), "");
    ::chmod(tree.Path("b/p/lib/locked").c_str(), 0);
    ::chmod(tree.Root().c_str(), 0755);
    const std::optional<std::string> rows = test::RunUnprivileged([this] {
        twins.Scan(Request());
        std::string found;
        for (const std::string& row : Rows()) {
            found += row + "\n";
        }
        return found;
    });
    ::chmod(tree.Path("b/p/lib/locked").c_str(), 0755);
    if (!rows) {
        GTEST_SKIP() << "privileges cannot be dropped here";
    }
    EXPECT_EQ(rows->find("folder"), std::string::npos) << *rows;
    EXPECT_NE(rows->find("a/p/main.c identical"), std::string::npos) << *rows;
}

TEST_F(TwinFolderScanTest, TrashingATwinFolderWhoseContentsChangedIsRefused) {
    Project("keep/p");
    Project("copy/p");
    twins.Scan(Request());
    ASSERT_EQ(twins.TwinFolders().size(), 1u);
    int copyRow = -1;
    for (int row = 0; row < twins.Rows().GetItemCount(); ++row) {
        if (twins.RowAt(row)->path == tree.Path("copy")) {
            copyRow = row;
        }
    }
    ASSERT_GE(copyRow, 0);
    const RowSource copy = twins.RowAt(copyRow)->source;
    int moved = 0;
    const TwinTrash::Mover mover = [&moved](const std::string&, const FileIdentity& expected) {
        EXPECT_TRUE(expected.isFolder);
        ++moved;
        TrashResult result;
        result.status = TrashStatus::Trashed;
        return result;
    };
    // A file changed inside, then a file added: each time refused.
    test::WriteText(tree.Path("copy/p/lib/x.c"), std::string(7000, 'y'));
    std::vector<TwinTrash::Outcome> outcomes = TwinTrash::TrashFiles(twins, {copy}, mover);
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].verdict, TwinTrash::Verdict::Changed);
    EXPECT_EQ(moved, 0);

    twins.Scan(Request());
    ASSERT_TRUE(twins.TwinFolders().empty());  // no longer twins at all
    test::WriteText(tree.Path("copy/p/lib/x.c"), std::string(7000, 'x'));
    twins.Scan(Request());
    ASSERT_EQ(twins.TwinFolders().size(), 1u);
    test::WriteText(tree.Path("copy/p/new.txt"), "added");
    for (int row = 0; row < twins.Rows().GetItemCount(); ++row) {
        if (twins.RowAt(row)->path == tree.Path("copy")) {
            outcomes = TwinTrash::TrashFiles(twins, {twins.RowAt(row)->source}, mover);
        }
    }
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].verdict, TwinTrash::Verdict::Changed);
    EXPECT_EQ(outcomes[0].reason, "holds entries the search did not see");
    EXPECT_EQ(moved, 0);

    // As found: it goes, and its rows with it.
    ::unlink(tree.Path("copy/p/new.txt").c_str());
    for (int row = 0; row < twins.Rows().GetItemCount(); ++row) {
        if (twins.RowAt(row)->path == tree.Path("copy")) {
            outcomes = TwinTrash::TrashFiles(twins, {twins.RowAt(row)->source}, mover);
        }
    }
    EXPECT_EQ(outcomes[0].verdict, TwinTrash::Verdict::Trashed) << outcomes[0].reason;
    EXPECT_EQ(moved, 1);
    // Its pair is no pair any more, in the list and in what the panes ask.
    EXPECT_TRUE(twins.TwinFolders().empty());
    for (int row = 0; row < twins.Rows().GetItemCount(); ++row) {
        EXPECT_EQ(twins.RowAt(row)->path.find(tree.Path("copy")), std::string::npos);
    }
}

}  // namespace
}  // namespace quarn
