#pragma once
// The tree list: a tree view with columns over a FolderTreeModel, whose
// header (CTreeListHeader) draws the titles and the sort mark, and whose
// cells (TreeListDelegate) paint the names, the right-aligned texts and the
// percentage bar. A click on a title orders the top level by that column
// (the name by text, the others by percentage) and marks it; a new tree
// clears the mark. Dotted lines join every item to its parent and siblings.
//
// UI thread only. The model's store must outlive the view.

#include <QTreeView>

#include <initializer_list>

#include "foldersize/FolderTreeStore.h"

namespace quarn {

class CTreeListHeader;
class FolderTreeModel;
class TreeListDelegate;

class CTreeListCtrl : public QTreeView {
    Q_OBJECT
  public:
    // Shows `store` through a model of its own.
    explicit CTreeListCtrl(FolderTreeStore& store, QWidget* parent = nullptr);
    ~CTreeListCtrl() override;

    FolderTreeModel& Model() const { return *m_model; }
    CTreeListHeader& Header() const { return *m_header; }
    TreeListDelegate& Delegate() const { return *m_delegate; }

    // The pixels the columns start with, from the first; the first column
    // then takes the width the others leave.
    void SetColumnWidths(std::initializer_list<int> widths);
    // The column in which the percentage bar is painted, -1 = none.
    void SetPercentColumn(int column);

    // Orders the scan root's children (column 0 by name, the others by
    // percentage) and moves the header's mark to `column`.
    void SortTopLevel(int column);

  protected:
    void drawBranches(QPainter* painter, const QRect& rect,
                      const QModelIndex& index) const override;

  private:
    FolderTreeModel* m_model;
    TreeListDelegate* m_delegate;
    CTreeListHeader* m_header;
};

}  // namespace quarn
