#pragma once
// Draws the twin list's cells and a thin line above the first row of every
// group, so that groups of one name and adjacent groups stay apart.
//
// Reads TwinListModel::kGroupStartRole. Interface thread only.

#include <QStyledItemDelegate>

namespace quarn {

class TwinRowDelegate : public QStyledItemDelegate {
    Q_OBJECT

  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};

}  // namespace quarn
