#pragma once
// The folder tree as a worker fills it while the interface thread shows it:
// a FolderTree (plain nodes, raw numbers) behind one lock, with handles that
// stay readable forever and a journal of changes for one listener (the Qt
// model). Nothing formatted is kept per node; a model makes its texts from
// the numbers when it shows them, and keeps no copy of the tree.
//
// Threads: every operation may be called from any thread unless it says
// otherwise; one mutex guards the whole store. Handles stay readable forever:
// a handle of an older generation (before the last DeleteAllItems), a removed
// node or a made-up value reads as neutral values (no name, no kind, no size,
// percentage -1, no children) and writes to it are ignored.
//
// Nothing here recurses: deleting, sorting and freeing a tree 100,000 levels
// deep use the heap, not the machine stack.
//
// The listener. While one is attached, every change is journalled and the
// listener's poster is called (coalesced, see platform/ChangeNotifier.h); the
// listener then takes the changes on its own thread and applies them in
// order. So that a view never sees rows it has not been told of:
//  - a new node is visible to the listener's Shown* reads only once the
//    listener has counted it as announced (the `announced` limit below);
//  - a sort, a delete and a DeleteAllItems change the order and the shape of
//    the tree only when the listener applies their journal entry
//    (ApplyChange), so that it can announce them first. Until then every
//    reader sees the order from before; a deleted node already reads as
//    deleted, and after a clear the store is already the new, empty tree.
//    The old tree's nodes keep reading as they were (names, sizes, and the
//    listener's Shown* reads) until the listener applies the clear; only
//    then is it freed.
// With no listener, all of this happens at once.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "foldersize/FolderReadProblems.h"
#include "foldersize/FolderTree.h"
#include "platform/ChangeNotifier.h"

namespace quarn {

// A node of the store: the tree's generation in the high 32 bits, the
// node's number in the low 32 bits.
using NodeHandle = uint64_t;
// No node.
inline constexpr NodeHandle kNoNode = 0;
// The invisible parent of the top-level nodes of the current tree.
inline constexpr NodeHandle kTopLevel = ~NodeHandle(0);

struct TreeChange {
    enum Kind : uint8_t {
        Inserted,           // item appended as the last child of parent
        DataChanged,        // item's name, size or kind changed
        PercentsChanged,    // the percent base changed: every percentage may have
        ChildrenReordered,  // parent's children are to be sorted (ApplyChange)
        Deleted,            // item and its subtree are to leave the tree (ApplyChange)
        AllDeleted,         // a new, empty tree (item: its top level) replaces the old one
        ExpandRequested,    // the owner asks the view to expand item
    };
    Kind kind;
    // ChildrenReordered: by percentage (keeping a files item at the end when
    // asked), or by name.
    bool byText = false;
    // By the keys of SortChildrenByKeys instead.
    bool byKey = false;
    bool keepFilesItemLast = false;
    // ChildrenReordered: the nodes made before the sort was asked for; only
    // those are sorted, later ones keep their places at the end.
    uint32_t limit = 0;
    NodeHandle item = kNoNode;
    NodeHandle parent = kNoNode;
};

class FolderTreeStore {
  public:
    FolderTreeStore();
    virtual ~FolderTreeStore();
    FolderTreeStore(const FolderTreeStore&) = delete;
    FolderTreeStore& operator=(const FolderTreeStore&) = delete;

    // --- Nodes -------------------------------------------------------------
    // Appends a folder node as the last child of `parent` (kTopLevel: the
    // top level). Returns kNoNode when the parent is not a live node.
    NodeHandle InsertItem(std::string_view name, NodeKind kind, NodeHandle parent = kTopLevel);
    // Appends a folder's files item, with its file count and size.
    NodeHandle InsertFilesItem(NodeHandle parent, int64_t fileCount, uint64_t bytes);
    // Removes the node and its subtree from the tree (see the listener
    // above). Returns false for a handle that is not live.
    bool DeleteItem(NodeHandle item);
    // Starts a new, empty tree; older handles read neutral.
    void DeleteAllItems();

    // The first top-level node, kNoNode when there is none.
    NodeHandle GetRootItem() const;
    // kTopLevel for a top-level node, kNoNode for a handle that is not live.
    NodeHandle GetParentItem(NodeHandle item) const;
    // Children of `parent` (kTopLevel: the top level); 0 for a dead handle.
    int GetChildCount(NodeHandle parent) const;
    // The child in `row`, kNoNode when out of range.
    NodeHandle GetChildItem(NodeHandle parent, int row) const;
    // The node's row among its parent's children, -1 for a dead handle.
    int GetRowOfItem(NodeHandle item) const;
    bool IsLiveItem(NodeHandle item) const;
    bool IsFilesItem(NodeHandle item) const;

    // Nothing for a dead handle.
    std::optional<NodeKind> GetItemKind(NodeHandle item) const;
    bool SetItemKind(NodeHandle item, NodeKind kind);

