#pragma once
// A comparison as the folder pane shows it: the comparison itself, the
// file it was made with, and the nodes the pane added for the removed
// folders (each under its parent, size 0), which hold no change of their own
// but name what is gone.
//
// Plain data of the interface thread; the comparison itself is shared with
// the treemap's painter, which only reads it.

#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

#include "history/FolderComparison.h"

namespace quarn {

struct ShownComparison {
    std::shared_ptr<const FolderComparison> comparison;
    std::string earlierFile;
    // The nodes standing for removed folders, and what each stands for.
    std::unordered_map<NodeHandle, const RemovedFolder*> removedNodes;

    const RemovedFolder* RemovedAt(NodeHandle node) const {
        const auto found = removedNodes.find(node);
        return found == removedNodes.end() ? nullptr : found->second;
    }
    std::optional<FolderChange> ChangeOf(NodeHandle node) const {
        return comparison != nullptr ? comparison->ChangeOf(node) : std::nullopt;
    }
};

}  // namespace quarn
