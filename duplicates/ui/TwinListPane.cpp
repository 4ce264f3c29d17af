#include "duplicates/ui/TwinListPane.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QFile>
#include <QFontMetrics>
#include <QHeaderView>
#include <QItemSelection>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QStyle>
#include <algorithm>

#include "controls/FileNameText.h"
#include "controls/ItemMenuPlace.h"
#include "controls/ShellItemMenu.h"
#include "controls/ShellOperations.h"
#include "duplicates/ui/TwinListModel.h"
#include "duplicates/ui/TwinRowDelegate.h"
#include "filter/ui/CFileFilterDlg.h"
#include "foldersize/SizeText.h"
#include "platform/PathRules.h"

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
    setItemDelegate(new TwinRowDelegate(this));
    ApplyColumnWidths();
    connect(heading, &QHeaderView::sectionResized, this, [this](int section, int, int) {
        if (m_settingWidths) {
            return;
        }
        if (section == CFileListCtrl::kPathColumn) {
            m_pathWidthChosen = true;
        } else {
            FitPathColumn();
        }
    });
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
    } else if (column == CFileListCtrl::kContentColumn) {
        width = std::max(width, metrics.horizontalAdvance(QStringLiteral("identical")) + margins);
    }
    return width;
}

void TwinListPane::ApplyColumnWidths() {
    m_settingWidths = true;
    for (int column = 0; column < m_list.GetColumnCount(); ++column) {
        setColumnWidth(column, InitialColumnWidth(column));
    }
    m_settingWidths = false;
    FitPathColumn();
}

void TwinListPane::FitPathColumn() {
    if (m_pathWidthChosen || m_pModel == nullptr) {
        return;
    }
    int others = 0;
    for (int column = 0; column < m_list.GetColumnCount(); ++column) {
        if (column != CFileListCtrl::kPathColumn) {
            others += columnWidth(column);
        }
    }
    const int width =
        std::max(InitialColumnWidth(CFileListCtrl::kPathColumn), viewport()->width() - others);
    if (width != columnWidth(CFileListCtrl::kPathColumn)) {
        m_settingWidths = true;
        setColumnWidth(CFileListCtrl::kPathColumn, width);
        m_settingWidths = false;
    }
}

void TwinListPane::resizeEvent(QResizeEvent* event) {
    QTreeView::resizeEvent(event);
    FitPathColumn();
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
    if (const std::optional<ItemMenuPlace> place = PlaceItemMenu(*this, *event)) {
        OnContextMenu(place->viewportPos, place->globalPos);
    }
    event->accept();
}

void TwinListPane::OnContextMenu(const QPoint& viewportPos, const QPoint& globalPos) {
    // The rows the view shows must be the store's before a row is read.
    m_pModel->ApplyPendingChanges();
    const QModelIndex hit = indexAt(viewportPos);
    if (!hit.isValid()) {
        return;
    }
    const int row = hit.row();
    const std::string path = m_list.GetRowText(row, CFileListCtrl::kPathColumn);
    if (path.empty()) {
        return;
    }
    CShellItemMenu menu;
    menu.SetPath(path);
    QMenu* popup = menu.BuildMenu(this);
    for (QAction* action : popup->actions()) {
        // The trash re-checks the scan's records, which a worker may be
        // replacing: it waits until no worker runs.
        if (action->data().toInt() == kCmdMoveToTrash && m_list.IsWorking()) {
            action->setEnabled(false);
        }
    }
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
    if (command == kCmdMoveToTrash) {
        // The selection, when the row is part of it; otherwise the row alone.
        std::vector<int> rows = SelectedRows();
        if (std::find(rows.begin(), rows.end(), row) == rows.end()) {
            rows = {row};
        }
        MoveRowsToTrash(rows);
        return;
    }
    menu.CarryOut(this, command);
}

void TwinListPane::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Delete && event->modifiers() == Qt::NoModifier) {
        // A replay that changes the rows clears the selection: never trash
        // the files of rows the user did not see selected.
        m_pModel->ApplyPendingChanges();
        MoveRowsToTrash(SelectedRows());
        event->accept();
        return;
    }
    QTreeView::keyPressEvent(event);
}

