#include "foldersize/ui/TreeListHeader.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionHeader>

namespace quarn {

CTreeListHeader::CTreeListHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
    setSectionsClickable(true);
    setSortIndicatorShown(false);
    setHighlightSections(false);
    setStretchLastSection(false);
    setSectionsMovable(false);
}

void CTreeListHeader::SetMarkedColumn(int column) {
    if (column == m_nMarkedColumn) {
        return;
    }
    m_nMarkedColumn = column;
    viewport()->repaint();
}

QPolygon CTreeListHeader::MarkPolygon(int right, int top) {
    QPolygon mark;
    mark << QPoint(right - 10, top + 5) << QPoint(right - 2, top + 5) << QPoint(right - 6, top + 9)
         << QPoint(right - 10, top + 5);
    return mark;
}

void CTreeListHeader::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
    if (!rect.isValid()) {
        return;
    }
    // The platform's section background and frame, then our own title.
    QStyleOptionHeader option;
    initStyleOption(&option);
    option.rect = rect;
    option.section = logicalIndex;
    option.text.clear();
    option.sortIndicator = QStyleOptionHeader::None;
    const bool pressed = logicalIndex == m_nPressedSection;
    if (pressed) {
        option.state |= QStyle::State_Sunken;
    } else {
        option.state |= QStyle::State_Raised;
    }
    painter->save();
    style()->drawControl(QStyle::CE_HeaderSection, &option, painter, this);
    painter->setClipRect(rect);

    const QFontMetrics metrics(font());
    const int margin = 2 * metrics.horizontalAdvance(QLatin1Char(' '));
    const QString title =
        model() ? model()->headerData(logicalIndex, orientation()).toString() : QString();
    const QVariant alignmentValue =
        model() ? model()->headerData(logicalIndex, orientation(), Qt::TextAlignmentRole)
                : QVariant();
    const Qt::Alignment alignment =
        alignmentValue.isValid() ? Qt::Alignment(alignmentValue.toInt()) : Qt::AlignLeft;

    // Exclusive right edge, as the mark's corners are counted from it.
    int left = rect.x();
    int right = rect.x() + rect.width();
    int top = rect.y();
    if (pressed) {
        left += 1;
        right += 1;
        top += 2;
    }
    left += margin;
    right -= margin;
    const QRect textRect(left, top, right - left, rect.y() + rect.height() - top);
    if (textRect.width() > 0 && textRect.height() > 0) {
        int flags = Qt::AlignVCenter | Qt::TextSingleLine;
        if (alignment.testFlag(Qt::AlignHCenter)) {
            flags |= Qt::AlignHCenter;
        } else if (alignment.testFlag(Qt::AlignRight)) {
            flags |= Qt::AlignRight;
        } else {
            flags |= Qt::AlignLeft;
        }
        painter->setPen(palette().color(QPalette::ButtonText));
        painter->drawText(textRect, flags,
                          metrics.elidedText(title, Qt::ElideRight, textRect.width()));
    }
    if (logicalIndex == m_nMarkedColumn) {
        painter->setPen(QPen(palette().color(QPalette::ButtonText), 1));
        painter->setRenderHint(QPainter::Antialiasing, false);
        painter->drawPolyline(MarkPolygon(right, top));
    }
    painter->restore();
}

void CTreeListHeader::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        m_nPressedSection = logicalIndexAt(event->position().toPoint());
        viewport()->update();
    }
    QHeaderView::mousePressEvent(event);
}

void CTreeListHeader::mouseReleaseEvent(QMouseEvent* event) {
    if (m_nPressedSection != -1) {
        m_nPressedSection = -1;
        viewport()->update();
    }
    QHeaderView::mouseReleaseEvent(event);
}

}  // namespace quarn
