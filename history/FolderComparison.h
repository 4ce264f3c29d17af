#pragma once
// The change of each folder between an earlier scan and the tree shown:
// folders are matched by their path below the root (exact bytes), so the two
// roots match each other wherever they lay. A folder found only now is new;
// a folder found only then is removed, listed once at its topmost gone
// folder (with its earlier size) under the parent that is still there.
// Both trees are walked side by side, matching each folder's children by
// name, so no path of either tree is ever built as a key.
//
// Made once from a finished tree; plain data afterwards, read from any
// thread. The tree changing later (a deletion) is not followed: compare again.

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "foldersize/FolderSizeTree.h"
#include "history/EarlierTree.h"

namespace quarn {

struct FolderChange {
    int64_t change = 0;  // bytes, now minus then
    bool isNew = false;
    uint64_t earlierSize = 0;  // 0 for a new one
};

struct RemovedFolder {
    std::string key;   // its path below the root
    std::string path;  // its full path, below the shown root
    uint64_t size = 0;
    NodeHandle parent = kNoNode;  // the node it would be under now
};

class FolderComparison {
  public:
    FolderComparison() = default;
    FolderComparison(const FolderSizeTree& now, const EarlierTree& earlier);

    bool Empty() const { return m_changes.empty(); }
    // Every node met, by its handle.
    const std::unordered_map<uint64_t, FolderChange>& Changes() const { return m_changes; }
    // Nothing for a node the comparison did not meet.
    std::optional<FolderChange> ChangeOf(NodeHandle node) const;
    // Ordered by path.
    const std::vector<RemovedFolder>& Removed() const { return m_removed; }
    // The removed folders whose parent is `parent`.
    std::vector<const RemovedFolder*> RemovedUnder(NodeHandle parent) const;
    int64_t TotalChange() const { return m_totalChange; }
    uint64_t EarlierTotal() const { return m_earlierTotal; }

  private:
    std::unordered_map<uint64_t, FolderChange> m_changes;  // by NodeHandle
    std::vector<RemovedFolder> m_removed;
    int64_t m_totalChange = 0;
    uint64_t m_earlierTotal = 0;
};

// now minus then, held to the range of int64.
int64_t SizeChange(uint64_t now, uint64_t then);

}  // namespace quarn
