#pragma once
// The folder-size tree of one scan, as plain data: per node 32 bytes of raw
// numbers and links (its size in bytes, its parent and row, its name or file
// count, its kind and flags), its name once in a NameArena, and its place in
// its parent's list of children (4 bytes). No texts: "117.738 MB", "42%" or
// "[3 files]" are made by whoever shows a node.
//
// A node is a folder, a folder's files item (the sum of its own files when it
// has subfolders too), a folder that could not be read whole, or a folder on
// another file system that the scan did not enter.
//
// Children: an item that is still being filled keeps them in a growing list
// of its own; PackChildren moves them into one shared run of indexes, where a
// finished folder's children lie side by side without an allocation of their
// own. Nodes are numbered in the order they were made, index 0 being the
// invisible parent of the top-level nodes.
//
// Nodes are never freed one by one: a removed node keeps its index (flagged
// kRemoved) until the whole tree goes. Nothing here recurses, so trees
// 100,000 levels deep are fine. Not thread-safe by itself; FolderTreeStore
// guards it with its lock.

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "foldersize/NameArena.h"

namespace quarn {

enum class NodeKind : uint8_t {
    Folder,
    FilesItem,        // the loose files of its parent folder
    Unreadable,       // a folder that could not be opened or listed
    OtherFileSystem,  // a folder on another device, not entered (OneFileSystem)
};

class FolderTree {
  public:
    // The invisible parent of the top-level items.
    static constexpr uint32_t kTopLevel = 0;
    static constexpr uint32_t kNoItem = 0xffffffffu;

    explicit FolderTree(uint32_t generation);
    FolderTree(const FolderTree&) = delete;
    FolderTree& operator=(const FolderTree&) = delete;

    uint32_t Generation() const { return m_generation; }
    // Items made so far, the top level included: valid indexes are below it.
    uint32_t Size() const { return uint32_t(m_nodes.size()); }

    // Appends a folder node as the last child of `parent` and returns its
    // index; kNoItem when the tree cannot number more nodes.
    uint32_t AddItem(uint32_t parent, std::string_view name, NodeKind kind);
    // Appends a folder's files item, with its file count and size.
    uint32_t AddFilesItem(uint32_t parent, int64_t fileCount, uint64_t bytes);

    // --- One item ------------------------------------------------------------
    uint32_t Parent(uint32_t index) const { return m_nodes[index].parent; }
    // The item's position among its parent's children.
    uint32_t Row(uint32_t index) const { return m_nodes[index].row; }
    bool IsRemoved(uint32_t index) const { return Has(index, kRemoved); }
    bool IsFilesItem(uint32_t index) const { return Kind(index) == NodeKind::FilesItem; }
    NodeKind Kind(uint32_t index) const { return m_nodes[index].kind; }
    bool HasSize(uint32_t index) const { return Has(index, kSized); }
    uint64_t Bytes(uint32_t index) const { return m_nodes[index].bytes; }
    // A files item's number of files; 0 for other items.
    int64_t FileCount(uint32_t index) const;
    // The stored name (empty for a files item), valid while the tree lives.
    std::string_view Name(uint32_t index) const;
    // 0..100 of the percent base; -1 without a size or a base.
    int Percent(uint32_t index) const;

    void SetName(uint32_t index, std::string_view name);
    // Only between the folder kinds: a files item stays one.
    void SetKind(uint32_t index, NodeKind kind);
    void SetSize(uint32_t index, uint64_t bytes);
    // Flags the item and everything below it as removed.
    void MarkRemoved(uint32_t index);

    // What every percentage is a share of; 0 = no percentages.
    uint64_t PercentBase() const { return m_percentBase; }
    void SetPercentBase(uint64_t base) { m_percentBase = base; }

    // --- Children --------------------------------------------------------------
    uint32_t ChildCount(uint32_t parent) const { return m_nodes[parent].childCount; }
    uint32_t ChildAt(uint32_t parent, uint32_t row) const;
    // How many of the children have an index below `limit`. Children made
    // later than any other are appended last, and sorts keep them there
    // (see below), so those below a limit are always a leading part.
    uint32_t ChildCountBelow(uint32_t parent, uint32_t limit) const;
    // Moves a growing list of children into the shared run.
    void PackChildren(uint32_t parent);
    // Takes the item out of its parent's children; those after it move up.
    void Unlink(uint32_t index);

    // Stable sorts of the leading children below `limit` (those made later
    // keep their places at the end). By percentage, larger first, an item
    // without one counting as -1; equal percentages by size, larger first,
    // then by text; with `keepFilesItemLast`, a files item at the end stays
    // there. By text: unsigned byte order.
    void SortChildrenByPercent(uint32_t parent, uint32_t limit, bool keepFilesItemLast);
    void SortChildrenByText(uint32_t parent, uint32_t limit);
    // By `key` of each child's index, larger first; ties keep their order;
    // a files item at the end stays there.
    void SortChildrenByKey(uint32_t parent, uint32_t limit,
                           const std::function<int64_t(uint32_t index)>& key);

  private:
    enum Flag : uint8_t {
        kSized = 1,  // `bytes` holds the node's size
        kRemoved = 4,
        kGrowing = 8,  // `children` numbers a growing list, not a run
    };
    struct Node {
        uint64_t bytes = 0;
        uint32_t parent = kNoItem;
        uint32_t row = 0;
        uint32_t name = 0;      // NameArena reference, or a files item's file count
        uint32_t children = 0;  // first slot of the run, or the growing list's number
        uint32_t childCount = 0;
        NodeKind kind = NodeKind::Folder;
        uint8_t flags = 0;
    };
    static_assert(sizeof(Node) == 32);

    bool Has(uint32_t index, Flag flag) const { return (m_nodes[index].flags & flag) != 0; }
    uint32_t NewNode(uint32_t parent);
    uint32_t& Slot(const Node& node, uint32_t row);
    uint32_t Slot(const Node& node, uint32_t row) const;
    void AppendChild(uint32_t parent, uint32_t child);
    void RenumberFrom(uint32_t parent, uint32_t row);
    // The order of the nodes' texts as shown (names, "[n files]"), in
    // unsigned byte order.
    bool TextBefore(uint32_t a, uint32_t b) const;
    // Sorts the leading children below `limit`, minus a kept last item.
    template <typename Before>
    void SortLeading(uint32_t parent, uint32_t limit, bool keepFilesItemLast, Before before);

    uint32_t m_generation;
    uint64_t m_percentBase = 0;
    // Deques: a tree that grows never holds two copies of itself.
    std::deque<Node> m_nodes;
    std::deque<uint32_t> m_slots;  // the packed runs of children, back to back
    std::vector<std::vector<uint32_t>> m_growing;
    std::vector<uint32_t> m_freeGrowing;  // numbers of released growing lists
    NameArena m_names;
};

}  // namespace quarn
