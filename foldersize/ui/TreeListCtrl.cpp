#include "foldersize/ui/TreeListCtrl.h"

#include <QPainter>

#include "foldersize/ui/FolderTreeModel.h"
#include "foldersize/ui/TreeListDelegate.h"
#include "foldersize/ui/TreeListHeader.h"

namespace quarn {

CTreeListCtrl::CTreeListCtrl(FolderTreeStore& store, QWidget* parent)
    : QTreeView(parent),
      m_model(new FolderTreeModel(store, this)),
      m_delegate(new TreeListDelegate(this)),
      m_header(new CTreeListHeader(this)) {
    setHeader(m_header);
    setModel(m_model);
    setItemDelegate(m_delegate);
    // The header sorts by itself (SortTopLevel); the view's own sorting stays
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

    connect(m_model, &FolderTreeModel::expandRequested, this,
            [this](const QModelIndex& index) { expand(index); });
    // A new tree is in the order of its walk: no column marks its order.
    connect(m_model, &FolderTreeModel::treeReplaced, m_header,
            [this] { m_header->SetMarkedColumn(-1); });
    connect(m_header, &QHeaderView::sectionClicked, this, [this](int column) {
        // What copies would free is no order of the tree's own.
        if (column != FolderTreeModel::kCopiesColumn) {
            SortTopLevel(column);
        }
    });
    // The names take the width the window has to spare; the others keep theirs.
    m_header->setStretchLastSection(false);
    m_header->setSectionResizeMode(0, QHeaderView::Stretch);
}

CTreeListCtrl::~CTreeListCtrl() = default;

void CTreeListCtrl::SetColumnWidths(std::initializer_list<int> widths) {
    int column = 0;
    for (int width : widths) {
        m_header->resizeSection(column++, width);
    }
}

void CTreeListCtrl::SetPercentColumn(int column) {
    m_delegate->SetPercentColumn(column);
}

void CTreeListCtrl::SortTopLevel(int column) {
    m_model->Store().SortTopLevel(column != 0);
    // Show the new order and mark now, not at the next refresh.
    m_model->ApplyChanges();
    m_header->SetMarkedColumn(column);
}

void CTreeListCtrl::drawBranches(QPainter* painter, const QRect& rect,
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

}  // namespace quarn
