#include "foldersize/FolderSizeTree.h"

#include <algorithm>

#include "platform/PathRules.h"

namespace quarn {

namespace {

// Folders are sorted in batches, so that a view reading the store is not
// kept waiting for the whole pass.
constexpr uint32_t kItemsPerLock = 2048;

}  // namespace

FolderSizeTree::Figures FolderSizeTree::GetFigures() const {
    std::lock_guard lock(StoreMutex());
    Figures figures = m_figures;
    figures.unreadableFolders = m_readProblems.UnreadableFolders();
    figures.skippedEntries = m_readProblems.SkippedEntries();
    return figures;
}

std::string FolderSizeTree::GetRootPath() const {
    std::lock_guard lock(StoreMutex());
    return m_strRootPath;
}

WalkOptions FolderSizeTree::GetScope() const {
    std::lock_guard lock(StoreMutex());
    return m_scope;
}

bool FolderSizeTree::AreSizesAllocated() const {
    std::lock_guard lock(StoreMutex());
    return m_bAllocated;
}

size_t FolderSizeTree::GetRecordCount() const {
    std::lock_guard lock(StoreMutex());
    return m_nRecords;
}

FolderTreeStore::RootPlace FolderSizeTree::GetRootPlace() const {
    std::lock_guard lock(StoreMutex());
    return m_rootPlace;
}

std::optional<std::string> FolderSizeTree::GetItemPath(NodeHandle item) const {
    std::lock_guard lock(StoreMutex());
    return ItemPathLocked(item);
}

std::optional<std::string> FolderSizeTree::ItemPathLocked(NodeHandle item) const {
    if (m_hScanRoot == kNoNode || GetParentItemLocked(item) == kNoNode) {
        return std::nullopt;
    }
    if (IsFilesItemLocked(item)) {
        item = GetParentItemLocked(item);
    }
    std::vector<std::string> names;
    for (NodeHandle at = item; at != m_hScanRoot; at = GetParentItemLocked(at)) {
        if (at == kNoNode || at == kTopLevel) {
            return std::nullopt;  // not below this scan's root
        }
        names.push_back(GetItemNameLocked(at));
    }
    std::string path = m_strRootPath;
    for (auto name = names.rbegin(); name != names.rend(); ++name) {
        AppendPathComponent(path, *name);
    }
    return path;
}

NodeHandle FolderSizeTree::FindFolderItem(const std::string& path) const {
    std::lock_guard lock(StoreMutex());
    if (m_hScanRoot == kNoNode || !IsLiveItemLocked(m_hScanRoot)) {
        return kNoNode;
    }
    const std::string root = NormalisedPath(m_strRootPath);
    const std::string wanted = NormalisedPath(path);
    if (wanted != root) {
        const std::string prefix = root == "/" ? root : root + kPathSeparator;
        if (!wanted.starts_with(prefix)) {
            return kNoNode;
        }
    }
    NodeHandle at = m_hScanRoot;
    size_t begin = root == "/" ? 1 : std::min(wanted.size(), root.size() + 1);
    while (begin < wanted.size()) {
        size_t end = wanted.find(kPathSeparator, begin);
        if (end == std::string::npos) {
            end = wanted.size();
        }
        const std::string_view name(wanted.data() + begin, end - begin);
        NodeHandle next = kNoNode;
        const int count = GetChildCountLocked(at);
        for (int row = 0; row < count && next == kNoNode; ++row) {
            const NodeHandle child = GetChildItemLocked(at, row);
            if (IsLiveItemLocked(child) && !IsFilesItemLocked(child) &&
                GetItemNameLocked(child) == name) {
                next = child;
            }
        }
        if (next == kNoNode) {
            break;  // made after the scan: its deepest folder the tree knows
        }
        at = next;
        begin = end + 1;
    }
    return at;
}

std::optional<FolderReadProblems::Problem> FolderSizeTree::GetReadProblem(NodeHandle item) const {
    std::lock_guard lock(StoreMutex());
    // Numbers are of the current tree; a handle of an older one is no match.
    if (!IsLiveItemLocked(item) || IsFilesItemLocked(item)) {
        return std::nullopt;
    }
    const FolderReadProblems::Problem* problem = m_readProblems.Find(ItemNumberOf(item));
    if (problem == nullptr) {
        return std::nullopt;
    }
    return *problem;
}

std::unique_ptr<SubtreeScan> FolderSizeTree::NewSubtreeScan(
    std::function<bool(const std::string& path)> keepGoing) {
    return std::make_unique<SubtreeScan>(AreSizesAllocated(), m_links, StoreMutex(),
                                         std::move(keepGoing));
}

// --- For the engine --------------------------------------------------------------

void FolderSizeTree::Reset(const WalkOptions& scope, bool allocatedSizes) {
    m_fileStats.ScanStarted();
    std::lock_guard lock(StoreMutex());
    m_nRecords = 0;
    m_hScanRoot = kNoNode;
    m_strRootPath.clear();
    m_rootPlace = RootPlace::Folder;
    m_scope = scope;
    m_bAllocated = allocatedSizes;
    m_bPercentOfTotal = true;
    m_bSortBySize = false;
    m_figures = Figures{};
    m_links.Clear();
    m_readProblems.Clear();
    std::deque<uint32_t>().swap(m_ownFiles);
    DeleteAllItemsLocked();
}

void FolderSizeTree::Finish(uint64_t denominator, bool percentOfTotal, bool sortBySize,
                            const std::string& rootName) {
    {
        std::lock_guard lock(StoreMutex());
        m_bPercentOfTotal = percentOfTotal;
        m_bSortBySize = sortBySize && denominator != 0;
        if (!rootName.empty()) {
            SetItemNameLocked(m_hScanRoot, rootName);
        }
        // Percentages are made from the sizes when shown; every item shares
        // this denominator. 0: no item has one and nothing is sorted.
        SetPercentBaseLocked(denominator);
    }
    if (denominator != 0 && sortBySize) {
        SortAllBySize();
    }
}

void FolderSizeTree::FollowTotal(const std::string& rootName) {
    std::lock_guard lock(StoreMutex());
    if (!rootName.empty() && IsLiveItemLocked(m_hScanRoot)) {
        SetItemNameLocked(m_hScanRoot, rootName);
    }
}

void FolderSizeTree::SortAllBySize() {
    // A files item stays the last child of its folder, even when it is the
    // largest; only under the scan root is it placed by size. A folder the
    // walk did not finish keeps the order of the walk.
    const NodeHandle root = GetRootItem();
    uint32_t next = 1;
    while (true) {
        std::lock_guard lock(StoreMutex());
        const uint32_t end = std::min(ItemNumberEndLocked(), next + kItemsPerLock);
        if (next >= end) {
            break;
        }
        for (; next < end; ++next) {
            const NodeHandle item = LiveItemLocked(next);
            if (item != kNoNode && item != root && !IsFilesItemLocked(item) &&
                GetItemSizeLocked(item)) {
                SortChildrenByPercentLocked(item, true);
            }
        }
    }
    SortChildrenByPercent(root);
}

// --- Bookkeeping a walk and the changes share --------------------------------------

void FolderSizeTree::MarkUnreadableLocked(NodeHandle item, int errorNumber) {
    if (!IsLiveItemLocked(item)) {
        return;
    }
    m_readProblems.SetUnreadable(ItemNumberOf(item), errorNumber);
    SetItemKindLocked(item, NodeKind::Unreadable);
}

uint32_t FolderSizeTree::OwnFileCountLocked(NodeHandle item) const {
    const uint32_t number = ItemNumberOf(item);
    return number < m_ownFiles.size() ? m_ownFiles[number] : 0;
}

void FolderSizeTree::SetOwnFileCountLocked(NodeHandle item, int64_t count) {
    if (item == kNoNode) {
        return;
    }
    const uint32_t number = ItemNumberOf(item);
    if (number >= m_ownFiles.size()) {
        m_ownFiles.resize(size_t(number) + 1, 0);
    }
    m_ownFiles[number] = uint32_t(std::clamp<int64_t>(count, 0, 0xffffffffll));
}

}  // namespace quarn
