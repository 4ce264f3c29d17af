#pragma once
// The Dupmatch pane: the twin list (CFileListCtrl) over a TwinScanner, with
// the columns File, Path, Size, Modified and Content, one row per file.
//
// Rows appear while a scan or a search fills the list (replayed by
// TwinListModel about 30 times a second); a thin line stands above the first
// row of each group. "Move to Trash" (the file's menu, or the Delete key)
// acts on the selection when the row is part of it: it asks once, with the
// number of files and their bytes, asks again for hard links (they free no
// space), and then re-checks and trashes each file (TwinTrash); the user is
// told which files stayed and why, and what went is announced through
// DiskChanges. It waits until no scan, search or verification is at work.
// The pane follows every announcement: files that left the disk, from any
// pane, leave their groups and rows.
//
// Twin folders lead the list after a content search, one row per folder:
// "Open Folder" opens the folder itself, and Move to Trash re-checks all of
// it and announces it as a folder that went, with everything inside.
//
// "Replace Copies with Hard Links..." and "... with Clones..." (the file's
// menu, and the frame's Tools menu through TwinCommands) act on the copies
// among the rows once a verification or a content search has given
// verdicts: one question with the number of copies and the bytes they free
// at most, then the engine's job, whose progress is its status. When it
// ends the rows are read anew (a copy now reads "hard link"), the copies'
// folders are announced as changed, and what was skipped or failed is told
// in one message (TwinListReplace.cpp).
//
// Lifetime: the engine and the announcements must outlive the pane. The
// process-wide icon table (MimeIconProvider::Shared()) gives the icons.

#include <string>
#include <vector>

#include "controls/DiskChanges.h"
#include "duplicates/TwinScanner.h"
#include "duplicates/ui/FileListCtrl.h"
#include "duplicates/ui/MimeIconProvider.h"

namespace quarn {

class CFileFilterDlg;
class EngineSignals;
class TwinListModel;

class CTwinListView : public CFileListCtrl {
    Q_OBJECT

  public:
    CTwinListView(TwinScanner& twins, EngineSignals& twinEvents, DiskChanges& diskChanges,
                  QWidget* parent = nullptr);
    ~CTwinListView() override;

    TwinScanner& Twins() const { return m_twins; }
    TwinListModel* Model() const { return m_pModel; }

    // Starts a duplicate scan of `request` (the Scan command in Dupmatch).
    void StartScan(const ScanRequest& request);

    // Selects every row (Ctrl+A does the same).
    void selectAllRows();
    // Selects the first row of `path` alone and scrolls to it; false when
    // no row has it.
    bool ShowPath(const std::string& path);
    // Selects every copy beyond the one to keep in each identical set
    // (after a verification); returns how many rows it selected.
    int SelectCopies(TwinScanner::KeepRule keep);
    // Moves the files of `rows` (rows the view shows now) to the trash as
    // described above.
    void MoveRowsToTrash(const std::vector<int>& rows) override;

    // The file each identical set keeps when copies are replaced (the
    // "Keep in Each Set" choice); the oldest unless set.
    void SetKeepRule(TwinScanner::KeepRule keep) { m_keep = keep; }
    // The replacements for the copies among `rows`; empty while the list
    // shows no verdicts or a job is at work.
    std::vector<CopyReplacement> ReplacementPlan(const std::vector<int>& rows) const;
    // The selection holds a copy that can be replaced now.
    bool MayReplaceSelectedCopies() const { return !ReplacementPlan(SelectedRows()).empty(); }
    // Asks, then starts replacing the copies among `rows` (or the selected
    // rows) as described above; false when nothing started.
    bool ReplaceCopies(ReplaceMethod method, const std::vector<int>& rows);
    bool ReplaceSelectedCopies(ReplaceMethod method);

    // The dialog that OnFileFilter opens; not owned. Without one the pane
    // makes its own on first use.
    void SetFileFilterDialog(CFileFilterDlg* dialog);
    CFileFilterDlg* FileFilterDialog();
    // Opens the File Filter dialog on this list, modally.
    void OnFileFilter();

  Q_SIGNALS:
    // A message for the status bar (what Select Copies did).
    void statusMessage(const QString& text);
    // A replacement job has ended and the pane shows its outcome.
    void copiesReplaced();

  protected:
    std::string PathOfRow(int row) const override;
    std::string FolderToOpen(int row) const override;
    bool MayMoveToTrash() const override { return !m_twins.IsWorking(); }
    void SyncRows() override;
    void keyPressEvent(QKeyEvent* event) override;
    void AddRowCommands(QMenu* menu, QAction* after, const std::vector<int>& rows) override;
    bool CarryOutRowCommand(int command, const std::vector<int>& rows) override;

  private:
    void OnPathsRemoved(const std::vector<RemovedPath>& removed);
    // The end of a replacement job: rows, announcements, the message.
    void OnReplaceEnded();
    bool Confirm(const QString& title, const QString& text);
    void ShowError(const QString& title, const QString& text);

    TwinScanner& m_twins;
    DiskChanges& m_diskChanges;
    TwinListModel* m_pModel = nullptr;  // owned through QObject parenthood
    CFileFilterDlg* m_pFilterDlg = nullptr;
    CFileFilterDlg* m_pOwnFilterDlg = nullptr;  // child of the pane
    // Files that left the disk while a job held the index: forgotten when it ends.
    std::vector<std::string> m_pendingFiles;
    std::vector<std::string> m_pendingFolders;
    TwinScanner::KeepRule m_keep = TwinScanner::KeepRule::Oldest;
    bool m_replacing = false;  // this pane started a replacement that has not been shown
};

}  // namespace quarn
