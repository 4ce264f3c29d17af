#include "foldersize/ui/FolderTreeView.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QPainter>

#include "controls/ShellOperations.h"
#include "foldersize/ui/FolderTreeModel.h"
#include "foldersize/ui/TreeListDelegate.h"
#include "foldersize/ui/TreeListHeader.h"

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
    m_delegate->SetPercentColumn(scan.GetPercentColumn());
    m_header->SetMarkedColumn(scan.GetMarkedColumn());
    for (int column = 0; column < scan.GetColumnCount(); ++column) {
        const int width = scan.GetColumnWidth(column);
        if (width >= 0) {
            m_header->resizeSection(column, width);
        }
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
    connect(m_model, &CFolderTreeModel::markedColumnChanged, m_header,
            &CTreeListHeader::SetMarkedColumn);
    connect(m_header, &QHeaderView::sectionClicked, this, &CFolderTreeView::SortByColumn);
}

CFolderTreeView::~CFolderTreeView() = default;

void CFolderTreeView::StartScan(const std::string& path) {
    m_scan.StartScan(path, TVI_ROOT);
}

void CFolderTreeView::SortByColumn(int column) {
    m_scan.SortTopLevel(column != 0);
    m_scan.SetMarkedColumn(column);
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

CFolderTreeView::Command CFolderTreeView::PickCommand(const QPoint& globalPos) {
    QMenu menu(this);
    QAction* explore = menu.addAction(tr("Explore"));
    menu.addSeparator();
    QAction* copyTo = menu.addAction(tr("Copy to..."));
    QAction* moveTo = menu.addAction(tr("Move to..."));
    QAction* remove = menu.addAction(tr("Delete"));
    menu.addSeparator();
    QAction* properties = menu.addAction(tr("Properties"));
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
    const HTREEITEM item = m_model->HandleOf(index);
    // Items of a scan carry their folder; anything else gets no menu.
    const std::optional<std::string> path =
        item == TVI_NULL ? std::nullopt : m_scan.GetItemPath(item);
    if (!path) {
        return;
    }
    switch (PickCommand(viewport()->mapToGlobal(pos))) {
        case Command::None:
            break;
        case Command::Explore:
            OpenWithDefaultHandler(*path);
            break;
        case Command::Properties:
            ShowProperties(window(), *path);
            break;
        case Command::CopyTo: {
            const std::string target = BrowseForFolder();
            if (!target.empty() && !CopyInto(window(), *path, target)) {
                Q_EMIT statusMessage(tr("aborted"));
            }
            break;
        }
        case Command::MoveTo: {
            const std::string target = BrowseForFolder();
            if (target.empty()) {
                break;
            }
            if (MoveInto(window(), *path, target)) {
                RemoveItem(item);
            } else {
                Q_EMIT statusMessage(tr("aborted"));
            }
            break;
        }
        case Command::Delete:
            if (TrashWithConfirmation(window(), *path)) {
                RemoveItem(item);
            } else {
                Q_EMIT statusMessage(tr("aborted"));
            }
            break;
    }
}

void CFolderTreeView::RemoveItem(HTREEITEM item) {
    // The parents keep their sizes: nothing is recounted until the next scan.
    m_scan.DeleteItem(item);
    m_model->ApplyChanges();
}

}  // namespace quarn
