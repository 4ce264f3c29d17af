#pragma once
// The folder tree's header: draws its titles itself (left or centred, with a
// margin of two blanks, shifted while pressed) and marks the column the top
// level was last sorted by with a small down-pointing triangle.
//
// UI thread only.

#include <QHeaderView>

namespace quarn {

class CTreeListHeader : public QHeaderView {
    Q_OBJECT
  public:
    explicit CTreeListHeader(QWidget* parent = nullptr);

    // The column whose title carries the mark, -1 = none.
    int MarkedColumn() const { return m_nMarkedColumn; }
    // Sets the mark and repaints at once.
    void SetMarkedColumn(int column);

    // The three corners of the mark of a title whose text rectangle (after
    // the margins) ends at `right` (exclusive) and begins at `top`.
    static QPolygon MarkPolygon(int right, int top);

  protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    int m_nMarkedColumn = -1;
    int m_nPressedSection = -1;
};

}  // namespace quarn
