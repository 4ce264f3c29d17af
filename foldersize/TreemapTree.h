#pragma once
// A plain copy of what a treemap needs from a scanned tree: per node its
// size, its kind, its name, the tree item it stands for and its colour, and
// its children. Nodes are stored flat, parents before their children, and
// the children of a node lie side by side, so that nothing needs recursion
// or a pointer per node. Node 0 is the root.
//
// Besides the folders and files items of the tree, a node that holds a
// folder's own files (its files item, or a folder without subfolders) may
// have children of its own: the largest files known in that folder, each a
// File node, and one Rest node for the bytes of its other files.
//
// A value type: built on one thread, then read (const) by any number.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quarn {

class TreemapTree {
  public:
    enum class Kind : uint8_t { Folder, FilesItem, File, Rest };
    static constexpr uint32_t kNoNode = 0xffffffffu;
    // The colour of nodes whose type is not among the palette's.
    static constexpr int kGrey = -1;
    // How many file types get a colour of their own.
    static constexpr size_t kPaletteSize = 10;

    struct Node {
        uint64_t bytes = 0;
        // The tree item of a folder or files item; for a File or Rest node
        // the item that holds it (so that a click selects that item).
        uint64_t item = 0;
        uint32_t parent = kNoNode;
        uint32_t firstChild = 0;
        uint32_t childCount = 0;
        uint32_t nameOffset = 0;  // in the names buffer
        uint32_t nameLength = 0;
        int16_t colour = kGrey;  // index into the palette of top types
        Kind kind = Kind::Folder;
    };

    // The root: a folder (or the node a zoomed view starts from).
    uint32_t AddRoot(uint64_t bytes, uint64_t item, std::string_view name);
    // Appends a child of `parent`. Children must be appended in one run per
    // parent, parents in the order they were appended (breadth first), so
    // that a node's children lie side by side.
    uint32_t AddChild(uint32_t parent, Kind kind, uint64_t bytes, uint64_t item,
                      std::string_view name, int colour = kGrey);

    size_t Size() const { return m_nodes.size(); }
    const Node& At(uint32_t index) const { return m_nodes[index]; }
    // A folder's name, a files item's text ("[3 files]"), a File node's
    // full path; empty for a Rest node.
    std::string_view Name(uint32_t index) const;

    // The full path of the scan root; the path of any folder node is this
    // joined with the names on the way down.
    std::string rootPath;
    // The extensions the palette colours, most bytes first (colour i is
    // extension i); "" stands for names without one.
    std::vector<std::string> paletteTypes;

  private:
    std::vector<Node> m_nodes;
    std::string m_names;
};

}  // namespace quarn
