#include "foldersize/TreeListCtrl.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "foldersize/SizeText.h"

namespace quarn {
namespace {

std::vector<std::string> ChildTexts(const CTreeListCtrl& store, HTREEITEM parent) {
    std::vector<std::string> texts;
    for (int row = 0; row < store.GetChildCount(parent); ++row) {
        texts.push_back(store.GetItemText(store.GetChildItem(parent, row)));
    }
    return texts;
}

// The pane's columns: the size text in 1, the percentage in 2.
void MakeColumns(CTreeListCtrl& store) {
    store.InsertColumn(0, "Name", kAlignLeft, 260);
    store.InsertColumn(1, "Size", kAlignLeft, 100);
    store.InsertColumn(2, "%", kAlignCentre, 100);
    store.SetSizeColumn(1);
    store.SetPercentColumn(2);
}

TEST(TreeListStore, ColumnTextsAreMadeFromTheItemsNumbers) {
    CTreeListCtrl store;
    MakeColumns(store);
    HTREEITEM root = store.InsertItem("root", kImageFolder);
    HTREEITEM child = store.InsertItem("child", kImageFolder, root);

    // No size yet: empty size text, no percentage, also once there is a base.
    EXPECT_EQ(store.GetItemText(child, 1), "");
    EXPECT_EQ(store.GetItemSize(child), std::nullopt);
    EXPECT_EQ(store.GetItemPercent(child), -1);

    ASSERT_TRUE(store.SetItemSize(child, 123456789));
    ASSERT_TRUE(store.SetItemSize(root, 1000));
    EXPECT_EQ(store.GetItemText(child, 1), "117.738 MB");
    EXPECT_EQ(store.GetItemText(child, 2), "");  // no base: no percentage
    EXPECT_EQ(store.GetItemPercent(root), -1);
    store.SetPercentBase(1001);
    EXPECT_EQ(store.GetItemPercent(root), 100);  // 99.9 + 0.9 truncated
    EXPECT_EQ(store.GetItemText(root, 2), "100%");
    store.SetPercentBase(3000);
    EXPECT_EQ(store.GetItemPercent(root), 34);  // one third: 33.3 + 0.9
    EXPECT_EQ(store.GetItemText(root, 3), "");  // no such column

    // Only the own text can be set; the other columns show numbers.
    EXPECT_FALSE(store.SetItemText(child, 1, "1.000 KB"));
    EXPECT_EQ(store.GetItemText(child, 1), "117.738 MB");
    ASSERT_TRUE(store.SetItemText(child, 0, "renamed, and longer than any inline buffer"));
    EXPECT_EQ(store.GetItemText(child), "renamed, and longer than any inline buffer");
    std::string longName(5000, 'p');  // a scan root's path may be long
    ASSERT_TRUE(store.SetItemText(root, 0, longName));
    EXPECT_EQ(store.GetItemText(root), longName);

    // A files item reads as its count of files, with its own size.
    HTREEITEM one = store.InsertFilesItem(root, 1, 512);
    HTREEITEM many = store.InsertFilesItem(root, 12, 0);
    EXPECT_EQ(store.GetItemText(one), "[1 file ]");
    EXPECT_EQ(store.GetItemText(many), "[12 files]");
    EXPECT_EQ(store.GetItemText(one, 1), "0.500 KB");
    EXPECT_EQ(store.GetItemImage(one), kImageFilesItem);
    EXPECT_TRUE(store.IsFilesItem(one));
    EXPECT_FALSE(store.IsFilesItem(child));
    EXPECT_EQ(store.GetItemFileCount(many), 12);
    EXPECT_EQ(store.GetItemFileCount(child), 0);
    EXPECT_EQ(store.GetItemPercent(many), 0);
}

TEST(TreeListStore, HandlesOfAnOlderGenerationOrDeletedItemsReadNeutral) {
    CTreeListCtrl store;
    MakeColumns(store);
    HTREEITEM root = store.InsertItem("root", kImageFolder);
    HTREEITEM child = store.InsertItem("child", kImageFilesItem, root);
    store.SetItemSize(child, 50);

    // Deleting an item takes its subtree.
    HTREEITEM grandchild = store.InsertItem("grandchild", kImageFolder, child);
    HTREEITEM sibling = store.InsertItem("sibling", kImageFolder, root);
    ASSERT_TRUE(store.DeleteItem(child));
    EXPECT_FALSE(store.IsLiveItem(child));
    EXPECT_FALSE(store.IsLiveItem(grandchild));
    EXPECT_EQ(store.GetChildCount(root), 1);
    EXPECT_EQ(store.GetRowOfItem(sibling), 0);  // the rows after it move up
    EXPECT_EQ(store.GetItemSize(child), std::nullopt);
    EXPECT_EQ(store.GetItemText(child), "");
    EXPECT_EQ(store.InsertItem("orphan", kImageFolder, grandchild), TVI_NULL);
    EXPECT_FALSE(store.DeleteItem(child));

    store.DeleteAllItems();
    HTREEITEM fresh = store.InsertItem("fresh", kImageFolder);
    // Same number as `root`, new generation: the old handle must not alias it.
    for (HTREEITEM stale : {root, child, grandchild, HTREEITEM(0x12345678ULL), TVI_NULL}) {
        EXPECT_EQ(store.GetItemText(stale), "");
        EXPECT_EQ(store.GetItemText(stale, 1), "");
        EXPECT_EQ(store.GetItemImage(stale), -1);
        EXPECT_EQ(store.GetItemPercent(stale), -1);
        EXPECT_EQ(store.GetItemSize(stale), std::nullopt);
        EXPECT_EQ(store.GetChildCount(stale), 0);
        EXPECT_EQ(store.GetChildItem(stale, 0), TVI_NULL);
        EXPECT_EQ(store.GetRowOfItem(stale), -1);
        EXPECT_EQ(store.GetParentItem(stale), TVI_NULL);
        EXPECT_FALSE(store.SetItemSize(stale, 3));
        EXPECT_FALSE(store.SetItemText(stale, 0, "x"));
        EXPECT_FALSE(store.DeleteItem(stale));
    }
    EXPECT_EQ(store.GetItemText(fresh), "fresh");
    EXPECT_EQ(store.GetItemSize(fresh), std::nullopt);
    EXPECT_EQ(store.GetRootItem(), fresh);
    EXPECT_EQ(store.GetParentItem(fresh), TVI_ROOT);
    EXPECT_EQ(store.GetPercentBase(), 0u);  // a new tree has no percentages yet
}

TEST(TreeListStore, SortsByPercentLargerFirstAndTopLevelByBytes) {
    CTreeListCtrl store;
    HTREEITEM root = store.InsertItem("root", kImageFolder);
    HTREEITEM none = store.InsertItem("none", kImageFolder, root);  // no size: counts as -1
    HTREEITEM low = store.InsertItem("low", kImageFolder, root);
    HTREEITEM high = store.InsertItem("high", kImageFolder, root);
    HTREEITEM tie = store.InsertItem("tie", kImageFolder, root);
    store.SetItemSize(low, 50);
    store.SetItemSize(high, 800);
    store.SetItemSize(tie, 45);  // smaller, but the same percentage as low
    store.SetPercentBase(1000);
    ASSERT_TRUE(store.SortChildrenByPercent(root));
    EXPECT_EQ(ChildTexts(store, root), (std::vector<std::string>{"high", "low", "tie", "none"}));
    EXPECT_EQ(store.GetRowOfItem(none), 3);
    EXPECT_EQ(store.GetRowOfItem(high), 0);
    EXPECT_EQ(store.GetChildItem(root, 0), high);

    EXPECT_EQ(CTreeListCtrl::ComparePercent(10, 20), 1);
    EXPECT_EQ(CTreeListCtrl::ComparePercent(20, 10), -1);
    EXPECT_EQ(CTreeListCtrl::ComparePercent(10, 10), 0);
    EXPECT_EQ(CTreeListCtrl::ComparePercent(-1, 0), 1);

    // By text: unsigned bytes, so "Z" < "[" < "a" < "é" (0xC3...); deeper
    // levels keep their order.
    HTREEITEM deep = store.InsertItem("\xc3\xa9", kImageFolder, root);
    store.InsertItem("b", kImageFolder, deep);
    store.InsertItem("a", kImageFolder, deep);
    store.InsertItem("Z", kImageFolder, root);
    store.InsertFilesItem(root, 2, 900);
    ASSERT_TRUE(store.SortTopLevel(false));
    EXPECT_EQ(ChildTexts(store, root), (std::vector<std::string>{"Z", "[2 files]", "high", "low",
                                                                 "none", "tie", "\xc3\xa9"}));
    EXPECT_EQ(ChildTexts(store, deep), (std::vector<std::string>{"b", "a"}));
    ASSERT_TRUE(store.SortTopLevel(true));
    EXPECT_EQ(ChildTexts(store, root).front(), "[2 files]");  // 90 %: placed by size
}

TEST(TreeListStore, EqualPercentagesAreOrderedByBytesThenByName) {
    // Shares of a large drive: everything below 0.1 % reads 0 %.
    CTreeListCtrl store;
    HTREEITEM root = store.InsertItem("root", kImageFolder);
    for (const char* name : {"small", "b-equal", "none", "large", "a-equal"}) {
        store.InsertItem(name, kImageFolder, root);
    }
    const std::map<std::string, uint64_t> sizes{
        {"small", 10}, {"b-equal", 500}, {"large", 900}, {"a-equal", 500}};
    for (int row = 0; row < store.GetChildCount(root); ++row) {
        HTREEITEM child = store.GetChildItem(root, row);
        auto size = sizes.find(store.GetItemText(child));
        if (size != sizes.end()) {
            store.SetItemSize(child, size->second);
        }
    }
    store.InsertFilesItem(root, 3, 500);  // ties with the two folders: "[" sorts before "a"
    store.SetPercentBase(uint64_t(1) << 40);
    ASSERT_EQ(store.GetItemPercent(store.GetChildItem(root, 3)), 0);
    ASSERT_TRUE(store.SortChildrenByPercent(root));
    EXPECT_EQ(ChildTexts(store, root), (std::vector<std::string>{"large", "[3 files]", "a-equal",
                                                                 "b-equal", "small", "none"}));
    // The header's sort of the top level breaks ties the same way, from
    // any order it starts in.
    ASSERT_TRUE(store.SortTopLevel(false));
    ASSERT_TRUE(store.SortTopLevel(true));
    EXPECT_EQ(ChildTexts(store, root), (std::vector<std::string>{"large", "[3 files]", "a-equal",
                                                                 "b-equal", "small", "none"}));
}

TEST(TreeListStore, WhileListeningSortsAndDeletesWaitForTheListener) {
    CTreeListCtrl store;
    HTREEITEM root = store.InsertItem("root", kImageFolder);
    HTREEITEM small = store.InsertItem("small", kImageFolder, root);
    EXPECT_TRUE(store.TakeChanges().empty());  // nothing recorded headless

    std::atomic<int> posts{0};
    CTreeListCtrl::ShownTree shown = store.AttachListener([&] { ++posts; });
    EXPECT_EQ(shown.announced, 3u);  // the top level, root and small
    HTREEITEM big = store.InsertItem("big", kImageFolder, root);
    store.SetItemSize(small, 1);
    store.SetItemSize(big, 9);
    store.SetPercentBase(10);
    store.SortChildrenByPercent(root);
    HTREEITEM late = store.InsertItem("late", kImageFolder, root);  // after the sort was asked
    store.SetMarkedColumn(2);
    store.SetMarkedColumn(2);  // no change, no announcement
    store.Expand(root);
    store.Expand(root);  // once per batch
    ASSERT_TRUE(store.DeleteItem(small));
    EXPECT_EQ(posts.load(), 1);  // coalesced until the listener takes them

    // Until the listener applies them, the order and the shape stay; the
    // deleted item already reads as deleted.
    EXPECT_EQ(ChildTexts(store, root), (std::vector<std::string>{"", "big", "late"}));
    EXPECT_FALSE(store.IsLiveItem(small));
    EXPECT_FALSE(store.DeleteItem(small));
    // The listener's own reads: only what it has announced.
    EXPECT_EQ(store.GetShownChildCount(root, shown.announced), 1);
    EXPECT_EQ(store.GetShownChild(root, 1, shown.announced), TVI_NULL);
    EXPECT_EQ(store.GetShownChild(shown.topLevel, 0, shown.announced), root);

    std::vector<TreeChange> changes = store.TakeChanges();
    std::vector<TreeChange::Kind> kinds;
    for (const TreeChange& change : changes) {
        kinds.push_back(change.kind);
    }
    EXPECT_EQ(kinds,
              (std::vector<TreeChange::Kind>{
                  TreeChange::Inserted, TreeChange::DataChanged, TreeChange::DataChanged,
                  TreeChange::PercentsChanged, TreeChange::ChildrenReordered, TreeChange::Inserted,
                  TreeChange::MarkChanged, TreeChange::ExpandRequested, TreeChange::Deleted}));
    EXPECT_EQ(changes[0].item, big);
    EXPECT_EQ(changes[0].parent, root);
    EXPECT_EQ(changes[4].parent, root);
    EXPECT_EQ(store.GetMarkedColumn(), 2);

    // Applied in order: the sort leaves the item made after it at the end.
    for (const TreeChange& change : changes) {
        store.ApplyChange(change);
    }
    EXPECT_EQ(ChildTexts(store, root), (std::vector<std::string>{"big", "late"}));
    EXPECT_EQ(store.GetRowOfItem(late), 1);
    EXPECT_EQ(store.GetShownParentAndRow(late), std::make_pair(root, 1));
    EXPECT_FALSE(store.IsShownLinked(small));
    EXPECT_TRUE(store.IsShownLinked(late));

    store.DetachListener();
    store.InsertItem("quiet", kImageFolder);
    EXPECT_TRUE(store.TakeChanges().empty());
}

TEST(TreeListStore, AClearedTreeStaysReadableForTheListenerUntilItResets) {
    CTreeListCtrl store;
    MakeColumns(store);
    HTREEITEM root = store.InsertItem("/old", kImageFolder);
    HTREEITEM child = store.InsertItem("child", kImageFolder, root);
    store.SetItemSize(child, 2048);
    CTreeListCtrl::ShownTree shown = store.AttachListener([] {});

    store.DeleteAllItems();
    HTREEITEM fresh = store.InsertItem("/new", kImageFolder);
    // Everyone else sees the new tree at once ...
    EXPECT_EQ(store.GetRootItem(), fresh);
    EXPECT_FALSE(store.IsLiveItem(root));
    EXPECT_EQ(store.GetChildCount(root), 0);
    // ... the listener still reads the old one, texts and sizes included.
    EXPECT_EQ(store.GetShownChild(shown.topLevel, 0, shown.announced), root);
    EXPECT_EQ(store.GetShownChildCount(root, shown.announced), 1);
    EXPECT_EQ(store.GetItemText(child, 1), "2.000 KB");

    std::vector<TreeChange> changes = store.TakeChanges();
    ASSERT_EQ(changes.size(), 2u);  // older changes are dropped by the clear
    ASSERT_EQ(changes[0].kind, TreeChange::AllDeleted);
    store.ApplyChange(changes[0]);
    EXPECT_EQ(store.GetShownChildCount(shown.topLevel, shown.announced), 0);
    EXPECT_EQ(store.GetItemText(child), "");
    EXPECT_EQ(store.GetShownChild(changes[0].item, 0, 2), fresh);

    // Twice before the listener catches up: the tree nobody saw goes at once.
    store.DeleteAllItems();
    HTREEITEM unseen = store.InsertItem("/unseen", kImageFolder);
    store.DeleteAllItems();
    EXPECT_EQ(store.GetItemText(unseen), "");
    EXPECT_EQ(store.GetItemText(fresh), "/new");  // what the listener shows stays
    changes = store.TakeChanges();
    ASSERT_EQ(changes.size(), 1u);
    store.ApplyChange(changes[0]);
    EXPECT_EQ(store.GetItemText(fresh), "");
}

TEST(TreeListStore, DetachingCarriesOutWhatWaitsForTheListener) {
    CTreeListCtrl store;
    HTREEITEM root = store.InsertItem("root", kImageFolder);
    HTREEITEM a = store.InsertItem("a", kImageFolder, root);
    HTREEITEM b = store.InsertItem("b", kImageFolder, root);
    store.InsertItem("c", kImageFolder, root);
    store.AttachListener([] {});
    store.DeleteItem(a);
    store.SetItemSize(b, 1);
    store.SetPercentBase(1);
    store.SortChildrenByPercent(root);
    store.DetachListener();
    EXPECT_EQ(ChildTexts(store, root), (std::vector<std::string>{"b", "c"}));

    // A clear the listener never applied releases the old tree too.
    store.AttachListener([] {});
    store.DeleteAllItems();
    store.DetachListener();
    EXPECT_EQ(store.GetItemText(b), "");
    EXPECT_EQ(store.GetRootItem(), TVI_NULL);
}

// A scan packs a folder's children once the folder is complete; later
// changes (a delete, a sort, a refresh adding children) must still find them.
class PackingStore : public CTreeListCtrl {
  public:
    void Complete(HTREEITEM item) {
        std::lock_guard lock(StoreMutex());
        CompleteChildrenLocked(item);
    }
};

TEST(TreeListStore, PackedChildrenGrowShrinkAndSortLikeAnyOthers) {
    PackingStore store;
    HTREEITEM root = store.InsertItem("root", kImageFolder);
    HTREEITEM a = store.InsertItem("a", kImageFolder, root);
    HTREEITEM a1 = store.InsertItem("a1", kImageFolder, a);
    store.InsertItem("a2", kImageFolder, a);
    store.Complete(a);
    store.InsertFilesItem(a, 3, 30);  // right after the packed run: grows in place
    HTREEITEM b = store.InsertItem("b", kImageFolder, root);
    store.InsertItem("b1", kImageFolder, b);
    store.Complete(b);
    store.Complete(root);
    // a's run is followed by b's now: a new child moves it.
    HTREEITEM a3 = store.InsertItem("a3", kImageFolder, a);
    store.InsertItem("b2", kImageFolder, b);
    HTREEITEM c = store.InsertItem("c", kImageFolder, root);
    EXPECT_EQ(ChildTexts(store, a), (std::vector<std::string>{"a1", "a2", "[3 files]", "a3"}));
    EXPECT_EQ(ChildTexts(store, b), (std::vector<std::string>{"b1", "b2"}));
    EXPECT_EQ(ChildTexts(store, root), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(store.GetRowOfItem(a3), 3);
    EXPECT_EQ(store.GetParentItem(a3), a);

    ASSERT_TRUE(store.DeleteItem(a1));
    EXPECT_EQ(ChildTexts(store, a), (std::vector<std::string>{"a2", "[3 files]", "a3"}));
    EXPECT_EQ(store.GetRowOfItem(a3), 2);
    store.SetItemSize(a3, 90);
    store.SetPercentBase(100);
    store.SortChildrenByPercent(a);
    store.Complete(a);
    EXPECT_EQ(ChildTexts(store, a), (std::vector<std::string>{"a3", "[3 files]", "a2"}));
    EXPECT_EQ(store.GetRowOfItem(a3), 0);
    ASSERT_TRUE(store.DeleteItem(c));
    store.InsertItem("d", kImageFolder, root);
    EXPECT_EQ(ChildTexts(store, root), (std::vector<std::string>{"a", "b", "d"}));
    EXPECT_EQ(ChildTexts(store, b), (std::vector<std::string>{"b1", "b2"}));
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
    EXPECT_EQ(store.GetSizeColumn(), -1);

    int first = store.AddShellIcon("/");
    int second = store.AddShellIcon("//server/share");
    EXPECT_GE(first, kFirstShellIconImage);
    EXPECT_NE(first, second);
    EXPECT_EQ(store.AddShellIcon("/"), first);  // rescans do not grow the list
    EXPECT_EQ(store.GetShellIconPath(second), "//server/share");
    EXPECT_EQ(store.GetShellIconPath(kImageFolder), "");
    HTREEITEM root = store.InsertItem("//server/share", second);
    EXPECT_EQ(store.GetItemImage(root), second);
}

TEST(TreeListStore, AHundredThousandLevelsSortDeleteAndFreeWithoutRecursion) {
    CTreeListCtrl store;
    constexpr int kDepth = 100000;
    HTREEITEM top = store.InsertItem("0", kImageFolder);
    HTREEITEM parent = top;
    HTREEITEM middle = TVI_NULL;
    for (int level = 1; level < kDepth; ++level) {
        parent = store.InsertItem("d", kImageFolder, parent);
        store.SetItemSize(parent, uint64_t(level % 100));
        if (level == kDepth / 2) {
            middle = parent;
        }
    }
    HTREEITEM bottom = parent;
    store.SetPercentBase(100);
    store.SortChildrenByPercent(middle);
    EXPECT_EQ(store.GetItemPercent(bottom), 99);
    ASSERT_TRUE(store.DeleteItem(middle));  // half the chain at once
    EXPECT_FALSE(store.IsLiveItem(bottom));
    EXPECT_EQ(store.GetItemPercent(bottom), -1);
    store.DeleteAllItems();
    EXPECT_EQ(store.GetChildCount(TVI_ROOT), 0);
    EXPECT_EQ(store.GetItemText(top), "");
}

// Names carry the item's size, so that a reader can tell a torn or mixed-up
// read from a consistent one.
std::string NameFor(uint64_t size) {
    return "n" + std::to_string(size);
}

TEST(TreeListStore, ReadersOnOtherThreadsSeeConsistentOrNeutralValues) {
    CTreeListCtrl store;
    MakeColumns(store);
    std::atomic<bool> stop{false};
    std::atomic<bool> enough{false};
    std::thread writer([&] {
        std::mt19937 random(11);
        // Until the reader has seen enough, however the threads are scheduled.
        for (int round = 0; round < 100000 && !enough; ++round) {
            HTREEITEM root = store.InsertItem("root", kImageFolder);
            std::vector<HTREEITEM> children;
            for (int i = 0; i < 60; ++i) {
                uint64_t size = random() % 5000;
                HTREEITEM child = store.InsertItem(NameFor(size), kImageFolder, root);
                store.SetItemSize(child, size);
                children.push_back(child);
            }
            store.SetPercentBase(5000);
            store.SortChildrenByPercent(root);
            store.DeleteItem(children[random() % children.size()]);
            store.DeleteAllItems();
        }
        stop = true;
    });
    int seen = 0;
    while (!stop) {
        HTREEITEM root = store.GetRootItem();
        for (int row = 0; row < store.GetChildCount(root); ++row) {
            HTREEITEM child = store.GetChildItem(root, row);
            if (child == TVI_NULL || !store.IsLiveItem(child)) {
                continue;  // a new tree or a deletion came between the reads
            }
            std::string name = store.GetItemText(child);
            std::optional<uint64_t> size = store.GetItemSize(child);
            std::string sizeText = store.GetItemText(child, 1);
            HTREEITEM parent = store.GetParentItem(child);
            int percent = store.GetItemPercent(child);
            // Read one after another: the item may die in between (it then
            // reads neutral), but it never reads as another item.
            if (!store.IsLiveItem(child) || !size) {
                continue;
            }
            EXPECT_EQ(name, NameFor(*size));
            EXPECT_EQ(sizeText, FormatSize(*size));
            EXPECT_EQ(parent, root);
            EXPECT_TRUE(percent == -1 || percent == PercentOf(*size, 5000)) << percent;
            if (++seen == 20000) {
                enough = true;
            }
        }
    }
    writer.join();
    EXPECT_GT(seen, 0);
}

TEST(TreeListStore, AListenerRacingAWriterAlwaysReadsAPrefixOfTheTree) {
    // The listener's thread takes and applies the journal while a writer
    // inserts, sorts and deletes: what the listener has announced is always
    // linked as it announced it (parent and row agree both ways), and once
    // everything is applied it is the whole tree.
    CTreeListCtrl store;
    std::atomic<bool> done{false};
    CTreeListCtrl::ShownTree shown = store.AttachListener([] {});
    std::thread writer([&] {
        std::mt19937 random(5);
        std::vector<HTREEITEM> items;
        for (int round = 0; round < 3; ++round) {
            store.DeleteAllItems();
            items.assign(1, store.InsertItem("/root", kImageFolder));
            for (int step = 0; step < 4000; ++step) {
                HTREEITEM parent = items[random() % items.size()];
                switch (random() % 6) {
                    case 0:
                        store.SortChildrenByPercent(parent);
                        break;
                    case 1:
                        if (parent != items.front()) {
                            store.DeleteItem(parent);
                        }
                        break;
                    case 2:
                        store.SetItemSize(parent, random() % 100);
                        store.SetPercentBase(100);
                        break;
                    default:
                        items.push_back(
                            store.InsertItem("n" + std::to_string(step), kImageFolder, parent));
                        break;
                }
            }
        }
        done = true;
    });
    HTREEITEM top = shown.topLevel;
    uint32_t announced = shown.announced;
    auto checkShown = [&](std::string& why) {
        std::vector<HTREEITEM> pending{top};
        while (!pending.empty()) {
            HTREEITEM parent = pending.back();
            pending.pop_back();
            int count = store.GetShownChildCount(parent, announced);
            for (int row = 0; row < count; ++row) {
                HTREEITEM child = store.GetShownChild(parent, row, announced);
                if (child == TVI_NULL ||
                    store.GetShownParentAndRow(child) != std::pair(parent, row)) {
                    why = "row " + std::to_string(row) + " is not linked back";
                    return false;
                }
                pending.push_back(child);
            }
        }
        return true;
    };
    int rounds = 0;
    std::string why;
    while (why.empty()) {
        bool finished = done.load();
        for (const TreeChange& change : store.TakeChanges()) {
            store.ApplyChange(change);
            if (change.kind == TreeChange::AllDeleted) {
                top = change.item;
                announced = 1;
            } else if (change.kind == TreeChange::Inserted) {
                announced = CTreeListCtrl::ItemNumberOf(change.item) + 1;
            }
        }
        checkShown(why);
        ++rounds;
        if (finished) {
            break;
        }
    }
    writer.join();
    EXPECT_EQ(why, "");
    EXPECT_GT(rounds, 0);
    // Everything applied: the shown tree is the tree, level by level.
    std::vector<std::pair<HTREEITEM, HTREEITEM>> pending{{top, TVI_ROOT}};
    while (!pending.empty()) {
        auto [shownParent, parent] = pending.back();
        pending.pop_back();
        ASSERT_EQ(store.GetShownChildCount(shownParent, announced), store.GetChildCount(parent));
        for (int row = 0; row < store.GetChildCount(parent); ++row) {
            HTREEITEM child = store.GetChildItem(parent, row);
            ASSERT_EQ(store.GetShownChild(shownParent, row, announced), child);
            pending.emplace_back(child, child);
        }
    }
    store.DetachListener();
}

}  // namespace
}  // namespace quarn