    // The node's name: a folder's own name (the scan root: its path); empty
    // for a files item and a dead handle.
    std::string GetItemName(NodeHandle item) const;
    bool SetItemName(NodeHandle item, std::string_view name);

    // The node's size in bytes; nothing until one is set (a folder the scan
    // has not finished).
    std::optional<uint64_t> GetItemSize(NodeHandle item) const;
    bool SetItemSize(NodeHandle item, uint64_t bytes);
    // A files item's number of files, 0 for other nodes.
    int64_t GetItemFileCount(NodeHandle item) const;

    // What every percentage is a share of (0 = nodes have no percentage).
    // Setting it announces PercentsChanged.
    uint64_t GetPercentBase() const;
    void SetPercentBase(uint64_t base);
    // The node's size as a share of the percent base, 0..100 (the rounding
    // of PercentOf); -1 without a size or a base.
    int GetItemPercent(NodeHandle item) const;

    // Sort order of percentages, larger first: 1 when the first is smaller,
    // -1 when it is larger, 0 when both are equal.
    static int ComparePercent(int first, int second);
    // Orders the direct children of `item` (kTopLevel allowed) by
    // ComparePercent; nodes without a percentage count as -1; equal
    // percentages by size, larger first, then by name (byte order).
    bool SortChildrenByPercent(NodeHandle item);
    // Orders the children of the first top-level node: by percentage (ties
    // as above), or by their names in unsigned byte order. Deeper levels
    // keep their order.
    bool SortTopLevel(bool byPercent);
    // Orders the children of every node in `keys` by their keys, larger
    // first (a child without one counts as 0, ties keep their order, a files
    // item last stays last): a comparison's order by change.
    void SortChildrenByKeys(std::unordered_map<NodeHandle, int64_t> keys);

    // Asks the view to expand the node. Announced once per batch the
    // listener takes; the expand state itself is the view's.
    bool Expand(NodeHandle item);

    // --- What the owner knows beyond the nodes -------------------------------
    // Why the folder of `item` was not read whole; nothing when it was (or
    // nobody knows).
    virtual std::optional<FolderReadProblems::Problem> GetReadProblem(NodeHandle item) const {
        (void)item;
        return std::nullopt;
    }
    // Where the scan root lies: a plain folder, a mount point or a network
    // location (a view shows the latter two as volumes).
    enum class RootPlace : uint8_t { Folder, MountPoint, Network };
    virtual RootPlace GetRootPlace() const { return RootPlace::Folder; }
    // The full path of the folder a node stands for (a files item: its
    // folder); nothing when the store knows no paths.
    virtual std::optional<std::string> GetItemPath(NodeHandle item) const {
        (void)item;
        return std::nullopt;
    }

    // --- The listener ---------------------------------------------------------
    struct ShownTree {
        NodeHandle topLevel;  // the parent handle of the top-level nodes shown
        uint32_t announced;   // nodes below this number count as announced
    };
    // Attaches the one listener; journalling starts empty and everything
    // already in the store counts as announced. Any thread.
    ShownTree AttachListener(ChangeNotifier::Poster poster);
    // Carries out whatever still waits for the listener (sorts, deletes, a
    // clear), then stops journalling. Any thread; the listener's own
    // backlog must have been applied (or given to ApplyChange) first.
    void DetachListener();
    // The listener's thread: acknowledges the notification, then returns the
    // changes journalled since the last call, oldest first.
    std::vector<TreeChange> TakeChanges();
    // The listener's thread, in journal order: carries out a sort, a delete
    // or a clear (AllDeleted) that waits for it; other kinds change nothing.
    // The listener announces the change around this call.
    void ApplyChange(const TreeChange& change);

    // The structure the listener has announced (the listener's thread).
    // `announced` is the listener's limit for `parent`'s children. Handles
    // of the tree the listener still shows stay valid until it applies the
    // AllDeleted that replaced it.
    static uint32_t ItemNumberOf(NodeHandle item) { return uint32_t(item & 0xffffffffu); }
    static uint32_t GenerationOf(NodeHandle item) { return uint32_t(item >> 32); }
    int GetShownChildCount(NodeHandle parent, uint32_t announced) const;
    // kNoNode when `row` is not below the shown count.
    NodeHandle GetShownChild(NodeHandle parent, int row, uint32_t announced) const;
    // The parent (the tree's top-level handle for a top-level node) and the
    // node's row; kNoNode and -1 for an unknown handle.
    std::pair<NodeHandle, int> GetShownParentAndRow(NodeHandle item) const;
    // True when the node and all its ancestors are still linked into the
    // shown tree (deletes the listener has applied unlink them).
    bool IsShownLinked(NodeHandle item) const;
    // What names a node's row: its kind, its name and (a files item) its
    // file count. A node deleted by another thread keeps its label here until
    // the listener applies the delete, so that a row never changes its name
    // before the listener announces its removal. Nothing for an unknown handle.
    struct ShownLabel {
        NodeKind kind = NodeKind::Folder;
        std::string name;
        int64_t fileCount = 0;
    };
    std::optional<ShownLabel> GetShownLabel(NodeHandle item) const;

