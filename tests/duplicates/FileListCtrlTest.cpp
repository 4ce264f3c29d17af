// The row store: columns, the texts a row shows, the icon looked up once
// per group, and the change journal a view reads.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <string>

#include "duplicates/FileListCtrl.h"
#include "platform/FileTime.h"
#include "tests/support/TempTree.h"

namespace quarn {
namespace {

FindRecord Record(const std::string& name, uint64_t size, uint64_t time) {
    FindRecord record;
    record.mode = kRegularFileType | 0644;
    record.SetName(name);
    record.SetFileSize(size);
    record.ftLastWriteTime = time;
    return record;
}

// Formats in UTC for the duration of a test.
class UtcZone {
  public:
    UtcZone() : m_env("TZ", "UTC") { tzset(); }
    ~UtcZone() { tzset(); }

  private:
    test::ScopedEnv m_env;
};

class CountingIcons : public IconKeyProvider {
  public:
    int IconIndexForFile(const std::string&) override {
        ++calls;
        return 7;
    }
    std::atomic<int> calls{0};
};

TEST(FileListCtrlTest, ColumnsAndOutOfRangeReads) {
    CFileListCtrl list;
    // The four columns of the report, then the verification's Content.
    ASSERT_EQ(list.GetColumnCount(), 5);
    const char* titles[] = {"File", "Path", "Size", "Modified", "Content"};
    const int widths[] = {100, 340, 75, 110, 80};
    for (int c = 0; c < 5; ++c) {
        EXPECT_EQ(list.GetColumnTitle(c), titles[c]);
        EXPECT_EQ(list.GetColumnWidth(c), widths[c]);
        EXPECT_EQ(list.GetColumnAlignment(c),
                  c < 2 || c == 4 ? ColumnAlignment::Left : ColumnAlignment::Right);
    }
    EXPECT_EQ(list.GetColumnTitle(5), "");
    EXPECT_EQ(list.GetRowText(0, 0), "");
    EXPECT_EQ(list.GetRowText(-1, 1), "");
    EXPECT_EQ(list.GetRowImage(3), -1);
    EXPECT_FALSE(list.GetRowSource(0).has_value());
    EXPECT_FALSE(list.DeleteRow(0));
}

TEST(FileListCtrlTest, SizeAndTimeTexts) {
    UtcZone utc;
    EXPECT_EQ(CFileListCtrl::FormatSizeText(1536), "1536 Bytes");
    EXPECT_EQ(CFileListCtrl::FormatSizeText(uint64_t(3) << 30), "3221225472 Bytes");
    EXPECT_EQ(CFileListCtrl::FormatSizeText(UINT64_MAX), "18446744073709551615 Bytes");

    EXPECT_EQ(CFileListCtrl::FormatModifiedText(FileTimeFromUnix(1600000000, 0)),
              "13.09.20  12:26:40 ");
    // Before 1900: the start of 1970 instead.
    EXPECT_EQ(CFileListCtrl::FormatModifiedText(FileTimeFromUnix(-3000000000LL, 0)),
              "01.01.70  00:00:00 ");
    // Far future and just before 1970: shown as they are, not refused.
    EXPECT_EQ(CFileListCtrl::FormatModifiedText(FileTimeFromUnix(48000000000LL, 0)),
              "22.01.91  13:20:00 ");
    EXPECT_EQ(CFileListCtrl::FormatModifiedText(FileTimeFromUnix(-86400, 0)),
              "31.12.69  00:00:00 ");
}

TEST(FileListCtrlTest, RowsReadTheirFilesAndTheGroupIconIsLookedUpOnce) {
    CFileListCtrl list;
    CountingIcons icons;
    list.SetIconKeyProvider(&icons);
    BinBaum tree;
    tree.SetOwner(&list, nullptr);
    tree.Insert("/a/", Record("x.doc", 10, 1), 0);
    tree.Insert("/b/", Record("x.doc", 10, 1), 0);
    tree.Insert("/c/", Record("x.doc", 10, 1), 0);
    tree.Insert("/c/", Record("y.doc", 10, 1), 0);
    TreeNode x = tree.First().Node();
    // Rebuilt twice: still one lookup.
    for (int round = 0; round < 2; ++round) {
        list.DeleteAllItems();
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(list.AddRow(x, i), i);
        }
    }
    EXPECT_EQ(icons.calls.load(), 1);
    EXPECT_EQ(list.AddRow(x, 3), -1);
    EXPECT_EQ(list.AddRow(x, -1), 3);
    ASSERT_EQ(list.GetItemCount(), 4);
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(list.GetRowText(row, 0), "x.doc");
        EXPECT_EQ(list.GetRowImage(row), 7);
    }
    EXPECT_EQ(list.GetRowText(0, 1), "/a/x.doc");
    EXPECT_EQ(list.GetRowText(1, 1), "/b/x.doc");
    EXPECT_EQ(list.GetRowText(3, 1), "/c/x.doc");
    EXPECT_EQ(list.GetRowText(2, 2), "10 Bytes");

    ASSERT_TRUE(list.DeleteRow(1));
    EXPECT_EQ(list.GetRowText(1, 1), "/c/x.doc");
    EXPECT_EQ(list.GetRowSource(1)->file, x.NextFile(x.NextFile(x.FirstFile())));
}

TEST(FileListCtrlTest, TheJournalTellsAListenerWhatChangedCoalesced) {
    CFileListCtrl list;
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

    list.DeleteRow(0);
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
}

}  // namespace
}  // namespace quarn
