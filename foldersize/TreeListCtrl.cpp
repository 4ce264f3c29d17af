#include "foldersize/TreeListCtrl.h"

#include <algorithm>
#include <utility>

namespace quarn {

CTreeListCtrl::CTreeListCtrl() = default;

CTreeListCtrl::~CTreeListCtrl() = default;

// --- Columns ------------------------------------------------------------------

int CTreeListCtrl::InsertColumn(int index, const std::string& title, int alignment, int width) {
    std::lock_guard lock(m_mutex);
    if (alignment != kAlignLeft && alignment != kAlignRight && alignment != kAlignCentre) {
        alignment = kAlignLeft;
    }
    int count = int(m_columns.size());
    index = std::clamp(index, 0, count);
    m_columns.insert(m_columns.begin() + index, Column{title, alignment, width});
    return index;
}

int CTreeListCtrl::GetColumnCount() const {
    std::lock_guard lock(m_mutex);
    return int(m_columns.size());
}

std::string CTreeListCtrl::GetColumnTitle(int column) const {
    std::lock_guard lock(m_mutex);
    if (column < 0 || size_t(column) >= m_columns.size()) {
        return {};
    }
    return m_columns[size_t(column)].title;
}

int CTreeListCtrl::GetColumnWidth(int column) const {
    std::lock_guard lock(m_mutex);
    if (column < 0 || size_t(column) >= m_columns.size()) {
        return -1;
    }
    return m_columns[size_t(column)].width;
}

int CTreeListCtrl::GetColumnAlignment(int column) const {
    std::lock_guard lock(m_mutex);
    if (column < 0 || size_t(column) >= m_columns.size()) {
        return kAlignLeft;
    }
    return m_columns[size_t(column)].alignment;
}

int CTreeListCtrl::GetPercentColumn() const {
    std::lock_guard lock(m_mutex);
    return m_nPercentColumn;
}

void CTreeListCtrl::SetPercentColumn(int column) {
    std::lock_guard lock(m_mutex);
    m_nPercentColumn = column;
}

int CTreeListCtrl::GetMarkedColumn() const {
    std::lock_guard lock(m_mutex);
    return m_nMarkedColumn;
}

void CTreeListCtrl::SetMarkedColumn(int column) {
    std::lock_guard lock(m_mutex);
    if (m_nMarkedColumn == column) {
        return;
    }
    m_nMarkedColumn = column;
    Announce(TreeChange::MarkChanged, TVI_NULL, TVI_NULL);
}

// --- Handles ------------------------------------------------------------------

uint32_t CTreeListCtrl::IndexOf(HTREEITEM item) const {
    if (item == TVI_NULL || item == TVI_ROOT || uint32_t(item >> 32) != m_generation) {
        return kNoIndex;
    }
    uint64_t index = (item & 0xffffffffu) - 1;
    if (index >= m_items.size() || !m_items[index].live) {
        return kNoIndex;
    }
    return uint32_t(index);
}

HTREEITEM CTreeListCtrl::HandleOf(uint32_t index) const {
    return (HTREEITEM(m_generation) << 32) | (HTREEITEM(index) + 1);
}

const std::vector<uint32_t>* CTreeListCtrl::ChildrenOf(HTREEITEM parent) const {
    if (parent == TVI_ROOT) {
        return &m_topLevel;
    }
    uint32_t index = IndexOf(parent);
    return index == kNoIndex ? nullptr : &m_items[index].children;
}

std::vector<uint32_t>* CTreeListCtrl::ChildrenOf(HTREEITEM parent) {
    return const_cast<std::vector<uint32_t>*>(std::as_const(*this).ChildrenOf(parent));
}

TreeListItemData* CTreeListCtrl::DataOf(uint32_t index) {
    uint32_t data = m_items[index].data;
    return data == kNoIndex ? nullptr : &m_itemData[data];
}

const TreeListItemData* CTreeListCtrl::DataOf(uint32_t index) const {
    uint32_t data = m_items[index].data;
    return data == kNoIndex ? nullptr : &m_itemData[data];
}

TreeListItemData& CTreeListCtrl::MakeData(uint32_t index) {
    Item& item = m_items[index];
    if (item.data == kNoIndex) {
        item.data = uint32_t(m_itemData.size());
        m_itemData.emplace_back();
    }
    return m_itemData[item.data];
}

void CTreeListCtrl::Announce(TreeChange::Kind kind, HTREEITEM item, HTREEITEM parent, int row) {
    if (!m_listening) {
        return;
    }
    m_journal.push_back(TreeChange{kind, item, parent, row});
    m_notifier.Notify();
}

// --- Items --------------------------------------------------------------------

HTREEITEM CTreeListCtrl::InsertItem(const std::string& text, int image, HTREEITEM parent) {
    std::lock_guard lock(m_mutex);
    return InsertItemLocked(text, image, parent);
}

HTREEITEM CTreeListCtrl::InsertItemLocked(const std::string& text, int image, HTREEITEM parent) {
    std::vector<uint32_t>* siblings = ChildrenOf(parent);
    if (siblings == nullptr || m_items.size() >= kNoIndex - 1) {
        return TVI_NULL;
    }
    uint32_t index = uint32_t(m_items.size());
    Item& item = m_items.emplace_back();
    item.text.assign(text);
    item.image = image;
    item.parent = parent == TVI_ROOT ? kNoIndex : IndexOf(parent);
    int row = int(siblings->size());
    siblings->push_back(index);
    HTREEITEM handle = HandleOf(index);
    Announce(TreeChange::Inserted, handle, parent, row);
    return handle;
}

bool CTreeListCtrl::DeleteItem(HTREEITEM handle) {
    std::lock_guard lock(m_mutex);
    uint32_t index = IndexOf(handle);
    if (index == kNoIndex) {
        return false;
    }
    HTREEITEM parent = GetParentItemLocked(handle);
    std::vector<uint32_t>& siblings = *ChildrenOf(parent);
    auto position = std::find(siblings.begin(), siblings.end(), index);
    int row = int(position - siblings.begin());
    siblings.erase(position);
    // The subtree goes with an explicit stack: it may be very deep.
    std::vector<uint32_t> pending{index};
    while (!pending.empty()) {
        Item& item = m_items[pending.back()];
        pending.pop_back();
        pending.insert(pending.end(), item.children.begin(), item.children.end());
        item.live = false;
        item.text.clear();
        std::vector<uint32_t>().swap(item.children);
    }
    Announce(TreeChange::Deleted, handle, parent, row);
    return true;
}

void CTreeListCtrl::DeleteAllItems() {
    std::lock_guard lock(m_mutex);
    DeleteAllItemsLocked();
}

void CTreeListCtrl::DeleteAllItemsLocked() {
    // Items are released from a flat container, never by walking the tree.
    std::deque<Item>().swap(m_items);
    std::vector<uint32_t>().swap(m_topLevel);
    std::deque<TreeListItemData>().swap(m_itemData);
    ++m_generation;
    if (m_generation == 0 || m_generation == 0xffffffffu) {
        m_generation = 1;
    }
    if (m_listening) {
        // Changes of the old generation mean nothing to a listener now.
        m_journal.clear();
    }
    Announce(TreeChange::AllDeleted, TVI_NULL, TVI_NULL);
}

HTREEITEM CTreeListCtrl::GetRootItem() const {
    std::lock_guard lock(m_mutex);
    return GetRootItemLocked();
}

HTREEITEM CTreeListCtrl::GetRootItemLocked() const {
    return m_topLevel.empty() ? TVI_NULL : HandleOf(m_topLevel.front());
}

HTREEITEM CTreeListCtrl::GetParentItem(HTREEITEM item) const {
    std::lock_guard lock(m_mutex);
    return GetParentItemLocked(item);
}

HTREEITEM CTreeListCtrl::GetParentItemLocked(HTREEITEM item) const {
    uint32_t index = IndexOf(item);
    if (index == kNoIndex) {
        return TVI_NULL;
    }
    uint32_t parent = m_items[index].parent;
    return parent == kNoIndex ? TVI_ROOT : HandleOf(parent);
}

int CTreeListCtrl::GetChildCount(HTREEITEM parent) const {
    std::lock_guard lock(m_mutex);
    const std::vector<uint32_t>* children = ChildrenOf(parent);
    return children == nullptr ? 0 : int(children->size());
}

HTREEITEM CTreeListCtrl::GetChildItem(HTREEITEM parent, int row) const {
    std::lock_guard lock(m_mutex);
    const std::vector<uint32_t>* children = ChildrenOf(parent);
    if (children == nullptr || row < 0 || size_t(row) >= children->size()) {
        return TVI_NULL;
    }
    return HandleOf((*children)[size_t(row)]);
}

int CTreeListCtrl::GetRowOfItem(HTREEITEM item) const {
    std::lock_guard lock(m_mutex);
    uint32_t index = IndexOf(item);
    if (index == kNoIndex) {
        return -1;
    }
    uint32_t parent = m_items[index].parent;
    const std::vector<uint32_t>& siblings =
        parent == kNoIndex ? m_topLevel : m_items[parent].children;
    auto position = std::find(siblings.begin(), siblings.end(), index);
    return position == siblings.end() ? -1 : int(position - siblings.begin());
}

bool CTreeListCtrl::IsLiveItem(HTREEITEM item) const {
    std::lock_guard lock(m_mutex);
    return IndexOf(item) != kNoIndex;
}

int CTreeListCtrl::GetItemImage(HTREEITEM item) const {
    std::lock_guard lock(m_mutex);
    uint32_t index = IndexOf(item);
    return index == kNoIndex ? -1 : m_items[index].image;
}

bool CTreeListCtrl::SetItemImage(HTREEITEM item, int image) {
    std::lock_guard lock(m_mutex);
    uint32_t index = IndexOf(item);
    if (index == kNoIndex) {
        return false;
    }
    m_items[index].image = image;
    Announce(TreeChange::DataChanged, item, TVI_NULL);
    return true;
}

std::string CTreeListCtrl::GetItemText(HTREEITEM item, int column) const {
    std::lock_guard lock(m_mutex);
    return GetItemTextLocked(item, column);
}

std::string CTreeListCtrl::GetItemTextLocked(HTREEITEM item, int column) const {
    uint32_t index = IndexOf(item);
    if (index == kNoIndex || column < 0) {
        return {};
    }
    if (column == 0) {
        return m_items[index].text.str();
    }
    const TreeListItemData* data = DataOf(index);
    return data == nullptr ? std::string() : std::string(data->m_texts.Get(size_t(column - 1)));
}

bool CTreeListCtrl::SetItemText(HTREEITEM item, int column, const std::string& text) {
    std::lock_guard lock(m_mutex);
    return SetItemTextLocked(item, column, text);
}

bool CTreeListCtrl::SetItemTextLocked(HTREEITEM item, int column, const std::string& text) {
    uint32_t index = IndexOf(item);
    if (index == kNoIndex || column < 0) {
        return false;
    }
    if (column == 0) {
        m_items[index].text.assign(text);
    } else {
        MakeData(index).m_texts.Set(size_t(column - 1), text);
    }
    Announce(TreeChange::DataChanged, item, TVI_NULL);
    return true;
}

int CTreeListCtrl::GetItemPercent(HTREEITEM item) const {
    std::lock_guard lock(m_mutex);
    uint32_t index = IndexOf(item);
    if (index == kNoIndex) {
        return -1;
    }
    const TreeListItemData* data = DataOf(index);
    return data == nullptr ? -1 : data->m_nPercent;
}

bool CTreeListCtrl::SetItemPercent(HTREEITEM item, int percent) {
    std::lock_guard lock(m_mutex);
    return SetItemPercentLocked(item, percent);
}

bool CTreeListCtrl::SetItemPercentLocked(HTREEITEM item, int percent) {
    uint32_t index = IndexOf(item);
    if (index == kNoIndex) {
        return false;
    }
    MakeData(index).m_nPercent = percent;
    Announce(TreeChange::DataChanged, item, TVI_NULL);
    return true;
}

void* CTreeListCtrl::GetItemUserData(HTREEITEM item) const {
    std::lock_guard lock(m_mutex);
    return GetItemUserDataLocked(item);
}

void* CTreeListCtrl::GetItemUserDataLocked(HTREEITEM item) const {
    uint32_t index = IndexOf(item);
    if (index == kNoIndex) {
        return nullptr;
    }
    const TreeListItemData* data = DataOf(index);
    return data == nullptr ? nullptr : data->m_pUserData;
}

bool CTreeListCtrl::SetItemUserData(HTREEITEM item, void* userData) {
    std::lock_guard lock(m_mutex);
    return SetItemUserDataLocked(item, userData);
}

bool CTreeListCtrl::SetItemUserDataLocked(HTREEITEM item, void* userData) {
    uint32_t index = IndexOf(item);
    if (index == kNoIndex) {
        return false;
    }
    MakeData(index).m_pUserData = userData;
    return true;
}

// --- Sorting ------------------------------------------------------------------

int CTreeListCtrl::ComparePercent(const TreeListItemData* first, const TreeListItemData* second) {
    if (first == nullptr || second == nullptr) {
        return 0;
    }
    if (first->m_nPercent < second->m_nPercent) {
        return 1;
    }
    if (first->m_nPercent > second->m_nPercent) {
        return -1;
    }
    return 0;
}

bool CTreeListCtrl::SortChildrenByPercent(HTREEITEM item) {
    std::lock_guard lock(m_mutex);
    return SortChildrenByPercentLocked(item);
}

bool CTreeListCtrl::SortChildrenByPercentLocked(HTREEITEM item) {
    std::vector<uint32_t>* children = ChildrenOf(item);
    if (children == nullptr) {
        return false;
    }
    if (children->size() < 2) {
        return true;
    }
    // An item without data sorts as a percentage of -1, that is last.
    static const TreeListItemData kNone;
    auto percentOf = [this](uint32_t index) {
        const TreeListItemData* data = DataOf(index);
        return data == nullptr ? &kNone : data;
    };
    std::stable_sort(children->begin(), children->end(), [&](uint32_t a, uint32_t b) {
        return ComparePercent(percentOf(a), percentOf(b)) < 0;
    });
    Announce(TreeChange::ChildrenReordered, TVI_NULL, item);
    return true;
}

bool CTreeListCtrl::SortTopLevel(bool byPercent) {
    std::lock_guard lock(m_mutex);
    HTREEITEM root = GetRootItemLocked();
    if (root == TVI_NULL) {
        return false;
    }
    if (byPercent) {
        return SortChildrenByPercentLocked(root);
    }
    std::vector<uint32_t>& children = m_items[IndexOf(root)].children;
    // std::string compares as unsigned bytes, the program's name order.
    std::stable_sort(children.begin(), children.end(), [this](uint32_t a, uint32_t b) {
        return m_items[a].text.view() < m_items[b].text.view();
    });
    Announce(TreeChange::ChildrenReordered, TVI_NULL, root);
    return true;
}

// --- Expand state -------------------------------------------------------------

bool CTreeListCtrl::Expand(HTREEITEM item) {
    std::lock_guard lock(m_mutex);
    return ExpandLocked(item);
}

bool CTreeListCtrl::ExpandLocked(HTREEITEM item) {
    uint32_t index = IndexOf(item);
    if (index == kNoIndex) {
        return false;
    }
    if (!m_items[index].expanded) {
        m_items[index].expanded = true;
        Announce(TreeChange::ExpandRequested, item, TVI_NULL);
    }
    return true;
}

void CTreeListCtrl::SetExpandedState(HTREEITEM item, bool expanded) {
    std::lock_guard lock(m_mutex);
    uint32_t index = IndexOf(item);
    if (index != kNoIndex) {
        m_items[index].expanded = expanded;
    }
}

bool CTreeListCtrl::IsExpanded(HTREEITEM item) const {
    std::lock_guard lock(m_mutex);
    uint32_t index = IndexOf(item);
    return index != kNoIndex && m_items[index].expanded;
}

// --- Shell icons --------------------------------------------------------------

int CTreeListCtrl::AddShellIcon(const std::string& path) {
    std::lock_guard lock(m_mutex);
    // One image per path: repeated scans of a drive do not grow the list.
    auto known = std::find(m_shellIcons.begin(), m_shellIcons.end(), path);
    if (known != m_shellIcons.end()) {
        return kFirstShellIconImage + int(known - m_shellIcons.begin());
    }
    m_shellIcons.push_back(path);
    return kFirstShellIconImage + int(m_shellIcons.size()) - 1;
}

std::string CTreeListCtrl::GetShellIconPath(int image) const {
    std::lock_guard lock(m_mutex);
    if (image < kFirstShellIconImage ||
        size_t(image - kFirstShellIconImage) >= m_shellIcons.size()) {
        return {};
    }
    return m_shellIcons[size_t(image - kFirstShellIconImage)];
}

// --- Change announcements -----------------------------------------------------

void CTreeListCtrl::AttachListener(ChangeNotifier::Poster poster) {
    {
        std::lock_guard lock(m_mutex);
        m_listening = true;
        m_journal.clear();
    }
    m_notifier.SetPoster(std::move(poster));
}

void CTreeListCtrl::DetachListener() {
    m_notifier.SetPoster(nullptr);
    std::lock_guard lock(m_mutex);
    m_listening = false;
    std::vector<TreeChange>().swap(m_journal);
}

std::vector<TreeChange> CTreeListCtrl::TakeChanges() {
    m_notifier.Acknowledge();
    std::lock_guard lock(m_mutex);
    std::vector<TreeChange> changes;
    changes.swap(m_journal);
    return changes;
}

}  // namespace quarn
