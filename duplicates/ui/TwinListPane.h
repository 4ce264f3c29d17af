#pragma once
// The Dupmatch pane: the twin list shown as a report-style list with the
// columns File, Path, Size and Modified, one row per file.
//
// Usage (interface thread):
//     CTwinListView m_twinList;              // the frame's member
//     auto* pane = new TwinListPane(m_twinList, frame);
//     pane->SetFileFilterDialog(&m_fileFilterDlg);   // optional
//     pane->selectAllRows();                 // command "Select All"
//     pane->OnFileFilter();                  // command 32821 from the pane
//
// Rows appear while a scan or a search fills the list (replayed by
// TwinListModel about 30 times a second); a thin line stands above the first
// row of each group. A right click on a row shows the file's context menu;
// "Open Folder" opens the folder that holds the file. "Move to Trash" (also
// the Delete key) acts on the selection when the row is part of it: it asks
// once, with the number of files and their bytes, asks again for hard links
// (they free no space), and then lets the list re-check and trash each file
// (CTwinListView::TrashFiles); the user is told which files stayed and why.
// It waits until no scan, search or verification is at work.
//
// The columns start at the list's widths; the Path column takes the width
// the window has to spare until the user drags its divider.
//
// Lifetime: the list must outlive the pane. A frame that holds the list as a
// member deletes the pane in its own destructor, before its members go. The
// list keeps the process-wide icon table (MimeIconProvider::Shared()).

#include <QTreeView>
#include <string>
#include <vector>

#include "duplicates/TwinListView.h"
#include "duplicates/ui/MimeIconProvider.h"

namespace quarn {

class CFileFilterDlg;
class TwinListModel;

class TwinListPane : public QTreeView {
    Q_OBJECT

  public:
    explicit TwinListPane(CTwinListView& list, QWidget* parent = nullptr);
    ~TwinListPane() override;

    CTwinListView& List() const { return m_list; }
    TwinListModel* Model() const { return m_pModel; }
    QTreeView* view() { return this; }

    // Selects every row (Ctrl+A does the same).
    void selectAllRows();
    // Selects every copy beyond the one to keep in each identical set
    // (after a verification); returns how many rows it selected.
    int SelectCopies(CTwinListView::KeepRule keep);
    // Moves the files of `rows` (rows the view shows now) to the trash as
    // described above.
    void MoveRowsToTrash(const std::vector<int>& rows);

    // The dialog that OnFileFilter opens; not owned. Without one the pane
    // makes its own on first use.
    void SetFileFilterDialog(CFileFilterDlg* dialog);
    CFileFilterDlg* FileFilterDialog();

    // Opens the File Filter dialog on this list, modally.
    void OnFileFilter();

    // A context-menu request at `viewportPos` (viewport coordinates); the
    // menu is shown at `globalPos`. Nothing happens below the last row.
    void OnContextMenu(const QPoint& viewportPos, const QPoint& globalPos);

    // The width a column starts with for the pane's font (the user may drag it).
    int InitialColumnWidth(int column) const;

  Q_SIGNALS:
    // A message for the status bar (what Select Copies did).
    void statusMessage(const QString& text);

  protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void ApplyColumnWidths();
    // Gives the Path column the width the others leave, unless the user
    // sized it.
    void FitPathColumn();
    void OpenFolderOf(const std::string& path);
    std::vector<int> SelectedRows() const;
    bool Confirm(const QString& text);
    void ShowError(const QString& text);

    CTwinListView& m_list;
    TwinListModel* m_pModel = nullptr;  // owned through QObject parenthood
    CFileFilterDlg* m_pFilterDlg = nullptr;
    CFileFilterDlg* m_pOwnFilterDlg = nullptr;  // child of the pane
    bool m_pathWidthChosen = false;             // the user dragged the Path divider
    bool m_settingWidths = false;               // our own resizing, not the user's
};

}  // namespace quarn
