#include "history/FolderComparison.h"

#include <algorithm>
#include <limits>

#include "history/FolderSizeWalk.h"
#include "platform/PathRules.h"

namespace quarn {

int64_t SizeChange(uint64_t now, uint64_t then) {
    constexpr uint64_t kLargest = uint64_t(std::numeric_limits<int64_t>::max());
    if (now >= then) {
        return int64_t(std::min(now - then, kLargest));
    }
    return -int64_t(std::min(then - now, kLargest));
}

FolderComparison::FolderComparison(const FolderSizeTree& now, const EarlierTree& earlier) {
    std::unordered_map<std::string, NodeHandle> nowFolders;
    VisitFolderSizes(now,
                     [&](const std::string& key, NodeHandle node, std::optional<uint64_t> size) {
                         FolderChange change;
                         const std::optional<uint64_t> then = earlier.SizeOf(key);
                         change.isNew = !then.has_value();
                         change.earlierSize = then.value_or(0);
                         change.change = SizeChange(size.value_or(0), change.earlierSize);
                         m_changes.emplace(node, change);
                         if (key.find('\0') == std::string::npos) {
                             nowFolders.emplace(key, node);
                         }
                     });
    const std::string rootPath = now.GetRootPath();
    for (const auto& [key, size] : earlier.Sizes()) {
        if (key.empty() || key.find('\0') != std::string::npos || nowFolders.count(key) != 0) {
            continue;
        }
        // Only the topmost gone folder is listed; its size holds the rest.
        const auto parent = nowFolders.find(ParentKey(key));
        if (parent == nowFolders.end()) {
            continue;
        }
        RemovedFolder removed;
        removed.key = key;
        removed.path = rootPath;
        AppendPathComponent(removed.path, key);
        removed.size = size;
        removed.parent = parent->second;
        m_removed.push_back(std::move(removed));
    }
    std::sort(m_removed.begin(), m_removed.end(),
              [](const RemovedFolder& a, const RemovedFolder& b) { return a.key < b.key; });
    m_earlierTotal = earlier.Total();
    m_totalChange = SizeChange(now.GetFigures().total, m_earlierTotal);
}

std::optional<FolderChange> FolderComparison::ChangeOf(NodeHandle node) const {
    const auto found = m_changes.find(node);
    if (found == m_changes.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::vector<const RemovedFolder*> FolderComparison::RemovedUnder(NodeHandle parent) const {
    std::vector<const RemovedFolder*> under;
    for (const RemovedFolder& removed : m_removed) {
        if (removed.parent == parent) {
            under.push_back(&removed);
        }
    }
    return under;
}

}  // namespace quarn
