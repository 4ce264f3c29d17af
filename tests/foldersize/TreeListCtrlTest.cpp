#include "foldersize/TreeListCtrl.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace quarn {
namespace {

std::vector<std::string> ChildTexts(const CTreeListCtrl& store, HTREEITEM parent) {
    std::vector<std::string> texts;
    for (int row = 0; row < store.GetChildCount(parent); ++row) {
        texts.push_back(store.GetItemText(store.GetChildItem(parent, row)));
    }
    return texts;
}

TEST(TreeListStore, ColumnTextsAndItemDataAreMadeLazilyAndReadNeutral) {
    CTreeListCtrl store;
    HTREEITEM root = store.InsertItem("root", 1);
    HTREEITEM child = store.InsertItem("child", 1, root);

    // No data yet: neutral reads.
    EXPECT_EQ(store.GetItemText(child, 1), "");
    EXPECT_EQ(store.GetItemPercent(child), -1);
    EXPECT_EQ(store.GetItemUserData(child), nullptr);

    // Column 2 first: column 1 stays empty, column 3 does not exist.
    ASSERT_TRUE(store.SetItemText(child, 2, "two"));
    EXPECT_EQ(store.GetItemText(child, 1), "");
    EXPECT_EQ(store.GetItemText(child, 2), "two");
    EXPECT_EQ(store.GetItemText(child, 3), "");
    ASSERT_TRUE(store.SetItemText(child, 1, "one, longer than the inline buffer"));
    ASSERT_TRUE(store.SetItemText(child, 2, "2"));
    EXPECT_EQ(store.GetItemText(child, 1), "one, longer than the inline buffer");
    EXPECT_EQ(store.GetItemText(child, 2), "2");
    EXPECT_EQ(store.GetItemPercent(child), -1);  // texts alone give no percentage

    ASSERT_TRUE(store.SetItemText(child, 0, "renamed"));
    EXPECT_EQ(store.GetItemText(child), "renamed");
    EXPECT_FALSE(store.SetItemText(child, -1, "x"));

    int marker = 7;
    ASSERT_TRUE(store.SetItemUserData(root, &marker));
    ASSERT_TRUE(store.SetItemPercent(root, 42));
    EXPECT_EQ(store.GetItemUserData(root), &marker);
    EXPECT_EQ(store.GetItemPercent(root), 42);
    EXPECT_EQ(store.GetItemText(root, 1), "");
}

TEST(TreeListStore, HandlesOfAnOlderGenerationOrDeletedItemsReadNeutral) {
    CTreeListCtrl store;
    HTREEITEM root = store.InsertItem("root", 1);
    HTREEITEM child = store.InsertItem("child", 0, root);
    int marker = 1;
    store.SetItemUserData(child, &marker);
    store.SetItemPercent(child, 50);

    // Deleting an item takes its subtree; its data block stays until DeleteAllItems.
    HTREEITEM grandchild = store.InsertItem("grandchild", 1, child);
    ASSERT_TRUE(store.DeleteItem(child));
    EXPECT_FALSE(store.IsLiveItem(grandchild));
    EXPECT_EQ(store.GetChildCount(root), 0);
    EXPECT_EQ(store.GetItemUserData(child), nullptr);
    EXPECT_EQ(store.InsertItem("orphan", 1, grandchild), TVI_NULL);
    EXPECT_FALSE(store.DeleteItem(child));

    store.DeleteAllItems();
    HTREEITEM fresh = store.InsertItem("fresh", 1);
    // Same index as `root`, new generation: the old handle must not alias it.
    for (HTREEITEM stale : {root, child, grandchild, HTREEITEM(0x12345678ULL)}) {
        EXPECT_EQ(store.GetItemText(stale), "");
        EXPECT_EQ(store.GetItemText(stale, 1), "");
        EXPECT_EQ(store.GetItemImage(stale), -1);
        EXPECT_EQ(store.GetItemPercent(stale), -1);
        EXPECT_EQ(store.GetItemUserData(stale), nullptr);
        EXPECT_EQ(store.GetChildCount(stale), 0);
        EXPECT_EQ(store.GetChildItem(stale, 0), TVI_NULL);
        EXPECT_EQ(store.GetRowOfItem(stale), -1);
        EXPECT_EQ(store.GetParentItem(stale), TVI_NULL);
        EXPECT_FALSE(store.SetItemText(stale, 1, "x"));
        EXPECT_FALSE(store.SetItemPercent(stale, 3));
    }
    EXPECT_EQ(store.GetItemText(fresh), "fresh");
    EXPECT_EQ(store.GetItemUserData(fresh), nullptr);  // the old block was freed
    EXPECT_EQ(store.GetItemPercent(fresh), -1);
    EXPECT_EQ(store.GetRootItem(), fresh);
    EXPECT_EQ(store.GetParentItem(fresh), TVI_ROOT);
}

TEST(TreeListStore, SortsByPercentLargerFirstAndTopLevelByBytes) {
    CTreeListCtrl store;
    HTREEITEM root = store.InsertItem("root", 1);
    HTREEITEM none = store.InsertItem("none", 1, root);  // no data: counts as -1
    HTREEITEM low = store.InsertItem("low", 1, root);
    HTREEITEM high = store.InsertItem("high", 1, root);
    HTREEITEM tie = store.InsertItem("tie", 1, root);
    store.SetItemPercent(low, 5);
    store.SetItemPercent(high, 80);
    store.SetItemPercent(tie, 5);
    ASSERT_TRUE(store.SortChildrenByPercent(root));
    EXPECT_EQ(ChildTexts(store, root), (std::vector<std::string>{"high", "low", "tie", "none"}));
    EXPECT_EQ(store.GetRowOfItem(none), 3);
    EXPECT_EQ(store.GetChildItem(root, 0), high);

    TreeListItemData a, b;
    a.m_nPercent = 10;
    b.m_nPercent = 20;
    EXPECT_EQ(CTreeListCtrl::ComparePercent(&a, &b), 1);
    EXPECT_EQ(CTreeListCtrl::ComparePercent(&b, &a), -1);
    EXPECT_EQ(CTreeListCtrl::ComparePercent(&a, &a), 0);
    EXPECT_EQ(CTreeListCtrl::ComparePercent(nullptr, &a), 0);

    // By text: unsigned bytes, so "Z" < "a" < "é" (0xC3...); deeper levels keep their order.
    HTREEITEM deep = store.InsertItem("\xc3\xa9", 1, root);
    store.InsertItem("b", 1, deep);
    store.InsertItem("a", 1, deep);
    store.InsertItem("Z", 1, root);
    ASSERT_TRUE(store.SortTopLevel(false));
    EXPECT_EQ(ChildTexts(store, root),
              (std::vector<std::string>{"Z", "high", "low", "none", "tie", "\xc3\xa9"}));
    EXPECT_EQ(ChildTexts(store, deep), (std::vector<std::string>{"b", "a"}));
    ASSERT_TRUE(store.SortTopLevel(true));
    EXPECT_EQ(store.GetChildItem(root, 0), high);
}

TEST(TreeListStore, JournalsChangesOnlyWhileAListenerIsAttached) {
    CTreeListCtrl store;
    HTREEITEM root = store.InsertItem("root", 1);
    EXPECT_TRUE(store.TakeChanges().empty());  // nothing recorded headless

    std::atomic<int> posts{0};
    store.AttachListener([&] { ++posts; });
    HTREEITEM a = store.InsertItem("a", 1, root);
    HTREEITEM b = store.InsertItem("b", 1, root);
    store.SetItemPercent(b, 9);
    store.SortChildrenByPercent(root);
    store.SetMarkedColumn(2);
    store.SetMarkedColumn(2);  // no change, no announcement
    store.Expand(root);
    store.Expand(root);  // already expanded
    store.DeleteItem(a);
    EXPECT_EQ(posts.load(), 1);  // coalesced until the listener takes them

    std::vector<TreeChange> changes = store.TakeChanges();
    ASSERT_EQ(changes.size(), 7u);
    EXPECT_EQ(changes[0].kind, TreeChange::Inserted);
    EXPECT_EQ(changes[0].item, a);
    EXPECT_EQ(changes[0].parent, root);
    EXPECT_EQ(changes[0].row, 0);
    EXPECT_EQ(changes[1].row, 1);
    EXPECT_EQ(changes[2].kind, TreeChange::DataChanged);
    EXPECT_EQ(changes[3].kind, TreeChange::ChildrenReordered);
    EXPECT_EQ(changes[3].parent, root);
    EXPECT_EQ(changes[4].kind, TreeChange::MarkChanged);
    EXPECT_EQ(store.GetMarkedColumn(), 2);
    EXPECT_EQ(changes[5].kind, TreeChange::ExpandRequested);
    EXPECT_EQ(changes[6].kind, TreeChange::Deleted);
    EXPECT_EQ(changes[6].row, 1);  // b was sorted first

    store.DeleteAllItems();
    EXPECT_EQ(posts.load(), 2);
    changes = store.TakeChanges();
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].kind, TreeChange::AllDeleted);

    store.DetachListener();
    store.InsertItem("quiet", 1);
    EXPECT_TRUE(store.TakeChanges().empty());
}

