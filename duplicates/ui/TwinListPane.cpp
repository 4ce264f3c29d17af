#include "duplicates/ui/TwinListPane.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QFile>
#include <QFontMetrics>
#include <QHeaderView>
#include <QMenu>
#include <QMessageBox>
#include <QStyle>
#include <algorithm>

#include "controls/ShellItemMenu.h"
#include "controls/ShellOperations.h"
#include "duplicates/ui/TwinListModel.h"
#include "filter/ui/CFileFilterDlg.h"
#include "platform/PathRules.h"
#include "platform/Trash.h"

namespace quarn {

TwinListPane::TwinListPane(CTwinListView& list, QWidget* parent) : QTreeView(parent), m_list(list) {
    MimeIconProvider::EnsureIconTheme();
    // The table lives as long as the process, so a worker that still appends
    // rows after the pane has gone (a combined scan ending) finds it intact.
    m_list.SetIconKeyProvider(&MimeIconProvider::Shared());
    m_pModel = new TwinListModel(m_list, &MimeIconProvider::Shared(), this);
    setModel(m_pModel);

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
    ApplyColumnWidths();

    m_pendingTimer.setInterval(200);
    connect(&m_pendingTimer, &QTimer::timeout, this, &TwinListPane::ApplyPendingRemovals);
}

int TwinListPane::InitialColumnWidth(int column) const {
    // The list's own widths, in pixels; the two right-aligned columns grow
    // to hold their usual texts: a cut date is useless, and sizes below
    // 10 GB are the common case.
    int width = m_list.GetColumnWidth(column);
    const QFontMetrics metrics(font());
    const int margins = 2 * style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 8;
    if (column == CFileListCtrl::kModifiedColumn) {
        width = std::max(
            width, metrics.horizontalAdvance(QStringLiteral("00.00.00  00:00:00 ")) + margins);
    } else if (column == CFileListCtrl::kSizeColumn) {
        width = std::max(width,
                         metrics.horizontalAdvance(QStringLiteral("0000000000 Bytes")) + margins);
    }
    return width;
}

void TwinListPane::ApplyColumnWidths() {
    for (int column = 0; column < m_list.GetColumnCount(); ++column) {
        setColumnWidth(column, InitialColumnWidth(column));
    }
}

void TwinListPane::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange && m_pModel != nullptr) {
        ApplyColumnWidths();
    }
    QTreeView::changeEvent(event);
}

TwinListPane::~TwinListPane() = default;

void TwinListPane::selectAllRows() {
    selectAll();
}

void TwinListPane::SetFileFilterDialog(CFileFilterDlg* dialog) {
    m_pFilterDlg = dialog;
}

CFileFilterDlg* TwinListPane::FileFilterDialog() {
    if (m_pFilterDlg != nullptr) {
        return m_pFilterDlg;
    }
    if (m_pOwnFilterDlg == nullptr) {
        m_pOwnFilterDlg = new CFileFilterDlg(this);
    }
    return m_pOwnFilterDlg;
}

void TwinListPane::OnFileFilter() {
    CFileFilterDlg* dialog = FileFilterDialog();
    dialog->m_pList = &m_list;
    dialog->exec();
}

void TwinListPane::contextMenuEvent(QContextMenuEvent* event) {
    QPoint position = event->pos();
    QPoint global = event->globalPos();
    if (event->reason() == QContextMenuEvent::Keyboard) {
        // The menu key acts on the current row, with the menu at its start.
        const QModelIndex current = currentIndex();
        if (!current.isValid()) {
            event->accept();
            return;
        }
        const QRect cell = visualRect(current);
        position = cell.center();
        global = viewport()->mapToGlobal(QPoint(cell.left() + 16, cell.bottom()));
    }
    OnContextMenu(position, global);
    event->accept();
}

