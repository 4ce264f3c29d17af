// The twin rows: which file each row shows, the cells' texts, and the
// change journal a view reads.

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>

#include "duplicates/TwinRowText.h"
#include "duplicates/TwinRows.h"
#include "platform/FileTime.h"
#include "tests/support/TempTree.h"
#include "tests/support/TestEntries.h"

namespace quarn {
namespace {

OwnedFileEntry Record(const std::string& name, uint64_t size, uint64_t time) {
    return test::RegularFileEntry(name, size, time);
}

// Formats in UTC for the duration of a test.
class UtcZone {
  public:
    UtcZone() : m_env("TZ", "UTC") { tzset(); }
    ~UtcZone() { tzset(); }

  private:
    test::ScopedEnv m_env;
};

TEST(TwinRowTextTest, SizeAndTimeTexts) {
    UtcZone utc;
    EXPECT_EQ(FormatSizeText(1536), "1536 Bytes");
    EXPECT_EQ(FormatSizeText(uint64_t(3) << 30), "3221225472 Bytes");
    EXPECT_EQ(FormatSizeText(UINT64_MAX), "18446744073709551615 Bytes");

    EXPECT_EQ(FormatModifiedText(FileTimeFromUnix(1600000000, 0)), "13.09.20  12:26:40 ");
    // Before 1900: the start of 1970 instead.
    EXPECT_EQ(FormatModifiedText(FileTimeFromUnix(-3000000000LL, 0)), "01.01.70  00:00:00 ");
    // Far future and just before 1970: shown as they are, not refused.
    EXPECT_EQ(FormatModifiedText(FileTimeFromUnix(48000000000LL, 0)), "22.01.91  13:20:00 ");
    EXPECT_EQ(FormatModifiedText(FileTimeFromUnix(-86400, 0)), "31.12.69  00:00:00 ");
}

TEST(TwinRowsTest, RowsNameTheirGroupAndFileAndReadsOutOfRangeGiveNothing) {
    TwinRows rows;
    EXPECT_FALSE(rows.GetRowSource(0).has_value());
    EXPECT_FALSE(rows.GetRowSource(-1).has_value());
    EXPECT_EQ(rows.RemoveRowsIf([](const RowSource&) { return true; }), 0);

    BinBaum tree;
    tree.Insert("/a/", Record("x.doc", 10, 1), 0);
    tree.Insert("/b/", Record("x.doc", 10, 1), 0);
    tree.Insert("/c/", Record("x.doc", 10, 1), 0);
    tree.Insert("/c/", Record("y.doc", 10, 1), 0);
    TreeNode x = tree.First().Node();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(rows.AddRow(x, i), i);
    }
    EXPECT_EQ(rows.AddRow(x, 3), -1);  // no fourth file
    EXPECT_EQ(rows.AddRow(x, -1), 3);  // the last one
    ASSERT_EQ(rows.GetItemCount(), 4);
    auto pathOf = [&](int row) {
        const RowSource source = *rows.GetRowSource(row);
        return tree.FilePath(source.group, source.file);
    };
    EXPECT_EQ(pathOf(0), "/a/x.doc");
    EXPECT_EQ(pathOf(1), "/b/x.doc");
    EXPECT_EQ(pathOf(3), "/c/x.doc");

    // Removing a row moves the later ones up.
    const FileId second = x.NextFile(x.FirstFile());
    EXPECT_EQ(rows.RemoveRowsIf([&](const RowSource& row) { return row.file == second; }), 1);
    EXPECT_EQ(pathOf(1), "/c/x.doc");
    EXPECT_EQ(rows.GetRowSource(1)->file, x.NextFile(second));

    // A new index is told apart from the old one.
    const uint64_t generation = rows.IndexGeneration();
    rows.DeleteAllItems();
    EXPECT_EQ(rows.IndexGeneration(), generation);
    {
        std::lock_guard lock(rows.RowMutex());
        rows.DeleteAllItemsLocked(/*newIndex=*/true);
    }
    EXPECT_GT(rows.IndexGeneration(), generation);
}

TEST(TwinRowsTest, TheJournalTellsAListenerWhatChangedCoalesced) {
    TwinRows list;
    BinBaum tree;
    tree.Insert("/a/", Record("x", 1, 1), 0);
    TreeNode x = tree.First().Node();
    list.AddRow(x, 0);  // before any listener: not journaled

    int posts = 0;
    list.AttachListener([&] { ++posts; });
    list.AddRow(x, 0);
    list.AddRow(x, 0);
    list.AddRow(x, 0);
    EXPECT_EQ(posts, 1);
    std::vector<RowChange> changes = list.TakeChanges();
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].kind, RowChange::Appended);
    EXPECT_EQ(changes[0].row, 1);
    EXPECT_EQ(changes[0].count, 3);

    int first = 0;
    list.RemoveRowsIf([&first](const RowSource&) { return first++ == 0; });
    list.AddRow(x, 0);
    list.DeleteAllItems();  // the listener knew 4 rows
    list.AddRow(x, 0);
    EXPECT_EQ(posts, 2);
    changes = list.TakeChanges();
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[0].kind, RowChange::AllDeleted);
    EXPECT_EQ(changes[0].count, 4);
    EXPECT_EQ(changes[1].kind, RowChange::Appended);
    EXPECT_EQ(changes[1].row, 0);

    list.DetachListener();
    list.AddRow(x, 0);
    EXPECT_TRUE(list.TakeChanges().empty());
    EXPECT_EQ(posts, 2);

    // Emptying rows the listener never saw is no news.
    TwinRows fresh;
    fresh.AttachListener([&] { ++posts; });
    fresh.DeleteAllItems();
    EXPECT_EQ(posts, 2);
    EXPECT_TRUE(fresh.TakeChanges().empty());
}

}  // namespace
}  // namespace quarn
