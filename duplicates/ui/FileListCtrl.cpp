#include "duplicates/ui/FileListCtrl.h"

#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QHeaderView>
#include <QMenu>
#include <QStyle>
#include <algorithm>

#include "controls/ItemMenuPlace.h"
#include "controls/ShellItemMenu.h"
#include "controls/ShellOperations.h"
#include "duplicates/ui/TwinListModel.h"
#include "duplicates/ui/TwinRowDelegate.h"
#include "platform/PathRules.h"

namespace quarn {

namespace {

// The widths the list starts with, in pixels. Twins by content differ in
// name within a set: the File column holds a usual camera or download name.
constexpr int kColumnWidths[TwinListModel::kColumnCount] = {160, 340, 75, 110, 80};

}  // namespace

CFileListCtrl::CFileListCtrl(QWidget* parent) : QTreeView(parent) {
    // A flat report: no tree decoration, one height for every row so that a
    // million rows lay out without measuring each one.
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTextElideMode(Qt::ElideRight);
    setIconSize(QSize(16, 16));
    setItemDelegate(new TwinRowDelegate(this));

    // Rows stand in the order they were added: a heading click sorts nothing.
    // Columns keep their place and are resized by dragging their dividers;
    // the view repaints on scrolling and resizing by itself.
    setSortingEnabled(false);
    QHeaderView* heading = header();
    heading->setSectionsClickable(false);
    heading->setSortIndicatorShown(false);
    heading->setSectionsMovable(false);
    heading->setStretchLastSection(false);
    heading->setSectionResizeMode(QHeaderView::Interactive);
    connect(heading, &QHeaderView::sectionResized, this, [this](int section, int, int) {
        if (m_settingWidths) {
            return;
        }
        if (section == TwinListModel::kPathColumn) {
            m_pathWidthChosen = true;
        } else {
            FitPathColumn();
        }
    });
}

CFileListCtrl::~CFileListCtrl() = default;

int CFileListCtrl::InitialColumnWidth(int column) const {
    if (column < 0 || column >= TwinListModel::kColumnCount) {
        return 0;
    }
    // The two right-aligned columns grow to hold their usual texts: a cut
    // date is useless, and sizes below 10 GB are the common case.
    int width = kColumnWidths[column];
    const QFontMetrics metrics(font());
    const int margins = 2 * style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 8;
    if (column == TwinListModel::kModifiedColumn) {
        width = std::max(
            width, metrics.horizontalAdvance(QStringLiteral("00.00.00  00:00:00 ")) + margins);
    } else if (column == TwinListModel::kSizeColumn) {
        width = std::max(width,
                         metrics.horizontalAdvance(QStringLiteral("0000000000 Bytes")) + margins);
    } else if (column == TwinListModel::kContentColumn) {
        // The longest usual verdict: a kept file in a reference folder.
        width = std::max(
            width, metrics.horizontalAdvance(QStringLiteral("identical, reference")) + margins);
    }
    return width;
}

void CFileListCtrl::SetupColumns() {
    if (model() == nullptr) {
        return;
    }
    m_settingWidths = true;
    for (int column = 0; column < TwinListModel::kColumnCount; ++column) {
        setColumnWidth(column, InitialColumnWidth(column));
    }
    m_settingWidths = false;
    FitPathColumn();
}

void CFileListCtrl::FitPathColumn() {
    if (m_pathWidthChosen || model() == nullptr) {
        return;
    }
    int others = 0;
    for (int column = 0; column < TwinListModel::kColumnCount; ++column) {
        if (column != TwinListModel::kPathColumn) {
            others += columnWidth(column);
        }
    }
    const int width =
        std::max(InitialColumnWidth(TwinListModel::kPathColumn), viewport()->width() - others);
    if (width != columnWidth(TwinListModel::kPathColumn)) {
        m_settingWidths = true;
        setColumnWidth(TwinListModel::kPathColumn, width);
        m_settingWidths = false;
    }
}

void CFileListCtrl::resizeEvent(QResizeEvent* event) {
    QTreeView::resizeEvent(event);
    FitPathColumn();
}

void CFileListCtrl::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) {
        SetupColumns();
    }
    QTreeView::changeEvent(event);
}

void CFileListCtrl::contextMenuEvent(QContextMenuEvent* event) {
    if (const std::optional<ItemMenuPlace> place = PlaceItemMenu(*this, *event)) {
        OnContextMenu(place->viewportPos, place->globalPos);
    }
    event->accept();
}

std::vector<int> CFileListCtrl::SelectedRows() const {
    std::vector<int> rows;
    for (const QModelIndex& index : selectionModel()->selectedRows()) {
        rows.push_back(index.row());
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

void CFileListCtrl::OnContextMenu(const QPoint& viewportPos, const QPoint& globalPos) {
    SyncRows();
    const QModelIndex hit = indexAt(viewportPos);
    if (!hit.isValid()) {
        return;
    }
    const int row = hit.row();
    const std::string path = PathOfRow(row);
    if (path.empty()) {
        return;
    }
    // The selection, when the row is part of it; otherwise the row alone.
    std::vector<int> rows = SelectedRows();
    if (std::find(rows.begin(), rows.end(), row) == rows.end()) {
        rows = {row};
    }
    CShellItemMenu menu;
    menu.SetPath(path);
    QMenu* popup = menu.BuildMenu(this);
    QAction* trash = nullptr;
    for (QAction* action : popup->actions()) {
        if (action->data().toInt() == kCmdMoveToTrash) {
            trash = action;
            if (!MayMoveToTrash()) {
                action->setEnabled(false);
            }
        }
    }
    AddRowCommands(popup, trash, rows);
    QAction* chosen = ExecMenu(popup, globalPos);
    if (chosen == nullptr) {
        return;
    }
    const int command = chosen->data().toInt();
    if (command == kCmdOpenFolder) {
        if (const std::string folder = FolderToOpen(row); !folder.empty()) {
            OpenWithDefaultHandler(folder);
        }
        return;
    }
    if (command == kCmdMoveToTrash) {
        MoveRowsToTrash(rows);
        return;
    }
    if (CarryOutRowCommand(command, rows)) {
        return;
    }
    menu.CarryOut(this, command);
}

std::string CFileListCtrl::FolderToOpen(int row) const {
    return std::string(FolderOfPath(PathOfRow(row)));
}

}  // namespace quarn
