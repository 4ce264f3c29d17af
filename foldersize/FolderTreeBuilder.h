#pragma once
// The walk's sink that builds a FolderSizeTree: a node for every folder as
// the walk enters it, its size once the walk leaves it, a files item for a
// folder with both files and subfolders, the folders that could not be read
// whole, and the folders on another file system (shown, not entered). A
// folder left out by a pattern is not shown.
//
// One walk, on the walking thread. Every change to the tree is made under its
// store's lock, once per folder, so a view may read the tree meanwhile.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "foldersize/FolderSizeTree.h"
#include "foldersize/FolderSums.h"
#include "platform/FolderWalker.h"

namespace quarn {

class FolderTreeBuilder final : public WalkSink {
  public:
    // `keepGoing` is asked once per folder, with its path, before the folder
    // is listed; false abandons the walk. The root's node goes below
    // `parent` (the top level for a scan).
    FolderTreeBuilder(FolderSizeTree& tree, FolderTreeStore::RootPlace rootPlace,
                      std::function<bool(const std::string& path)> keepGoing);

    bool EnterFolder(const std::string& path, const FileEntry* entry) override;
    void AddFile(const std::string& folderPath, const FileEntry& file) override;
    void LeaveFolder(const std::string& path) override;
    void EntryExcluded(const std::string& folderPath, const FileEntry& entry,
                       ExclusionReason reason) override;
    void FolderUnreadable(const std::string& path, int errorNumber) override;
    void EntrySkipped(const std::string& folderPath, std::string_view name,
                      int errorNumber) override;

    // What the walk has met so far (for progress).
    int64_t Files() const { return m_files; }
    int64_t Folders() const { return m_folders; }
    // Every byte met so far, each inode once; after a complete walk the
    // root's total.
    uint64_t CountedBytes() const { return m_sums.CountedBytes(); }

    // The end of the walk (also a cancelled one): the names of the linked
    // files met join the tree's table, and the figures hold what was met.
    void Commit();

  private:
    NodeHandle InsertFolder(std::string_view name, NodeKind kind, NodeHandle parent);
    void CompleteFolder(NodeHandle item, const FolderSums::Folder& sums);

    FolderSizeTree& m_tree;
    FolderTreeStore::RootPlace m_rootPlace;
    std::function<bool(const std::string&)> m_keepGoing;
    FolderSums m_sums;
    std::vector<NodeHandle> m_items;  // the heap, not the machine stack, holds the depth
    int64_t m_files = 0;
    int64_t m_folders = 0;
    int64_t m_hardLinks = 0;
};

}  // namespace quarn
