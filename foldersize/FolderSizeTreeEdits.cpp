#include "foldersize/FolderSizeTree.h"

#include "platform/ByteSum.h"

// The changes a tree takes after its scan: a folder or a folder's loose files
// left the disk, or a folder was walked anew. Every change settles the sizes
// up to the root (hard links counted once per folder), the counts, the
// percentages and the order.

namespace quarn {

uint32_t FolderSizeTree::ParentNumberLocked(uint32_t number) const {
    NodeHandle parent = GetParentItemLocked(LiveItemLocked(number));
    if (parent == kNoNode || parent == kTopLevel) {
        return LinkedFiles::kNoParent;
    }
    return ItemNumberOf(parent);
}

std::vector<NodeHandle> FolderSizeTree::SubtreeFoldersLocked(NodeHandle item) const {
    std::vector<NodeHandle> folders;
    std::vector<NodeHandle> pending{item};
    while (!pending.empty()) {
        NodeHandle folder = pending.back();
        pending.pop_back();
        folders.push_back(folder);
        int count = GetChildCountLocked(folder);
        for (int row = 0; row < count; ++row) {
            NodeHandle child = GetChildItemLocked(folder, row);
            // Deleted children stay linked until a view has applied it.
            if (IsLiveItemLocked(child) && !IsFilesItemLocked(child)) {
                pending.push_back(child);
            }
        }
    }
    return folders;
}

std::vector<LinkedFiles::Name> FolderSizeTree::TakeNamesOfLocked(
    const std::vector<NodeHandle>& folders) {
    if (m_links.Names().empty()) {
        return {};
    }
    std::vector<bool> inside(ItemNumberEndLocked(), false);
    for (NodeHandle folder : folders) {
        inside[ItemNumberOf(folder)] = true;
    }
    return m_links.TakeNamesIf([&inside](const LinkedFiles::Name& name) {
        return name.folder < inside.size() && inside[name.folder];
    });
}

void FolderSizeTree::UpdateAncestorsLocked(NodeHandle start, uint64_t removed,
                                           const std::vector<LinkedFiles::Name>& removedNames,
                                           uint64_t added,
                                           const std::vector<LinkedFiles::Name>& addedNames) {
    std::vector<NodeHandle> chain;
    std::vector<uint32_t> numbers;
    for (NodeHandle at = start; at != kTopLevel && at != kNoNode; at = GetParentItemLocked(at)) {
        chain.push_back(at);
        numbers.push_back(ItemNumberOf(at));
    }
    auto parentOf = [this](uint32_t number) { return ParentNumberLocked(number); };
    // An inode whose names leave or join a folder still counts there (once)
    // when another of its names stays below it.
    std::vector<uint64_t> keptOfRemoved = m_links.BytesHeldAlong(numbers, removedNames, parentOf);
    std::vector<uint64_t> heldOfAdded = m_links.BytesHeldAlong(numbers, addedNames, parentOf);
    // What a folder of the chain loses and gains: the kept bytes are part of
    // the removed ones, the bytes held already part of the added ones.
    auto lost = [&](size_t at) { return SubtractBytes(removed, keptOfRemoved[at]); };
    auto gained = [&](size_t at) { return SubtractBytes(added, heldOfAdded[at]); };
    for (size_t at = 0; at < chain.size(); ++at) {
        if (std::optional<uint64_t> size = GetItemSizeLocked(chain[at])) {
            SetItemSizeLocked(chain[at], ReplaceBytes(*size, lost(at), gained(at)));
        }
    }
    uint64_t total = 0;  // when the scan root itself went
    if (!chain.empty()) {
        total = ReplaceBytes(m_figures.total, lost(chain.size() - 1), gained(chain.size() - 1));
    }
    m_figures.total = total;
    for (const LinkedFiles::Name& name : addedNames) {
        m_links.AddName(name.inode, name.folder);
    }
    if (m_bPercentOfTotal) {
        SetPercentBaseLocked(total);
    }
    SortChangedLocked(chain);
}

void FolderSizeTree::SortChangedLocked(const std::vector<NodeHandle>& folders) {
    if (GetPercentBaseLocked() == 0 || !m_bSortBySize) {
        return;
    }
    NodeHandle root = GetRootItemLocked();
    for (NodeHandle folder : folders) {
        if (folder == root) {
            // The root's children as the header last ordered them.
            SortTopLevelLocked(!TopLevelByNameLocked());
        } else if (GetItemSizeLocked(folder)) {
            SortChildrenByPercentLocked(folder, true);
        }
    }
}

bool FolderSizeTree::RemoveFolderItem(NodeHandle item) {
    std::lock_guard lock(StoreMutex());
    return RemoveFolderItemLocked(item);
}

bool FolderSizeTree::RemoveFolderItemLocked(NodeHandle item) {
    if (!ItemPathLocked(item) || IsFilesItemLocked(item)) {
        return false;
    }
    NodeHandle parent = GetParentItemLocked(item);
    bool isRoot = item == m_hScanRoot;
    std::vector<NodeHandle> folders = SubtreeFoldersLocked(item);
    int64_t files = 0;
    for (NodeHandle folder : folders) {
        files += OwnFileCountLocked(folder);
    }
    std::vector<LinkedFiles::Name> names = TakeNamesOfLocked(folders);
    for (NodeHandle folder : folders) {
        m_readProblems.Erase(ItemNumberOf(folder));
    }
    std::optional<uint64_t> bytes = GetItemSizeLocked(item);
    DeleteItemLocked(item);
    m_figures.files -= files;
    m_figures.folders -= int64_t(folders.size()) - (isRoot ? 1 : 0);
    m_figures.hardLinks -= int64_t(names.size());
    if (isRoot) {
        m_links.Clear();
        UpdateAncestorsLocked(kTopLevel, 0, {}, 0, {});
    } else {
        // A folder left with files only stands for them itself: its files
        // item goes, as a scan would not make one.
        bool hasSubfolder = false;
        NodeHandle filesItem = kNoNode;
        int count = GetChildCountLocked(parent);
        for (int row = 0; row < count; ++row) {
            NodeHandle child = GetChildItemLocked(parent, row);
            if (!IsLiveItemLocked(child)) {
                continue;
            }
            if (IsFilesItemLocked(child)) {
                filesItem = child;
            } else {
                hasSubfolder = true;
            }
        }
        if (!hasSubfolder && filesItem != kNoNode) {
            DeleteItemLocked(filesItem);
        }
        UpdateAncestorsLocked(parent, bytes.value_or(0), names, 0, {});
    }
    return true;
}

bool FolderSizeTree::RemoveLooseFiles(NodeHandle filesItem) {
    std::lock_guard lock(StoreMutex());
    if (!ItemPathLocked(filesItem) || !IsFilesItemLocked(filesItem)) {
        return false;
    }
    const NodeHandle folder = GetParentItemLocked(filesItem);
    const uint64_t bytes = GetItemSizeLocked(filesItem).value_or(0);
    const int64_t files = OwnFileCountLocked(folder);
    std::vector<LinkedFiles::Name> names = TakeNamesOfLocked({folder});
    DeleteItemLocked(filesItem);
    SetOwnFileCountLocked(folder, 0);
    m_figures.files -= files;
    m_figures.hardLinks -= int64_t(names.size());
    UpdateAncestorsLocked(folder, bytes, names, 0, {});
    return true;
}

bool FolderSizeTree::ApplyRefresh(NodeHandle folder, const SubtreeScan& walk) {
    std::lock_guard lock(StoreMutex());
    if (!IsLiveItemLocked(folder) || IsFilesItemLocked(folder) || walk.Folders().empty()) {
        return false;
    }
    const std::vector<SubtreeScan::Folder>& found = walk.Folders();
    // The old subtree leaves.
    std::vector<NodeHandle> oldFolders = SubtreeFoldersLocked(folder);
    int64_t oldFiles = 0;
    int64_t oldCounted = 0;  // folders the figures count (not other file systems')
    for (NodeHandle old : oldFolders) {
        oldFiles += OwnFileCountLocked(old);
        oldCounted += GetItemKindLocked(old) != NodeKind::OtherFileSystem;
    }
    std::vector<LinkedFiles::Name> oldNames = TakeNamesOfLocked(oldFolders);
    for (NodeHandle old : oldFolders) {
        m_readProblems.Erase(ItemNumberOf(old));
    }
    SetItemKindLocked(folder, NodeKind::Folder);  // read anew: the walk's findings hold
    uint64_t oldBytes = GetItemSizeLocked(folder).value_or(0);
    int count = GetChildCountLocked(folder);
    std::vector<NodeHandle> children;
    for (int row = 0; row < count; ++row) {
        children.push_back(GetChildItemLocked(folder, row));
    }
    for (NodeHandle child : children) {
        DeleteItemLocked(child);
    }
    // The new one takes its place: folders in walk order, each folder's files
    // item after its subfolders.
    std::vector<NodeHandle> items(found.size(), kNoNode);
    items[0] = folder;
    int64_t newCounted = 0;
    for (size_t place = 0; place < found.size(); ++place) {
        newCounted += !found[place].otherFileSystem;
        if (place > 0) {
            items[place] = InsertItemLocked(
                walk.NameOf(found[place]),
                found[place].otherFileSystem ? NodeKind::OtherFileSystem : NodeKind::Folder,
                items[found[place].parent]);
        }
    }
    for (size_t place = 0; place < found.size(); ++place) {
        const FolderSums::Folder& sums = found[place].sums;
        SetItemSizeLocked(items[place], sums.total);
        SetOwnFileCountLocked(items[place], sums.fileCount);
        CompleteChildrenLocked(items[place]);
        if (sums.fileCount > 0 && sums.subfolderCount > 0) {
            InsertFilesItemLocked(items[place], sums.fileCount, sums.filesBytes);
        }
    }
    for (const auto& [place, problem] : walk.ReadProblems().All()) {
        m_readProblems.Put(ItemNumberOf(items[place]), problem);
        if (problem.error != 0) {
            SetItemKindLocked(items[place], NodeKind::Unreadable);
        }
    }
    std::vector<LinkedFiles::Name> newNames;
    for (const LinkedFiles::Name& name : walk.LinkedNames()) {
        if (items[name.folder] != kNoNode) {
            newNames.push_back(LinkedFiles::Name{name.inode, ItemNumberOf(items[name.folder])});
        }
    }
    m_figures.files += walk.FileCount() - oldFiles;
    m_figures.folders += newCounted - oldCounted;
    m_figures.hardLinks += int64_t(newNames.size()) - int64_t(oldNames.size());
    // The folder's own figures are the walk's; above it the totals change by
    // the difference, and linked names are settled with the rest of the tree.
    uint64_t newBytes = found[0].sums.total;
    UpdateAncestorsLocked(GetParentItemLocked(folder), oldBytes, oldNames, newBytes, newNames);
    SortChangedLocked(items);
    return true;
}

}  // namespace quarn
