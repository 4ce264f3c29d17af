#include "foldersize/TreemapLayout.h"

#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <vector>

namespace quarn {
namespace {

using Kind = TreemapTree::Kind;

// A tree made breadth first from a list of child sizes per node: `sizes(n,
// depth, random)` gives the children of a node. Folder sizes are the sums of
// their children, as the scan makes them.
template <typename ChildSizes>
TreemapTree MakeTree(ChildSizes childSizes, uint64_t seed) {
    std::mt19937_64 random(seed);
    struct Pending {
        uint32_t node;
        int depth;
        std::vector<uint64_t> sizes;
    };
    // First decide the shape depth first, then sum, then add breadth first.
    struct Shape {
        std::vector<int> children;
        uint64_t bytes = 0;
        int depth = 0;
    };
    std::vector<Shape> shapes(1);
    for (size_t at = 0; at < shapes.size(); ++at) {
        for (uint64_t bytes : childSizes(shapes[at].depth, random)) {
            shapes[at].children.push_back(int(shapes.size()));
            Shape leaf;
            leaf.bytes = bytes;
            leaf.depth = shapes[at].depth + 1;
            shapes.push_back(leaf);
        }
    }
    for (size_t at = shapes.size(); at-- > 0;) {
        for (int child : shapes[at].children) {
            shapes[at].bytes += shapes[size_t(child)].bytes;
        }
    }
    TreemapTree tree;
    tree.AddRoot(shapes[0].bytes, 0, "root");
    std::deque<std::pair<int, uint32_t>> queue{{0, 0}};
    while (!queue.empty()) {
        auto [shape, node] = queue.front();
        queue.pop_front();
        for (int child : shapes[size_t(shape)].children) {
            const Shape& s = shapes[size_t(child)];
            Kind kind = s.children.empty() ? Kind::File : Kind::Folder;
            queue.emplace_back(child, tree.AddChild(node, kind, s.bytes, uint64_t(child), ""));
        }
    }
    return tree;
}

// Checks what every layout must give: children inside their parent's inner
// space, each with its share of the area, and in pixels neither overlapping
// a sibling nor leaving a gap (when no child was too small for a tile).
void ExpectTiling(const TreemapTree& tree, const TreemapLayout& layout, int width, int height) {
    const auto& tiles = layout.Tiles();
    ASSERT_FALSE(tiles.empty());
    // Which tile owns each pixel; parents are painted before their children.
    std::vector<int> owner(size_t(width * height), -1);
    for (size_t t = 0; t < tiles.size(); ++t) {
        const TreemapLayout::Tile& tile = tiles[t];
        const TreemapRect& r = tile.rect;
        EXPECT_GT(tree.At(tile.node).bytes, 0u) << "a node without bytes got a tile";
        if (tile.parentTile != TreemapTree::kNoNode) {
            const TreemapRect& inner = tiles[tile.parentTile].inner;
            EXPECT_GE(r.x, inner.x - 1e-6);
            EXPECT_GE(r.y, inner.y - 1e-6);
            EXPECT_LE(r.x + r.width, inner.x + inner.width + 1e-6);
            EXPECT_LE(r.y + r.height, inner.y + inner.height + 1e-6);
        }
        for (int y = r.Top(); y < r.Bottom(); ++y) {
            for (int x = r.Left(); x < r.Right(); ++x) {
                int& at = owner[size_t(y * width + x)];
                ASSERT_EQ(at, int(tile.parentTile == TreemapTree::kNoNode ? -1 : tile.parentTile))
                    << "tile " << t << " overlaps at " << x << "," << y;
                at = int(t);
            }
        }
    }
    for (size_t t = 0; t < tiles.size(); ++t) {
        const TreemapLayout::Tile& tile = tiles[t];
        if (tile.childTileCount == 0) {
            continue;
        }
        const TreemapTree::Node& node = tree.At(tile.node);
        uint64_t childBytes = 0;
        uint32_t withBytes = 0;
        for (uint32_t i = 0; i < node.childCount; ++i) {
            childBytes += tree.At(node.firstChild + i).bytes;
            withBytes += tree.At(node.firstChild + i).bytes > 0 ? 1 : 0;
        }
        double area = 0;
        for (uint32_t i = 0; i < tile.childTileCount; ++i) {
            const TreemapLayout::Tile& child = tiles[tile.firstChildTile + i];
            const double wanted =
                tile.inner.Area() * double(tree.At(child.node).bytes) / double(childBytes);
            EXPECT_NEAR(child.rect.Area(), wanted, 1e-6 * tile.inner.Area());
            // Rounding the edges moves each by at most half a pixel.
            const double pixels = double((child.rect.Right() - child.rect.Left()) *
                                         (child.rect.Bottom() - child.rect.Top()));
            EXPECT_LE(std::abs(pixels - wanted), child.rect.width + child.rect.height + 1);
            area += child.rect.Area();
        }
        if (tile.childTileCount == withBytes) {
            EXPECT_NEAR(area, tile.inner.Area(), 1e-6 * tile.inner.Area());
            const TreemapRect& inner = tile.inner;
            for (int y = inner.Top(); y < inner.Bottom(); ++y) {
                for (int x = inner.Left(); x < inner.Right(); ++x) {
                    ASSERT_NE(owner[size_t(y * width + x)], int(t))
                        << "gap in tile " << t << " at " << x << "," << y;
                }
            }
        }
    }
}

TEST(TreemapLayoutTest, GeneratedTreesTileTheirParents) {
    for (uint64_t seed = 1; seed <= 20; ++seed) {
        // Up to four levels, some folders and files of zero bytes.
        TreemapTree tree = MakeTree(
            [](int depth, std::mt19937_64& random) {
                std::vector<uint64_t> sizes;
                if (depth >= 4 || (depth > 0 && random() % 3 == 0)) {
                    return sizes;
                }
                size_t count = 1 + random() % 12;
                for (size_t i = 0; i < count; ++i) {
                    sizes.push_back(random() % 5 == 0 ? 0 : 1 + random() % 100000);
                }
                return sizes;
            },
            seed);
        TreemapLayout layout;
        ASSERT_TRUE(layout.Run(tree, 0, TreemapRect{0, 0, 640, 400}, {}));
        SCOPED_TRACE(seed);
        ExpectTiling(tree, layout, 640, 400);
    }
}

TEST(TreemapLayoutTest, OneHugeFileBesideManyTinyOnes) {
    TreemapTree tree = MakeTree(
        [](int depth, std::mt19937_64&) {
            std::vector<uint64_t> sizes;
            if (depth == 0) {
                sizes.push_back(uint64_t(1) << 40);
                sizes.resize(2001, 1);
            }
            return sizes;
        },
        1);
    TreemapLayout layout;
    ASSERT_TRUE(layout.Run(tree, 0, TreemapRect{0, 0, 300, 200}, {}));
    ExpectTiling(tree, layout, 300, 200);
    // The huge file takes all but a sliver; the tiny ones are too small for
    // a pixel and are left out.
    ASSERT_EQ(layout.Tiles().size(), 2u);
    EXPECT_GT(layout.Tiles()[1].rect.Area(), 0.99 * layout.Tiles()[0].inner.Area());
}

TEST(TreemapLayoutTest, ZeroSizedTreeAndEmptyBoundsGiveNoChildTiles) {
    TreemapTree tree = MakeTree(
        [](int depth, std::mt19937_64&) {
            return depth < 3 ? std::vector<uint64_t>{0, 0} : std::vector<uint64_t>{};
        },
        1);
    TreemapLayout layout;
    ASSERT_TRUE(layout.Run(tree, 0, TreemapRect{0, 0, 100, 100}, {}));
    EXPECT_EQ(layout.Tiles().size(), 1u);
    ASSERT_TRUE(layout.Run(tree, 0, TreemapRect{0, 0, 0, 100}, {}));
    EXPECT_TRUE(layout.Tiles().empty());
}

TEST(TreemapLayoutTest, DeepChainNeedsNoStackAndFindsTheDeepestTile) {
    constexpr uint32_t kDepth = 100000;
    TreemapTree tree;
    tree.AddRoot(1000, 0, "root");
    uint32_t at = 0;
    for (uint32_t i = 0; i < kDepth; ++i) {
        at = tree.AddChild(at, i + 1 == kDepth ? Kind::File : Kind::Folder, 1000, i + 1, "d");
    }
    TreemapLayout::Options options;
    options.frame = 0;
    options.header = 0;
    TreemapLayout layout;
    ASSERT_TRUE(layout.Run(tree, 0, TreemapRect{0, 0, 200, 100}, options));
    ASSERT_EQ(layout.Tiles().size(), size_t(kDepth) + 1);
    EXPECT_EQ(layout.Tiles()[layout.TileAt(150, 50)].node, kDepth);
    EXPECT_EQ(layout.TileAt(250, 50), TreemapTree::kNoNode);

    // With frames each level sits inside the one above until the frame no
    // longer fits.
    ASSERT_TRUE(layout.Run(tree, 0, TreemapRect{0, 0, 200, 100}, {}));
    ExpectTiling(tree, layout, 200, 100);
}

TEST(TreemapLayoutTest, CancelStopsTheLayout) {
    TreemapTree tree = MakeTree(
        [](int depth, std::mt19937_64&) {
            return depth < 2 ? std::vector<uint64_t>(100, 10) : std::vector<uint64_t>{};
        },
        1);
    std::atomic<bool> cancel{true};
    TreemapLayout layout;
    EXPECT_FALSE(layout.Run(tree, 0, TreemapRect{0, 0, 1000, 1000}, {}, &cancel));
}

TEST(TreemapLayoutTest, ZoomedRootFillsTheBounds) {
    TreemapTree tree = MakeTree(
        [](int depth, std::mt19937_64& random) {
            std::vector<uint64_t> sizes;
            if (depth < 3) {
                for (int i = 0; i < 5; ++i) {
                    sizes.push_back(1 + random() % 1000);
                }
            }
            return sizes;
        },
        7);
    TreemapLayout layout;
    ASSERT_TRUE(layout.Run(tree, 3, TreemapRect{0, 0, 320, 240}, {}));
    EXPECT_EQ(layout.Tiles()[0].node, 3u);
    ExpectTiling(tree, layout, 320, 240);
}

}  // namespace
}  // namespace quarn