void TwinListPane::OnContextMenu(const QPoint& viewportPos, const QPoint& globalPos) {
    const QModelIndex hit = indexAt(viewportPos);
    if (!hit.isValid()) {
        return;
    }
    const int row = hit.row();
    const std::string path = m_list.GetRowText(row, CFileListCtrl::kPathColumn);
    const std::optional<RowSource> source = m_list.GetRowSource(row);
    if (path.empty() || !source) {
        return;
    }
    // What the scan saw of the file, to hold against the file that the path
    // names when the user asks to trash it.
    std::optional<std::pair<uint64_t, uint64_t>> scanned;
    if (!m_list.IsBusy()) {
        // Only a scan empties the tree, and it claims the busy flag on this
        // thread first: while the flag is clear the row's ids stay valid.
        scanned.emplace(m_list.m_tree.FileSize(source->file),
                        m_list.m_tree.FileLastWriteTime(source->file));
    }

    CShellItemMenu menu;
    menu.SetPath(path);
    QMenu* popup = menu.BuildMenu(this);
    QAction* chosen = ShellHooks().pickMenuAction ? ShellHooks().pickMenuAction(popup, globalPos)
                                                  : popup->exec(globalPos);
    if (chosen == nullptr || !chosen->isEnabled()) {
        return;
    }
    const int command = chosen->data().toInt();
    if (command == kCmdOpenFolder) {
        OpenFolderOf(path);
        return;
    }
    if (command == kCmdMoveToTrash && !StillAsScanned(path, scanned)) {
        return;
    }
    const std::optional<FileIdentity> before =
        command == kCmdMoveToTrash ? IdentityOf(path) : std::nullopt;
    if (menu.CarryOut(this, command) == kCmdMoveToTrash) {
        RemoveTrashedFile(row, path, *source, before);
    }
}

bool TwinListPane::StillAsScanned(const std::string& path,
                                  const std::optional<std::pair<uint64_t, uint64_t>>& scanned) {
    if (!scanned) {
        return true;  // the trash still checks that the path is the file shown
    }
    const std::optional<FileIdentity> now = IdentityOf(path);
    if (now && now->size == scanned->first && now->mtime == scanned->second) {
        return true;
    }
    // The row shows a file that is no longer there as it was scanned; the
    // user would trash something other than what the list shows.
    const QString title = tr("Move to Trash");
    const QString text =
        tr("\"%1\" has changed or gone since the scan and was not moved to the trash.")
            .arg(QFile::decodeName(QByteArray::fromStdString(path)));
    if (ShellHooks().showError) {
        ShellHooks().showError(this, title, text);
    } else {
        QMessageBox::warning(this, title, text);
    }
    return false;
}

void TwinListPane::OpenFolderOf(const std::string& path) {
    std::string folder(FolderOfPath(path));
    // A file right below the root has the root as its folder, not nothing.
    if (folder.empty() && path.starts_with(kPathSeparator)) {
        folder = std::string(1, kPathSeparator);
    }
    if (!folder.empty()) {
        OpenWithDefaultHandler(folder);
    }
}

void TwinListPane::RemoveTrashedFile(int rowWhenShown, const std::string& path,
                                     const RowSource& source,
                                     const std::optional<FileIdentity>& trashed) {
    if (m_list.IsBusy() || m_list.IsSearching()) {
        // The worker owns the tree now; the row goes once it has finished.
        if (trashed) {
            m_pendingRemovals.push_back({path, trashed->size, trashed->mtime});
            m_pendingTimer.start();
        }
        return;
    }
    auto isThatFile = [&](int row) {
        const std::optional<RowSource> now = m_list.GetRowSource(row);
        return now && now->group == source.group && now->file == source.file &&
               m_list.GetRowText(row, CFileListCtrl::kPathColumn) == path;
    };
    int row = rowWhenShown;
    if (!isThatFile(row)) {
        // A worker changed the rows while the menu was open: look for the
        // file's row; the path check keeps a new tree's equal ids out.
        row = -1;
        const int count = m_list.GetItemCount();
        for (int candidate = 0; candidate < count; ++candidate) {
            if (isThatFile(candidate)) {
                row = candidate;
                break;
            }
        }
    }
    if (row >= 0 && m_list.RemoveTrashedRow(row, path)) {
        m_pModel->ApplyPendingChanges();
    }
}

void TwinListPane::ApplyPendingRemovals() {
    if (m_list.IsBusy() || m_list.IsSearching()) {
        return;  // the timer asks again
    }
    m_pendingTimer.stop();
    std::vector<PendingRemoval> pending;
    pending.swap(m_pendingRemovals);
    // No worker runs and none starts before this returns: the rows' ids are
    // valid and the tree can be read. A row is the trashed file when its path
    // and its scanned size and time are the trashed file's.
    for (const PendingRemoval& removal : pending) {
        const int count = m_list.GetItemCount();
        for (int row = 0; row < count; ++row) {
            const std::optional<RowSource> source = m_list.GetRowSource(row);
            if (source && m_list.GetRowText(row, CFileListCtrl::kPathColumn) == removal.path &&
                m_list.m_tree.FileSize(source->file) == removal.size &&
                m_list.m_tree.FileLastWriteTime(source->file) == removal.mtime) {
                m_list.RemoveTrashedRow(row, removal.path);
                break;
            }
        }
    }
    m_pModel->ApplyPendingChanges();
}

}  // namespace quarn
