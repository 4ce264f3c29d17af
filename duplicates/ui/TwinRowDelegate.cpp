#include "duplicates/ui/TwinRowDelegate.h"

#include <QPainter>

#include "duplicates/ui/TwinListModel.h"

namespace quarn {

void TwinRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const {
    QStyledItemDelegate::paint(painter, option, index);
    if (!index.data(TwinListModel::kGroupStartRole).toBool()) {
        return;
    }
    painter->save();
    painter->setPen(option.palette.color(QPalette::Mid));
    painter->drawLine(option.rect.topLeft(), option.rect.topRight());
    painter->restore();
}

}  // namespace quarn
