#pragma once
// Visits every node of a finished folder-size tree with its path below the
// root (names as exact bytes, joined by '/', "" for the root), the key both
// sides of a comparison are matched by. A files item's key is its folder's
// key with kFilesItemMark after it; no name holds a NUL, so no folder has
// such a key. Iterative: a tree may be far deeper than the machine stack.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "foldersize/FolderSizeTree.h"

namespace quarn {

inline constexpr std::string_view kFilesItemMark{"\0files", 6};

// `visit(key, node, size)` for each node below the top level, parents first.
void VisitFolderSizes(const FolderSizeTree& tree,
                      const std::function<void(const std::string& key, NodeHandle node,
                                               std::optional<uint64_t> size)>& visit);

// The key of `key`'s parent folder ("" for a top-level folder's).
std::string ParentKey(const std::string& key);

}  // namespace quarn
