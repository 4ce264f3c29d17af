#pragma once
// A Qt item model over a CTreeListCtrl store.
//
// The store is changed by a scan's worker thread; the model must never tell
// the view about a structure it has not announced. So the model keeps its own
// mirror of the tree's structure (which handle sits in which row) and changes
// it only by applying the store's change journal, on the UI thread, in
// batches: the store's poster queues one refresh, the refresh waits at most
// kRefreshIntervalMs so that a walk inserting thousands of items per second
// costs a few dozen layout passes. Texts, percentages and images are read
// from the store when the view asks, so they are always the newest.
//
// UI thread only, apart from the poster, which any thread may call. The
// store must outlive the model; the model detaches itself when destroyed.

#include <QAbstractItemModel>
#include <QHash>
#include <QIcon>
#include <QTimer>

#include <memory>
#include <unordered_map>
#include <vector>

#include "foldersize/TreeListCtrl.h"

namespace quarn {

class CFolderTreeModel : public QAbstractItemModel {
    Q_OBJECT
  public:
    // The item's percentage (int, -1 = none), column independent.
    static constexpr int kPercentRole = Qt::UserRole + 1;
    // The item's store handle (qulonglong).
    static constexpr int kHandleRole = Qt::UserRole + 2;

    static constexpr int kRefreshIntervalMs = 33;
    // A refresh applies the journal in slices of this many changes until
    // this much time has gone, then lets the event loop run.
    static constexpr size_t kSliceChanges = 2000;
    static constexpr int kSliceBudgetMs = 12;

    // Attaches to `store` and mirrors what it holds already.
    explicit CFolderTreeModel(CTreeListCtrl& store, QObject* parent = nullptr);
    ~CFolderTreeModel() override;

    CTreeListCtrl& Store() const { return m_store; }

    // The store handle of an index; TVI_NULL for the invalid index.
    HTREEITEM HandleOf(const QModelIndex& index) const;
    // The index of a handle the model has announced; invalid otherwise.
    QModelIndex IndexOf(HTREEITEM item, int column = 0) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

  public Q_SLOTS:
    // Takes the store's journal and applies all of it now (tests, and
    // commands that must show their effect at once).
    void ApplyChanges();
    // Starts the sliced refresh now instead of after the interval.
    void RefreshSoon();

  public:
    // True while changes taken from the store wait to be applied, or a
    // refresh is due.
    bool IsRefreshing() const { return !m_backlog.empty() || m_refreshTimer.isActive(); }

  Q_SIGNALS:
    // The store's owner asks the view to expand this item.
    void expandRequested(const QModelIndex& index);
    // The header's sort mark moved (-1 = none).
    void markedColumnChanged(int column);

  private:
    struct Node {
        HTREEITEM handle = TVI_NULL;
        Node* parent = nullptr;
        int row = -1;
        bool placed = false;  // scratch mark of ReorderChildren
        std::vector<Node*> children;
    };

    void ScheduleRefresh();
    // The timer's refresh: as much of the journal as the time budget allows.
    void RefreshSlice();
    void TakeJournal();
    void ApplySlice();
    void Apply(const std::vector<TreeChange>& changes);
    void Rebuild();
    Node* NodeOf(HTREEITEM item);
    Node* NodeOf(const QModelIndex& index) const;
    QModelIndex IndexOfNode(const Node* node, int column = 0) const;
    Node* AddNode(Node* parent, HTREEITEM item);
    void InsertRun(Node* parent, const std::vector<HTREEITEM>& items);
    void Remove(HTREEITEM item);
    void Reorder(const std::vector<HTREEITEM>& parents);
    bool ReorderChildren(Node* parent);
    void FlushDataChanged();
    QIcon ImageIcon(int image) const;

    CTreeListCtrl& m_store;
    int m_nColumns = 0;
    Node m_root;
    // Every announced node but the root, by handle (owns them). Nodes are
    // freed without recursion, as deep trees would exhaust the stack.
    std::unordered_map<HTREEITEM, std::unique_ptr<Node>> m_nodes;
    // Items whose data changed in the batch being applied, sent as ranges.
    std::vector<Node*> m_changed;
    // Changes taken from the store but not applied yet (from m_backlogStart).
    std::vector<TreeChange> m_backlog;
    size_t m_backlogStart = 0;
    QTimer m_refreshTimer;
    mutable QHash<int, QIcon> m_icons;
};

}  // namespace quarn
