#include "foldersize/FolderTreeStore.h"

#include <algorithm>
#include <utility>

namespace quarn {

FolderTreeStore::FolderTreeStore() {
    // In the body: NextGeneration reads a member declared after m_tree.
    m_tree = std::make_unique<FolderTree>(NextGeneration());
}

FolderTreeStore::~FolderTreeStore() = default;

uint32_t FolderTreeStore::NextGeneration() {
    ++m_lastGeneration;
    // 0 would make kNoNode a handle, all ones kTopLevel.
    if (m_lastGeneration == 0 || m_lastGeneration == 0xffffffffu) {
        m_lastGeneration = 1;
    }
    return m_lastGeneration;
}

// --- Handles ------------------------------------------------------------------

NodeHandle FolderTreeStore::HandleOf(const FolderTree& tree, uint32_t index) const {
    return (NodeHandle(tree.Generation()) << 32) | index;
}

FolderTreeStore::Found FolderTreeStore::Live(NodeHandle item) const {
    uint32_t index = ItemNumberOf(item);
    if (item == kTopLevel || GenerationOf(item) != m_tree->Generation() || index == 0 ||
        index >= m_tree->Size() || m_tree->IsRemoved(index)) {
        return {};
    }
    return Found{m_tree.get(), index};
}

FolderTreeStore::Found FolderTreeStore::LiveParent(NodeHandle parent) const {
    if (parent == kTopLevel || parent == HandleOf(*m_tree, FolderTree::kTopLevel)) {
        return Found{m_tree.get(), FolderTree::kTopLevel};
    }
    return Live(parent);
}

FolderTreeStore::Found FolderTreeStore::Shown(NodeHandle item) const {
    if (item == kNoNode || item == kTopLevel) {
        return {};
    }
    FolderTree* tree = nullptr;
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

FolderTreeStore::Found FolderTreeStore::Readable(NodeHandle item) const {
    Found found = Shown(item);
    if (!found || found.index == FolderTree::kTopLevel || found.tree->IsRemoved(found.index)) {
        return {};
    }
    return found;
}

void FolderTreeStore::Announce(TreeChange change) {
    if (!m_listening) {
        return;
    }
    m_journal.push_back(change);
    m_notifier.Notify();
}

void FolderTreeStore::AnnounceData(NodeHandle item) {
    TreeChange change{TreeChange::DataChanged};
    change.item = item;
    Announce(change);
}

// --- Items --------------------------------------------------------------------

NodeHandle FolderTreeStore::InsertItem(std::string_view name, NodeKind kind, NodeHandle parent) {
    std::lock_guard lock(m_mutex);
    return InsertItemLocked(name, kind, parent);
}

NodeHandle FolderTreeStore::InsertItemLocked(std::string_view name, NodeKind kind,
                                             NodeHandle parent) {
    Found found = LiveParent(parent);
    if (!found) {
        return kNoNode;
    }
    return AnnounceInserted(found.index, m_tree->AddItem(found.index, name, kind));
}

NodeHandle FolderTreeStore::InsertFilesItem(NodeHandle parent, int64_t fileCount, uint64_t bytes) {
    std::lock_guard lock(m_mutex);
    return InsertFilesItemLocked(parent, fileCount, bytes);
}

NodeHandle FolderTreeStore::InsertFilesItemLocked(NodeHandle parent, int64_t fileCount,
                                                  uint64_t bytes) {
    Found found = LiveParent(parent);
    if (!found) {
        return kNoNode;
    }
    return AnnounceInserted(found.index, m_tree->AddFilesItem(found.index, fileCount, bytes));
}

NodeHandle FolderTreeStore::AnnounceInserted(uint32_t parentIndex, uint32_t index) {
    if (index == FolderTree::kNoItem) {
        return kNoNode;
    }
    TreeChange change{TreeChange::Inserted};
    change.item = HandleOf(*m_tree, index);
    change.parent = HandleOf(*m_tree, parentIndex);
    Announce(change);
    return change.item;
}

bool FolderTreeStore::DeleteItem(NodeHandle item) {
    std::lock_guard lock(m_mutex);
    return DeleteItemLocked(item);
}

bool FolderTreeStore::DeleteItemLocked(NodeHandle item) {
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

void FolderTreeStore::DeleteAllItems() {
    std::lock_guard lock(m_mutex);
    DeleteAllItemsLocked();
}

void FolderTreeStore::DeleteAllItemsLocked() {
    auto fresh = std::make_unique<FolderTree>(NextGeneration());
    if (m_listening) {
        // Older changes mean nothing to the listener once it starts anew.
        m_journal.clear();
        m_expandAnnounced = kNoNode;
        if (m_tree->Generation() == m_shownGeneration) {
            m_retired = std::move(m_tree);  // still on screen until the listener resets
        }
    }
    // A tree nobody shows is freed here, from its flat containers.
    m_tree = std::move(fresh);
    m_topLevelByName = false;
    TreeChange change{TreeChange::AllDeleted};
    change.item = HandleOf(*m_tree, FolderTree::kTopLevel);
    Announce(change);
}

NodeHandle FolderTreeStore::GetRootItem() const {
    std::lock_guard lock(m_mutex);
    return GetRootItemLocked();
}

NodeHandle FolderTreeStore::GetRootItemLocked() const {
    uint32_t first = m_tree->ChildAt(FolderTree::kTopLevel, 0);
    return first == FolderTree::kNoItem ? kNoNode : HandleOf(*m_tree, first);
}

NodeHandle FolderTreeStore::GetParentItem(NodeHandle item) const {
    std::lock_guard lock(m_mutex);
    return GetParentItemLocked(item);
}

NodeHandle FolderTreeStore::GetParentItemLocked(NodeHandle item) const {
    Found found = Live(item);
    if (!found) {
        return kNoNode;
    }
    uint32_t parent = m_tree->Parent(found.index);
    return parent == FolderTree::kTopLevel ? kTopLevel : HandleOf(*m_tree, parent);
}

int FolderTreeStore::GetChildCount(NodeHandle parent) const {
    std::lock_guard lock(m_mutex);
    return GetChildCountLocked(parent);
}

int FolderTreeStore::GetChildCountLocked(NodeHandle parent) const {
    Found found = LiveParent(parent);
    return found ? int(m_tree->ChildCount(found.index)) : 0;
}

NodeHandle FolderTreeStore::GetChildItem(NodeHandle parent, int row) const {
    std::lock_guard lock(m_mutex);
    return GetChildItemLocked(parent, row);
}

NodeHandle FolderTreeStore::GetChildItemLocked(NodeHandle parent, int row) const {
    Found found = LiveParent(parent);
    if (!found || row < 0) {
        return kNoNode;
    }
    uint32_t child = m_tree->ChildAt(found.index, uint32_t(row));
    return child == FolderTree::kNoItem ? kNoNode : HandleOf(*m_tree, child);
}

int FolderTreeStore::GetRowOfItem(NodeHandle item) const {
    std::lock_guard lock(m_mutex);
    Found found = Live(item);
    return found ? int(m_tree->Row(found.index)) : -1;
}

bool FolderTreeStore::IsLiveItem(NodeHandle item) const {
    std::lock_guard lock(m_mutex);
    return bool(Live(item));
}

bool FolderTreeStore::IsFilesItem(NodeHandle item) const {
    std::lock_guard lock(m_mutex);
    return IsFilesItemLocked(item);
}

bool FolderTreeStore::IsFilesItemLocked(NodeHandle item) const {
    Found found = Readable(item);
    return found && found.tree->IsFilesItem(found.index);
}

std::optional<NodeKind> FolderTreeStore::GetItemKind(NodeHandle item) const {
    std::lock_guard lock(m_mutex);
    return GetItemKindLocked(item);
}

std::optional<NodeKind> FolderTreeStore::GetItemKindLocked(NodeHandle item) const {
    Found found = Readable(item);
    return found ? std::optional<NodeKind>(found.tree->Kind(found.index)) : std::nullopt;
}

bool FolderTreeStore::SetItemKind(NodeHandle item, NodeKind kind) {
    std::lock_guard lock(m_mutex);
    return SetItemKindLocked(item, kind);
}

bool FolderTreeStore::SetItemKindLocked(NodeHandle item, NodeKind kind) {
    Found found = Live(item);
    if (!found) {
        return false;
    }
    found.tree->SetKind(found.index, kind);
    AnnounceData(item);
    return true;
}

std::string FolderTreeStore::GetItemName(NodeHandle item) const {
    std::lock_guard lock(m_mutex);
    return GetItemNameLocked(item);
}

std::string FolderTreeStore::GetItemNameLocked(NodeHandle item) const {
    return std::string(GetItemNameViewLocked(item));
}

std::string_view FolderTreeStore::GetItemNameViewLocked(NodeHandle item) const {
    Found found = Readable(item);
    return found ? std::string_view(found.tree->Name(found.index)) : std::string_view();
}

bool FolderTreeStore::SetItemName(NodeHandle item, std::string_view name) {
    std::lock_guard lock(m_mutex);
    return SetItemNameLocked(item, name);
}

bool FolderTreeStore::SetItemNameLocked(NodeHandle item, std::string_view name) {
    Found found = Live(item);
    if (!found) {
        return false;
    }
    m_tree->SetName(found.index, name);
    AnnounceData(item);
    return true;
}

std::optional<uint64_t> FolderTreeStore::GetItemSize(NodeHandle item) const {
    std::lock_guard lock(m_mutex);
    return GetItemSizeLocked(item);
}

std::optional<uint64_t> FolderTreeStore::GetItemSizeLocked(NodeHandle item) const {
    Found found = Readable(item);
    if (!found || !found.tree->HasSize(found.index)) {
        return std::nullopt;
    }
    return found.tree->Bytes(found.index);
}

bool FolderTreeStore::SetItemSize(NodeHandle item, uint64_t bytes) {
    std::lock_guard lock(m_mutex);
    return SetItemSizeLocked(item, bytes);
}

bool FolderTreeStore::SetItemSizeLocked(NodeHandle item, uint64_t bytes) {
    Found found = Live(item);
    if (!found) {
        return false;
    }
    m_tree->SetSize(found.index, bytes);
    AnnounceData(item);
    return true;
}

int64_t FolderTreeStore::GetItemFileCount(NodeHandle item) const {
    std::lock_guard lock(m_mutex);
    return GetItemFileCountLocked(item);
}

int64_t FolderTreeStore::GetItemFileCountLocked(NodeHandle item) const {
    Found found = Readable(item);
    return found ? found.tree->FileCount(found.index) : 0;
}

uint64_t FolderTreeStore::GetPercentBase() const {
    std::lock_guard lock(m_mutex);
    return GetPercentBaseLocked();
}

uint64_t FolderTreeStore::GetPercentBaseLocked() const {
    return m_tree->PercentBase();
}

void FolderTreeStore::SetPercentBase(uint64_t base) {
    std::lock_guard lock(m_mutex);
    SetPercentBaseLocked(base);
}

void FolderTreeStore::SetPercentBaseLocked(uint64_t base) {
    if (m_tree->PercentBase() == base) {
        return;
    }
    m_tree->SetPercentBase(base);
    Announce(TreeChange{TreeChange::PercentsChanged});
}

int FolderTreeStore::GetItemPercent(NodeHandle item) const {
    std::lock_guard lock(m_mutex);
    Found found = Readable(item);
    return found ? found.tree->Percent(found.index) : -1;
}

uint32_t FolderTreeStore::ItemNumberEndLocked() const {
    return m_tree->Size();
}

NodeHandle FolderTreeStore::LiveItemLocked(uint32_t number) const {
    NodeHandle item = HandleOf(*m_tree, number);
    return Live(item) ? item : kNoNode;
}

// --- Sorting ------------------------------------------------------------------

int FolderTreeStore::ComparePercent(int first, int second) {
    if (first < second) {
        return 1;
    }
    if (first > second) {
        return -1;
    }
    return 0;
}

bool FolderTreeStore::RequestSort(Found parent, bool byText, bool keepFilesItemLast, bool byKey) {
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
    change.byKey = byKey;
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

bool FolderTreeStore::SortChildrenByPercent(NodeHandle item) {
    std::lock_guard lock(m_mutex);
    return SortChildrenByPercentLocked(item, false);
}

bool FolderTreeStore::SortChildrenByPercentLocked(NodeHandle item, bool keepFilesItemLast) {
    Found found = LiveParent(item);
    return found && RequestSort(found, false, keepFilesItemLast);
}

void FolderTreeStore::SortChildrenByKeys(std::unordered_map<NodeHandle, int64_t> keys) {
    std::lock_guard lock(m_mutex);
    m_orderKeys = std::move(keys);
    for (const auto& entry : m_orderKeys) {
        if (Found found = LiveParent(entry.first)) {
            RequestSort(found, false, false, true);
        }
    }
}

bool FolderTreeStore::SortTopLevel(bool byPercent) {
    std::lock_guard lock(m_mutex);
    return SortTopLevelLocked(byPercent);
}

bool FolderTreeStore::SortTopLevelLocked(bool byPercent) {
    m_topLevelByName = !byPercent;
    Found root = Live(GetRootItemLocked());
    return root && RequestSort(root, !byPercent, false);
}

void FolderTreeStore::CompleteChildrenLocked(NodeHandle item) {
    Found found = LiveParent(item);
    if (found) {
        m_tree->PackChildren(found.index);
    }
}

// --- Expanding ----------------------------------------------------------------

bool FolderTreeStore::Expand(NodeHandle item) {
    std::lock_guard lock(m_mutex);
    return ExpandLocked(item);
}

bool FolderTreeStore::ExpandLocked(NodeHandle item) {
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

// --- The listener -------------------------------------------------------------

FolderTreeStore::ShownTree FolderTreeStore::AttachListener(ChangeNotifier::Poster poster) {
    // The poster first: no change can be journalled without reaching it.
    m_notifier.SetPoster(std::move(poster));
    std::lock_guard lock(m_mutex);
    m_listening = true;
    m_journal.clear();
    m_expandAnnounced = kNoNode;
    m_shownGeneration = m_tree->Generation();
    return ShownTree{HandleOf(*m_tree, FolderTree::kTopLevel), m_tree->Size()};
}

void FolderTreeStore::DetachListener() {
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

std::vector<TreeChange> FolderTreeStore::TakeChanges() {
    m_notifier.Acknowledge();
    std::lock_guard lock(m_mutex);
    std::vector<TreeChange> changes;
    changes.swap(m_journal);
    m_expandAnnounced = kNoNode;
    return changes;
}

void FolderTreeStore::ApplyChange(const TreeChange& change) {
    std::lock_guard lock(m_mutex);
    ApplyChangeLocked(change);
}

void FolderTreeStore::ApplyChangeLocked(const TreeChange& change) {
    switch (change.kind) {
        case TreeChange::ChildrenReordered:
            if (Found parent = Shown(change.parent)) {
                if (change.byKey) {
                    parent.tree->SortChildrenByKey(parent.index, change.limit, [&](uint32_t index) {
                        const auto key = m_orderKeys.find(HandleOf(*parent.tree, index));
                        return key == m_orderKeys.end() ? int64_t(0) : key->second;
                    });
                } else if (change.byText) {
                    parent.tree->SortChildrenByText(parent.index, change.limit);
                } else {
                    parent.tree->SortChildrenByPercent(parent.index, change.limit,
                                                       change.keepFilesItemLast);
                }
            }
            break;
        case TreeChange::Deleted:
            if (Found found = Shown(change.item); found && found.index != FolderTree::kTopLevel) {
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

int FolderTreeStore::GetShownChildCount(NodeHandle parent, uint32_t announced) const {
    std::lock_guard lock(m_mutex);
    Found found = Shown(parent);
    return found ? int(found.tree->ChildCountBelow(found.index, announced)) : 0;
}

NodeHandle FolderTreeStore::GetShownChild(NodeHandle parent, int row, uint32_t announced) const {
    std::lock_guard lock(m_mutex);
    Found found = Shown(parent);
    if (!found || row < 0) {
        return kNoNode;
    }
    // Children not yet announced trail the announced ones.
    uint32_t child = found.tree->ChildAt(found.index, uint32_t(row));
    if (child == FolderTree::kNoItem || child >= announced) {
        return kNoNode;
    }
    return HandleOf(*found.tree, child);
}

std::pair<NodeHandle, int> FolderTreeStore::GetShownParentAndRow(NodeHandle item) const {
    std::lock_guard lock(m_mutex);
    Found found = Shown(item);
    if (!found || found.index == FolderTree::kTopLevel) {
        return {kNoNode, -1};
    }
    return {HandleOf(*found.tree, found.tree->Parent(found.index)),
            int(found.tree->Row(found.index))};
}

std::optional<FolderTreeStore::ShownLabel> FolderTreeStore::GetShownLabel(NodeHandle item) const {
    std::lock_guard lock(m_mutex);
    Found found = Shown(item);
    if (!found || found.index == FolderTree::kTopLevel) {
        return std::nullopt;
    }
    const FolderTree& tree = *found.tree;
    return ShownLabel{tree.Kind(found.index), std::string(tree.Name(found.index)),
                      tree.IsFilesItem(found.index) ? tree.FileCount(found.index) : 0};
}

bool FolderTreeStore::IsShownLinked(NodeHandle item) const {
    std::lock_guard lock(m_mutex);
    Found found = Shown(item);
    if (!found) {
        return false;
    }
    for (uint32_t at = found.index; at != FolderTree::kTopLevel;) {
        uint32_t parent = found.tree->Parent(at);
        if (found.tree->ChildAt(parent, found.tree->Row(at)) != at) {
            return false;
        }
        at = parent;
    }
    return true;
}

}  // namespace quarn
