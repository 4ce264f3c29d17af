#include "foldersize/TreeListCtrl.h"

#include <algorithm>
#include <utility>

#include "foldersize/ItemTree.h"
#include "foldersize/SizeText.h"

namespace quarn {

CTreeListCtrl::CTreeListCtrl() {
    // In the body: NextGeneration reads a member declared after m_tree.
    m_tree = std::make_unique<ItemTree>(NextGeneration());
}

CTreeListCtrl::~CTreeListCtrl() = default;

uint32_t CTreeListCtrl::NextGeneration() {
    ++m_lastGeneration;
    // 0 would make TVI_NULL a handle, all ones TVI_ROOT.
    if (m_lastGeneration == 0 || m_lastGeneration == 0xffffffffu) {
        m_lastGeneration = 1;
    }
    return m_lastGeneration;
}

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

int CTreeListCtrl::GetSizeColumn() const {
    std::lock_guard lock(m_mutex);
    return m_nSizeColumn;
}

void CTreeListCtrl::SetSizeColumn(int column) {
    std::lock_guard lock(m_mutex);
    m_nSizeColumn = column;
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
    Announce(TreeChange{TreeChange::MarkChanged});
}

// --- Handles ------------------------------------------------------------------

HTREEITEM CTreeListCtrl::HandleOf(const ItemTree& tree, uint32_t index) const {
    return (HTREEITEM(tree.Generation()) << 32) | index;
}

CTreeListCtrl::Found CTreeListCtrl::Live(HTREEITEM item) const {
    uint32_t index = ItemNumberOf(item);
    if (item == TVI_ROOT || GenerationOf(item) != m_tree->Generation() || index == 0 ||
        index >= m_tree->Size() || m_tree->IsRemoved(index)) {
        return {};
    }
    return Found{m_tree.get(), index};
}

CTreeListCtrl::Found CTreeListCtrl::LiveParent(HTREEITEM parent) const {
    if (parent == TVI_ROOT || parent == HandleOf(*m_tree, ItemTree::kTopLevel)) {
        return Found{m_tree.get(), ItemTree::kTopLevel};
    }
    return Live(parent);
}

CTreeListCtrl::Found CTreeListCtrl::Shown(HTREEITEM item) const {
    if (item == TVI_NULL || item == TVI_ROOT) {
        return {};
    }
    ItemTree* tree = nullptr;
    if (GenerationOf(item) == m_tree->Generation()) {
        tree = m_tree.get();
    } else if (m_retired && GenerationOf(item) == m_retired->Generation()) {
        tree = m_retired.get();
    }
    uint32_t index = ItemNumberOf(item);
    if (tree == nullptr || index >= tree->Size()) {
        return {};
    }
    return Found{tree, index};
}

CTreeListCtrl::Found CTreeListCtrl::Readable(HTREEITEM item) const {
    Found found = Shown(item);
    if (!found || found.index == ItemTree::kTopLevel || found.tree->IsRemoved(found.index)) {
        return {};
    }
    return found;
}

void CTreeListCtrl::Announce(TreeChange change) {
    if (!m_listening) {
        return;
    }
    m_journal.push_back(change);
    m_notifier.Notify();
}

void CTreeListCtrl::AnnounceData(HTREEITEM item) {
    TreeChange change{TreeChange::DataChanged};
    change.item = item;
    Announce(change);
}

// --- Items --------------------------------------------------------------------

HTREEITEM CTreeListCtrl::InsertItem(std::string_view text, int image, HTREEITEM parent) {
    std::lock_guard lock(m_mutex);
    return InsertItemLocked(text, image, parent);
}

HTREEITEM CTreeListCtrl::InsertItemLocked(std::string_view text, int image, HTREEITEM parent) {
    Found found = LiveParent(parent);
    if (!found) {
        return TVI_NULL;
    }
    uint32_t index = m_tree->AddItem(found.index, text, image);
    if (index == ItemTree::kNoItem) {
        return TVI_NULL;
    }
    TreeChange change{TreeChange::Inserted};
    change.item = HandleOf(*m_tree, index);
    change.parent = HandleOf(*m_tree, found.index);
    Announce(change);
    return change.item;
}

HTREEITEM CTreeListCtrl::InsertFilesItem(HTREEITEM parent, int64_t fileCount, uint64_t bytes) {
    std::lock_guard lock(m_mutex);
    return InsertFilesItemLocked(parent, fileCount, bytes);
}

HTREEITEM CTreeListCtrl::InsertFilesItemLocked(HTREEITEM parent, int64_t fileCount,
                                               uint64_t bytes) {
    Found found = LiveParent(parent);
    if (!found) {
        return TVI_NULL;
    }
    uint32_t index = m_tree->AddFilesItem(found.index, fileCount, bytes);
    if (index == ItemTree::kNoItem) {
        return TVI_NULL;
    }
    TreeChange change{TreeChange::Inserted};
    change.item = HandleOf(*m_tree, index);
    change.parent = HandleOf(*m_tree, found.index);
    Announce(change);
    return change.item;
}

bool CTreeListCtrl::DeleteItem(HTREEITEM item) {
    std::lock_guard lock(m_mutex);
    return DeleteItemLocked(item);
}

bool CTreeListCtrl::DeleteItemLocked(HTREEITEM item) {
    Found found = Live(item);
    if (!found) {
        return false;
    }
    m_tree->MarkRemoved(found.index);
    if (m_listening) {
        TreeChange change{TreeChange::Deleted};
        change.item = item;
        Announce(change);
    } else {
        m_tree->Unlink(found.index);
    }
    return true;
}

void CTreeListCtrl::DeleteAllItems() {
    std::lock_guard lock(m_mutex);
    DeleteAllItemsLocked();
}

void CTreeListCtrl::DeleteAllItemsLocked() {
    auto fresh = std::make_unique<ItemTree>(NextGeneration());
    if (m_listening) {
        // Older changes mean nothing to the listener once it starts anew.
        m_journal.clear();
        m_expandAnnounced = TVI_NULL;
        if (m_tree->Generation() == m_shownGeneration) {
            m_retired = std::move(m_tree);  // still on screen until the listener resets
        }
    }
    // A tree nobody shows is freed here, from its flat containers.
    m_tree = std::move(fresh);
    TreeChange change{TreeChange::AllDeleted};
    change.item = HandleOf(*m_tree, ItemTree::kTopLevel);
    Announce(change);
}

HTREEITEM CTreeListCtrl::GetRootItem() const {
    std::lock_guard lock(m_mutex);
    return GetRootItemLocked();
}

HTREEITEM CTreeListCtrl::GetRootItemLocked() const {
    uint32_t first = m_tree->ChildAt(ItemTree::kTopLevel, 0);
    return first == ItemTree::kNoItem ? TVI_NULL : HandleOf(*m_tree, first);
}

HTREEITEM CTreeListCtrl::GetParentItem(HTREEITEM item) const {
    std::lock_guard lock(m_mutex);
    return GetParentItemLocked(item);
}

HTREEITEM CTreeListCtrl::GetParentItemLocked(HTREEITEM item) const {
    Found found = Live(item);
    if (!found) {
        return TVI_NULL;
    }
    uint32_t parent = m_tree->Parent(found.index);
    return parent == ItemTree::kTopLevel ? TVI_ROOT : HandleOf(*m_tree, parent);
}

int CTreeListCtrl::GetChildCount(HTREEITEM parent) const {
    std::lock_guard lock(m_mutex);
    return GetChildCountLocked(parent);
}

int CTreeListCtrl::GetChildCountLocked(HTREEITEM parent) const {
    Found found = LiveParent(parent);
    return found ? int(m_tree->ChildCount(found.index)) : 0;
}

HTREEITEM CTreeListCtrl::GetChildItem(HTREEITEM parent, int row) const {
    std::lock_guard lock(m_mutex);
    return GetChildItemLocked(parent, row);
}

HTREEITEM CTreeListCtrl::GetChildItemLocked(HTREEITEM parent, int row) const {
    Found found = LiveParent(parent);
    if (!found || row < 0) {
        return TVI_NULL;
    }
    uint32_t child = m_tree->ChildAt(found.index, uint32_t(row));
    return child == ItemTree::kNoItem ? TVI_NULL : HandleOf(*m_tree, child);
}

int CTreeListCtrl::GetRowOfItem(HTREEITEM item) const {
    std::lock_guard lock(m_mutex);
    Found found = Live(item);
    return found ? int(m_tree->Row(found.index)) : -1;
}

bool CTreeListCtrl::IsLiveItem(HTREEITEM item) const {
    std::lock_guard lock(m_mutex);
    return bool(Live(item));
}

bool CTreeListCtrl::IsFilesItem(HTREEITEM item) const {
    std::lock_guard lock(m_mutex);
    return IsFilesItemLocked(item);
}

bool CTreeListCtrl::IsFilesItemLocked(HTREEITEM item) const {
    Found found = Readable(item);
    return found && found.tree->IsFilesItem(found.index);
}

int CTreeListCtrl::GetItemImage(HTREEITEM item) const {
    std::lock_guard lock(m_mutex);
    Found found = Readable(item);
    return found ? found.tree->Image(found.index) : -1;
}

bool CTreeListCtrl::SetItemImage(HTREEITEM item, int image) {
    std::lock_guard lock(m_mutex);
    return SetItemImageLocked(item, image);
}

bool CTreeListCtrl::SetItemImageLocked(HTREEITEM item, int image) {
    Found found = Live(item);
    if (!found) {
        return false;
    }
    m_tree->SetImage(found.index, image);
    AnnounceData(item);
    return true;
}

std::string CTreeListCtrl::GetItemText(HTREEITEM item, int column) const {
    std::lock_guard lock(m_mutex);
    Found found = Readable(item);
    if (!found || column < 0) {
        return {};
    }
    if (column == 0) {
        return found.tree->Text(found.index);
    }
    if (column == m_nSizeColumn) {
        return found.tree->HasSize(found.index) ? FormatSize(found.tree->Bytes(found.index))
                                                : std::string();
    }
    if (column == m_nPercentColumn) {
        int percent = found.tree->Percent(found.index);
        return percent < 0 ? std::string() : PercentText(percent);
    }
    return {};
}

std::string CTreeListCtrl::GetItemTextLocked(HTREEITEM item) const {
    Found found = Readable(item);
    return found ? found.tree->Text(found.index) : std::string();
}

bool CTreeListCtrl::SetItemText(HTREEITEM item, int column, std::string_view text) {
    if (column != 0) {
        return false;
    }
    std::lock_guard lock(m_mutex);
    return SetItemTextLocked(item, text);
}

bool CTreeListCtrl::SetItemTextLocked(HTREEITEM item, std::string_view text) {
    Found found = Live(item);
    if (!found) {
        return false;
    }
    m_tree->SetName(found.index, text);
    AnnounceData(item);
    return true;
}

std::optional<uint64_t> CTreeListCtrl::GetItemSize(HTREEITEM item) const {
    std::lock_guard lock(m_mutex);
    return GetItemSizeLocked(item);
}

std::optional<uint64_t> CTreeListCtrl::GetItemSizeLocked(HTREEITEM item) const {
    Found found = Readable(item);
    if (!found || !found.tree->HasSize(found.index)) {
        return std::nullopt;
    }
    return found.tree->Bytes(found.index);
}

bool CTreeListCtrl::SetItemSize(HTREEITEM item, uint64_t bytes) {
    std::lock_guard lock(m_mutex);
    return SetItemSizeLocked(item, bytes);
}

bool CTreeListCtrl::SetItemSizeLocked(HTREEITEM item, uint64_t bytes) {
    Found found = Live(item);
    if (!found) {
        return false;
    }
    m_tree->SetSize(found.index, bytes);
    AnnounceData(item);
    return true;
}

int64_t CTreeListCtrl::GetItemFileCount(HTREEITEM item) const {
    std::lock_guard lock(m_mutex);
    return GetItemFileCountLocked(item);
}

int64_t CTreeListCtrl::GetItemFileCountLocked(HTREEITEM item) const {
    Found found = Readable(item);
    return found ? found.tree->FileCount(found.index) : 0;
}

uint64_t CTreeListCtrl::GetPercentBase() const {
    std::lock_guard lock(m_mutex);
    return GetPercentBaseLocked();
}

uint64_t CTreeListCtrl::GetPercentBaseLocked() const {
    return m_tree->PercentBase();
}

void CTreeListCtrl::SetPercentBase(uint64_t base) {
    std::lock_guard lock(m_mutex);
    SetPercentBaseLocked(base);
}

void CTreeListCtrl::SetPercentBaseLocked(uint64_t base) {
    if (m_tree->PercentBase() == base) {
        return;
    }
    m_tree->SetPercentBase(base);
    Announce(TreeChange{TreeChange::PercentsChanged});
}

int CTreeListCtrl::GetItemPercent(HTREEITEM item) const {
    std::lock_guard lock(m_mutex);
    Found found = Readable(item);
    return found ? found.tree->Percent(found.index) : -1;
}

uint32_t CTreeListCtrl::ItemNumberEndLocked() const {
    return m_tree->Size();
}

HTREEITEM CTreeListCtrl::LiveItemLocked(uint32_t number) const {
    HTREEITEM item = HandleOf(*m_tree, number);
    return Live(item) ? item : TVI_NULL;
}

// --- Sorting ------------------------------------------------------------------

int CTreeListCtrl::ComparePercent(int first, int second) {
    if (first < second) {
        return 1;
    }
    if (first > second) {
        return -1;
    }
    return 0;
}

bool CTreeListCtrl::RequestSort(Found parent, bool byText, bool keepFilesItemLast) {
    uint32_t count = m_tree->ChildCount(parent.index);
    if (keepFilesItemLast && count > 0 &&
        m_tree->IsFilesItem(m_tree->ChildAt(parent.index, count - 1))) {
        --count;
    }
    if (count < 2) {
        return true;  // nothing to order, nothing to announce
    }
    TreeChange change{TreeChange::ChildrenReordered};
    change.byText = byText;
    change.keepFilesItemLast = keepFilesItemLast;
    change.limit = m_tree->Size();
    change.parent = HandleOf(*m_tree, parent.index);
    if (m_listening) {
        Announce(change);
    } else {
        ApplyChangeLocked(change);
    }
    return true;
}

bool CTreeListCtrl::SortChildrenByPercent(HTREEITEM item) {
    std::lock_guard lock(m_mutex);
    return SortChildrenByPercentLocked(item, false);
}

bool CTreeListCtrl::SortChildrenByPercentLocked(HTREEITEM item, bool keepFilesItemLast) {
    Found found = LiveParent(item);
    return found && RequestSort(found, false, keepFilesItemLast);
}

bool CTreeListCtrl::SortTopLevel(bool byPercent) {
    std::lock_guard lock(m_mutex);
    return SortTopLevelLocked(byPercent);
}

bool CTreeListCtrl::SortTopLevelLocked(bool byPercent) {
    Found root = Live(GetRootItemLocked());
    return root && RequestSort(root, !byPercent, false);
}

void CTreeListCtrl::CompleteChildrenLocked(HTREEITEM item) {
    Found found = LiveParent(item);
    if (found) {
        m_tree->PackChildren(found.index);
    }
}

// --- Expanding ----------------------------------------------------------------

bool CTreeListCtrl::Expand(HTREEITEM item) {
    std::lock_guard lock(m_mutex);
    return ExpandLocked(item);
}

bool CTreeListCtrl::ExpandLocked(HTREEITEM item) {
    if (!Live(item)) {
        return false;
    }
    // A walk asks for every folder it enters; the view needs one request
    // per refresh.
    if (m_listening && m_expandAnnounced != item) {
        m_expandAnnounced = item;
        TreeChange change{TreeChange::ExpandRequested};
        change.item = item;
        Announce(change);
    }
    return true;
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

// --- The listener -------------------------------------------------------------

CTreeListCtrl::ShownTree CTreeListCtrl::AttachListener(ChangeNotifier::Poster poster) {
    // The poster first: no change can be journalled without reaching it.
    m_notifier.SetPoster(std::move(poster));
    std::lock_guard lock(m_mutex);
    m_listening = true;
    m_journal.clear();
    m_expandAnnounced = TVI_NULL;
    m_shownGeneration = m_tree->Generation();
    return ShownTree{HandleOf(*m_tree, ItemTree::kTopLevel), m_tree->Size()};
}

void CTreeListCtrl::DetachListener() {
    m_notifier.SetPoster(nullptr);
    std::lock_guard lock(m_mutex);
    for (const TreeChange& change : m_journal) {
        ApplyChangeLocked(change);
    }
    std::vector<TreeChange>().swap(m_journal);
    m_retired.reset();
    m_listening = false;
    m_shownGeneration = m_tree->Generation();
}

std::vector<TreeChange> CTreeListCtrl::TakeChanges() {
    m_notifier.Acknowledge();
    std::lock_guard lock(m_mutex);
    std::vector<TreeChange> changes;
    changes.swap(m_journal);
    m_expandAnnounced = TVI_NULL;
    return changes;
}

void CTreeListCtrl::ApplyChange(const TreeChange& change) {
    std::lock_guard lock(m_mutex);
    ApplyChangeLocked(change);
}

void CTreeListCtrl::ApplyChangeLocked(const TreeChange& change) {
    switch (change.kind) {
        case TreeChange::ChildrenReordered:
            if (Found parent = Shown(change.parent)) {
                if (change.byText) {
                    parent.tree->SortChildrenByText(parent.index, change.limit);
                } else {
                    parent.tree->SortChildrenByPercent(parent.index, change.limit,
                                                       change.keepFilesItemLast);
                }
            }
            break;
        case TreeChange::Deleted:
            if (Found found = Shown(change.item); found && found.index != ItemTree::kTopLevel) {
                found.tree->Unlink(found.index);
            }
            break;
        case TreeChange::AllDeleted:
            // The listener now shows the tree that replaced the old one.
            m_shownGeneration = GenerationOf(change.item);
            if (m_retired && m_retired->Generation() != m_shownGeneration) {
                m_retired.reset();
            }
            break;
        default:
            break;
    }
}

int CTreeListCtrl::GetShownChildCount(HTREEITEM parent, uint32_t announced) const {
    std::lock_guard lock(m_mutex);
    Found found = Shown(parent);
    return found ? int(found.tree->ChildCountBelow(found.index, announced)) : 0;
}

HTREEITEM CTreeListCtrl::GetShownChild(HTREEITEM parent, int row, uint32_t announced) const {
    std::lock_guard lock(m_mutex);
    Found found = Shown(parent);
    if (!found || row < 0) {
        return TVI_NULL;
    }
    // Children not yet announced trail the announced ones.
    uint32_t child = found.tree->ChildAt(found.index, uint32_t(row));
    if (child == ItemTree::kNoItem || child >= announced) {
        return TVI_NULL;
    }
    return HandleOf(*found.tree, child);
}

std::pair<HTREEITEM, int> CTreeListCtrl::GetShownParentAndRow(HTREEITEM item) const {
    std::lock_guard lock(m_mutex);
    Found found = Shown(item);
    if (!found || found.index == ItemTree::kTopLevel) {
        return {TVI_NULL, -1};
    }
    return {HandleOf(*found.tree, found.tree->Parent(found.index)),
            int(found.tree->Row(found.index))};
}

bool CTreeListCtrl::IsShownLinked(HTREEITEM item) const {
    std::lock_guard lock(m_mutex);
    Found found = Shown(item);
    if (!found) {
        return false;
    }
    for (uint32_t at = found.index; at != ItemTree::kTopLevel;) {
        uint32_t parent = found.tree->Parent(at);
        if (found.tree->ChildAt(parent, found.tree->Row(at)) != at) {
            return false;
        }
        at = parent;
    }
    return true;
}

}  // namespace quarn
