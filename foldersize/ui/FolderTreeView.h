#pragma once
// The folder-size pane's window: a tree view over a CFolderSizeView with the
// columns Name (taking the width the others leave), Size and %, the bar
// painting, the header that sorts the top level and carries the sort mark,
// and the folder context menu (Explore, Copy to..., Move to..., Delete,
// Refresh, Properties; Del and F5 run Delete and Refresh on the current
// item).
//
// On a files item, Copy to, Move to and Delete act on exactly the loose
// files it sums, listed again and compared with the item first; Explore and
// Properties open its folder. After every action the tree is made true at
// once: what left the disk leaves the tree with the ancestors updated, and a
// folder of the tree that received something is refreshed in place. While a
// scan or a refresh runs, the actions that change the disk are refused with
// "App is busy..".
//
// UI thread only. The view does not own the CFolderSizeView, which must
// outlive it.

#include <QTreeView>

#include <string>

#include <optional>

#include "foldersize/FolderSizeView.h"
#include "foldersize/LooseFiles.h"

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

    // Refresh: rescans the folder of `item` in place; on the scan root, asks
    // for a new scan (rescanRequested, or the view's own scan when nobody
    // listens).
    void RefreshItem(NodeHandle item);
    // Delete: moves the folder of `item`, or a files item's loose files, to
    // the trash after asking, and updates the tree.
    void DeleteItem(NodeHandle item);

  Q_SIGNALS:
    // A short text for the status bar ("aborted" after a failed operation).
    void statusMessage(const QString& text);
    // A new scan of the scanned folder is wanted (Refresh on the scan root).
    void rescanRequested();

  protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    // Dotted lines join every item to its parent and its siblings, under the
    // style's own expand buttons.
    void drawBranches(QPainter* painter, const QRect& rect,
                      const QModelIndex& index) const override;

  private:
    enum class Command { None, Explore, CopyTo, MoveTo, Delete, Refresh, Properties };
    // `pathHere`: the item's folder exists on this machine (an imported tree
    // may come from another); otherwise nothing can be chosen.
    Command PickCommand(const QPoint& globalPos, bool pathHere);
    void CopyOrMove(NodeHandle item, const std::string& path, bool move);
    // True (and "App is busy.." shown) while a walk runs.
    bool RefuseWhileBusy();
    // A files item's loose files, listed now; nothing (and the user told
    // why) when they cannot be read or are not what the item sums.
    std::optional<LooseFiles> LooseFilesOf(NodeHandle filesItem, const std::string& folder);
    // After an operation that may have changed the subtree of `changed`
    // and the folder `target` (either may be missing): refreshes the
    // smallest folder of the tree that holds both.
    void RefreshAfter(NodeHandle changed, const std::string& target);
    void Rescan();
    // Shows what the store changed now, not at the next refresh.
    void ShowChanges();

    CFolderSizeView& m_scan;
    CFolderTreeModel* m_model;
    CTreeListDelegate* m_delegate;
    CTreeListHeader* m_header;
};

}  // namespace quarn
