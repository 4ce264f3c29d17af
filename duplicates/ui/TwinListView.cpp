#include "duplicates/ui/TwinListView.h"

#include <QItemSelection>
#include <QKeyEvent>
#include <QMessageBox>
#include <algorithm>

#include "controls/EngineSignals.h"
#include "controls/FileNameText.h"
#include "controls/ShellOperations.h"
#include "duplicates/TwinTrash.h"
#include "duplicates/ui/TwinListModel.h"
#include "filter/ui/CFileFilterDlg.h"
#include "foldersize/SizeText.h"
#include "platform/ByteSum.h"

namespace quarn {

CTwinListView::CTwinListView(TwinScanner& twins, EngineSignals& twinEvents,
                             DiskChanges& diskChanges, QWidget* parent)
    : CFileListCtrl(parent), m_twins(twins), m_diskChanges(diskChanges) {
    MimeIconProvider::EnsureIconTheme();
    // The table lives as long as the process: the model looks icons up in it.
    m_pModel = new TwinListModel(m_twins, &MimeIconProvider::Shared(), this);
    setModel(m_pModel);
    SetupColumns();
    connect(&diskChanges, &DiskChanges::pathsRemoved, this, &CTwinListView::OnPathsRemoved);
    // What left the disk while a job held the index is forgotten once it ends.
    connect(&twinEvents, &EngineSignals::idle, this, [this] {
        if ((!m_pendingFiles.empty() || !m_pendingFolders.empty()) &&
            m_twins.ForgetPaths(m_pendingFiles, m_pendingFolders)) {
            m_pendingFiles.clear();
            m_pendingFolders.clear();
            m_pModel->ApplyPendingChanges();
        }
    });
    connect(&twinEvents, &EngineSignals::idle, this, &CTwinListView::OnReplaceEnded);
}

CTwinListView::~CTwinListView() = default;

void CTwinListView::StartScan(const ScanRequest& request) {
    m_twins.StartScan(request);
}

void CTwinListView::selectAllRows() {
    selectAll();
}

std::string CTwinListView::PathOfRow(int row) const {
    const std::optional<TwinRow> shown = m_twins.RowAt(row);
    return shown ? shown->path : std::string();
}

std::string CTwinListView::FolderToOpen(int row) const {
    const std::optional<TwinRow> shown = m_twins.RowAt(row);
    if (shown && shown->content == Content::Folder) {
        return shown->path;  // a twin folder opens itself
    }
    return CFileListCtrl::FolderToOpen(row);
}

bool CTwinListView::ShowPath(const std::string& path) {
    m_pModel->ApplyPendingChanges();
    for (int row = 0; row < m_pModel->rowCount(); ++row) {
        if (PathOfRow(row) == path) {
            const QModelIndex index = m_pModel->index(row, 0);
            selectionModel()->select(
                index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            setCurrentIndex(index);
            scrollTo(index);
            return true;
        }
    }
    return false;
}

void CTwinListView::SyncRows() {
    // The rows the view shows must be the store's before a row is read.
    m_pModel->ApplyPendingChanges();
}

void CTwinListView::OnPathsRemoved(const std::vector<RemovedPath>& removed) {
    for (const RemovedPath& entry : removed) {
        (entry.isFolder ? m_pendingFolders : m_pendingFiles).push_back(entry.path);
    }
    if (m_twins.ForgetPaths(m_pendingFiles, m_pendingFolders)) {
        m_pendingFiles.clear();
        m_pendingFolders.clear();
        m_pModel->ApplyPendingChanges();
    }
}

void CTwinListView::SetFileFilterDialog(CFileFilterDlg* dialog) {
    m_pFilterDlg = dialog;
}

CFileFilterDlg* CTwinListView::FileFilterDialog() {
    if (m_pFilterDlg != nullptr) {
        return m_pFilterDlg;
    }
    if (m_pOwnFilterDlg == nullptr) {
        m_pOwnFilterDlg = new CFileFilterDlg(this);
    }
    return m_pOwnFilterDlg;
}

void CTwinListView::OnFileFilter() {
    FileFilterDialog()->OpenOn(m_twins);
}

void CTwinListView::keyPressEvent(QKeyEvent* event) {
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

bool CTwinListView::Confirm(const QString& title, const QString& text) {
    if (ShellHooks().confirm) {
        return ShellHooks().confirm(this, title, text);
    }
    return QMessageBox::question(this, title, text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

void CTwinListView::ShowError(const QString& title, const QString& text) {
    if (ShellHooks().showError) {
        ShellHooks().showError(this, title, text);
    } else {
        QMessageBox::warning(this, title, text);
    }
}

void CTwinListView::MoveRowsToTrash(const std::vector<int>& rows) {
    if (rows.empty()) {
        return;
    }
    if (m_twins.IsWorking()) {
        ShowError(tr("Move to Trash"),
                  tr("Files can be moved to the trash once the scan, search or verification "
                     "has ended."));
        return;
    }
    std::vector<RowSource> files;
    for (int row : rows) {
        if (std::optional<RowSource> source = m_twins.Rows().GetRowSource(row)) {
            files.push_back(*source);
        }
    }
    if (files.empty()) {
        return;
    }
    auto nameOf = [this](const RowSource& source) {
        return FileNameText(m_twins.Index().GroupName(source.group));
    };
    auto isFolder = [this](const RowSource& source) {
        return m_twins.Index().FileIsFolder(source.file);
    };
    const TwinTrash::Plan plan = TwinTrash::PlanTrash(m_twins, files);
    const size_t folders = size_t(std::count_if(files.begin(), files.end(), isFolder));
    const QString bytes = QString::fromStdString(FormatSize(plan.bytes));
    QString question;
    if (files.size() == 1) {
        question = tr("Do you really want to move \"%1\" to the trash?").arg(nameOf(files[0]));
    } else if (folders == 0) {
        question = tr("Do you really want to move these %1 files (%2) to the trash?")
                       .arg(files.size())
                       .arg(bytes);
    } else if (folders == files.size()) {
        question = tr("Do you really want to move these %1 folders (%2) to the trash?")
                       .arg(folders)
                       .arg(bytes);
    } else {
        question = tr("Do you really want to move these %1 folders and %2 files (%3) to the trash?")
                       .arg(folders)
                       .arg(files.size() - folders)
                       .arg(bytes);
    }
    if (!Confirm(tr("Move to Trash"), question)) {
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
        if (!Confirm(tr("Move to Trash"), again)) {
            std::vector<RowSource> freeing;
            for (size_t i = 0; i < files.size(); ++i) {
                if (!plan.freesNothing[i]) {
                    freeing.push_back(files[i]);
                }
            }
            files.swap(freeing);
        }
    }
    // Asked before the trash: a folder that went leaves the index.
    std::vector<bool> folderRows;
    for (const RowSource& source : files) {
        folderRows.push_back(isFolder(source));
    }
    const std::vector<TwinTrash::Outcome> outcomes = TwinTrash::TrashFiles(m_twins, files);
    m_pModel->ApplyPendingChanges();
    // Every pane follows what went; a folder goes with everything inside.
    std::vector<RemovedPath> removed;
    for (size_t i = 0; i < outcomes.size(); ++i) {
        const TwinTrash::Outcome& outcome = outcomes[i];
        if (outcome.verdict == TwinTrash::Verdict::Trashed) {
            const bool folder = i < folderRows.size() && folderRows[i];
            removed.push_back(RemovedPath{outcome.path, folder, folder ? 0 : outcome.bytes});
        }
    }
    m_diskChanges.AnnounceRemoved(removed);

    QStringList kept;
    for (const TwinTrash::Outcome& outcome : outcomes) {
        if (outcome.verdict != TwinTrash::Verdict::Trashed) {
            kept << tr("\"%1\": %2")
                        .arg(FileNameText(outcome.path), QString::fromStdString(outcome.reason));
        }
    }
    if (kept.isEmpty()) {
        return;
    }
    constexpr int kListed = 12;  // a long list would not fit the screen
    const qsizetype shown = std::min<qsizetype>(kept.size(), kListed);
    const bool onlyFolders =
        std::find(folderRows.begin(), folderRows.end(), false) == folderRows.end();
    QString text;
    if (outcomes.size() == 1) {
        text = onlyFolders ? tr("This folder was not moved to the trash:")
                           : tr("This file was not moved to the trash:");
    } else {
        text = (onlyFolders ? tr("%1 of %2 folders were not moved to the trash:")
                            : tr("%1 of %2 files were not moved to the trash:"))
                   .arg(kept.size())
                   .arg(outcomes.size());
    }
    text += QLatin1Char('\n') + kept.mid(0, shown).join(QLatin1Char('\n'));
    if (kept.size() > shown) {
        text += QLatin1Char('\n') + tr("and %1 more").arg(kept.size() - shown);
    }
    ShowError(tr("Move to Trash"), text);
}

int CTwinListView::SelectCopies(TwinScanner::KeepRule keep) {
    m_pModel->ApplyPendingChanges();
    const std::vector<int> rows = m_twins.CopyRows(keep);
    QItemSelection selection;
    uint64_t bytes = 0;
    for (int row : rows) {
        if (row >= m_pModel->rowCount()) {
            continue;
        }
        selection.select(m_pModel->index(row, 0),
                         m_pModel->index(row, m_pModel->columnCount() - 1));
        if (std::optional<RowSource> source = m_twins.Rows().GetRowSource(row)) {
            AddBytes(bytes, m_twins.Index().FileSize(source->file));
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
        Q_EMIT statusMessage(m_twins.HasVerdicts()
                                 ? tr("No identical copies to select")
                                 : tr("No identical copies to select: verify the contents first"));
    }
    return int(rows.size());
}

}  // namespace quarn
