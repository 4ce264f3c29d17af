#pragma once
// The folder-size pane's window: a tree view over a CFolderSizeView with the
// columns Name, Size and %, the bar painting, the header that sorts the top
// level and carries the sort mark, and the folder context menu (Explore,
// Copy to..., Move to..., Delete, Properties).
//
// UI thread only. The view does not own the CFolderSizeView, which must
// outlive it.

#include <QTreeView>

#include <string>

#include "foldersize/FolderSizeView.h"

namespace quarn {

class CFolderTreeModel;
class CTreeListDelegate;
class CTreeListHeader;

class CFolderTreeView : public QTreeView {
    Q_OBJECT
  public:
    explicit CFolderTreeView(CFolderSizeView& scan, QWidget* parent = nullptr);
    ~CFolderTreeView() override;

    CFolderSizeView& Scan() const { return m_scan; }
    CFolderTreeModel& Model() const { return *m_model; }
    CTreeListHeader& Header() const { return *m_header; }
    CTreeListDelegate& Delegate() const { return *m_delegate; }

    // Starts a scan of `path` (the top level is the parent item). The mark is
    // cleared by the scan itself.
    void StartScan(const std::string& path);

    // Sorts the scan root's children (column 0 by name, the others by
    // percentage) and moves the header's mark to `column`.
    void SortByColumn(int column);

    // The folder picker of Copy to... and Move to...: "Select a directory...";
    // empty when cancelled.
    std::string BrowseForFolder();

    // The context menu for the item under `pos` (viewport coordinates):
    // selects it (or clears the selection), then shows the menu when the item
    // has a folder, and carries out the chosen command.
    void ShowContextMenu(const QPoint& pos);

  Q_SIGNALS:
    // A short text for the status bar ("aborted" after a failed operation).
    void statusMessage(const QString& text);

  protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    // Dotted lines join every item to its parent and its siblings, under the
    // style's own expand buttons.
    void drawBranches(QPainter* painter, const QRect& rect,
                      const QModelIndex& index) const override;

  private:
    enum class Command { None, Explore, CopyTo, MoveTo, Delete, Properties };
    Command PickCommand(const QPoint& globalPos);
    void RemoveItem(HTREEITEM item);

    CFolderSizeView& m_scan;
    CFolderTreeModel* m_model;
    CTreeListDelegate* m_delegate;
    CTreeListHeader* m_header;
};

}  // namespace quarn
