#pragma once
// The tree list as a display-independent item store: a tree of items with a
// text, an image index and an expand state, plus columns whose texts, a
// percentage and an owner's pointer are kept per item. A view (a Qt model)
// shows it; scans fill it from their worker thread.
//
// Threads: every operation may be called from any thread; one mutex guards
// the whole store. Handles stay readable forever: a handle made before the
// last DeleteAllItems (an older generation), a deleted item or an index out
// of range reads as neutral values (empty text, image -1, percentage -1,
// null user data, no children) and writes to it are ignored.
//
// Nothing here recurses: deleting, sorting and freeing a tree 100,000
// levels deep use the heap, not the machine stack.
//
// Change announcements: while a listener is attached, every change is
// journalled and the listener's poster is called (coalesced, see
// platform/ChangeNotifier.h); the listener then calls TakeChanges() on its
// own thread. With no listener nothing is journalled.

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "foldersize/ColumnTexts.h"
#include "foldersize/CompactText.h"
#include "platform/ChangeNotifier.h"

namespace quarn {

// Opaque item handle: the store's generation in the high 32 bits, the
// item's index + 1 in the low 32 bits.
using HTREEITEM = uint64_t;
// No item.
inline constexpr HTREEITEM TVI_NULL = 0;
// The invisible parent of the top-level items.
inline constexpr HTREEITEM TVI_ROOT = ~HTREEITEM(0);

// Image indexes of the built-in images; shell icons follow from 2.
inline constexpr int kImageFilesItem = 0;
inline constexpr int kImageFolder = 1;
inline constexpr int kFirstShellIconImage = 2;

// Column alignments of InsertColumn.
inline constexpr int kAlignLeft = 0;
inline constexpr int kAlignRight = 1;
inline constexpr int kAlignCentre = 2;

// Per-item data, made by the first SetItemText of a column above 0,
// SetItemPercent or SetItemUserData; owned by the store and freed only by
// DeleteAllItems (deleting an item does not free it).
struct TreeListItemData {
    void* m_pUserData = nullptr;  // the owner's pointer; not owned
    int m_nPercent = -1;          // 0..100, -1 = none
    ColumnTexts m_texts;          // texts of columns 1, 2, ...
};

struct TreeChange {
    enum Kind {
        Inserted,           // item appended as the last child of parent (row = its row)
        DataChanged,        // item's text, texts, percentage or image changed
        ChildrenReordered,  // parent's children were sorted: read their order anew
        Deleted,            // item and its subtree left parent (row = the row it had)
        AllDeleted,         // every item is gone (a new generation began)
        ExpandRequested,    // the owner asks the view to expand item
        MarkChanged,        // the header's marked column changed
    };
    Kind kind;
    HTREEITEM item = TVI_NULL;
    HTREEITEM parent = TVI_NULL;
    int row = -1;
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
    // left; width in pixels or -1 for the view's default. Returns the index.
    int InsertColumn(int index, const std::string& title, int alignment, int width = -1);
    int GetColumnCount() const;
    std::string GetColumnTitle(int column) const;  // empty when out of range
    int GetColumnWidth(int column) const;          // -1 when unset or out of range
    int GetColumnAlignment(int column) const;      // kAlignLeft when out of range

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
    HTREEITEM InsertItem(const std::string& text, int image, HTREEITEM parent = TVI_ROOT);
    // Removes the item and its subtree from the tree. Their data blocks
    // stay until DeleteAllItems. Returns false for a handle that is not live.
    bool DeleteItem(HTREEITEM item);
    // Frees every item and every data block; older handles read neutral.
    void DeleteAllItems();

    // The first top-level item, TVI_NULL when there is none.
    HTREEITEM GetRootItem() const;
    HTREEITEM GetFirstTopLevel() const { return GetRootItem(); }
    // TVI_ROOT for a top-level item, TVI_NULL for a handle that is not live.
    HTREEITEM GetParentItem(HTREEITEM item) const;
    // Children of `parent` (TVI_ROOT: the top level); 0 for a dead handle.
    int GetChildCount(HTREEITEM parent) const;
    // The child in `row`, TVI_NULL when out of range.
    HTREEITEM GetChildItem(HTREEITEM parent, int row) const;
    // The item's row among its parent's children, -1 for a dead handle.
    int GetRowOfItem(HTREEITEM item) const;
    bool IsLiveItem(HTREEITEM item) const;

    int GetItemImage(HTREEITEM item) const;  // -1 for a dead handle
    bool SetItemImage(HTREEITEM item, int image);

    // Column 0: the item's own text; column c > 0: the stored text of
    // column c or an empty text.
    std::string GetItemText(HTREEITEM item, int column = 0) const;
    // Column c > 0 makes the item data when missing; columns in between stay
    // empty. Returns false for a dead handle or a negative column.
    bool SetItemText(HTREEITEM item, int column, const std::string& text);