std::vector<int> TwinListPane::SelectedRows() const {
    std::vector<int> rows;
    for (const QModelIndex& index : selectionModel()->selectedRows()) {
        rows.push_back(index.row());
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

bool TwinListPane::Confirm(const QString& text) {
    const QString title = tr("Move to Trash");
    if (ShellHooks().confirm) {
        return ShellHooks().confirm(this, title, text);
    }
    return QMessageBox::question(this, title, text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

void TwinListPane::ShowError(const QString& text) {
    const QString title = tr("Move to Trash");
    if (ShellHooks().showError) {
        ShellHooks().showError(this, title, text);
    } else {
        QMessageBox::warning(this, title, text);
    }
}

void TwinListPane::MoveRowsToTrash(const std::vector<int>& rows) {
    if (rows.empty()) {
        return;
    }
    if (m_list.IsWorking()) {
        ShowError(
            tr("Files can be moved to the trash once the scan, search or verification "
               "has ended."));
        return;
    }
    std::vector<RowSource> files;
    for (int row : rows) {
        if (std::optional<RowSource> source = m_list.GetRowSource(row)) {
            files.push_back(*source);
        }
    }
    if (files.empty()) {
        return;
    }
    auto nameOf = [this](const RowSource& source) {
        return FileNameText(m_list.m_tree.GroupName(source.group));
    };
    CTwinListView::TrashPlan plan = m_list.PlanTrash(files);
    const QString question =
        files.size() == 1
            ? tr("Do you really want to move \"%1\" to the trash?").arg(nameOf(files[0]))
            : tr("Do you really want to move these %1 files (%2) to the trash?")
                  .arg(files.size())
                  .arg(QString::fromStdString(FormatSize(plan.bytes)));
    if (!Confirm(question)) {
        return;
    }
    if (plan.freeingNothing > 0) {
        const QString again =
            plan.freeingNothing == 1
                ? tr("\"%1\" is a hard link of a file that stays: moving it to the trash frees "
                     "no space. Move it anyway?")
                      .arg(nameOf(files[std::find(plan.freesNothing.begin(),
                                                  plan.freesNothing.end(), true) -
                                        plan.freesNothing.begin()]))
                : tr("%1 of these files are hard links of files that stay: moving them to the "
                     "trash frees no space. Move them anyway?")
                      .arg(plan.freeingNothing);
        if (!Confirm(again)) {
            std::vector<RowSource> freeing;
            for (size_t i = 0; i < files.size(); ++i) {
                if (!plan.freesNothing[i]) {
                    freeing.push_back(files[i]);
                }
            }
            files.swap(freeing);
        }
    }
    const std::vector<CTwinListView::TrashOutcome> outcomes = m_list.TrashFiles(files);
    m_pModel->ApplyPendingChanges();

    QStringList kept;
    for (const CTwinListView::TrashOutcome& outcome : outcomes) {
        if (outcome.verdict != CTwinListView::TrashVerdict::Trashed) {
            kept << tr("\"%1\": %2")
                        .arg(FileNameText(outcome.path), QString::fromStdString(outcome.reason));
        }
    }
    if (kept.isEmpty()) {
        return;
    }
    constexpr int kListed = 12;  // a long list would not fit the screen
    const qsizetype shown = std::min<qsizetype>(kept.size(), kListed);
    QString text = outcomes.size() == 1 ? tr("This file was not moved to the trash:")
                                        : tr("%1 of %2 files were not moved to the trash:")
                                              .arg(kept.size())
                                              .arg(outcomes.size());
    text += QLatin1Char('\n') + kept.mid(0, shown).join(QLatin1Char('\n'));
    if (kept.size() > shown) {
        text += QLatin1Char('\n') + tr("and %1 more").arg(kept.size() - shown);
    }
    ShowError(text);
}

int TwinListPane::SelectCopies(CTwinListView::KeepRule keep) {
    m_pModel->ApplyPendingChanges();
    const std::vector<int> rows = m_list.CopyRows(keep);
    QItemSelection selection;
    uint64_t bytes = 0;
    for (int row : rows) {
        if (row >= m_pModel->rowCount()) {
            continue;
        }
        selection.select(m_pModel->index(row, 0),
                         m_pModel->index(row, m_pModel->columnCount() - 1));
        if (std::optional<RowSource> source = m_list.GetRowSource(row)) {
            bytes += m_list.m_tree.FileSize(source->file);
        }
    }
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    if (!rows.empty()) {
        scrollTo(m_pModel->index(rows.front(), 0));
        Q_EMIT statusMessage(tr("Selected %1 copies [%2]; one file of each identical set stays "
                                "unselected")
                                 .arg(rows.size())
                                 .arg(QString::fromStdString(FormatSize(bytes))));
    } else {
        Q_EMIT statusMessage(m_list.HasVerdicts()
                                 ? tr("No identical copies to select")
                                 : tr("No identical copies to select: verify the contents first"));
    }
    return int(rows.size());
}

void TwinListPane::OpenFolderOf(const std::string& path) {
    const std::string folder(FolderOfPath(path));
    if (!folder.empty()) {
        OpenWithDefaultHandler(folder);
    }
}

}  // namespace quarn
