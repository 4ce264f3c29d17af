#include "history/FolderSizeWalk.h"

#include <vector>

namespace quarn {

void VisitFolderSizes(const FolderSizeTree& tree,
                      const std::function<void(const std::string& key, NodeHandle node,
                                               std::optional<uint64_t> size)>& visit) {
    struct Frame {
        NodeHandle node;
        size_t keyLength;
        int next;
        int count;
    };
    const NodeHandle root = tree.GetRootItem();
    if (root == kNoNode) {
        return;
    }
    std::string key;
    visit(key, root, tree.GetItemSize(root));
    std::vector<Frame> stack{Frame{root, 0, 0, tree.GetChildCount(root)}};
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next >= frame.count) {
            stack.pop_back();
            continue;
        }
        const NodeHandle child = tree.GetChildItem(frame.node, frame.next++);
        key.resize(frame.keyLength);
        if (tree.IsFilesItem(child)) {
            key += kFilesItemMark;
            visit(key, child, tree.GetItemSize(child));
            continue;
        }
        if (!key.empty()) {
            key += '/';
        }
        key += tree.GetItemName(child);
        visit(key, child, tree.GetItemSize(child));
        const size_t length = key.size();
        stack.push_back(Frame{child, length, 0, tree.GetChildCount(child)});
    }
}

std::string ParentKey(const std::string& key) {
    const size_t slash = key.rfind('/');
    return slash == std::string::npos ? std::string() : key.substr(0, slash);
}

}  // namespace quarn