    int GetItemPercent(HTREEITEM item) const;  // -1 without item data
    bool SetItemPercent(HTREEITEM item, int percent);
    void* GetItemUserData(HTREEITEM item) const;  // null without item data
    bool SetItemUserData(HTREEITEM item, void* data);

    // Sort order of percentages, larger first: 0 when either is null or
    // both are equal, 1 when the first is smaller, -1 when it is larger.
    static int ComparePercent(const TreeListItemData* first, const TreeListItemData* second);
    // Orders the direct children of `item` (TVI_ROOT allowed) by
    // ComparePercent; items without data count as -1; equal ones keep their
    // order. Announces ChildrenReordered.
    bool SortChildrenByPercent(HTREEITEM item);
    // Orders the children of the first top-level item: by percentage, or by
    // their texts in unsigned byte order. Deeper levels keep their order.
    bool SortTopLevel(bool byPercent);

    // Asks the view to expand the item (announced when it was collapsed).
    bool Expand(HTREEITEM item);
    // Records the view's own expand or collapse, without announcing it.
    void SetExpandedState(HTREEITEM item, bool expanded);
    bool IsExpanded(HTREEITEM item) const;

    // --- Shell icons ---------------------------------------------------------
    // Registers the icon of `path` (a mount point, a network location) and
    // returns its image index (>= kFirstShellIconImage). The view resolves
    // the icon; the store keeps only the path.
    int AddShellIcon(const std::string& path);
    // The path of a shell-icon image, empty for the built-in images and
    // unknown indexes.
    std::string GetShellIconPath(int image) const;

    // --- Change announcements -------------------------------------------
    // Attaches the one listener; journalling starts empty. Any thread.
    void AttachListener(ChangeNotifier::Poster poster);
    void DetachListener();
    // The listener's thread: acknowledges the notification, then returns the
    // changes journalled since the last call, oldest first.
    std::vector<TreeChange> TakeChanges();

  protected:
    // The lock that guards the store; derived classes may guard their own
    // per-item records with it so that item and record change together.
    std::mutex& StoreMutex() const { return m_mutex; }

    // Unlocked forms for derived classes that hold StoreMutex().
    HTREEITEM InsertItemLocked(const std::string& text, int image, HTREEITEM parent);
    bool SetItemTextLocked(HTREEITEM item, int column, const std::string& text);
    bool SetItemPercentLocked(HTREEITEM item, int percent);
    bool SetItemUserDataLocked(HTREEITEM item, void* data);
    void* GetItemUserDataLocked(HTREEITEM item) const;
    std::string GetItemTextLocked(HTREEITEM item, int column) const;
    HTREEITEM GetParentItemLocked(HTREEITEM item) const;
    HTREEITEM GetRootItemLocked() const;
    bool SortChildrenByPercentLocked(HTREEITEM item);
    bool ExpandLocked(HTREEITEM item);
    void DeleteAllItemsLocked();

  private:
    struct Item {
        CompactText text;
        std::vector<uint32_t> children;  // indexes, in display order
        uint32_t parent = kNoIndex;      // kNoIndex: top level
        uint32_t data = kNoIndex;        // index into m_itemData
        int32_t image = -1;
        bool live = true;
        bool expanded = false;
    };
    struct Column {
        std::string title;
        int alignment = kAlignLeft;
        int width = -1;
    };
    static constexpr uint32_t kNoIndex = 0xffffffffu;

    // The index of a live item, kNoIndex otherwise.
    uint32_t IndexOf(HTREEITEM item) const;
    HTREEITEM HandleOf(uint32_t index) const;
    const std::vector<uint32_t>* ChildrenOf(HTREEITEM parent) const;
    std::vector<uint32_t>* ChildrenOf(HTREEITEM parent);
    TreeListItemData* DataOf(uint32_t index);
    const TreeListItemData* DataOf(uint32_t index) const;
    TreeListItemData& MakeData(uint32_t index);
    void Announce(TreeChange::Kind kind, HTREEITEM item, HTREEITEM parent, int row = -1);

    mutable std::mutex m_mutex;
    uint32_t m_generation = 1;
    std::deque<Item> m_items;  // a deque: no copy of the whole store while it grows
    std::vector<uint32_t> m_topLevel;
    std::deque<TreeListItemData> m_itemData;
    std::vector<Column> m_columns;
    std::vector<std::string> m_shellIcons;  // image kFirstShellIconImage + i
    int m_nPercentColumn = -1;
    int m_nMarkedColumn = -1;

    bool m_listening = false;
    std::vector<TreeChange> m_journal;
    ChangeNotifier m_notifier;
};

}  // namespace quarn
