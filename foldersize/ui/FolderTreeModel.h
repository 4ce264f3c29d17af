#pragma once
// A Qt item model over a FolderTreeStore store, without a copy of the tree.
//
// Every index carries its item's store handle; rows, parents and texts are
// read from the store when the view asks. The store is changed by a scan's
// worker thread, and the model must never show the view a structure it has
// not announced, so it replays the store's change journal on the UI thread,
// in batches: the store's poster queues one refresh, the refresh waits at
// most kRefreshIntervalMs so that a walk inserting thousands of items per
// second costs a few dozen layout passes. New items become visible as the
// model announces them (its `announced` limit, see TreeListCtrl.h); sorts,
// deletes and a clear happen in the store when the model applies them,
// between its begin and end signals. Texts ("117.738 MB", "42%") and
// images are made from the store's numbers when the view asks, so they are
// always the newest.
//
// Twin folders (SetTwinMarks): a marked folder shows the twin image, the
// tool tip "copy of PATH" and, in the Copies column, what removing its other
// copies would free; marks are matched by the item's path.
//
// A comparison (SetComparison) fills the column "Change" (+/- the size and
// its share of the earlier size, "new") and strikes through the nodes that
// stand for removed folders.
//
// UI thread only, apart from the poster, which any thread may call. The
// store must outlive the model; the model detaches itself when destroyed.

#include <QAbstractItemModel>
#include <QHash>
#include <QIcon>
#include <QTimer>

#include <unordered_map>
#include <vector>

#include "foldersize/FolderTreeStore.h"
#include "foldersize/TwinFolderMarks.h"
#include "history/ShownComparison.h"

namespace quarn {

class FolderTreeModel : public QAbstractItemModel {
    Q_OBJECT
  public:
    // The item's percentage (int, -1 = none), column independent.
    static constexpr int kPercentRole = Qt::UserRole + 1;
    // The item's store handle (qulonglong).
    static constexpr int kHandleRole = Qt::UserRole + 2;

    static constexpr int kNameColumn = 0;
    static constexpr int kSizeColumn = 1;
    static constexpr int kPercentColumn = 2;
    static constexpr int kCopiesColumn = 3;
    static constexpr int kChangeColumn = 4;
    static constexpr int kColumnCount = 5;

    static constexpr int kRefreshIntervalMs = 33;
    // A refresh applies the journal in slices of this many changes until
    // this much time has gone, then lets the event loop run.
    static constexpr size_t kSliceChanges = 2000;
    static constexpr int kSliceBudgetMs = 12;

    // Attaches to `store`; what it holds already counts as announced.
    explicit FolderTreeModel(FolderTreeStore& store, QObject* parent = nullptr);
    // Carries out what the store still waits for, then detaches.
    ~FolderTreeModel() override;

    FolderTreeStore& Store() const { return m_store; }

    // The twin folders to mark (null: none); they must stay valid until
    // replaced. The view repaints to show them.
    void SetTwinMarks(const TwinFolderMarks* marks) { m_twinMarks = marks; }
    // The mark of a folder item; nothing for any other item.
    std::optional<TwinFolderMarks::Mark> TwinMarkOf(NodeHandle item) const;

    // The comparison whose changes the Change column shows and whose removed
    // folders are struck through (null: none); valid until replaced.
    void SetComparison(const ShownComparison* comparison);
    const ShownComparison* Comparison() const { return m_comparison; }

    // The store handle of an index; kNoNode for the invalid index.
    NodeHandle HandleOf(const QModelIndex& index) const;
    // The index of a handle the model has announced; invalid otherwise.
    QModelIndex IndexOf(NodeHandle item, int column = 0) const;

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
    // A new tree replaced the shown one (a new scan).
    void treeReplaced();

  private:
    // Called by name from the store's worker (see the constructor).
    Q_INVOKABLE void ScheduleRefresh();
    // The timer's refresh: as much of the journal as the time budget allows.
    void RefreshSlice();
    void TakeJournal();
    void ApplySlice();
    void Apply(const std::vector<TreeChange>& changes);
    void Reset(const TreeChange& change);
    // Announces the insertions of one stretch of the journal, parent by parent.
    void AnnounceInsertions(const std::vector<TreeChange>& changes, size_t begin, size_t end);
    void Remove(const TreeChange& change);
    void Reorder(const std::vector<TreeChange>& reorders, bool percentsChanged);
    void FlushDataChanged();
    // The limit below which `parent`'s children are announced.
    uint32_t AnnouncedFor(NodeHandle parent) const;
    // The index of an item of the shown tree (its row read from the store);
    // the invalid index for the top level.
    QModelIndex IndexOfShown(NodeHandle item, int column = 0) const;
    bool IsOfShownTree(NodeHandle item) const;
    QString DisplayText(NodeHandle item, int column) const;
    // The node's image by its kind; the scan root on a volume gets the
    // desktop's drive or network icon.
    QIcon KindIcon(NodeHandle item) const;
    // The twin folder's image, made once.
    QIcon TwinIcon() const;
    // The comparison's part of data(): the Change column's text, a removed
    // folder's font and tool tip, a change's colour; nothing elsewhere.
    QVariant ComparisonData(NodeHandle item, int column, int role) const;

    FolderTreeStore& m_store;
    // The parent of the top-level items of the tree the model shows.
    NodeHandle m_topLevel = kNoNode;
    // Items numbered below this are announced; while a batch is announced,
    // parents it has reached already have their own, higher limit.
    uint32_t m_announced = 0;
    std::unordered_map<NodeHandle, uint32_t> m_announcing;
    // Items whose data changed in the batch being applied, sent as ranges.
    std::vector<NodeHandle> m_changed;
    // Changes taken from the store but not applied yet (from m_backlogStart).
    std::vector<TreeChange> m_backlog;
    size_t m_backlogStart = 0;
    QTimer m_refreshTimer;
    mutable QHash<int, QIcon> m_icons;
    const TwinFolderMarks* m_twinMarks = nullptr;
    const ShownComparison* m_comparison = nullptr;
};

}  // namespace quarn