  protected:
    // The lock that guards the store; derived classes may use it to change
    // nodes and their own state together.
    std::mutex& StoreMutex() const { return m_mutex; }

    // Unlocked forms for derived classes that hold StoreMutex().
    NodeHandle InsertItemLocked(std::string_view name, NodeKind kind, NodeHandle parent);
    NodeHandle InsertFilesItemLocked(NodeHandle parent, int64_t fileCount, uint64_t bytes);
    bool SetItemNameLocked(NodeHandle item, std::string_view name);
    bool SetItemSizeLocked(NodeHandle item, uint64_t bytes);
    bool SetItemKindLocked(NodeHandle item, NodeKind kind);
    std::optional<NodeKind> GetItemKindLocked(NodeHandle item) const;
    void SetPercentBaseLocked(uint64_t base);
    std::string GetItemNameLocked(NodeHandle item) const;
    // The name without a copy, valid while the lock is held.
    std::string_view GetItemNameViewLocked(NodeHandle item) const;
    NodeHandle GetParentItemLocked(NodeHandle item) const;
    NodeHandle GetRootItemLocked() const;
    bool IsFilesItemLocked(NodeHandle item) const;
    bool ExpandLocked(NodeHandle item);
    void DeleteAllItemsLocked();
    // Orders `item`'s children by percentage; with `keepFilesItemLast` a
    // files item at the end stays there.
    bool SortChildrenByPercentLocked(NodeHandle item, bool keepFilesItemLast);
    // Says that no more children are expected under `item`: their list is
    // packed into the shared run (later inserts still work).
    void CompleteChildrenLocked(NodeHandle item);
    std::optional<uint64_t> GetItemSizeLocked(NodeHandle item) const;
    int64_t GetItemFileCountLocked(NodeHandle item) const;
    bool DeleteItemLocked(NodeHandle item);
    bool IsLiveItemLocked(NodeHandle item) const { return bool(Live(item)); }
    int GetChildCountLocked(NodeHandle parent) const;
    NodeHandle GetChildItemLocked(NodeHandle parent, int row) const;
    bool SortTopLevelLocked(bool byPercent);
    // The top level was last ordered by name (SortTopLevel), not by size.
    bool TopLevelByNameLocked() const { return m_topLevelByName; }
    uint64_t GetPercentBaseLocked() const;
    // Nodes of the current tree are numbered 1.. in the order they were
    // made; this is one more than the last number.
    uint32_t ItemNumberEndLocked() const;
    // The live node numbered `number`, kNoNode when there is none.
    NodeHandle LiveItemLocked(uint32_t number) const;

  private:
    struct Found {
        FolderTree* tree = nullptr;
        uint32_t index = 0;
        explicit operator bool() const { return tree != nullptr; }
    };

    NodeHandle HandleOf(const FolderTree& tree, uint32_t index) const;
    // A live node (or, for parents, a top level) of the current tree.
    Found Live(NodeHandle item) const;
    Found LiveParent(NodeHandle parent) const;
    // Any node of the current tree or of the one the listener still shows,
    // deleted ones included (the listener's reads).
    Found Shown(NodeHandle item) const;
    // Shown() without deleted nodes: what data reads accept.
    Found Readable(NodeHandle item) const;
    void Announce(TreeChange change);
    // Announces the node `index` just added below `parentIndex`; kNoNode when
    // it could not be added.
    NodeHandle AnnounceInserted(uint32_t parentIndex, uint32_t index);
    void AnnounceData(NodeHandle item);
    bool RequestSort(Found parent, bool byText, bool keepFilesItemLast, bool byKey = false);
    // Carries out a sort, delete or clear, with the lock held.
    void ApplyChangeLocked(const TreeChange& change);
    uint32_t NextGeneration();

    mutable std::mutex m_mutex;
    std::unique_ptr<FolderTree> m_tree;
    // The tree the listener still shows after a DeleteAllItems, until it
    // applies the AllDeleted entry; null otherwise.
    std::unique_ptr<FolderTree> m_retired;
    uint32_t m_shownGeneration = 0;  // the generation the listener shows
    uint32_t m_lastGeneration = 0;

    bool m_topLevelByName = false;                        // of the current tree
    std::unordered_map<NodeHandle, int64_t> m_orderKeys;  // of SortChildrenByKeys

    bool m_listening = false;
    std::vector<TreeChange> m_journal;
    NodeHandle m_expandAnnounced = kNoNode;  // since the last TakeChanges
    ChangeNotifier m_notifier;
};

}  // namespace quarn
