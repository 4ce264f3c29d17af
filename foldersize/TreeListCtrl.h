#pragma once
// The tree list as a display-independent item store: a tree of items with a
// text, an image and raw numbers (a size in bytes, a files item's file
// count), plus the columns that show them. The texts of the columns after
// the first ("117.738 MB", "42%") are made from those numbers when they are
// read; nothing formatted is stored per item. A view (a Qt model) shows the
// store without a copy of its own; scans fill it from their worker thread.
//
// Threads: every operation may be called from any thread unless it says
// otherwise; one mutex guards the whole store. Handles stay readable
// forever: a handle of an older generation (before the last DeleteAllItems),
// a deleted item or a made-up value reads as neutral values (empty text,
// image -1, no size, percentage -1, no children) and writes to it are
// ignored.
//
// Nothing here recurses: deleting, sorting and freeing a tree 100,000
// levels deep use the heap, not the machine stack.
//
// The listener. While one is attached, every change is journalled and the
// listener's poster is called (coalesced, see platform/ChangeNotifier.h);
// the listener then takes the changes on its own thread and applies them in
// order. So that a view never sees rows it has not been told of:
//  - a new item is visible to the listener's Shown* reads only once the
//    listener has counted it as announced (the `announced` limit below);
//  - a sort, a delete and a DeleteAllItems change the order and the shape of
//    the tree only when the listener applies their journal entry
//    (ApplyChange), so that it can announce them first. Until then every
//    reader sees the order from before; a deleted item already reads as
//    deleted, and after a clear the store is already the new, empty tree.
//    The old tree's items keep reading as they were (texts, sizes, and the
//    listener's Shown* reads) until the listener applies the clear; only
//    then is it freed.
// With no listener, all of this happens at once.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/ChangeNotifier.h"

namespace quarn {

class ItemTree;

// Opaque item handle: the tree's generation in the high 32 bits, the item's
// number in the low 32 bits (0: the invisible parent of the top level).
using HTREEITEM = uint64_t;
// No item.
inline constexpr HTREEITEM TVI_NULL = 0;
// The invisible parent of the top-level items of the current tree.
inline constexpr HTREEITEM TVI_ROOT = ~HTREEITEM(0);

// Image indexes of the built-in images; shell icons follow from 4.
inline constexpr int kImageFilesItem = 0;
inline constexpr int kImageFolder = 1;
// A folder that could not be read whole: the folder image with a mark.
inline constexpr int kImageUnreadableFolder = 2;
// A folder on another file system that the scan did not enter.
inline constexpr int kImageOtherFileSystem = 3;
inline constexpr int kFirstShellIconImage = 4;

// Column alignments of InsertColumn.
inline constexpr int kAlignLeft = 0;
inline constexpr int kAlignRight = 1;
inline constexpr int kAlignCentre = 2;

struct TreeChange {
    enum Kind : uint8_t {
        Inserted,           // item appended as the last child of parent
        DataChanged,        // item's text, size or image changed
        PercentsChanged,    // the percent base changed: every percentage may have
        ChildrenReordered,  // parent's children are to be sorted (ApplyChange)
        Deleted,            // item and its subtree are to leave the tree (ApplyChange)
        AllDeleted,         // a new, empty tree (item: its top level) replaces the old one
        ExpandRequested,    // the owner asks the view to expand item
        MarkChanged,        // the header's marked column changed
    };
    Kind kind;
    // ChildrenReordered: by percentage (keeping a files item at the end when
    // asked), or by text.
    bool byText = false;
    bool keepFilesItemLast = false;
    // ChildrenReordered: the items made before the sort was asked for; only
    // those are sorted, later ones keep their places at the end.
    uint32_t limit = 0;
    HTREEITEM item = TVI_NULL;
    HTREEITEM parent = TVI_NULL;
};

class CTreeListCtrl {
  public:
    CTreeListCtrl();
    virtual ~CTreeListCtrl();
    CTreeListCtrl(const CTreeListCtrl&) = delete;
    CTreeListCtrl& operator=(const CTreeListCtrl&) = delete;

    // --- Columns (the header) -------------------------------------------
    // Inserts a column before `index` (clamped to the column count).
    // Alignment: kAlignLeft, kAlignRight or kAlignCentre, anything else
    // left; width: the pixels a view starts with, -1 for its default.
    // Returns the index.
    int InsertColumn(int index, const std::string& title, int alignment, int width = -1);
    int GetColumnCount() const;
    std::string GetColumnTitle(int column) const;  // empty when out of range
    int GetColumnWidth(int column) const;          // -1 when unset or out of range
    int GetColumnAlignment(int column) const;      // kAlignLeft when out of range

    // The column that shows an item's size text, -1 = none.
    int GetSizeColumn() const;
    void SetSizeColumn(int column);
    // The column in which the percentage bar is painted, -1 = none.
    int GetPercentColumn() const;
    void SetPercentColumn(int column);

