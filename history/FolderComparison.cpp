#include "history/FolderComparison.h"

#include <algorithm>
#include <limits>

#include "platform/PathRules.h"

namespace quarn {

int64_t SizeChange(uint64_t now, uint64_t then) {
    constexpr uint64_t kLargest = uint64_t(std::numeric_limits<int64_t>::max());
    if (now >= then) {
        return int64_t(std::min(now - then, kLargest));
    }
    return -int64_t(std::min(then - now, kLargest));
}

namespace {

struct EarlierChild {
    std::string name;  // empty for the files item, which no folder is named
    NodeHandle node;
};

// The earlier folder's children, ordered by name for the lookups of the
// folder's children now.
std::vector<EarlierChild> ChildrenByName(const FolderSizeTree& tree, NodeHandle folder) {
    std::vector<EarlierChild> children;
    const int count = tree.GetChildCount(folder);
    children.reserve(size_t(count));
    for (int row = 0; row < count; ++row) {
        const NodeHandle child = tree.GetChildItem(folder, row);
        children.push_back(
            EarlierChild{tree.IsFilesItem(child) ? std::string() : tree.GetItemName(child), child});
    }
    // Stable: of two children of one name (a crafted import) the first counts.
    std::stable_sort(children.begin(), children.end(),
                     [](const EarlierChild& a, const EarlierChild& b) { return a.name < b.name; });
    return children;
}

}  // namespace

FolderComparison::FolderComparison(const FolderSizeTree& now, const EarlierTree& earlier) {
    const FolderSizeTree& then = earlier.Tree();
    const NodeHandle root = now.GetRootItem();
    m_earlierTotal = earlier.Total();
    m_totalChange = SizeChange(now.GetFigures().total, m_earlierTotal);
    if (root == kNoNode) {
        return;
    }
    const auto record = [&](NodeHandle node, NodeHandle earlierNode) {
        FolderChange change;
        if (earlierNode == kNoNode) {
            change.isNew = true;
        } else {
            change.earlierSize = then.GetItemSize(earlierNode).value_or(0);
        }
        change.change = SizeChange(now.GetItemSize(node).value_or(0), change.earlierSize);
        m_changes.emplace(node, change);
    };

    // One frame per folder open on the way down: its node now, its node
    // then (none below a new folder) with the earlier children not yet
    // matched, and the length of its key.
    struct Frame {
        NodeHandle node;
        NodeHandle earlierNode;
        std::vector<EarlierChild> earlierChildren;
        std::vector<bool> matched;
        size_t keyLength;
        int next;
        int count;
    };
    const std::string rootPath = now.GetRootPath();
    std::string key;  // the path below the root of the folder at the top
    const auto open = [&](NodeHandle node, NodeHandle earlierNode) {
        Frame frame{node, earlierNode, {}, {}, key.size(), 0, now.GetChildCount(node)};
        if (earlierNode != kNoNode) {
            frame.earlierChildren = ChildrenByName(then, earlierNode);
            frame.matched.assign(frame.earlierChildren.size(), false);
        }
        return frame;
    };
    const NodeHandle earlierRoot = then.GetRootItem();
    record(root, earlierRoot);
    std::vector<Frame> stack;
    stack.push_back(open(root, earlierRoot));
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next >= frame.count) {
            // What the earlier folder held and no child now matched is gone.
            for (size_t i = 0; i < frame.earlierChildren.size(); ++i) {
                const EarlierChild& child = frame.earlierChildren[i];
                if (frame.matched[i] || child.name.empty()) {
                    continue;
                }
                RemovedFolder removed;
                removed.key = key.substr(0, frame.keyLength);
                if (!removed.key.empty()) {
                    removed.key += '/';
                }
                removed.key += child.name;
                removed.path = rootPath;
                AppendPathComponent(removed.path, removed.key);
                removed.size = then.GetItemSize(child.node).value_or(0);
                removed.parent = frame.node;
                m_removed.push_back(std::move(removed));
            }
            stack.pop_back();
            continue;
        }
        const NodeHandle child = now.GetChildItem(frame.node, frame.next++);
        const bool filesItem = now.IsFilesItem(child);
        const std::string name = filesItem ? std::string() : now.GetItemName(child);
        NodeHandle earlierChild = kNoNode;
        const auto found = std::lower_bound(
            frame.earlierChildren.begin(), frame.earlierChildren.end(), name,
            [](const EarlierChild& a, const std::string& b) { return a.name < b; });
        if (found != frame.earlierChildren.end() && found->name == name &&
            then.IsFilesItem(found->node) == filesItem) {
            earlierChild = found->node;
            frame.matched[size_t(found - frame.earlierChildren.begin())] = true;
        }
        record(child, earlierChild);
        if (filesItem) {
            continue;
        }
        key.resize(frame.keyLength);
        if (!key.empty()) {
            key += '/';
        }
        key += name;
        stack.push_back(open(child, earlierChild));  // `frame` is not used after this
    }
    std::sort(m_removed.begin(), m_removed.end(),
              [](const RemovedFolder& a, const RemovedFolder& b) { return a.key < b.key; });
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
