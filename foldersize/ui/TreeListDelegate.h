#pragma once
// Paints the folder tree's cells: the name with its image and the selection
// colours, the right-aligned size texts, and the percentage bar.
//
// The bar's geometry is fixed in pixels so that it reads the same at every
// column width: a frame from 10 pixels into its column over the column's
// width less 20, a fill whose colour runs from yellow (0 %) to orange-red
// (100 %), and the percentage centred on it.
//
// UI thread only.

#include <QColor>
#include <QRect>
#include <QStyledItemDelegate>

namespace quarn {

struct PercentBarGeometry {
    QRect frame;  // black outline, white inside; empty when the column is too narrow
    QRect fill;   // coloured part; empty at 0 %
    QColor colour;
};

class TreeListDelegate : public QStyledItemDelegate {
    Q_OBJECT
  public:
    // Selected names: white on this background.
    static const QColor kSelectionBackground;
    // The percentage text on the bar.
    static const QColor kBarTextColour;

    explicit TreeListDelegate(QObject* parent = nullptr);

    // The column that shows the bar (-1 = none).
    void SetPercentColumn(int column) { m_nPercentColumn = column; }
    int PercentColumn() const { return m_nPercentColumn; }

    // The bar of `percent` (0..100) in a column starting at `left` that is
    // `width` wide, on a row from `top` that is `height` high.
    static PercentBarGeometry BarGeometry(int left, int width, int top, int height, int percent);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

  private:
    void PaintName(QPainter* painter, const QStyleOptionViewItem& option,
                   const QModelIndex& index) const;
    void PaintText(QPainter* painter, const QStyleOptionViewItem& option,
                   const QModelIndex& index) const;
    void PaintBar(QPainter* painter, const QStyleOptionViewItem& option,
                  const QModelIndex& index) const;

    int m_nPercentColumn = -1;
};

}  // namespace quarn