    // The column whose title carries the sort mark, -1 = none. Setting it
    // announces MarkChanged when it changes.
    int GetMarkedColumn() const;
    void SetMarkedColumn(int column);

    // --- Items -------------------------------------------------------------
    // Appends an item as the last child of `parent` (TVI_ROOT: the top
    // level). Returns TVI_NULL when the parent is not a live item.
    HTREEITEM InsertItem(std::string_view text, int image, HTREEITEM parent = TVI_ROOT);
    // Appends a folder's files item with kImageFilesItem: its text is
    // "[n files]" made from `fileCount`, its size `bytes`.
    HTREEITEM InsertFilesItem(HTREEITEM parent, int64_t fileCount, uint64_t bytes);
    // Removes the item and its subtree from the tree (see the listener
    // above). Returns false for a handle that is not live.
    bool DeleteItem(HTREEITEM item);
    // Starts a new, empty tree; older handles read neutral.
    void DeleteAllItems();

    // The first top-level item, TVI_NULL when there is none.
    HTREEITEM GetRootItem() const;
    // TVI_ROOT for a top-level item, TVI_NULL for a handle that is not live.
    HTREEITEM GetParentItem(HTREEITEM item) const;
    // Children of `parent` (TVI_ROOT: the top level); 0 for a dead handle.
    int GetChildCount(HTREEITEM parent) const;
    // The child in `row`, TVI_NULL when out of range.
    HTREEITEM GetChildItem(HTREEITEM parent, int row) const;
    // The item's row among its parent's children, -1 for a dead handle.
    int GetRowOfItem(HTREEITEM item) const;
    bool IsLiveItem(HTREEITEM item) const;
    bool IsFilesItem(HTREEITEM item) const;

    int GetItemImage(HTREEITEM item) const;  // -1 for a dead handle
    bool SetItemImage(HTREEITEM item, int image);

    // Column 0: the item's own text. The size column: FormatSize of the
    // item's size, empty without one. The percent column: "42%", empty
    // without a percentage. Any other column: empty.
    std::string GetItemText(HTREEITEM item, int column = 0) const;
    // Sets the item's own text (column 0). The other columns show the
    // item's numbers and cannot be set: false, as for a dead handle.
    bool SetItemText(HTREEITEM item, int column, std::string_view text);

    // A text a view shows when the pointer rests on the item; empty: none.
    // The store has none of its own; an owner that knows more says it.
    virtual std::string GetItemToolTip(HTREEITEM item) const {
        (void)item;
        return {};
    }

    // The item's size in bytes; nothing until one is set (a folder the scan
    // has not finished).
    std::optional<uint64_t> GetItemSize(HTREEITEM item) const;
    bool SetItemSize(HTREEITEM item, uint64_t bytes);
    // A files item's number of files, 0 for other items.
    int64_t GetItemFileCount(HTREEITEM item) const;

    // What every percentage is a share of (0 = items have no percentage).
    // Setting it announces PercentsChanged.
    uint64_t GetPercentBase() const;
    void SetPercentBase(uint64_t base);
    // The item's size as a share of the percent base, 0..100 (the rounding
    // of PercentOf); -1 without a size or a base.
    int GetItemPercent(HTREEITEM item) const;

    // Sort order of percentages, larger first: 1 when the first is smaller,
    // -1 when it is larger, 0 when both are equal.
    static int ComparePercent(int first, int second);
    // Orders the direct children of `item` (TVI_ROOT allowed) by
    // ComparePercent; items without a percentage count as -1; equal
    // percentages by size, larger first, then by text (byte order).
    bool SortChildrenByPercent(HTREEITEM item);
    // Orders the children of the first top-level item: by percentage (ties
    // as above), or by their texts in unsigned byte order. Deeper levels
    // keep their order.
    bool SortTopLevel(bool byPercent);

    // Asks the view to expand the item. Announced once per batch the
    // listener takes; the expand state itself is the view's.
    bool Expand(HTREEITEM item);

    // --- Shell icons ---------------------------------------------------------
    // Registers the icon of `path` (a mount point, a network location) and
    // returns its image index (>= kFirstShellIconImage). The view resolves
    // the icon; the store keeps only the path.
    int AddShellIcon(const std::string& path);
    // The path of a shell-icon image, empty for the built-in images and
    // unknown indexes.
    std::string GetShellIconPath(int image) const;

