#include "foldersize/TreemapTree.h"

#include <cassert>

namespace quarn {

uint32_t TreemapTree::AddRoot(uint64_t bytes, uint64_t item, std::string_view name) {
    m_nodes.clear();
    m_names.clear();
    Node root;
    root.bytes = bytes;
    root.item = item;
    root.nameOffset = 0;
    root.nameLength = uint32_t(name.size());
    m_names.append(name);
    m_nodes.push_back(root);
    return 0;
}

uint32_t TreemapTree::AddChild(uint32_t parent, Kind kind, uint64_t bytes, uint64_t item,
                               std::string_view name, int colour) {
    Node& owner = m_nodes[parent];
    const uint32_t index = uint32_t(m_nodes.size());
    if (owner.childCount == 0) {
        owner.firstChild = index;
    }
    assert(owner.firstChild + owner.childCount == index);
    ++owner.childCount;
    Node node;
    node.bytes = bytes;
    node.item = item;
    node.parent = parent;
    node.nameOffset = uint32_t(m_names.size());
    node.nameLength = uint32_t(name.size());
    node.colour = int16_t(colour);
    node.kind = kind;
    m_names.append(name);
    m_nodes.push_back(node);
    return index;
}

std::string_view TreemapTree::Name(uint32_t index) const {
    const Node& node = m_nodes[index];
    return std::string_view(m_names).substr(node.nameOffset, node.nameLength);
}

}  // namespace quarn
