#include "foldersize/ui/FolderSizeView.h"

#include <sys/stat.h>

#include <QAction>
#include <QContextMenuEvent>
#include <QMenu>

#include <algorithm>
#include <cstring>
#include <map>

#include "controls/EngineSignals.h"
#include "controls/FileNameText.h"
#include "controls/ShellOperations.h"
#include "foldersize/SizeText.h"
#include "foldersize/ui/FolderTreeModel.h"
#include "platform/PathRules.h"

namespace quarn {

CFolderSizeView::CFolderSizeView(FolderScanner& scanner, EngineSignals& scanEvents,
                                 DiskChanges& diskChanges, UserMessagePresenter presenter,
                                 QWidget* parent)
    : CTreeListCtrl(scanner.Tree(), parent),
      m_scanner(scanner),
      m_diskChanges(diskChanges),
      m_presenter(std::move(presenter)) {
    SetPercentColumn(FolderTreeModel::kPercentColumn);
    SetColumnWidths({260, 100, 100, 100, 130});
    Model().SetTwinMarks(&m_twinMarks);
    setColumnHidden(FolderTreeModel::kCopiesColumn, true);
    setColumnHidden(FolderTreeModel::kChangeColumn, true);

    // Del and F5 act on the current item while the tree has the focus.
    auto* remove = new QAction(tr("Delete"), this);
    remove->setShortcut(QKeySequence::Delete);
    remove->setShortcutContext(Qt::WidgetShortcut);
    connect(remove, &QAction::triggered, this,
            [this] { DeleteItem(Model().HandleOf(currentIndex())); });
    addAction(remove);
    auto* refresh = new QAction(tr("Refresh"), this);
    refresh->setShortcut(QKeySequence::Refresh);
    refresh->setShortcutContext(Qt::WidgetShortcut);
    connect(refresh, &QAction::triggered, this,
            [this] { RefreshItem(Model().HandleOf(currentIndex())); });
    addAction(refresh);

    connect(&diskChanges, &DiskChanges::pathsRemoved, this, &CFolderSizeView::OnPathsRemoved);
    connect(&diskChanges, &DiskChanges::folderChanged, this, &CFolderSizeView::OnFolderChanged);
    connect(&scanEvents, &EngineSignals::idle, this, &CFolderSizeView::RefreshNextPending);
}

CFolderSizeView::~CFolderSizeView() = default;

void CFolderSizeView::StartScan(const ScanRequest& request) {
    // A new tree walks the disk as it is now: nothing of the old one waits,
    // and no mark of an earlier search holds.
    m_pendingRefresh.clear();
    SetTwinMarks({});
    EndComparison();
    m_scanner.StartScan(request);
}

void CFolderSizeView::SetTwinMarks(TwinFolderMarks marks) {
    if (marks.Empty() && m_twinMarks.Empty()) {
        return;
    }
    m_twinMarks = std::move(marks);
    ShowTwinMarks();
}

void CFolderSizeView::ShowTwinMarks() {
    setColumnHidden(FolderTreeModel::kCopiesColumn, m_twinMarks.Empty());
    viewport()->update();
    Q_EMIT twinMarksChanged();
}

void CFolderSizeView::ShowTwin(NodeHandle item) {
    const FolderSizeTree& tree = m_scanner.Tree();
    const std::optional<std::string> path =
        Model().TwinMarkOf(item) ? tree.GetItemPath(item) : std::nullopt;
    const std::optional<std::string> copy = path ? m_twinMarks.NextCopy(*path) : std::nullopt;
    if (!copy) {
        return;
    }
    const NodeHandle node = tree.FindFolderItem(*copy);
    const QModelIndex index =
        node != kNoNode && tree.GetItemPath(node) == *copy ? Model().IndexOf(node) : QModelIndex();
    if (!index.isValid()) {
        Q_EMIT twinOutsideTree(*copy);
        return;
    }
    setCurrentIndex(index);
    scrollTo(index);
}

std::string CFolderSizeView::BrowseForFolder() {
    return quarn::BrowseForFolder(window(), tr("Select a directory..."));
}

void CFolderSizeView::contextMenuEvent(QContextMenuEvent* event) {
    // One right click arrives here once: the menu is shown once. A click's
    // position is the viewport's; the menu key acts on the current item.
    QPoint pos = event->pos();
    if (event->reason() == QContextMenuEvent::Keyboard) {
        const QModelIndex current = currentIndex();
        pos = current.isValid() ? visualRect(current).center() : QPoint(-1, -1);
    }
    OnContextMenu(pos);
    event->accept();
}

CFolderSizeView::Command CFolderSizeView::PickCommand(const QPoint& globalPos, bool pathHere,
                                                      bool twin) {
    QMenu menu(this);
    QAction* explore = menu.addAction(tr("Explore"));
    QAction* showTwin = nullptr;
    if (!m_twinMarks.Empty()) {
        showTwin = menu.addAction(tr("Show Twin"));
        showTwin->setEnabled(twin);
    }
    menu.addSeparator();
    QAction* copyTo = menu.addAction(tr("Copy to..."));
    QAction* moveTo = menu.addAction(tr("Move to..."));
    QAction* remove = menu.addAction(tr("Delete"));
    remove->setShortcut(QKeySequence::Delete);  // shown beside the text
    menu.addSeparator();
    QAction* refresh = menu.addAction(tr("Refresh"));
    refresh->setShortcut(QKeySequence::Refresh);
    QAction* properties = menu.addAction(tr("Properties"));
    for (QAction* command : {explore, copyTo, moveTo, remove, refresh, properties}) {
        command->setEnabled(pathHere);
    }
    QAction* chosen = ExecMenu(&menu, globalPos);
    const std::pair<QAction*, Command> commands[] = {
        {explore, Command::Explore},       {showTwin, Command::ShowTwin},
        {copyTo, Command::CopyTo},         {moveTo, Command::MoveTo},
        {remove, Command::Delete},         {refresh, Command::Refresh},
        {properties, Command::Properties},
    };
    for (const auto& [action, command] : commands) {
        if (chosen != nullptr && chosen == action) {
            return command;
        }
    }
    return Command::None;
}

void CFolderSizeView::OnContextMenu(const QPoint& pos) {
    const QModelIndex index = indexAt(pos);
    if (index.isValid()) {
        setCurrentIndex(index.siblingAtColumn(0));
    } else {
        clearSelection();
        setCurrentIndex(QModelIndex());
    }
    const NodeHandle item = Model().HandleOf(index);
    const FolderSizeTree& tree = m_scanner.Tree();
    // Items of a scan carry their folder; anything else gets no menu.
    const std::optional<std::string> path = item == kNoNode ? std::nullopt : tree.GetItemPath(item);
    if (!path || m_comparison.RemovedAt(item) != nullptr) {
        return;
    }
    // An imported tree names folders of the machine it was made on.
    struct ::stat status;
    const bool here = ::lstat(path->c_str(), &status) == 0 && S_ISDIR(status.st_mode);
    switch (PickCommand(viewport()->mapToGlobal(pos), here, Model().TwinMarkOf(item).has_value())) {
        case Command::None:
            break;
        case Command::Explore:
            OpenWithDefaultHandler(*path);
            break;
        case Command::ShowTwin:
            ShowTwin(item);
            break;
        case Command::Properties:
            ShowProperties(window(), *path);
            break;
        case Command::CopyTo:
            CopyOrMove(item, *path, /*move=*/false);
            break;
        case Command::MoveTo:
            CopyOrMove(item, *path, /*move=*/true);
            break;
        case Command::Delete:
            DeleteItem(item);
            break;
        case Command::Refresh:
            RefreshItem(item);
            break;
    }
}

bool CFolderSizeView::RefuseWhileBusy() {
    // The tree is being filled: what an action would take out or add could
    // not be settled with the walk's sums.
    if (!m_scanner.IsBusy() && !m_scanner.IsScanRunning()) {
        return false;
    }
    ShowUserMessage(m_presenter, kAppIsBusyMessage);
    return true;
}

std::optional<LooseFiles> CFolderSizeView::LooseFilesOf(NodeHandle filesItem,
                                                        const std::string& folder) {
    const FolderSizeTree& tree = m_scanner.Tree();
    LooseFiles files = ListLooseFiles(folder, tree.AreSizesAllocated());
    const QString shown = FileNameText(folder);
    if (files.error != 0) {
        ShowErrorMessage(window(), tr("Files"),
                         tr("%1 cannot be read: %2")
                             .arg(shown, QString::fromLocal8Bit(std::strerror(files.error))));
        return std::nullopt;
    }
    // Act on exactly what the item shows, never on files the user has not seen.
    if (int64_t(files.Count()) != tree.GetItemFileCount(filesItem) ||
        files.bytes != tree.GetItemSize(filesItem).value_or(0)) {
        ShowErrorMessage(
            window(), tr("Files"),
            tr("The files in %1 have changed since the scan. Refresh the folder (F5) first.")
                .arg(shown));
        return std::nullopt;
    }
    return files;
}

void CFolderSizeView::DeleteItem(NodeHandle item) {
    const FolderSizeTree& tree = m_scanner.Tree();
    const std::optional<std::string> path = item == kNoNode ? std::nullopt : tree.GetItemPath(item);
    // A removed folder's node stands for nothing on the disk.
    if (!path || m_comparison.RemovedAt(item) != nullptr || RefuseWhileBusy()) {
        return;
    }
    if (!tree.IsFilesItem(item)) {
        // A folder that is gone already (the user was told) leaves the tree too.
        if (TrashWithConfirmation(window(), *path) || !IdentityOf(*path)) {
            m_diskChanges.AnnounceRemoved({RemovedPath{*path, true, 0}});
        } else {
            Q_EMIT statusMessage(tr("aborted"));
        }
        return;
    }
    const std::optional<LooseFiles> files = LooseFilesOf(item, *path);
    if (!files) {
        Q_EMIT statusMessage(tr("aborted"));
        return;
    }
    const int trashed =
        TrashFilesWithConfirmation(window(), *path, files->paths, files->identities);
    if (trashed != int(files->Count())) {
        Q_EMIT statusMessage(tr("aborted"));
    }
    std::vector<RemovedPath> removed;
    for (size_t i = 0; i < files->Count(); ++i) {
        if (trashed == int(files->Count()) || (trashed > 0 && !IdentityOf(files->paths[i]))) {
            removed.push_back(RemovedPath{files->paths[i], false, files->identities[i].size});
        }
    }
    m_diskChanges.AnnounceRemoved(removed);
}

void CFolderSizeView::CopyOrMove(NodeHandle item, const std::string& path, bool move) {
    if (RefuseWhileBusy()) {
        return;
    }
    const bool filesItem = m_scanner.Tree().IsFilesItem(item);
    std::optional<LooseFiles> files;
    if (filesItem && !(files = LooseFilesOf(item, path))) {
        Q_EMIT statusMessage(tr("aborted"));
        return;
    }
    const std::string target = BrowseForFolder();
    if (target.empty()) {
        return;
    }
    bool done;
    if (move) {
        done = filesItem ? MoveFilesInto(window(), files->paths, target)
                         : MoveInto(window(), path, target);
    } else {
        done = filesItem ? CopyFilesInto(window(), files->paths, target)
                         : CopyInto(window(), path, target);
    }
    if (!done) {
        Q_EMIT statusMessage(tr("aborted"));
    }
    if (move && done) {
        // What left takes its bytes out of every ancestor now ...
        std::vector<RemovedPath> removed;
        if (filesItem) {
            for (size_t i = 0; i < files->Count(); ++i) {
                removed.push_back(RemovedPath{files->paths[i], false, files->identities[i].size});
            }
        } else {
            removed.push_back(RemovedPath{path, true, 0});
        }
        m_diskChanges.AnnounceRemoved(removed);
    } else if (move) {
        // ... a move that stopped half-way changed both sides ...
        m_diskChanges.AnnounceChanged(path);
    }
    // ... and a folder of the tree that got something is walked again.
    m_diskChanges.AnnounceChanged(target);
}

void CFolderSizeView::RefreshItem(NodeHandle item) {
    const FolderSizeTree& tree = m_scanner.Tree();
    if (item == kNoNode || !tree.GetItemPath(item) || m_comparison.RemovedAt(item) != nullptr) {
        return;
    }
    const NodeHandle folder = tree.IsFilesItem(item) ? tree.GetParentItem(item) : item;
    if (folder == tree.GetRootItem()) {
        if (!RefuseWhileBusy()) {
            Q_EMIT rescanRequested();  // the frame knows what else a scan feeds
        }
        return;
    }
    if (!m_scanner.StartRefresh(folder)) {
        return;  // busy ("App is busy.." was shown), or nothing to walk
    }
}

// --- Following what left or arrived ----------------------------------------------------

void CFolderSizeView::OnPathsRemoved(const std::vector<RemovedPath>& removed) {
    FolderSizeTree& tree = m_scanner.Tree();
    std::map<std::string, size_t> filesByFolder;
    bool marksWent = false;
    for (const RemovedPath& entry : removed) {
        marksWent = m_twinMarks.Removed(entry.path, entry.isFolder) || marksWent;
        if (entry.isFolder) {
            tree.FileStats().ForgetFolder(entry.path);
            FollowRemovedFolder(entry.path);
        } else {
            m_scanner.ForgetFile(entry.path, entry.bytes);
            ++filesByFolder[std::string(FolderOfPath(entry.path))];
        }
    }
    for (const auto& [folder, count] : filesByFolder) {
        FollowRemovedFiles(folder, count);
    }
    ShowChanges();
    if (marksWent) {
        ShowTwinMarks();
    }
    RefreshNextPending();
}

void CFolderSizeView::FollowRemovedFolder(const std::string& path) {
    const FolderSizeTree& tree = m_scanner.Tree();
    const NodeHandle node = tree.FindFolderItem(path);
    if (node == kNoNode) {
        return;  // not of this tree
    }
    const bool exact = tree.GetItemPath(node) == NormalisedPath(path);
    if (exact && m_scanner.RemoveFolderItem(node)) {
        return;
    }
    // A folder the tree did not know, or a walk is running: its folder is
    // walked again.
    QueueRefresh(exact ? tree.GetParentItem(node) : node);
}

void CFolderSizeView::FollowRemovedFiles(const std::string& folder, size_t count) {
    const FolderSizeTree& tree = m_scanner.Tree();
    const NodeHandle node = tree.FindFolderItem(folder);
    if (node == kNoNode) {
        return;
    }
    if (tree.GetItemPath(node) == NormalisedPath(folder)) {
        // Every loose file a files item sums left: the item goes, exactly.
        for (int row = 0; row < tree.GetChildCount(node); ++row) {
            const NodeHandle child = tree.GetChildItem(node, row);
            if (tree.IsFilesItem(child) && size_t(tree.GetItemFileCount(child)) == count &&
                m_scanner.RemoveLooseFiles(child)) {
                return;
            }
        }
    }
    QueueRefresh(node);
}

void CFolderSizeView::OnFolderChanged(const std::string& folder) {
    // The folder and those above it may be no copies any more.
    if (m_twinMarks.Changed(folder)) {
        ShowTwinMarks();
    }
    const NodeHandle received = m_scanner.Tree().FindFolderItem(folder);
    if (received != kNoNode) {
        QueueRefresh(received);
        RefreshNextPending();
    }
}

void CFolderSizeView::QueueRefresh(NodeHandle folder) {
    const std::optional<std::string> path = m_scanner.Tree().GetItemPath(folder);
    if (path && std::find(m_pendingRefresh.begin(), m_pendingRefresh.end(), *path) ==
                    m_pendingRefresh.end()) {
        m_pendingRefresh.push_back(*path);
    }
}

void CFolderSizeView::RefreshNextPending() {
    // One refresh at a time: the engine's idle signal starts the next.
    if (m_scanner.IsBusy() || m_scanner.IsScanRunning()) {
        return;
    }
    const FolderSizeTree& tree = m_scanner.Tree();
    while (!m_pendingRefresh.empty()) {
        const std::string path = m_pendingRefresh.front();
        m_pendingRefresh.pop_front();
        const NodeHandle node = tree.FindFolderItem(path);
        if (node == kNoNode) {
            continue;
        }
        if (node == tree.GetRootItem()) {
            // The scanned folder itself: a new scan counts it as a scan does.
            m_pendingRefresh.clear();
            Q_EMIT rescanRequested();
            return;
        }
        if (m_scanner.StartRefresh(node)) {
            return;
        }
    }
}

void CFolderSizeView::ShowChanges() {
    Model().ApplyChanges();
}

}  // namespace quarn
