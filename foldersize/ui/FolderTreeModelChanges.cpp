// The folder tree model's comparison: the Change column, and the nodes of
// removed folders struck through.

#include <QColor>
#include <QFont>

#include "controls/FileNameText.h"
#include "foldersize/SizeText.h"
#include "foldersize/ui/FolderTreeModel.h"
#include "history/ChangeText.h"

namespace quarn {

void FolderTreeModel::SetComparison(const ShownComparison* comparison) {
    m_comparison = comparison;
    const int rows = rowCount();
    if (rows > 0) {
        // Every row's texts may change; the view asks again as it paints.
        Q_EMIT dataChanged(index(0, 0), index(rows - 1, kColumnCount - 1));
    }
}

QVariant FolderTreeModel::ComparisonData(NodeHandle item, int column, int role) const {
    if (const RemovedFolder* removed = m_comparison->RemovedAt(item)) {
        switch (role) {
            case Qt::DisplayRole:
                if (column == kChangeColumn) {
                    return QStringLiteral("removed, ") +
                           QString::fromStdString(SignedSizeText(-int64_t(removed->size)));
                }
                return {};
            case Qt::FontRole: {
                QFont font;
                font.setStrikeOut(true);
                return font;
            }
            case Qt::ToolTipRole:
                return QStringLiteral("removed since the earlier scan (") +
                       QString::fromStdString(FormatSize(removed->size)) + QStringLiteral(")");
            case Qt::ForegroundRole:
                return QColor(Qt::darkGray);
            default:
                return {};
        }
    }
    if (column != kChangeColumn) {
        return {};
    }
    const std::optional<FolderChange> change = m_comparison->ChangeOf(item);
    if (!change) {
        return {};
    }
    switch (role) {
        case Qt::DisplayRole:
            return QString::fromStdString(ChangeText(*change));
        case Qt::ForegroundRole:
            if (change->isNew || change->change > 0) {
                return QColor(170, 40, 20);
            }
            return change->change < 0 ? QColor(30, 90, 170) : QVariant();
        default:
            return {};
    }
}

}  // namespace quarn