    // --- The listener ---------------------------------------------------------
    struct ShownTree {
        HTREEITEM topLevel;  // the parent handle of the top-level items shown
        uint32_t announced;  // items below this number count as announced
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
    static uint32_t ItemNumberOf(HTREEITEM item) { return uint32_t(item & 0xffffffffu); }
    static uint32_t GenerationOf(HTREEITEM item) { return uint32_t(item >> 32); }
    int GetShownChildCount(HTREEITEM parent, uint32_t announced) const;
    // TVI_NULL when `row` is not below the shown count.
    HTREEITEM GetShownChild(HTREEITEM parent, int row, uint32_t announced) const;
    // The parent (the tree's top-level handle for a top-level item) and the
    // item's row; TVI_NULL and -1 for an unknown handle.
    std::pair<HTREEITEM, int> GetShownParentAndRow(HTREEITEM item) const;
    // True when the item and all its ancestors are still linked into the
    // shown tree (deletes the listener has applied unlink them).
    bool IsShownLinked(HTREEITEM item) const;

  protected:
    // The lock that guards the store; derived classes may use it to change
    // items and their own state together.
    std::mutex& StoreMutex() const { return m_mutex; }

    // Unlocked forms for derived classes that hold StoreMutex().
    HTREEITEM InsertItemLocked(std::string_view text, int image, HTREEITEM parent);
    HTREEITEM InsertFilesItemLocked(HTREEITEM parent, int64_t fileCount, uint64_t bytes);
    bool SetItemTextLocked(HTREEITEM item, std::string_view text);
    bool SetItemSizeLocked(HTREEITEM item, uint64_t bytes);
    bool SetItemImageLocked(HTREEITEM item, int image);
    void SetPercentBaseLocked(uint64_t base);
    std::string GetItemTextLocked(HTREEITEM item) const;
    HTREEITEM GetParentItemLocked(HTREEITEM item) const;
    HTREEITEM GetRootItemLocked() const;
    bool IsFilesItemLocked(HTREEITEM item) const;
    bool ExpandLocked(HTREEITEM item);
    void DeleteAllItemsLocked();
    // Orders `item`'s children by percentage; with `keepFilesItemLast` a
    // files item at the end stays there.
    bool SortChildrenByPercentLocked(HTREEITEM item, bool keepFilesItemLast);
    // Says that no more children are expected under `item`: their list is
    // packed into the shared run (later inserts still work).
    void CompleteChildrenLocked(HTREEITEM item);
    std::optional<uint64_t> GetItemSizeLocked(HTREEITEM item) const;
    int64_t GetItemFileCountLocked(HTREEITEM item) const;
    bool DeleteItemLocked(HTREEITEM item);
    bool IsLiveItemLocked(HTREEITEM item) const { return bool(Live(item)); }
    int GetChildCountLocked(HTREEITEM parent) const;
    HTREEITEM GetChildItemLocked(HTREEITEM parent, int row) const;
    bool SortTopLevelLocked(bool byPercent);
    int GetMarkedColumnLocked() const { return m_nMarkedColumn; }
    uint64_t GetPercentBaseLocked() const;
    // Items of the current tree are numbered 1.. in the order they were
    // made; this is one more than the last number.
    uint32_t ItemNumberEndLocked() const;
    // The live item numbered `number`, TVI_NULL when there is none.
    HTREEITEM LiveItemLocked(uint32_t number) const;

  private:
    struct Column {
        std::string title;
        int alignment = kAlignLeft;
        int width = -1;
    };
    struct Found {
        ItemTree* tree = nullptr;
        uint32_t index = 0;
        explicit operator bool() const { return tree != nullptr; }
    };

    HTREEITEM HandleOf(const ItemTree& tree, uint32_t index) const;
    // A live item (or, for parents, a top level) of the current tree.
    Found Live(HTREEITEM item) const;
    Found LiveParent(HTREEITEM parent) const;
    // Any item of the current tree or of the one the listener still shows,
    // deleted ones included (the listener's reads).
    Found Shown(HTREEITEM item) const;
    // Shown() without deleted items: what data reads accept.
    Found Readable(HTREEITEM item) const;
    void Announce(TreeChange change);
    void AnnounceData(HTREEITEM item);
    bool RequestSort(Found parent, bool byText, bool keepFilesItemLast);
    // Carries out a sort, delete or clear, with the lock held.
    void ApplyChangeLocked(const TreeChange& change);
    uint32_t NextGeneration();

    mutable std::mutex m_mutex;
    std::unique_ptr<ItemTree> m_tree;
    // The tree the listener still shows after a DeleteAllItems, until it
    // applies the AllDeleted entry; null otherwise.
    std::unique_ptr<ItemTree> m_retired;
    uint32_t m_shownGeneration = 0;  // the generation the listener shows
    uint32_t m_lastGeneration = 0;
    std::vector<Column> m_columns;
    std::vector<std::string> m_shellIcons;  // image kFirstShellIconImage + i
    int m_nSizeColumn = -1;
    int m_nPercentColumn = -1;
    int m_nMarkedColumn = -1;

    bool m_listening = false;
    std::vector<TreeChange> m_journal;
    HTREEITEM m_expandAnnounced = TVI_NULL;  // since the last TakeChanges
    ChangeNotifier m_notifier;
};

}  // namespace quarn
