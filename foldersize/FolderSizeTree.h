#pragma once
// The folder-size tree of the last scan and everything that keeps its sums
// true after the user acts on it: the nodes (FolderTreeStore), the files
// with several hard links (LinkedFiles), each folder's count of own files,
// the folders not read whole (FolderReadProblems), the scan's figures, its
// scope and measure, and the largest files and types (KeptFileStats).
//
// Plain data without threads of its own: a FolderTreeBuilder fills it on a
// walk's thread, FolderScanner runs that walk and refuses changes while it
// runs, and anyone reads it. Every member may be called from any thread;
// the store's lock guards everything here.
//
// Paths are not stored per node (a tree 100,000 levels deep would need
// gigabytes); GetItemPath derives them from the tree on demand.
//
// Sizes. A folder's total counts every inode once, however many hard links
// to it lie below the folder. With AllocatedSize a file counts the space it
// takes on the disk instead of its length; the measure holds for the tree.
//
// Changes after the scan (RemoveFolderItem, RemoveLooseFiles, ApplyRefresh)
// update every ancestor's size, a files item that no longer has a place, the
// percentages, the order (when the scan sorted by size), the total and the
// counts; the caller composes the status anew.

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foldersize/FolderReadProblems.h"
#include "foldersize/FolderSums.h"
#include "foldersize/FolderTreeStore.h"
#include "foldersize/KeptFileStats.h"
#include "foldersize/LinkedFiles.h"
#include "foldersize/SubtreeScan.h"
#include "foldersize/TreemapTree.h"
#include "platform/WalkOptions.h"

namespace quarn {

class FolderTreeBuilder;

class FolderSizeTree : public FolderTreeStore {
  public:
    // What the tree counts; after a complete walk `total` is the root's.
    struct Figures {
        int64_t files = 0;      // every name
        int64_t folders = 0;    // below the root
        int64_t hardLinks = 0;  // names of files with several links
        uint64_t total = 0;
        int64_t unreadableFolders = 0;
        int64_t skippedEntries = 0;
    };
    Figures GetFigures() const;

    // The walked (normalised) path of the scan root; empty before a scan.
    std::string GetRootPath() const;
    // The walk options the tree was made with (its root's device set when
    // the scan knew it): a refresh of part of it walks with them.
    WalkOptions GetScope() const;
    // The measure of the tree: the space taken on the disk, or the lengths.
    bool AreSizesAllocated() const;
    // The folders the walk finished and their files items.
    size_t GetRecordCount() const;

    // The full path of the folder a node stands for (a files item: its
    // folder), or nothing when it is no live node of this tree.
    std::optional<std::string> GetItemPath(NodeHandle item) const override;
    // The folder node of `path` when it lies inside the tree: its own node,
    // or, for a folder the tree has none for (made after the scan), the node
    // of its deepest folder that has one. kNoNode outside.
    NodeHandle FindFolderItem(const std::string& path) const;

    std::optional<FolderReadProblems::Problem> GetReadProblem(NodeHandle item) const override;
    RootPlace GetRootPlace() const override;

    // The largest files and types of the scan, less what left the disk.
    KeptFileStats& FileStats() { return m_fileStats; }
    const KeptFileStats& FileStats() const { return m_fileStats; }

    // A copy of the finished tree for a treemap, made under the store's
    // lock: every live folder and files item with its size and handle, and
    // below the nodes that hold a folder's own files the largest files known
    // there and the rest of its bytes, coloured by type. Empty before a scan.
    TreemapTree TreemapSnapshot() const;

    // --- Changes after the scan ---------------------------------------------
    // The folder of `item` (its subtree) left the disk. False for a node that
    // is not a live folder of this tree.
    bool RemoveFolderItem(NodeHandle item);
    // The loose files of a files item's folder left the disk.
    bool RemoveLooseFiles(NodeHandle filesItem);
    // A walk of one folder of the tree, for ApplyRefresh: it counts hard
    // links with this tree's table. `keepGoing` as SubtreeScan takes it.
    std::unique_ptr<SubtreeScan> NewSubtreeScan(
        std::function<bool(const std::string& path)> keepGoing);
    // A completed walk of the folder `folder` takes the place of its old
    // subtree. False when the folder is no live node any more.
    bool ApplyRefresh(NodeHandle folder, const SubtreeScan& walk);

    // --- For the engine -----------------------------------------------------
    // Forgets the last tree and starts an empty one for a scan of `scope`.
    void Reset(const WalkOptions& scope, bool allocatedSizes);
    // The end of a scan: every item's share of `denominator` (0: none), the
    // order by size when `sortBySize`, and the root renamed to `rootName`
    // when it is not empty. The order holds for later changes too.
    void Finish(uint64_t denominator, bool percentOfTotal, bool sortBySize,
                const std::string& rootName);
    // After a change: the total is the new percent base when the scan's
    // percentages were of the total; the root's new name, when it has one.
    void FollowTotal(const std::string& rootName);

  private:
    friend class FolderTreeBuilder;

    std::optional<std::string> ItemPathLocked(NodeHandle item) const;
    // With the lock, after the totals below `start` (a folder node, or
    // kTopLevel when the scan root itself went) changed: `removed` bytes (each
    // inode once) and their linked names went, `added` bytes and names came.
    // Updates `start` and its ancestors, the total and the order.
    void UpdateAncestorsLocked(NodeHandle start, uint64_t removed,
                               const std::vector<LinkedFiles::Name>& removedNames, uint64_t added,
                               const std::vector<LinkedFiles::Name>& addedNames);
    bool RemoveFolderItemLocked(NodeHandle item);
    uint32_t ParentNumberLocked(uint32_t number) const;
    std::vector<NodeHandle> SubtreeFoldersLocked(NodeHandle item) const;
    std::vector<LinkedFiles::Name> TakeNamesOfLocked(const std::vector<NodeHandle>& folders);
    void MarkUnreadableLocked(NodeHandle item, int errorNumber);
    uint32_t OwnFileCountLocked(NodeHandle item) const;
    void SetOwnFileCountLocked(NodeHandle item, int64_t count);
    void SortChangedLocked(const std::vector<NodeHandle>& folders);
    // Every finished folder's children by percentage (files items last),
    // then the root's (its files item by size); in batches, so that a view
    // reading the store is not kept waiting for the whole pass.
    void SortAllBySize();

    // Guarded by StoreMutex():
    size_t m_nRecords = 0;
    NodeHandle m_hScanRoot = kNoNode;
    std::string m_strRootPath;
    RootPlace m_rootPlace = RootPlace::Folder;
    WalkOptions m_scope;
    bool m_bAllocated = false;
    bool m_bPercentOfTotal = true;
    bool m_bSortBySize = false;
    Figures m_figures;
    LinkedFiles m_links;
    std::deque<uint32_t> m_ownFiles;  // each folder's own files (every name), by node number
    FolderReadProblems m_readProblems;

    KeptFileStats m_fileStats;  // a lock of its own
};

}  // namespace quarn
