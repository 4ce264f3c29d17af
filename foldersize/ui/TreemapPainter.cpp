#include "foldersize/ui/TreemapPainter.h"

#include "controls/FileNameText.h"
#include "platform/PathRules.h"

#include <QFile>
#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "foldersize/TreemapTree.h"

namespace quarn {

namespace {

using Kind = TreemapTree::Kind;

const QRgb kGridColour = qRgb(40, 40, 40);
// What shows where a folder's children were too small for a pixel.
const QRgb kFolderColour = qRgb(120, 120, 120);
const QRgb kHeaderColour = qRgb(225, 225, 225);
const QRgb kGreyColour = qRgb(165, 165, 165);
// Ten colours told apart easily, also by most colour-blind eyes.
const QRgb kPalette[TreemapTree::kPaletteSize] = {
    qRgb(78, 121, 167), qRgb(242, 142, 43),  qRgb(225, 87, 89),   qRgb(118, 183, 178),
    qRgb(89, 161, 79),  qRgb(237, 201, 72),  qRgb(176, 122, 161), qRgb(255, 157, 167),
    qRgb(156, 117, 95), qRgb(160, 203, 232),
};

void FillRect(QImage& image, int left, int top, int right, int bottom, QRgb colour) {
    left = std::max(left, 0);
    top = std::max(top, 0);
    right = std::min(right, image.width());
    bottom = std::min(bottom, image.height());
    for (int y = top; y < bottom; ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        std::fill(line + left, line + std::max(left, right), colour);
    }
}

// A cushion: bright in the middle, darker at the edges, lit from the top
// left, so that neighbouring tiles of one colour stay apart.
void PaintCushion(QImage& image, int left, int top, int right, int bottom, QRgb colour) {
    left = std::max(left, 0);
    top = std::max(top, 0);
    right = std::min(right, image.width());
    bottom = std::min(bottom, image.height());
    const double width = right - left;
    const double height = bottom - top;
    if (width <= 0 || height <= 0) {
        return;
    }
    std::vector<double> across(size_t(right - left));
    for (int x = left; x < right; ++x) {
        const double u = (x - left + 0.5) / width;
        across[size_t(x - left)] = u;
    }
    for (int y = top; y < bottom; ++y) {
        const double v = (y - top + 0.5) / height;
        QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = left; x < right; ++x) {
            const double u = across[size_t(x - left)];
            const double bump = std::sqrt(16 * u * (1 - u) * v * (1 - v));
            const double shade = std::clamp(0.55 + 0.4 * bump + 0.15 * (1 - u - v), 0.0, 1.25);
            line[x] = qRgb(std::min(255, int(qRed(colour) * shade)),
                           std::min(255, int(qGreen(colour) * shade)),
                           std::min(255, int(qBlue(colour) * shade)));
        }
    }
}

QString FileName(std::string_view path) {
    return FileNameText(NameOfPath(path));
}

}  // namespace

QColor TreemapPainter::TypeColour(int colour) {
    if (colour < 0 || size_t(colour) >= TreemapTree::kPaletteSize) {
        return QColor(kGreyColour);
    }
    return QColor(kPalette[colour]);
}

QImage TreemapPainter::Render(const TreemapTree& tree, uint32_t root, QSize size,
                              TreemapLayout& layout, const std::atomic<bool>* cancel,
                              const TileColour& tileColour) {
    if (size.isEmpty()) {
        layout = TreemapLayout();
        return QImage();
    }
    if (!layout.Run(tree, root, TreemapRect{0, 0, double(size.width()), double(size.height())},
                    TreemapLayout::Options(), cancel)) {
        return QImage();
    }
    QImage image(size, QImage::Format_RGB32);
    if (!Paint(tree, layout, image, cancel, tileColour)) {
        return QImage();
    }
    return image;
}

bool TreemapPainter::Paint(const TreemapTree& tree, const TreemapLayout& layout, QImage& image,
                           const std::atomic<bool>* cancel, const TileColour& tileColour) {
    image.fill(kGridColour);
    const auto& tiles = layout.Tiles();
    for (size_t t = 0; t < tiles.size(); ++t) {
        if (cancel != nullptr && (t & 1023) == 0 && cancel->load(std::memory_order_relaxed)) {
            return false;
        }
        const TreemapLayout::Tile& tile = tiles[t];
        const TreemapRect& r = tile.rect;
        // The right and bottom pixel of a tile are the grid, once it has room.
        const int right = r.Right() - (r.Right() - r.Left() >= 3 ? 1 : 0);
        const int bottom = r.Bottom() - (r.Bottom() - r.Top() >= 3 ? 1 : 0);
        if (tile.childTileCount > 0) {
            // Its frame in the grid's colour; inside, what its children leave.
            FillRect(image, r.Left(), r.Top(), r.Right(), r.Bottom(), kGridColour);
            const TreemapRect& in = tile.inner;
            FillRect(image, in.Left(), in.Top(), in.Right(), in.Bottom(), kFolderColour);
            if (tile.hasHeader) {
                FillRect(image, r.Left() + 1, r.Top() + 1, right, in.Top() - 1, kHeaderColour);
            }
            continue;
        }
        const TreemapTree::Node& node = tree.At(tile.node);
        QRgb colour = node.kind == Kind::File ? TypeColour(node.colour).rgb() : kGreyColour;
        if (tileColour) {
            colour = tileColour(node.item).value_or(colour);
        }
        FillRect(image, r.Left(), r.Top(), r.Right(), r.Bottom(), kGridColour);
        PaintCushion(image, r.Left(), r.Top(), right, bottom, colour);
    }

    // Names where they fit: folders in their band, large files on their tile.
    QPainter painter(&image);
    QFont font = painter.font();
    font.setPixelSize(11);
    painter.setFont(font);
    const QFontMetrics metrics(font);
    for (const TreemapLayout::Tile& tile : tiles) {
        const TreemapRect& r = tile.rect;
        QString text;
        QRect box;
        if (tile.hasHeader) {
            text = &tile == &tiles.front() && !tree.rootPath.empty()
                       ? FileNameText(tree.rootPath)
                       : FileNameText(tree.Name(tile.node));
            box = QRect(r.Left() + 4, r.Top() + 1, r.Right() - r.Left() - 8,
                        int(tile.inner.y) - r.Top() - 1);
            painter.setPen(Qt::black);
        } else if (tile.childTileCount == 0 && tree.At(tile.node).kind == Kind::File &&
                   r.width >= 70 && r.height >= 18) {
            text = FileName(tree.Name(tile.node));
            box = QRect(r.Left() + 3, r.Top() + 2, r.Right() - r.Left() - 6, metrics.height());
            // Light text on dark tiles, dark text on light ones.
            const QColor tileColour = TypeColour(tree.At(tile.node).colour);
            painter.setPen(tileColour.lightness() < 120 ? QColor(250, 250, 250)
                                                        : QColor(20, 20, 20));
        } else {
            continue;
        }
        painter.drawText(box, Qt::AlignLeft | Qt::AlignVCenter,
                         metrics.elidedText(text, Qt::ElideMiddle, box.width()));
    }
    return true;
}

}  // namespace quarn
