#include "foldersize/FolderTreeStore.h"

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

// A node's text as the pane shows it: its name, or "[n files]".
std::string Text(const FolderTreeStore& store, NodeHandle item) {
    return store.IsFilesItem(item) ? FilesItemText(store.GetItemFileCount(item))
                                   : store.GetItemName(item);
}

std::string SizeText(const FolderTreeStore& store, NodeHandle item) {
    const std::optional<uint64_t> size = store.GetItemSize(item);
    return size ? FormatSize(*size) : std::string();
}

std::vector<std::string> ChildTexts(const FolderTreeStore& store, NodeHandle parent) {
    std::vector<std::string> texts;
    for (int row = 0; row < store.GetChildCount(parent); ++row) {
        texts.push_back(Text(store, store.GetChildItem(parent, row)));
    }
    return texts;
}

TEST(FolderTreeStore, NodesKeepRawNumbersThatTextsAreMadeFrom) {
    FolderTreeStore store;
    NodeHandle root = store.InsertItem("root", NodeKind::Folder);
    NodeHandle child = store.InsertItem("child", NodeKind::Folder, root);

    // No size yet: empty size text, no percentage, also once there is a base.
    EXPECT_EQ(SizeText(store, child), "");
    EXPECT_EQ(store.GetItemSize(child), std::nullopt);
    EXPECT_EQ(store.GetItemPercent(child), -1);

    ASSERT_TRUE(store.SetItemSize(child, 123456789));
    ASSERT_TRUE(store.SetItemSize(root, 1000));
    EXPECT_EQ(SizeText(store, child), "117.738 MB");
    EXPECT_EQ(store.GetItemPercent(child), -1);  // no base: no percentage
    EXPECT_EQ(store.GetItemPercent(root), -1);
    store.SetPercentBase(1001);
    EXPECT_EQ(store.GetItemPercent(root), 100);  // 99.9 + 0.9 truncated
    store.SetPercentBase(3000);
    EXPECT_EQ(store.GetItemPercent(root), 34);  // one third: 33.3 + 0.9

    // Only the name is kept as given; sizes stay numbers.
    ASSERT_TRUE(store.SetItemName(child, "renamed, and longer than any inline buffer"));
    EXPECT_EQ(Text(store, child), "renamed, and longer than any inline buffer");
    std::string longName(5000, 'p');  // a scan root's path may be long
    ASSERT_TRUE(store.SetItemName(root, longName));
    EXPECT_EQ(Text(store, root), longName);

    // A files item reads as its count of files, with its own size.
    NodeHandle one = store.InsertFilesItem(root, 1, 512);
    NodeHandle many = store.InsertFilesItem(root, 12, 0);
    EXPECT_EQ(Text(store, one), "[1 file ]");
    EXPECT_EQ(Text(store, many), "[12 files]");
    EXPECT_EQ(SizeText(store, one), "0.500 KB");
    EXPECT_EQ(store.GetItemKind(one), NodeKind::FilesItem);
    EXPECT_EQ(store.GetItemName(one), "");  // a files item has a count, no name
    store.SetItemName(one, "x");
    EXPECT_EQ(store.GetItemName(one), "");
    EXPECT_TRUE(store.IsFilesItem(one));
    EXPECT_FALSE(store.IsFilesItem(child));
    EXPECT_EQ(store.GetItemFileCount(many), 12);
    EXPECT_EQ(store.GetItemFileCount(child), 0);
    EXPECT_EQ(store.GetItemPercent(many), 0);
}

