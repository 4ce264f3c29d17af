#include "foldersize/TreemapLayout.h"

#include <algorithm>

namespace quarn {

namespace {

// The worst aspect ratio of a row of tiles of the areas `largest`..
// `smallest` (summing to `sum`) laid along a side of length `side`.
double WorstRatio(double largest, double smallest, double sum, double side) {
    const double side2 = side * side;
    const double sum2 = sum * sum;
    return std::max(side2 * largest / sum2, sum2 / (side2 * smallest));
}

}  // namespace

bool TreemapLayout::Run(const TreemapTree& tree, uint32_t root, const TreemapRect& bounds,
                        const Options& options, const std::atomic<bool>* cancel) {
    m_tiles.clear();
    if (tree.Size() == 0 || root >= tree.Size() || bounds.width <= 0 || bounds.height <= 0) {
        return true;
    }
    m_tiles.push_back(Tile{root, TreemapTree::kNoNode, bounds, bounds});

    std::vector<uint32_t> children;  // reused: the children with bytes, largest first
    // The tiles themselves are the queue: a tile's children are appended
    // together when it is reached, so that they lie side by side.
    for (size_t at = 0; at < m_tiles.size(); ++at) {
        if (cancel != nullptr && (at & 4095) == 0 && cancel->load(std::memory_order_relaxed)) {
            return false;
        }
        const TreemapTree::Node& node = tree.At(m_tiles[at].node);
        children.clear();
        // Sums in doubles: the sizes of huge files cannot wrap them, and the
        // layout needs no more precision than a double keeps.
        double total = 0;
        for (uint32_t i = 0; i < node.childCount; ++i) {
            const uint32_t child = node.firstChild + i;
            if (tree.At(child).bytes > 0) {
                children.push_back(child);
                total += double(tree.At(child).bytes);
            }
        }
        if (children.empty()) {
            continue;
        }

        TreemapRect space = m_tiles[at].rect;
        if (space.width > 4 * options.frame && space.height > 4 * options.frame) {
            space.x += options.frame;
            space.y += options.frame;
            space.width -= 2 * options.frame;
            space.height -= 2 * options.frame;
        }
        if (m_tiles[at].rect.width >= options.headerMinWidth &&
            m_tiles[at].rect.height >= options.headerMinHeight &&
            space.height > 2 * options.header) {
            m_tiles[at].hasHeader = true;
            space.y += options.header;
            space.height -= options.header;
        }
        m_tiles[at].inner = space;
        if (space.Area() < options.minimumArea) {
            continue;
        }
        // Equal sizes in the order of the tree, so that a layout is stable.
        std::stable_sort(children.begin(), children.end(), [&](uint32_t a, uint32_t b) {
            return tree.At(a).bytes > tree.At(b).bytes;
        });

        m_tiles[at].firstChildTile = uint32_t(m_tiles.size());
        const double areaPerByte = space.Area() / total;
        double remaining = total;  // bytes of the children not yet placed
        size_t next = 0;
        while (next < children.size()) {
            // Grow the row while its worst ratio does not get worse.
            const double side = std::min(space.width, space.height);
            const double largest = double(tree.At(children[next]).bytes) * areaPerByte;
            double rowArea = largest;
            double rowBytes = double(tree.At(children[next]).bytes);
            size_t end = next + 1;
            double worst = WorstRatio(largest, largest, rowArea, side);
            while (end < children.size()) {
                const double area = double(tree.At(children[end]).bytes) * areaPerByte;
                const double tried = WorstRatio(largest, area, rowArea + area, side);
                if (tried > worst) {
                    break;
                }
                worst = tried;
                rowArea += area;
                rowBytes += double(tree.At(children[end]).bytes);
                ++end;
            }

            // The row takes its share of the space left, across the longer
            // side; the last row takes all of it, so that no gap remains.
            const bool wide = space.width >= space.height;
            const double share =
                end == children.size() || remaining <= rowBytes ? 1.0 : rowBytes / remaining;
            const double thickness = (wide ? space.width : space.height) * share;
            const double length = wide ? space.height : space.width;
            double before = 0;  // bytes of the row placed before this tile
            for (size_t i = next; i < end; ++i) {
                // Edges from running sums: neighbours share their edge exactly.
                const double from = length * before / rowBytes;
                before += double(tree.At(children[i]).bytes);
                const double to = i + 1 == end ? length : length * before / rowBytes;
                TreemapRect rect = wide
                                       ? TreemapRect{space.x, space.y + from, thickness, to - from}
                                       : TreemapRect{space.x + from, space.y, to - from, thickness};
                if (rect.Area() >= options.minimumArea) {
                    m_tiles.push_back(Tile{children[i], uint32_t(at), rect, rect});
                }
            }
            if (wide) {
                space.x += thickness;
                space.width -= thickness;
            } else {
                space.y += thickness;
                space.height -= thickness;
            }
            remaining -= rowBytes;
            next = end;
        }
        m_tiles[at].childTileCount = uint32_t(m_tiles.size()) - m_tiles[at].firstChildTile;
    }
    return true;
}

uint32_t TreemapLayout::TileAt(double x, double y) const {
    auto contains = [&](const TreemapRect& r) {
        return x >= r.x && x < r.x + r.width && y >= r.y && y < r.y + r.height;
    };
    if (m_tiles.empty() || !contains(m_tiles[0].rect)) {
        return TreemapTree::kNoNode;
    }
    uint32_t at = 0;
    for (;;) {
        const Tile& tile = m_tiles[at];
        uint32_t inside = TreemapTree::kNoNode;
        for (uint32_t i = 0; i < tile.childTileCount; ++i) {
            if (contains(m_tiles[tile.firstChildTile + i].rect)) {
                inside = tile.firstChildTile + i;
                break;
            }
        }
        if (inside == TreemapTree::kNoNode) {
            return at;
        }
        at = inside;
    }
}

uint32_t TreemapLayout::TileOfNode(uint32_t node) const {
    for (uint32_t i = 0; i < m_tiles.size(); ++i) {
        if (m_tiles[i].node == node) {
            return i;
        }
    }
    return TreemapTree::kNoNode;
}

}  // namespace quarn