TEST(TreeListStore, ColumnsAndShellIcons) {
    CTreeListCtrl store;
    EXPECT_EQ(store.InsertColumn(0, "Name", kAlignLeft, 260), 0);
    EXPECT_EQ(store.InsertColumn(5, "%", 7, -1), 1);  // clamped index, unknown alignment: left
    EXPECT_EQ(store.InsertColumn(1, "Size", kAlignRight, 100), 1);
    EXPECT_EQ(store.GetColumnCount(), 3);
    EXPECT_EQ(store.GetColumnTitle(1), "Size");
    EXPECT_EQ(store.GetColumnTitle(2), "%");
    EXPECT_EQ(store.GetColumnAlignment(2), kAlignLeft);
    EXPECT_EQ(store.GetColumnWidth(2), -1);
    EXPECT_EQ(store.GetColumnTitle(3), "");
    EXPECT_EQ(store.GetPercentColumn(), -1);

    int first = store.AddShellIcon("/");
    int second = store.AddShellIcon("//server/share");
    EXPECT_GE(first, kFirstShellIconImage);
    EXPECT_NE(first, second);
    EXPECT_EQ(store.AddShellIcon("/"), first);  // rescans do not grow the list
    EXPECT_EQ(store.GetShellIconPath(second), "//server/share");
    EXPECT_EQ(store.GetShellIconPath(kImageFolder), "");
}