TEST(FolderTreeStore, HandlesOfAnOlderGenerationOrDeletedItemsReadNeutral) {
    FolderTreeStore store;
    NodeHandle root = store.InsertItem("root", NodeKind::Folder);
    NodeHandle child = store.InsertItem("child", NodeKind::Folder, root);
    store.SetItemSize(child, 50);

    // Deleting an item takes its subtree.
    NodeHandle grandchild = store.InsertItem("grandchild", NodeKind::Folder, child);
    NodeHandle sibling = store.InsertItem("sibling", NodeKind::Folder, root);
    ASSERT_TRUE(store.DeleteItem(child));
    EXPECT_FALSE(store.IsLiveItem(child));
    EXPECT_FALSE(store.IsLiveItem(grandchild));
    EXPECT_EQ(store.GetChildCount(root), 1);
    EXPECT_EQ(store.GetRowOfItem(sibling), 0);  // the rows after it move up
    EXPECT_EQ(store.GetItemSize(child), std::nullopt);
    EXPECT_EQ(Text(store, child), "");
    EXPECT_EQ(store.InsertItem("orphan", NodeKind::Folder, grandchild), kNoNode);
    EXPECT_FALSE(store.DeleteItem(child));

    store.DeleteAllItems();
    NodeHandle fresh = store.InsertItem("fresh", NodeKind::Folder);
    // Same number as `root`, new generation: the old handle must not alias it.
    for (NodeHandle stale : {root, child, grandchild, NodeHandle(0x12345678ULL), kNoNode}) {
        EXPECT_EQ(Text(store, stale), "");
        EXPECT_EQ(SizeText(store, stale), "");
        EXPECT_EQ(store.GetItemKind(stale), std::nullopt);
        EXPECT_EQ(store.GetItemPercent(stale), -1);
        EXPECT_EQ(store.GetItemSize(stale), std::nullopt);
        EXPECT_EQ(store.GetChildCount(stale), 0);
        EXPECT_EQ(store.GetChildItem(stale, 0), kNoNode);
        EXPECT_EQ(store.GetRowOfItem(stale), -1);
        EXPECT_EQ(store.GetParentItem(stale), kNoNode);
        EXPECT_FALSE(store.SetItemSize(stale, 3));
        EXPECT_FALSE(store.SetItemName(stale, "x"));
        EXPECT_FALSE(store.DeleteItem(stale));
    }
    EXPECT_EQ(Text(store, fresh), "fresh");
    EXPECT_EQ(store.GetItemSize(fresh), std::nullopt);
    EXPECT_EQ(store.GetRootItem(), fresh);
    EXPECT_EQ(store.GetParentItem(fresh), kTopLevel);
    EXPECT_EQ(store.GetPercentBase(), 0u);  // a new tree has no percentages yet
}

TEST(FolderTreeStore, SortsByPercentLargerFirstAndTopLevelByBytes) {
    FolderTreeStore store;
    NodeHandle root = store.InsertItem("root", NodeKind::Folder);
    NodeHandle none = store.InsertItem("none", NodeKind::Folder, root);  // no size: counts as -1
    NodeHandle low = store.InsertItem("low", NodeKind::Folder, root);
    NodeHandle high = store.InsertItem("high", NodeKind::Folder, root);
    NodeHandle tie = store.InsertItem("tie", NodeKind::Folder, root);
    store.SetItemSize(low, 50);
    store.SetItemSize(high, 800);
    store.SetItemSize(tie, 45);  // smaller, but the same percentage as low
    store.SetPercentBase(1000);
    ASSERT_TRUE(store.SortChildrenByPercent(root));
    EXPECT_EQ(ChildTexts(store, root), (std::vector<std::string>{"high", "low", "tie", "none"}));
    EXPECT_EQ(store.GetRowOfItem(none), 3);
    EXPECT_EQ(store.GetRowOfItem(high), 0);
    EXPECT_EQ(store.GetChildItem(root, 0), high);

    EXPECT_EQ(FolderTreeStore::ComparePercent(10, 20), 1);
    EXPECT_EQ(FolderTreeStore::ComparePercent(20, 10), -1);
    EXPECT_EQ(FolderTreeStore::ComparePercent(10, 10), 0);
    EXPECT_EQ(FolderTreeStore::ComparePercent(-1, 0), 1);

    // By text: unsigned bytes, so "Z" < "[" < "a" < "é" (0xC3...); deeper
    // levels keep their order.
    NodeHandle deep = store.InsertItem("\xc3\xa9", NodeKind::Folder, root);
    store.InsertItem("b", NodeKind::Folder, deep);
    store.InsertItem("a", NodeKind::Folder, deep);
    store.InsertItem("Z", NodeKind::Folder, root);
    store.InsertFilesItem(root, 2, 900);
    ASSERT_TRUE(store.SortTopLevel(false));
    EXPECT_EQ(ChildTexts(store, root), (std::vector<std::string>{"Z", "[2 files]", "high", "low",
                                                                 "none", "tie", "\xc3\xa9"}));
    EXPECT_EQ(ChildTexts(store, deep), (std::vector<std::string>{"b", "a"}));
    ASSERT_TRUE(store.SortTopLevel(true));
    EXPECT_EQ(ChildTexts(store, root).front(), "[2 files]");  // 90 %: placed by size
}

