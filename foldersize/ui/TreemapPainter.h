#pragma once
// Draws a laid-out treemap into an image: every leaf a shaded cushion in
// the colour of its file type (grey for other types and for the rest of a
// folder's files), a 1-pixel grid between tiles, and the names of the
// folders (and of large files) that have room for them.
//
// Render() is the one way to a picture of a tree, for the window and for
// the headless command. It uses no widget and no state of its own: any
// thread may call it (QImage and QPainter on an image are safe off the GUI
// thread).

#include <QColor>
#include <QImage>
#include <QSize>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>

#include "foldersize/TreemapLayout.h"
#include "foldersize/TreemapTree.h"

namespace quarn {

class TreemapPainter {
  public:
    // A leaf's colour by the tree item that holds it, in place of its type's
    // (a comparison colours by growth); nothing keeps the type's. Called on
    // the painting thread: it must read only data that stays put.
    using TileColour = std::function<std::optional<QRgb>(uint64_t item)>;

    // The colour of palette entry `colour` (TreemapTree::kGrey: grey).
    static QColor TypeColour(int colour);

    // Lays out the subtree of `root` in an image of `size` and paints it;
    // `layout` keeps the tiles for hit tests. A null image when `cancel`
    // turned true on the way or the size is empty.
    static QImage Render(const TreemapTree& tree, uint32_t root, QSize size, TreemapLayout& layout,
                         const std::atomic<bool>* cancel = nullptr,
                         const TileColour& tileColour = {});

    // Paints tiles already laid out; false when cancelled.
    static bool Paint(const TreemapTree& tree, const TreemapLayout& layout, QImage& image,
                      const std::atomic<bool>* cancel = nullptr, const TileColour& tileColour = {});
};

}  // namespace quarn
