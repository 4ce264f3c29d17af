#pragma once
// A report-style file list: one row per file, columns that keep their place
// (a heading click sorts nothing; dividers are dragged), the Path column
// taking the width the window has to spare until the user sizes it, and the
// file's context menu on a right click: "Open Folder" first, then the
// desktop's commands for the file. The twin list (CTwinListView) is one.
//
// Interface thread only.

#include <QTreeView>

#include <string>
#include <vector>

class QAction;
class QMenu;

namespace quarn {

class CFileListCtrl : public QTreeView {
    Q_OBJECT

  public:
    explicit CFileListCtrl(QWidget* parent = nullptr);
    ~CFileListCtrl() override;

    // The columns' widths: File 160, Path 340, Size 75, Modified 110 and
    // Content 80 pixels, the right-aligned ones and Content grown to hold
    // their usual texts in the list's font. Called once the model is set.
    void SetupColumns();
    // The width a column starts with for the list's font (the user may drag it).
    int InitialColumnWidth(int column) const;

    // A context-menu request at `viewportPos` (viewport coordinates); the
    // menu is shown at `globalPos`. Nothing happens below the last row.
    void OnContextMenu(const QPoint& viewportPos, const QPoint& globalPos);

  protected:
    // The full path of the file in `row` (raw bytes); empty for none.
    virtual std::string PathOfRow(int row) const = 0;
    // The folder "Open Folder" opens for `row`: the one holding its file.
    virtual std::string FolderToOpen(int row) const;
    // Whether "Move to Trash" may be chosen now, and carrying it out on the
    // rows it applies to (the selection when the row is part of it).
    virtual bool MayMoveToTrash() const { return false; }
    virtual void MoveRowsToTrash(const std::vector<int>& rows) { (void)rows; }
    // Called before a row is read for a menu: the rows the view shows must
    // be the data's.
    virtual void SyncRows() {}
    // The list's own commands in a row's menu, after "Move to Trash"; they
    // act on `rows` (the selection when the row is part of it). A chosen one
    // comes back to CarryOutRowCommand with its action's data; that returns
    // false for any id it did not add.
    virtual void AddRowCommands(QMenu* menu, QAction* after, const std::vector<int>& rows) {
        (void)menu, (void)after, (void)rows;
    }
    virtual bool CarryOutRowCommand(int command, const std::vector<int>& rows) {
        (void)command, (void)rows;
        return false;
    }
    std::vector<int> SelectedRows() const;

    void contextMenuEvent(QContextMenuEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    // Gives the Path column the width the others leave, unless the user
    // sized it.
    void FitPathColumn();

    bool m_pathWidthChosen = false;  // the user dragged the Path divider
    bool m_settingWidths = false;    // our own resizing, not the user's
};

}  // namespace quarn