TEST(TreeListStore, AHundredThousandLevelsSortDeleteAndFreeWithoutRecursion) {
    CTreeListCtrl store;
    constexpr int kDepth = 100000;
    HTREEITEM top = store.InsertItem("0", 1);
    HTREEITEM parent = top;
    HTREEITEM middle = TVI_NULL;
    for (int level = 1; level < kDepth; ++level) {
        parent = store.InsertItem("d", 1, parent);
        store.SetItemPercent(parent, level % 100);
        if (level == kDepth / 2) {
            middle = parent;
        }
    }
    HTREEITEM bottom = parent;
    store.SortChildrenByPercent(middle);
    ASSERT_TRUE(store.DeleteItem(middle));  // half the chain at once
    EXPECT_FALSE(store.IsLiveItem(bottom));
    EXPECT_EQ(store.GetItemPercent(bottom), -1);
    store.DeleteAllItems();
    EXPECT_EQ(store.GetChildCount(TVI_ROOT), 0);
    EXPECT_EQ(store.GetItemText(top), "");
}

TEST(TreeListStore, ReadersOnOtherThreadsSeeConsistentOrNeutralValues) {
    CTreeListCtrl store;
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int round = 0; round < 200; ++round) {
            HTREEITEM root = store.InsertItem("root", 1);
            for (int i = 0; i < 50; ++i) {
                HTREEITEM child = store.InsertItem("child", 1, root);
                store.SetItemText(child, 1, "1.000 KB");
                store.SetItemPercent(child, i);
            }
            store.SortChildrenByPercent(root);
            store.DeleteAllItems();
        }
        stop = true;
    });
    int seen = 0;
    while (!stop) {
        HTREEITEM root = store.GetRootItem();
        for (int row = 0; row < store.GetChildCount(root); ++row) {
            HTREEITEM child = store.GetChildItem(root, row);
            std::string size = store.GetItemText(child, 1);
            EXPECT_TRUE(size.empty() || size == "1.000 KB");
            int percent = store.GetItemPercent(child);
            EXPECT_TRUE(percent >= -1 && percent < 50);
            ++seen;
        }
    }
    writer.join();
    SUCCEED() << seen << " reads";
}

}  // namespace
}  // namespace quarn
