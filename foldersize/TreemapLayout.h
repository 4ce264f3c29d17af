#pragma once
// The squarified layout of a TreemapTree: every node gets a rectangle whose
// area, inside its parent's, is its share of the bytes of its siblings, in
// rows chosen so that the tiles stay as near to squares as they can. A
// folder with children keeps a frame of `frame` pixels on each side and,
// when it is large enough, a band of `header` pixels at its top for its
// name, as long as that leaves room for its children. Nodes of zero bytes
// get no area; nodes smaller than `minimumArea` pixels are left out with
// their subtrees.
//
// Nothing recurses: the tree may be 100,000 levels deep. Pure computation,
// no shared state: any thread may lay out any number of trees at once.

#include <atomic>
#include <cmath>
#include <cstdint>
#include <vector>

#include "foldersize/TreemapTree.h"

namespace quarn {

struct TreemapRect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    double Area() const { return width * height; }
    // The pixels the rectangle covers: each edge rounded to the nearest
    // pixel boundary, so that rectangles sharing an edge share it in pixels
    // too and neither gap nor overlap appears.
    int Left() const { return int(std::lround(x)); }
    int Top() const { return int(std::lround(y)); }
    int Right() const { return int(std::lround(x + width)); }  // one past
    int Bottom() const { return int(std::lround(y + height)); }
};

class TreemapLayout {
  public:
    struct Options {
        double frame = 1;
        double header = 14;
        // A folder gets its header band only when at least this wide and
        // this high.
        double headerMinWidth = 60;
        double headerMinHeight = 40;
        double minimumArea = 1;
    };
    struct Tile {
        uint32_t node = 0;
        uint32_t parentTile = TreemapTree::kNoNode;  // index in Tiles()
        TreemapRect rect;
        // Where the node's children lie: the rect less frame and header.
        TreemapRect inner;
        // The tiles of the node's children, side by side in Tiles().
        uint32_t firstChildTile = 0;
        uint32_t childTileCount = 0;
        bool hasHeader = false;
    };

    // Lays out the subtree of `root` in `bounds`. Returns false (with the
    // tiles made so far) when `cancel` turned true on the way.
    bool Run(const TreemapTree& tree, uint32_t root, const TreemapRect& bounds,
             const Options& options, const std::atomic<bool>* cancel = nullptr);

    // Parents before their children; the first tile is the root's.
    const std::vector<Tile>& Tiles() const { return m_tiles; }
    // The innermost tile that contains the point, or kNoNode.
    uint32_t TileAt(double x, double y) const;
    // The tile of `node`, or kNoNode when it got none.
    uint32_t TileOfNode(uint32_t node) const;

  private:
    std::vector<Tile> m_tiles;
};

}  // namespace quarn
