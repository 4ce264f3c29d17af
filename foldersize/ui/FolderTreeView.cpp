#include "foldersize/ui/FolderTreeView.h"

#include <sys/stat.h>

#include <QAction>
#include <QContextMenuEvent>
#include <QFile>
#include <QMenu>
#include <QMetaMethod>
#include <QPainter>

#include <algorithm>
#include <cstring>
#include <vector>

#include "controls/FileNameText.h"
#include "controls/ShellOperations.h"
#include "foldersize/SizeText.h"
#include "foldersize/ui/FolderTreeModel.h"
#include "foldersize/ui/TreeListDelegate.h"
#include "foldersize/ui/TreeListHeader.h"
#include "platform/UserMessage.h"

namespace quarn {

CFolderTreeView::CFolderTreeView(CFolderSizeView& scan, QWidget* parent)
    : QTreeView(parent),
      m_scan(scan),
      m_model(new CFolderTreeModel(scan, this)),
      m_delegate(new CTreeListDelegate(this)),
      m_header(new CTreeListHeader(this)) {
    setHeader(m_header);
    setModel(m_model);
    setItemDelegate(m_delegate);
    m_delegate->SetPercentColumn(CFolderTreeModel::kPercentColumn);
    // The widths the columns start with: Name 260, Size 100, % 100 pixels.
    const int widths[CFolderTreeModel::kColumnCount] = {260, 100, 100};
    for (int column = 0; column < CFolderTreeModel::kColumnCount; ++column) {
        m_header->resizeSection(column, widths[column]);
    }
    // The header sorts by itself (SortByColumn); the view's own sorting stays
    // off, and turning it off made the titles unclickable.
    setSortingEnabled(false);
    m_header->setSectionsClickable(true);
    setUniformRowHeights(true);
    setRootIsDecorated(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setAllColumnsShowFocus(false);
    setExpandsOnDoubleClick(true);
    setIconSize(QSize(16, 16));
    // The cells paint their own selection (name only); the view's row
    // highlight would cover the bar.
    QPalette colours = palette();
    colours.setColor(QPalette::Base, Qt::white);
    colours.setColor(QPalette::Text, Qt::black);
    colours.setColor(QPalette::Highlight, Qt::white);
    colours.setColor(QPalette::HighlightedText, Qt::black);
    setPalette(colours);

    connect(m_model, &CFolderTreeModel::expandRequested, this,
            [this](const QModelIndex& index) { expand(index); });
    connect(m_model, &CFolderTreeModel::treeReplaced, m_header,
            [this] { m_header->SetMarkedColumn(-1); });
    connect(m_header, &QHeaderView::sectionClicked, this, &CFolderTreeView::SortByColumn);

    // The names take the width the window has to spare; size and bar keep theirs.
    m_header->setStretchLastSection(false);
    m_header->setSectionResizeMode(0, QHeaderView::Stretch);

    // Del and F5 act on the current item while the tree has the focus.
    auto* remove = new QAction(tr("Delete"), this);
    remove->setShortcut(QKeySequence::Delete);
    remove->setShortcutContext(Qt::WidgetShortcut);
    connect(remove, &QAction::triggered, this,
            [this] { DeleteItem(m_model->HandleOf(currentIndex())); });
    addAction(remove);
    auto* refresh = new QAction(tr("Refresh"), this);
    refresh->setShortcut(QKeySequence::Refresh);
    refresh->setShortcutContext(Qt::WidgetShortcut);
    connect(refresh, &QAction::triggered, this,
            [this] { RefreshItem(m_model->HandleOf(currentIndex())); });
    addAction(refresh);
}

CFolderTreeView::~CFolderTreeView() = default;

void CFolderTreeView::StartScan(const std::string& path) {
    m_scan.StartScan(path, kTopLevel);
}

void CFolderTreeView::SortByColumn(int column) {
    m_scan.SortTopLevel(column != 0);
    // Show the new order and mark now, not at the next refresh.
    m_model->ApplyChanges();
    m_header->SetMarkedColumn(column);
}

std::string CFolderTreeView::BrowseForFolder() {
    return quarn::BrowseForFolder(window(), tr("Select a directory..."));
}

void CFolderTreeView::drawBranches(QPainter* painter, const QRect& rect,
                                   const QModelIndex& index) const {
    const int indent = indentation();
    if (indent > 0 && rect.width() >= indent) {
        painter->save();
        painter->setPen(QPen(QColor(150, 150, 150), 1, Qt::DotLine));
        const int top = rect.top();
        const int bottom = rect.bottom();
        const int middleY = top + rect.height() / 2;
        // The item's own cell: up to the parent's line, across to the item.
        int cellLeft = rect.right() + 1 - indent;
        int middleX = cellLeft + indent / 2;
        const bool hasNext = index.sibling(index.row() + 1, 0).isValid();
        const bool hasAbove = index.row() > 0 || index.parent().isValid();
        painter->drawLine(middleX, hasAbove ? top : middleY, middleX, hasNext ? bottom : middleY);
        painter->drawLine(middleX, middleY, cellLeft + indent - 2, middleY);
        // The cells of the ancestors: a line where an ancestor has a sibling below.
        QModelIndex ancestor = index.parent();
        for (cellLeft -= indent; ancestor.isValid() && cellLeft >= rect.left();
             cellLeft -= indent) {
            if (ancestor.sibling(ancestor.row() + 1, 0).isValid()) {
                middleX = cellLeft + indent / 2;
                painter->drawLine(middleX, top, middleX, bottom);
            }
            ancestor = ancestor.parent();
        }
        painter->restore();
    }
    QTreeView::drawBranches(painter, rect, index);
}

void CFolderTreeView::contextMenuEvent(QContextMenuEvent* event) {
    // One right click arrives here once: the menu is shown once. A click's
    // position is the viewport's; the menu key acts on the current item.
    QPoint pos = event->pos();
    if (event->reason() == QContextMenuEvent::Keyboard) {
        const QModelIndex current = currentIndex();
        pos = current.isValid() ? visualRect(current).center() : QPoint(-1, -1);
    }
    ShowContextMenu(pos);
    event->accept();
}

CFolderTreeView::Command CFolderTreeView::PickCommand(const QPoint& globalPos, bool pathHere) {
    QMenu menu(this);
    QAction* explore = menu.addAction(tr("Explore"));
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
    QAction* chosen = ShellHooks().pickMenuAction ? ShellHooks().pickMenuAction(&menu, globalPos)
                                                  : menu.exec(globalPos);
    if (chosen == explore) {
        return Command::Explore;
    }
    if (chosen == copyTo) {
        return Command::CopyTo;
    }
    if (chosen == moveTo) {
        return Command::MoveTo;
    }
    if (chosen == remove) {
        return Command::Delete;
    }
    if (chosen == refresh) {
        return Command::Refresh;
    }
    if (chosen == properties) {
        return Command::Properties;
    }
    return Command::None;
}

void CFolderTreeView::ShowContextMenu(const QPoint& pos) {
    const QModelIndex index = indexAt(pos);
    if (index.isValid()) {
        setCurrentIndex(index.siblingAtColumn(0));
    } else {
        clearSelection();
        setCurrentIndex(QModelIndex());
    }
    const NodeHandle item = m_model->HandleOf(index);
    // Items of a scan carry their folder; anything else gets no menu.
    const std::optional<std::string> path =
        item == kNoNode ? std::nullopt : m_scan.GetItemPath(item);
    if (!path) {
        return;
    }
    // An imported tree names folders of the machine it was made on.
    struct ::stat status;
    const bool here = ::lstat(path->c_str(), &status) == 0 && S_ISDIR(status.st_mode);
    switch (PickCommand(viewport()->mapToGlobal(pos), here)) {
        case Command::None:
            break;
        case Command::Explore:
            OpenWithDefaultHandler(*path);
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

bool CFolderTreeView::RefuseWhileBusy() {
    // The tree is being filled: what an action would take out or add could
    // not be settled with the walk's sums.
    if (!m_scan.m_bBusy.load() && !m_scan.IsScanRunning()) {
        return false;
    }
    ShowUserMessage(m_scan.m_messagePresenter, kAppIsBusyMessage);
    return true;
}

std::optional<LooseFiles> CFolderTreeView::LooseFilesOf(NodeHandle filesItem,
                                                        const std::string& folder) {
    LooseFiles files = ListLooseFiles(folder, m_scan.AreSizesAllocated());
    const QString shown = FileNameText(folder);
    if (files.error != 0) {
        ShowErrorMessage(window(), tr("Files"),
                         tr("%1 cannot be read: %2")
                             .arg(shown, QString::fromLocal8Bit(std::strerror(files.error))));
        return std::nullopt;
    }
    // Act on exactly what the item shows, never on files the user has not seen.
    if (int64_t(files.Count()) != m_scan.GetItemFileCount(filesItem) ||
        files.bytes != m_scan.GetItemSize(filesItem).value_or(0)) {
        ShowErrorMessage(
            window(), tr("Files"),
            tr("The files in %1 have changed since the scan. Refresh the folder (F5) first.")
                .arg(shown));
        return std::nullopt;
    }
    return files;
}

void CFolderTreeView::DeleteItem(NodeHandle item) {
    const std::optional<std::string> path =
        item == kNoNode ? std::nullopt : m_scan.GetItemPath(item);
    if (!path || RefuseWhileBusy()) {
        return;
    }
    if (!m_scan.IsFilesItem(item)) {
        // A folder that is gone already (the user was told) leaves the tree too.
        if (TrashWithConfirmation(window(), *path) || !IdentityOf(*path)) {
            m_scan.RemoveFolderItem(item);
            ShowChanges();
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
    if (trashed == int(files->Count())) {
        m_scan.RemoveLooseFiles(item);
        ShowChanges();
        return;
    }
    Q_EMIT statusMessage(tr("aborted"));
    if (trashed > 0) {
        RefreshAfter(m_scan.GetParentItem(item), std::string());  // some went, some stayed
    }
}

void CFolderTreeView::CopyOrMove(NodeHandle item, const std::string& path, bool move) {
    if (RefuseWhileBusy()) {
        return;
    }
    const bool filesItem = m_scan.IsFilesItem(item);
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
        if (filesItem) {
            m_scan.RemoveLooseFiles(item);
        } else {
            m_scan.RemoveFolderItem(item);
        }
        ShowChanges();
        RefreshAfter(kNoNode, target);  // ... and a folder of the tree that got it is rescanned.
        return;
    }
    // A copy changed only the target; a move that stopped half-way both sides.
    NodeHandle changed = kNoNode;
    if (move) {
        changed = filesItem ? m_scan.GetParentItem(item) : item;
    }
    RefreshAfter(changed, target);
}

void CFolderTreeView::RefreshAfter(NodeHandle changed, const std::string& target) {
    NodeHandle region = changed;
    if (!target.empty()) {
        const NodeHandle received = m_scan.FindFolderItem(target);
        if (region == kNoNode) {
            region = received;
        } else if (received != kNoNode) {
            // The smallest folder that holds both.
            std::vector<NodeHandle> above;
            for (NodeHandle at = received; at != kNoNode && at != kTopLevel;
                 at = m_scan.GetParentItem(at)) {
                above.push_back(at);
            }
            while (region != kNoNode && region != kTopLevel &&
                   std::find(above.begin(), above.end(), region) == above.end()) {
                region = m_scan.GetParentItem(region);
            }
        }
    }
    if (region == kNoNode || region == kTopLevel) {
        return;
    }
    RefreshItem(region);
}

void CFolderTreeView::RefreshItem(NodeHandle item) {
    if (item == kNoNode || !m_scan.GetItemPath(item)) {
        return;
    }
    const NodeHandle folder = m_scan.IsFilesItem(item) ? m_scan.GetParentItem(item) : item;
    if (folder == m_scan.GetRootItem()) {
        if (!RefuseWhileBusy()) {
            Rescan();
        }
        return;
    }
    m_scan.StartRefresh(folder);  // says "App is busy.." itself
}

void CFolderTreeView::Rescan() {
    // The frame knows what else a scan of its folder feeds.
    if (isSignalConnected(QMetaMethod::fromSignal(&CFolderTreeView::rescanRequested))) {
        Q_EMIT rescanRequested();
    } else {
        m_scan.StartScan(m_scan.GetScanPath());
    }
}

void CFolderTreeView::ShowChanges() {
    m_model->ApplyChanges();
}

}  // namespace quarn
