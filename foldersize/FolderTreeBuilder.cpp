#include "foldersize/FolderTreeBuilder.h"

namespace quarn {

FolderTreeBuilder::FolderTreeBuilder(FolderSizeTree& tree, FolderTreeStore::RootPlace rootPlace,
                                     std::function<bool(const std::string& path)> keepGoing)
    : m_tree(tree),
      m_rootPlace(rootPlace),
      m_keepGoing(std::move(keepGoing)),
      m_sums(tree.AreSizesAllocated(), tree.m_links, tree.StoreMutex()) {}

NodeHandle FolderTreeBuilder::InsertFolder(std::string_view name, NodeKind kind,
                                           NodeHandle parent) {
    std::lock_guard lock(m_tree.StoreMutex());
    // The scan root stays open while its children are added.
    const NodeHandle root = m_tree.GetRootItemLocked();
    if (root != kNoNode) {
        m_tree.ExpandLocked(root);
    }
    return m_tree.InsertItemLocked(name, kind, parent);
}

bool FolderTreeBuilder::EnterFolder(const std::string& path, const FileEntry* entry) {
    NodeHandle item = kNoNode;
    if (entry != nullptr) {
        // A subfolder's node appears when its parent's listing meets it.
        item = InsertFolder(entry->name, NodeKind::Folder, m_items.back());
    }
    if (!m_keepGoing(path)) {
        return false;
    }
    if (entry == nullptr) {
        item = InsertFolder(path, NodeKind::Folder, kTopLevel);
        std::lock_guard lock(m_tree.StoreMutex());
        m_tree.m_hScanRoot = item;
        m_tree.m_strRootPath = path;
        m_tree.m_rootPlace = m_rootPlace;
    }
    m_items.push_back(item);
    // Nodes are numbered in the order the walk enters their folders.
    m_sums.Enter(FolderTreeStore::ItemNumberOf(item));
    return true;
}

void FolderTreeBuilder::AddFile(const std::string&, const FileEntry& file) {
    m_sums.AddFile(file);
    ++m_files;
    if (file.linkCount > 1) {
        ++m_hardLinks;
    }
}

void FolderTreeBuilder::EntryExcluded(const std::string&, const FileEntry& entry,
                                      ExclusionReason reason) {
    // A folder on another file system stays in the tree, marked and of size
    // 0, so the user sees where the scan stopped; a folder left out by a
    // pattern is not shown.
    if (reason != ExclusionReason::OtherFileSystem) {
        return;
    }
    const NodeHandle item = InsertFolder(entry.name, NodeKind::OtherFileSystem, m_items.back());
    // An empty folder to the sums, so its parent knows it has a subfolder.
    m_sums.Enter(FolderTreeStore::ItemNumberOf(item));
    CompleteFolder(item, m_sums.Leave());
}

void FolderTreeBuilder::LeaveFolder(const std::string&) {
    const NodeHandle item = m_items.back();
    m_items.pop_back();
    if (!m_items.empty()) {
        ++m_folders;
    }
    CompleteFolder(item, m_sums.Leave());
}

void FolderTreeBuilder::CompleteFolder(NodeHandle item, const FolderSums::Folder& sums) {
    std::lock_guard lock(m_tree.StoreMutex());
    m_tree.SetItemSizeLocked(item, sums.total);
    m_tree.SetOwnFileCountLocked(item, sums.fileCount);
    // No subfolder comes any more; the files item follows in the packed list.
    m_tree.CompleteChildrenLocked(item);
    ++m_tree.m_nRecords;
    if (sums.fileCount > 0 && sums.subfolderCount > 0) {
        m_tree.InsertFilesItemLocked(item, sums.fileCount, sums.filesBytes);
        ++m_tree.m_nRecords;
    }
    // Readers see the counts of the folders finished so far.
    m_tree.m_figures.files = m_files;
    m_tree.m_figures.folders = m_folders;
    m_tree.m_figures.hardLinks = m_hardLinks;
}

void FolderTreeBuilder::FolderUnreadable(const std::string&, int errorNumber) {
    std::lock_guard lock(m_tree.StoreMutex());
    m_tree.MarkUnreadableLocked(m_items.back(), errorNumber);
}

void FolderTreeBuilder::EntrySkipped(const std::string&, std::string_view, int errorNumber) {
    std::lock_guard lock(m_tree.StoreMutex());
    if (m_tree.IsLiveItemLocked(m_items.back())) {
        m_tree.m_readProblems.AddSkipped(FolderTreeStore::ItemNumberOf(m_items.back()),
                                         errorNumber);
    }
}

void FolderTreeBuilder::Commit() {
    std::lock_guard lock(m_tree.StoreMutex());
    // Also after a cancel: the folders' nodes that hold these names stay.
    for (const LinkedFiles::Name& name : m_sums.Names()) {
        m_tree.m_links.AddName(name.inode, name.folder);
    }
    m_tree.m_figures.files = m_files;
    m_tree.m_figures.folders = m_folders;
    m_tree.m_figures.hardLinks = m_hardLinks;
    m_tree.m_figures.total = m_sums.CountedBytes();
}

}  // namespace quarn
