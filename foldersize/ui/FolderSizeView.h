#pragma once
// The Dirmass pane: the tree list (CTreeListCtrl) over the folder tree of a
// FolderScanner, with the columns Name (taking the width the others leave),
// Size and %, and the folder context menu (Explore, Copy to..., Move to...,
// Delete, Refresh, Properties; Del and F5 run Delete and Refresh on the
// current item).
//
// On a files item, Copy to, Move to and Delete act on exactly the loose
// files it sums, listed again and compared with the item first; Explore and
// Properties open its folder. What an action took off the disk or put into
// a folder is announced through DiskChanges, and the pane follows every
// announcement, its own and the other panes' alike: a folder or a folder's
// loose files that left leave the tree at once with the ancestors updated;
// anything else (a single file, a folder that received something) has its
// folder walked again in place, one after another once no walk runs. While
// a scan or a refresh runs, the actions that change the disk are refused
// with "App is busy..".
//
// Twin folders (SetTwinMarks, from a content search): the model marks them,
// the column "Copies" shows while there are marks, and the menu gains "Show
// Twin", which selects a marked folder's next copy in the tree, or asks for
// it elsewhere (twinOutsideTree) when the tree does not hold it. A new scan
// drops the marks, and so does an announcement that may make a folder no
// copy.
//
// A comparison (ShowComparison): the column "Change" shows, each removed
// folder gets a node under its parent (size 0, struck through, no actions),
// and the treemap may colour by growth (GrowthTileColour). A new scan ends
// it; changes after it (a deletion, a refresh) are not followed: compare
// again.
//
// UI thread only. The scanner and the announcements must outlive the pane.

#include <QStringList>

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "controls/DiskChanges.h"
#include "foldersize/FolderScanner.h"
#include "foldersize/LooseFiles.h"
#include "foldersize/TwinFolderMarks.h"
#include "foldersize/ui/TreeListCtrl.h"
#include "foldersize/ui/TreemapPainter.h"
#include "history/ShownComparison.h"

namespace quarn {

class EngineSignals;

class CFolderSizeView : public CTreeListCtrl {
    Q_OBJECT
  public:
    // Makes the columns "Name" (260 pixels), "Size" (100), "%" (100) and,
    // hidden until there are marks, "Copies" (100), and paints the bar in "%".
    CFolderSizeView(FolderScanner& scanner, EngineSignals& scanEvents, DiskChanges& diskChanges,
                    UserMessagePresenter presenter, QWidget* parent = nullptr);
    ~CFolderSizeView() override;

    FolderScanner& Scanner() const { return m_scanner; }

    // Starts the scan `request` describes (a folder, an import, a combined
    // scan). The sort mark goes with the old tree.
    void StartScan(const ScanRequest& request);

    // The folder picker of Copy to... and Move to...: "Select a directory...";
    // empty when cancelled.
    std::string BrowseForFolder();

    // The context menu for the item under `pos` (viewport coordinates):
    // selects it (or clears the selection), then shows the menu when the item
    // has a folder, and carries out the chosen command.
    void OnContextMenu(const QPoint& pos);

    // Refresh: rescans the folder of `item` in place; on the scan root, asks
    // for a new scan (rescanRequested).
    void RefreshItem(NodeHandle item);
    // Delete: moves the folder of `item`, or a files item's loose files, to
    // the trash after asking, and announces what went.
    void DeleteItem(NodeHandle item);

    // Folders waiting to be walked again (tests wait for none).
    size_t PendingRefreshes() const { return m_pendingRefresh.size(); }

    // The twin folders to mark, in place of any before.
    void SetTwinMarks(TwinFolderMarks marks);
    const TwinFolderMarks& TwinMarks() const { return m_twinMarks; }
    // Show Twin: selects the next copy of the marked folder of `item` and
    // scrolls to it; one the tree does not show goes to twinOutsideTree.
    void ShowTwin(NodeHandle item);

    // Shows `comparison` of the shown tree with the export `earlierFile`, in
    // place of any before.
    void ShowComparison(std::shared_ptr<const FolderComparison> comparison,
                        std::string earlierFile);
    void EndComparison();
    bool IsComparing() const { return m_comparison.comparison != nullptr; }
    const ShownComparison& Comparison() const { return m_comparison; }
    // Each folder's items by change, grown most first, or by size again.
    void SetOrderByChange(bool byChange);
    bool IsOrderedByChange() const { return m_orderByChange; }
    // The treemap's tile colours of the comparison; empty without one.
    TreemapPainter::TileColour GrowthTileColour() const;

  Q_SIGNALS:
    // A short text for the status bar ("aborted" after a failed operation).
    void statusMessage(const QString& text);
    // A new scan of the scanned folder is wanted (Refresh on the scan root,
    // or a change of its own loose files).
    void rescanRequested();
    // The marks changed (the treemap outlines the marked folders).
    void twinMarksChanged();
    // A comparison began or ended.
    void comparisonChanged();
    // Show Twin's copy lies outside the shown tree.
    void twinOutsideTree(const std::string& path);

  protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    enum class Command { None, Explore, ShowTwin, CopyTo, MoveTo, Delete, Refresh, Properties };
    // `pathHere`: the item's folder exists on this machine (an imported tree
    // may come from another); otherwise nothing can be chosen but Show
    // Twin. `twin`: whether the item is a marked folder; without marks the
    // menu has no Show Twin.
    Command PickCommand(const QPoint& globalPos, bool pathHere, bool twin);
    void CopyOrMove(NodeHandle item, const std::string& path, bool move);
    // True (and "App is busy.." shown) while a walk runs.
    bool RefuseWhileBusy();
    // A files item's loose files, listed now; nothing (and the user told
    // why) when they cannot be read or are not what the item sums.
    std::optional<LooseFiles> LooseFilesOf(NodeHandle filesItem, const std::string& folder);

    // --- Following the announcements ----------------------------------------
    void OnPathsRemoved(const std::vector<RemovedPath>& removed);
    void OnFolderChanged(const std::string& folder);
    // Removes a folder's node when it stands for exactly `path`; otherwise
    // its deepest folder in the tree waits to be walked again.
    void FollowRemovedFolder(const std::string& path);
    // `count` loose files of `folder` left the disk.
    void FollowRemovedFiles(const std::string& folder, size_t count);
    void QueueRefresh(NodeHandle folder);
    // Starts the next waiting refresh once no walk runs.
    void RefreshNextPending();
    // Shows what the store changed now, not at the next refresh.
    void ShowChanges();
    // The column, the images and the treemap follow the marks.
    void ShowTwinMarks();

    FolderScanner& m_scanner;
    DiskChanges& m_diskChanges;
    UserMessagePresenter m_presenter;
    std::deque<std::string> m_pendingRefresh;  // folder paths
    TwinFolderMarks m_twinMarks;               // the model reads them
    ShownComparison m_comparison;              // the model reads it
    bool m_orderByChange = false;
};

}  // namespace quarn
