#include "foldersize/FolderTree.h"

#include <algorithm>
#include <limits>

#include "foldersize/SizeText.h"

namespace quarn {

namespace {

constexpr uint32_t kMaxCount = std::numeric_limits<uint32_t>::max() - 1;

}  // namespace

FolderTree::FolderTree(uint32_t generation) : m_generation(generation) {
    m_nodes.emplace_back();  // kTopLevel
}

uint32_t FolderTree::NewNode(uint32_t parent) {
    if (m_nodes.size() >= kMaxCount || m_nodes[parent].childCount >= kMaxCount ||
        m_slots.size() >= kMaxCount) {
        return kNoItem;
    }
    uint32_t index = uint32_t(m_nodes.size());
    Node& node = m_nodes.emplace_back();
    node.parent = parent;
    AppendChild(parent, index);
    return index;
}

uint32_t FolderTree::AddItem(uint32_t parent, std::string_view name, NodeKind kind) {
    NameArena::Ref ref = m_names.Add(name);
    uint32_t index = NewNode(parent);
    if (index != kNoItem) {
        m_nodes[index].name = ref;
        m_nodes[index].kind = kind == NodeKind::FilesItem ? NodeKind::Folder : kind;
    }
    return index;
}

uint32_t FolderTree::AddFilesItem(uint32_t parent, int64_t fileCount, uint64_t bytes) {
    uint32_t index = NewNode(parent);
    if (index != kNoItem) {
        Node& node = m_nodes[index];
        node.name = uint32_t(std::clamp<int64_t>(fileCount, 0, kMaxCount));
        node.bytes = bytes;
        node.flags = kSized;
        node.kind = NodeKind::FilesItem;
    }
    return index;
}

int64_t FolderTree::FileCount(uint32_t index) const {
    return IsFilesItem(index) ? int64_t(m_nodes[index].name) : 0;
}

std::string_view FolderTree::Name(uint32_t index) const {
    if (index == kTopLevel || IsFilesItem(index)) {
        return {};
    }
    return m_names.Get(m_nodes[index].name);
}

int FolderTree::Percent(uint32_t index) const {
    if (m_percentBase == 0 || !HasSize(index)) {
        return -1;
    }
    return PercentOf(m_nodes[index].bytes, m_percentBase);
}

void FolderTree::SetName(uint32_t index, std::string_view name) {
    Node& node = m_nodes[index];
    if (node.kind != NodeKind::FilesItem) {
        node.name = m_names.Add(name);
    }
}

void FolderTree::SetKind(uint32_t index, NodeKind kind) {
    Node& node = m_nodes[index];
    if (node.kind != NodeKind::FilesItem && kind != NodeKind::FilesItem) {
        node.kind = kind;
    }
}

void FolderTree::SetSize(uint32_t index, uint64_t bytes) {
    Node& node = m_nodes[index];
    node.bytes = bytes;
    node.flags |= kSized;
}

void FolderTree::MarkRemoved(uint32_t index) {
    // An explicit stack: the subtree may be very deep.
    std::vector<uint32_t> pending{index};
    while (!pending.empty()) {
        uint32_t next = pending.back();
        pending.pop_back();
        Node& node = m_nodes[next];
        node.flags |= kRemoved;
        for (uint32_t row = 0; row < node.childCount; ++row) {
            pending.push_back(Slot(node, row));
        }
    }
}

// --- Children -------------------------------------------------------------------

uint32_t& FolderTree::Slot(const Node& node, uint32_t row) {
    if ((node.flags & kGrowing) != 0) {
        return m_growing[node.children][row];
    }
    return m_slots[size_t(node.children) + row];
}

uint32_t FolderTree::Slot(const Node& node, uint32_t row) const {
    return const_cast<FolderTree*>(this)->Slot(node, row);
}

uint32_t FolderTree::ChildAt(uint32_t parent, uint32_t row) const {
    const Node& node = m_nodes[parent];
    return row < node.childCount ? Slot(node, row) : kNoItem;
}

uint32_t FolderTree::ChildCountBelow(uint32_t parent, uint32_t limit) const {
    const Node& node = m_nodes[parent];
    // The children at or above the limit are a trailing part: find where it starts.
    uint32_t low = 0;
    uint32_t high = node.childCount;
    while (low < high) {
        uint32_t middle = low + (high - low) / 2;
        if (Slot(node, middle) < limit) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return low;
}

void FolderTree::AppendChild(uint32_t parent, uint32_t child) {
    Node& node = m_nodes[parent];
    if ((node.flags & kGrowing) != 0) {
        m_growing[node.children].push_back(child);
    } else if (node.childCount > 0 && node.children + node.childCount == m_slots.size()) {
        m_slots.push_back(child);  // the run ends the shared run: it grows in place
    } else {
        // A first child, or a packed run that others follow: a list of its own.
        uint32_t list;
        if (!m_freeGrowing.empty()) {
            list = m_freeGrowing.back();
            m_freeGrowing.pop_back();
        } else {
            list = uint32_t(m_growing.size());
            m_growing.emplace_back();
        }
        std::vector<uint32_t>& children = m_growing[list];
        children.reserve(node.childCount + 1);
        for (uint32_t row = 0; row < node.childCount; ++row) {
            children.push_back(Slot(node, row));
        }
        children.push_back(child);
        node.children = list;
        node.flags |= kGrowing;
    }
    m_nodes[child].row = node.childCount;
    ++node.childCount;
}

void FolderTree::PackChildren(uint32_t parent) {
    Node& node = m_nodes[parent];
    if ((node.flags & kGrowing) == 0 || m_slots.size() + node.childCount > kMaxCount) {
        return;
    }
    std::vector<uint32_t>& children = m_growing[node.children];
    uint32_t start = uint32_t(m_slots.size());
    m_slots.insert(m_slots.end(), children.begin(), children.end());
    // Released, not kept for reuse: a wide folder's list would stay large.
    std::vector<uint32_t>().swap(children);
    m_freeGrowing.push_back(node.children);
    node.children = start;
    node.flags &= uint8_t(~kGrowing);
}

void FolderTree::RenumberFrom(uint32_t parent, uint32_t row) {
    const Node& node = m_nodes[parent];
    for (; row < node.childCount; ++row) {
        m_nodes[Slot(node, row)].row = row;
    }
}

void FolderTree::Unlink(uint32_t index) {
    uint32_t parent = m_nodes[index].parent;
    uint32_t row = m_nodes[index].row;
    Node& node = m_nodes[parent];
    if (row >= node.childCount || Slot(node, row) != index) {
        return;  // not linked (any more)
    }
    for (uint32_t at = row; at + 1 < node.childCount; ++at) {
        Slot(node, at) = Slot(node, at + 1);
    }
    if ((node.flags & kGrowing) != 0) {
        m_growing[node.children].pop_back();
    }
    --node.childCount;
    RenumberFrom(parent, row);
}

template <typename Before>
void FolderTree::SortLeading(uint32_t parent, uint32_t limit, bool keepFilesItemLast,
                             Before before) {
    const Node& node = m_nodes[parent];
    uint32_t count = ChildCountBelow(parent, limit);
    if (keepFilesItemLast && count > 0 && IsFilesItem(Slot(node, count - 1))) {
        --count;
    }
    if (count < 2) {
        return;
    }
    std::vector<uint32_t> order(count);
    for (uint32_t row = 0; row < count; ++row) {
        order[row] = Slot(node, row);
    }
    std::stable_sort(order.begin(), order.end(), before);
    for (uint32_t row = 0; row < count; ++row) {
        Slot(node, row) = order[row];
        m_nodes[order[row]].row = row;
    }
}

bool FolderTree::TextBefore(uint32_t a, uint32_t b) const {
    // A folder's name is compared where it lies; only files items make a text.
    if (!IsFilesItem(a) && !IsFilesItem(b)) {
        return Name(a) < Name(b);
    }
    auto text = [this](uint32_t node) {
        return IsFilesItem(node) ? FilesItemText(FileCount(node)) : std::string(Name(node));
    };
    return text(a) < text(b);
}

void FolderTree::SortChildrenByPercent(uint32_t parent, uint32_t limit, bool keepFilesItemLast) {
    SortLeading(parent, limit, keepFilesItemLast, [this](uint32_t a, uint32_t b) {
        int percentA = Percent(a);
        int percentB = Percent(b);
        if (percentA != percentB) {
            return percentA > percentB;
        }
        // Shares of a drive are mostly 0 %: the bytes decide, then the name,
        // so that equal shares never keep the order of the walk.
        uint64_t bytesA = HasSize(a) ? Bytes(a) : 0;
        uint64_t bytesB = HasSize(b) ? Bytes(b) : 0;
        if (bytesA != bytesB) {
            return bytesA > bytesB;
        }
        return TextBefore(a, b);
    });
}

void FolderTree::SortChildrenByText(uint32_t parent, uint32_t limit) {
    // std::string compares as unsigned bytes, the program's name order.
    SortLeading(parent, limit, false, [this](uint32_t a, uint32_t b) { return TextBefore(a, b); });
}

void FolderTree::SortChildrenByKey(uint32_t parent, uint32_t limit,
                                   const std::function<int64_t(uint32_t index)>& key) {
    SortLeading(parent, limit, true, [&](uint32_t a, uint32_t b) { return key(a) > key(b); });
}

}  // namespace quarn
