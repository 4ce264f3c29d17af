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
// TwinListModel about 30 times a second). A right click on a row shows the
// file's context menu; "Open Folder" opens the folder that holds the file,
// and a file moved to the trash from the menu loses its row (at once, or
// when a scan or search that runs meanwhile has finished).
//
// Lifetime: the list must outlive the pane. A frame that holds the list as a
// member deletes the pane in its own destructor, before its members go. The
// list keeps the process-wide icon table (MimeIconProvider::Shared()).

#include <QTimer>
#include <QTreeView>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "duplicates/TwinListView.h"
#include "duplicates/ui/MimeIconProvider.h"
#include "platform/Trash.h"

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

  protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void ApplyColumnWidths();
    void OpenFolderOf(const std::string& path);
    // False (and the user told) when the file at `path` is no longer the
    // size and time (`scanned`) that its row shows.
    bool StillAsScanned(const std::string& path,
                        const std::optional<std::pair<uint64_t, uint64_t>>& scanned);
    // The file of a row was trashed: finds its row now (rows may have moved
    // while the menu was open) and removes it; never another file's row.
    // `trashed` is what the file was just before it went to the trash.
    void RemoveTrashedFile(int rowWhenShown, const std::string& path, const RowSource& source,
                           const std::optional<FileIdentity>& trashed);
    // Removals that waited for a worker to finish.
    void ApplyPendingRemovals();

    CTwinListView& m_list;
    TwinListModel* m_pModel = nullptr;  // owned through QObject parenthood
    CFileFilterDlg* m_pFilterDlg = nullptr;
    CFileFilterDlg* m_pOwnFilterDlg = nullptr;  // child of the pane

    struct PendingRemoval {
        std::string path;
        uint64_t size;
        uint64_t mtime;
    };
    std::vector<PendingRemoval> m_pendingRemovals;
    QTimer m_pendingTimer;
};

}  // namespace quarn