TEST(FolderTreeStore, EqualPercentagesAreOrderedByBytesThenByName) {
    // Shares of a large drive: everything below 0.1 % reads 0 %.
    FolderTreeStore store;
    NodeHandle root = store.InsertItem("root", NodeKind::Folder);
    for (const char* name : {"small", "b-equal", "none", "large", "a-equal"}) {
        store.InsertItem(name, NodeKind::Folder, root);
    }
    const std::map<std::string, uint64_t> sizes{
        {"small", 10}, {"b-equal", 500}, {"large", 900}, {"a-equal", 500}};
    for (int row = 0; row < store.GetChildCount(root); ++row) {
        NodeHandle child = store.GetChildItem(root, row);
        auto size = sizes.find(Text(store, child));
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

TEST(FolderTreeStore, WhileListeningSortsAndDeletesWaitForTheListener) {
    FolderTreeStore store;
    NodeHandle root = store.InsertItem("root", NodeKind::Folder);
    NodeHandle small = store.InsertItem("small", NodeKind::Folder, root);
    EXPECT_TRUE(store.TakeChanges().empty());  // nothing recorded headless

    std::atomic<int> posts{0};
    FolderTreeStore::ShownTree shown = store.AttachListener([&] { ++posts; });
    EXPECT_EQ(shown.announced, 3u);  // the top level, root and small
    NodeHandle big = store.InsertItem("big", NodeKind::Folder, root);
    store.SetItemSize(small, 1);
    store.SetItemSize(big, 9);
    store.SetPercentBase(10);
    store.SortChildrenByPercent(root);
    NodeHandle late = store.InsertItem("late", NodeKind::Folder, root);  // after the sort was asked
    store.Expand(root);
    store.Expand(root);  // once per batch
    ASSERT_TRUE(store.DeleteItem(small));
    EXPECT_EQ(posts.load(), 1);  // coalesced until the listener takes them

    // Until the listener applies them, the order and the shape stay; the
    // deleted item already reads as deleted.
    EXPECT_EQ(ChildTexts(store, root), (std::vector<std::string>{"", "big", "late"}));
    // The listener's label of the row keeps its name until it removes the row.
    ASSERT_TRUE(store.GetShownLabel(small).has_value());
    EXPECT_EQ(store.GetShownLabel(small)->name, "small");
    EXPECT_FALSE(store.IsLiveItem(small));
    EXPECT_FALSE(store.DeleteItem(small));
    // The listener's own reads: only what it has announced.
    EXPECT_EQ(store.GetShownChildCount(root, shown.announced), 1);
    EXPECT_EQ(store.GetShownChild(root, 1, shown.announced), kNoNode);
    EXPECT_EQ(store.GetShownChild(shown.topLevel, 0, shown.announced), root);

    std::vector<TreeChange> changes = store.TakeChanges();
    std::vector<TreeChange::Kind> kinds;
    for (const TreeChange& change : changes) {
        kinds.push_back(change.kind);
    }
    EXPECT_EQ(kinds, (std::vector<TreeChange::Kind>{
                         TreeChange::Inserted, TreeChange::DataChanged, TreeChange::DataChanged,
                         TreeChange::PercentsChanged, TreeChange::ChildrenReordered,
                         TreeChange::Inserted, TreeChange::ExpandRequested, TreeChange::Deleted}));
    EXPECT_EQ(changes[0].item, big);
    EXPECT_EQ(changes[0].parent, root);
    EXPECT_EQ(changes[4].parent, root);

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
    store.InsertItem("quiet", NodeKind::Folder);
    EXPECT_TRUE(store.TakeChanges().empty());
}

TEST(FolderTreeStore, AClearedTreeStaysReadableForTheListenerUntilItResets) {
    FolderTreeStore store;
    NodeHandle root = store.InsertItem("/old", NodeKind::Folder);
    NodeHandle child = store.InsertItem("child", NodeKind::Folder, root);
    store.SetItemSize(child, 2048);
    FolderTreeStore::ShownTree shown = store.AttachListener([] {});

    store.DeleteAllItems();
    NodeHandle fresh = store.InsertItem("/new", NodeKind::Folder);
    // Everyone else sees the new tree at once ...
    EXPECT_EQ(store.GetRootItem(), fresh);
    EXPECT_FALSE(store.IsLiveItem(root));
    EXPECT_EQ(store.GetChildCount(root), 0);
    // ... the listener still reads the old one, texts and sizes included.
    EXPECT_EQ(store.GetShownChild(shown.topLevel, 0, shown.announced), root);
    EXPECT_EQ(store.GetShownChildCount(root, shown.announced), 1);
    EXPECT_EQ(SizeText(store, child), "2.000 KB");

    std::vector<TreeChange> changes = store.TakeChanges();
    ASSERT_EQ(changes.size(), 2u);  // older changes are dropped by the clear
    ASSERT_EQ(changes[0].kind, TreeChange::AllDeleted);
    store.ApplyChange(changes[0]);
    EXPECT_EQ(store.GetShownChildCount(shown.topLevel, shown.announced), 0);
    EXPECT_EQ(Text(store, child), "");
    EXPECT_EQ(store.GetShownChild(changes[0].item, 0, 2), fresh);

    // Twice before the listener catches up: the tree nobody saw goes at once.
    store.DeleteAllItems();
    NodeHandle unseen = store.InsertItem("/unseen", NodeKind::Folder);
    store.DeleteAllItems();
    EXPECT_EQ(Text(store, unseen), "");
    EXPECT_EQ(Text(store, fresh), "/new");  // what the listener shows stays
    changes = store.TakeChanges();
    ASSERT_EQ(changes.size(), 1u);
    store.ApplyChange(changes[0]);
    EXPECT_EQ(Text(store, fresh), "");
}

TEST(FolderTreeStore, DetachingCarriesOutWhatWaitsForTheListener) {
    FolderTreeStore store;
    NodeHandle root = store.InsertItem("root", NodeKind::Folder);
    NodeHandle a = store.InsertItem("a", NodeKind::Folder, root);
    NodeHandle b = store.InsertItem("b", NodeKind::Folder, root);
    store.InsertItem("c", NodeKind::Folder, root);
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
    EXPECT_EQ(Text(store, b), "");
    EXPECT_EQ(store.GetRootItem(), kNoNode);
}

// A scan packs a folder's children once the folder is complete; later
// changes (a delete, a sort, a refresh adding children) must still find them.
class PackingStore : public FolderTreeStore {
  public:
    void Complete(NodeHandle item) {
        std::lock_guard lock(StoreMutex());
        CompleteChildrenLocked(item);
    }
};

TEST(FolderTreeStore, PackedChildrenGrowShrinkAndSortLikeAnyOthers) {
    PackingStore store;
    NodeHandle root = store.InsertItem("root", NodeKind::Folder);
    NodeHandle a = store.InsertItem("a", NodeKind::Folder, root);
    NodeHandle a1 = store.InsertItem("a1", NodeKind::Folder, a);
    store.InsertItem("a2", NodeKind::Folder, a);
    store.Complete(a);
    store.InsertFilesItem(a, 3, 30);  // right after the packed run: grows in place
    NodeHandle b = store.InsertItem("b", NodeKind::Folder, root);
    store.InsertItem("b1", NodeKind::Folder, b);
    store.Complete(b);
    store.Complete(root);
    // a's run is followed by b's now: a new child moves it.
    NodeHandle a3 = store.InsertItem("a3", NodeKind::Folder, a);
    store.InsertItem("b2", NodeKind::Folder, b);
    NodeHandle c = store.InsertItem("c", NodeKind::Folder, root);
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
    store.InsertItem("d", NodeKind::Folder, root);
    EXPECT_EQ(ChildTexts(store, root), (std::vector<std::string>{"a", "b", "d"}));
    EXPECT_EQ(ChildTexts(store, b), (std::vector<std::string>{"b1", "b2"}));
}

TEST(FolderTreeStore, KindsMarkWhatAFolderIsAndAFilesItemStaysOne) {
    FolderTreeStore store;
    NodeHandle root = store.InsertItem("//server/share", NodeKind::Folder);
    NodeHandle closed = store.InsertItem("closed", NodeKind::Unreadable, root);
    NodeHandle mounted = store.InsertItem("mnt", NodeKind::OtherFileSystem, root);
    NodeHandle files = store.InsertFilesItem(root, 2, 10);
    EXPECT_EQ(store.GetItemKind(closed), NodeKind::Unreadable);
    EXPECT_EQ(store.GetItemKind(mounted), NodeKind::OtherFileSystem);
    // A refresh reads a folder anew: its kind follows what the walk found.
    ASSERT_TRUE(store.SetItemKind(closed, NodeKind::Folder));
    EXPECT_EQ(store.GetItemKind(closed), NodeKind::Folder);
    // A folder never becomes a files item, nor a files item a folder.
    EXPECT_TRUE(store.SetItemKind(files, NodeKind::Folder));
    EXPECT_EQ(store.GetItemKind(files), NodeKind::FilesItem);
    store.SetItemKind(closed, NodeKind::FilesItem);
    EXPECT_FALSE(store.IsFilesItem(closed));
    EXPECT_EQ(store.InsertItem("x", NodeKind::FilesItem, root) != kNoNode, true);
    EXPECT_EQ(store.GetItemKind(store.GetChildItem(root, 3)), NodeKind::Folder);
    // A plain store knows nothing of where its root lies or why a folder was not read.
    EXPECT_EQ(store.GetRootPlace(), FolderTreeStore::RootPlace::Folder);
    EXPECT_EQ(store.GetReadProblem(closed), std::nullopt);
}

TEST(FolderTreeStore, AHundredThousandLevelsSortDeleteAndFreeWithoutRecursion) {
    FolderTreeStore store;
    constexpr int kDepth = 100000;
    NodeHandle top = store.InsertItem("0", NodeKind::Folder);
    NodeHandle parent = top;
    NodeHandle middle = kNoNode;
    for (int level = 1; level < kDepth; ++level) {
        parent = store.InsertItem("d", NodeKind::Folder, parent);
        store.SetItemSize(parent, uint64_t(level % 100));
        if (level == kDepth / 2) {
            middle = parent;
        }
    }
    NodeHandle bottom = parent;
    store.SetPercentBase(100);
    store.SortChildrenByPercent(middle);
    EXPECT_EQ(store.GetItemPercent(bottom), 99);
    ASSERT_TRUE(store.DeleteItem(middle));  // half the chain at once
    EXPECT_FALSE(store.IsLiveItem(bottom));
    EXPECT_EQ(store.GetItemPercent(bottom), -1);
    store.DeleteAllItems();
    EXPECT_EQ(store.GetChildCount(kTopLevel), 0);
    EXPECT_EQ(Text(store, top), "");
}

// Names carry the item's size, so that a reader can tell a torn or mixed-up
// read from a consistent one.
std::string NameFor(uint64_t size) {
    return "n" + std::to_string(size);
}

TEST(FolderTreeStore, ReadersOnOtherThreadsSeeConsistentOrNeutralValues) {
    FolderTreeStore store;
    std::atomic<bool> stop{false};
    std::atomic<bool> enough{false};
    std::thread writer([&] {
        std::mt19937 random(11);
        // Until the reader has seen enough, however the threads are scheduled.
        for (int round = 0; round < 100000 && !enough; ++round) {
            NodeHandle root = store.InsertItem("root", NodeKind::Folder);
            std::vector<NodeHandle> children;
            for (int i = 0; i < 60; ++i) {
                uint64_t size = random() % 5000;
                NodeHandle child = store.InsertItem(NameFor(size), NodeKind::Folder, root);
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
        NodeHandle root = store.GetRootItem();
        for (int row = 0; row < store.GetChildCount(root); ++row) {
            NodeHandle child = store.GetChildItem(root, row);
            if (child == kNoNode || !store.IsLiveItem(child)) {
                continue;  // a new tree or a deletion came between the reads
            }
            std::string name = Text(store, child);
            std::optional<uint64_t> size = store.GetItemSize(child);
            std::string sizeText = SizeText(store, child);
            NodeHandle parent = store.GetParentItem(child);
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

TEST(FolderTreeStore, AListenerRacingAWriterAlwaysReadsAPrefixOfTheTree) {
    // The listener's thread takes and applies the journal while a writer
    // inserts, sorts and deletes: what the listener has announced is always
    // linked as it announced it (parent and row agree both ways), and once
    // everything is applied it is the whole tree.
    FolderTreeStore store;
    std::atomic<bool> done{false};
    FolderTreeStore::ShownTree shown = store.AttachListener([] {});
    std::thread writer([&] {
        std::mt19937 random(5);
        std::vector<NodeHandle> items;
        for (int round = 0; round < 3; ++round) {
            store.DeleteAllItems();
            items.assign(1, store.InsertItem("/root", NodeKind::Folder));
            for (int step = 0; step < 4000; ++step) {
                NodeHandle parent = items[random() % items.size()];
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
                            store.InsertItem("n" + std::to_string(step), NodeKind::Folder, parent));
                        break;
                }
            }
        }
        done = true;
    });
    NodeHandle top = shown.topLevel;
    uint32_t announced = shown.announced;
    auto checkShown = [&](std::string& why) {
        std::vector<NodeHandle> pending{top};
        while (!pending.empty()) {
            NodeHandle parent = pending.back();
            pending.pop_back();
            int count = store.GetShownChildCount(parent, announced);
            for (int row = 0; row < count; ++row) {
                NodeHandle child = store.GetShownChild(parent, row, announced);
                if (child == kNoNode ||
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
                announced = FolderTreeStore::ItemNumberOf(change.item) + 1;
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
    std::vector<std::pair<NodeHandle, NodeHandle>> pending{{top, kTopLevel}};
    while (!pending.empty()) {
        auto [shownParent, parent] = pending.back();
        pending.pop_back();
        ASSERT_EQ(store.GetShownChildCount(shownParent, announced), store.GetChildCount(parent));
        for (int row = 0; row < store.GetChildCount(parent); ++row) {
            NodeHandle child = store.GetChildItem(parent, row);
            ASSERT_EQ(store.GetShownChild(shownParent, row, announced), child);
            pending.emplace_back(child, child);
        }
    }
    store.DetachListener();
}

}  // namespace
}  // namespace quarn
