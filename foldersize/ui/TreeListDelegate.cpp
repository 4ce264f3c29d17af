#include "foldersize/ui/TreeListDelegate.h"

#include <QApplication>
#include <QFont>
#include <QIcon>
#include <QPainter>

#include "foldersize/ui/FolderTreeModel.h"

namespace quarn {

const QColor TreeListDelegate::kSelectionBackground(0, 0, 99);
const QColor TreeListDelegate::kBarTextColour(77, 77, 77);

namespace {

constexpr int kImageSize = 16;
constexpr int kImageGap = 3;      // between the image and the label
constexpr int kLabelPadding = 2;  // inside the label, left and right of the text

// The view's font with what the item asks for on top (a removed folder's
// strike-out).
QFont ItemFont(const QStyleOptionViewItem& option, const QModelIndex& index) {
    const QVariant asked = index.data(Qt::FontRole);
    return asked.isValid() ? asked.value<QFont>().resolve(option.font) : option.font;
}

// The item's own text colour (a change's), black without one.
QColor ItemColour(const QModelIndex& index) {
    const QVariant asked = index.data(Qt::ForegroundRole);
    return asked.isValid() ? asked.value<QColor>() : QColor(Qt::black);
}

}  // namespace

TreeListDelegate::TreeListDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

PercentBarGeometry TreeListDelegate::BarGeometry(int left, int width, int top, int height,
                                                 int percent) {
    PercentBarGeometry bar;
    const int barWidth = width - 20;
    if (barWidth < 2 || percent < 0) {
        return bar;  // no room for even the outline
    }
    // The label's top sits one pixel into the row; the bar starts one below it
    // and ends one above the row's bottom.
    const int top2 = top + 2;
    const int bottom = top + height - 1;  // exclusive
    bar.frame = QRect(left + 10, top2, barWidth, bottom - top2);
    const int fillLeft = left + 11;
    const int fillRight =
        std::max(fillLeft, fillLeft + int(unsigned(percent) * unsigned(barWidth) / 100u) - 2);
    bar.fill = QRect(fillLeft, top2 + 1, fillRight - fillLeft, bottom - 1 - (top2 + 1));
    bar.colour = QColor(255, (255 - 2 * percent) & 0xff, 0);
    return bar;
}

void TreeListDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
    painter->save();
    painter->setClipRect(option.rect);
    painter->fillRect(option.rect, Qt::white);
    if (index.column() == 0) {
        PaintName(painter, option, index);
    } else if (index.column() == m_nPercentColumn) {
        PaintBar(painter, option, index);
    } else {
        PaintText(painter, option, index);
    }
    painter->restore();
}

void TreeListDelegate::PaintName(QPainter* painter, const QStyleOptionViewItem& option,
                                 const QModelIndex& index) const {
    const QRect& cell = option.rect;
    const int columnRight = cell.x() + cell.width();  // exclusive
    const QIcon icon = index.data(Qt::DecorationRole).value<QIcon>();
    const QRect imageRect(cell.x() + 1, cell.y() + (cell.height() - kImageSize) / 2, kImageSize,
                          kImageSize);
    if (!icon.isNull()) {
        icon.paint(painter, imageRect);
    }

    const QFont font = ItemFont(option, index);
    const QFontMetrics metrics(font);
    const QString text = index.data(Qt::DisplayRole).toString();
    const int labelLeft = imageRect.x() + kImageSize + kImageGap;
    const int labelRight = labelLeft + metrics.horizontalAdvance(text) + 2 * kLabelPadding;
    const int textRight = std::min(labelRight, columnRight);
    const bool selected = option.state.testFlag(QStyle::State_Selected);
    if (selected && textRight > labelLeft) {
        const QRect label(labelLeft, cell.y(), textRight - labelLeft, cell.height());
        painter->fillRect(label.adjusted(0, 1, 0, -1), kSelectionBackground);
        // The focus frame stops short of a label that ends inside the column
        // and at the column's edge for one that is cut.
        const int focusRight = labelRight < columnRight ? labelRight - 1 : columnRight - 1;
        QPen dotted(QColor(128, 128, 128), 1, Qt::DotLine);
        painter->setPen(dotted);
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(
            QRect(QPoint(labelLeft, cell.y()), QPoint(focusRight, cell.y() + cell.height() - 1)));
    }
    const QRect textRect(labelLeft + kLabelPadding, cell.y(),
                         columnRight - labelLeft - kLabelPadding, cell.height());
    if (textRect.width() <= 0) {
        return;
    }
    painter->setFont(font);
    painter->setPen(selected ? QColor(Qt::white) : ItemColour(index));
    painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                      metrics.elidedText(text, Qt::ElideRight, textRect.width()));
}

void TreeListDelegate::PaintText(QPainter* painter, const QStyleOptionViewItem& option,
                                 const QModelIndex& index) const {
    const QString text = index.data(Qt::DisplayRole).toString();
    if (text.isEmpty()) {
        return;
    }
    const QFont font = ItemFont(option, index);
    const QFontMetrics metrics(font);
    QRect box = option.rect;
    // The last column meets the view's frame: its text keeps off it.
    if (index.column() == index.model()->columnCount() - 1) {
        box.adjust(0, 0, -2 * kLabelPadding, 0);
    }
    painter->setFont(font);
    painter->setPen(ItemColour(index));
    painter->drawText(box, Qt::AlignRight | Qt::AlignVCenter | Qt::TextSingleLine,
                      metrics.elidedText(text, Qt::ElideRight, box.width()));
}

void TreeListDelegate::PaintBar(QPainter* painter, const QStyleOptionViewItem& option,
                                const QModelIndex& index) const {
    const QVariant value = index.data(FolderTreeModel::kPercentRole);
    const int percent = value.isValid() ? value.toInt() : -1;
    const PercentBarGeometry bar = BarGeometry(option.rect.x(), option.rect.width(),
                                               option.rect.y(), option.rect.height(), percent);
    if (bar.frame.isEmpty()) {
        return;
    }
    painter->fillRect(bar.frame, Qt::black);
    painter->fillRect(bar.frame.adjusted(1, 1, -1, -1), Qt::white);
    if (!bar.fill.isEmpty()) {
        painter->fillRect(bar.fill, bar.colour);
    }
    painter->setFont(option.font);
    painter->setPen(kBarTextColour);
    painter->drawText(bar.frame, Qt::AlignCenter | Qt::TextSingleLine,
                      QString::asprintf("%d%%", percent));
}

QSize TreeListDelegate::sizeHint(const QStyleOptionViewItem& option,
                                 const QModelIndex& index) const {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    // Room for the bar's frame and fill, and for the 16-pixel images.
    size.setHeight(std::max(size.height(), kImageSize + 2));
    return size;
}

}  // namespace quarn
