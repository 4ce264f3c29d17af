#include "foldersize/ui/FolderTreeModel.h"

#include <QElapsedTimer>
#include <QFileIconProvider>

#include <algorithm>
#include <unordered_set>

#include "controls/AppIcons.h"
#include "controls/FileNameText.h"
#include "foldersize/SizeText.h"

namespace quarn {

namespace {

// Above this many reordered parents one layout change names no parents:
// a persistent index per parent would cost more than the views save.
constexpr size_t kMaxNamedLayoutParents = 64;

bool IsBoundary(TreeChange::Kind kind) {
    return kind == TreeChange::AllDeleted || kind == TreeChange::Deleted;
}

}  // namespace

FolderTreeModel::FolderTreeModel(FolderTreeStore& store, QObject* parent)
    : QAbstractItemModel(parent), m_store(store) {
    m_refreshTimer.setSingleShot(true);
    m_refreshTimer.setInterval(kRefreshIntervalMs);
    connect(&m_refreshTimer, &QTimer::timeout, this, &FolderTreeModel::RefreshSlice);
    const FolderTreeStore::ShownTree shown = m_store.AttachListener([this] {
        // By name: Qt makes and frees the queued call in its own code, and no
        // functor of ours crosses between the threads.
        QMetaObject::invokeMethod(this, "ScheduleRefresh", Qt::QueuedConnection);
    });
    m_topLevel = shown.topLevel;
    m_announced = shown.announced;
}

FolderTreeModel::~FolderTreeModel() {
    // The store waits for this model to carry out the sorts and deletes it
    // has taken: do them now, unannounced, so that the store stays whole.
    for (size_t i = m_backlogStart; i < m_backlog.size(); ++i) {
        m_store.ApplyChange(m_backlog[i]);
    }
    m_store.DetachListener();
}

void FolderTreeModel::ScheduleRefresh() {
    if (!m_refreshTimer.isActive()) {
        m_refreshTimer.start(kRefreshIntervalMs);
    }
}

void FolderTreeModel::ApplyChanges() {
    m_refreshTimer.stop();
    TakeJournal();
    while (!m_backlog.empty()) {
        ApplySlice();
    }
}

void FolderTreeModel::RefreshSoon() {
    m_refreshTimer.start(0);
}

void FolderTreeModel::RefreshSlice() {
    // The end of a scan sorts every folder at once: applying that in slices
    // keeps the interface answering.
    TakeJournal();
    QElapsedTimer clock;
    clock.start();
    while (!m_backlog.empty() && clock.elapsed() < kSliceBudgetMs) {
        ApplySlice();
    }
    if (!m_backlog.empty()) {
        m_refreshTimer.start(0);
    }
}

void FolderTreeModel::TakeJournal() {
    std::vector<TreeChange> changes = m_store.TakeChanges();
    if (m_backlog.empty()) {
        m_backlog = std::move(changes);
        m_backlogStart = 0;
    } else {
        m_backlog.insert(m_backlog.end(), changes.begin(), changes.end());
    }
}

void FolderTreeModel::ApplySlice() {
    const size_t end = std::min(m_backlog.size(), m_backlogStart + kSliceChanges);
    const std::vector<TreeChange> slice(m_backlog.begin() + std::ptrdiff_t(m_backlogStart),
                                        m_backlog.begin() + std::ptrdiff_t(end));
    m_backlogStart = end;
    if (m_backlogStart == m_backlog.size()) {
        m_backlog.clear();
        m_backlogStart = 0;
    }
    Apply(slice);
}

bool FolderTreeModel::IsOfShownTree(NodeHandle item) const {
    return FolderTreeStore::GenerationOf(item) == FolderTreeStore::GenerationOf(m_topLevel);
}

uint32_t FolderTreeModel::AnnouncedFor(NodeHandle parent) const {
    if (!m_announcing.empty()) {
        auto found = m_announcing.find(parent);
        if (found != m_announcing.end()) {
            return found->second;
        }
    }
    return m_announced;
}

void FolderTreeModel::Apply(const std::vector<TreeChange>& changes) {
    // A batch is applied in stretches between deletions and clears. Within a
    // stretch the insertions are announced per parent (a walk inserts under
    // ever other folders, so consecutive runs would be one row each), then
    // the data changes are collected; sorts wait for the end of the batch,
    // where one layout change covers them all (a sort in the store leaves
    // later items at the end, so it commutes with what came after it).
    std::vector<TreeChange> reorders;
    std::vector<NodeHandle> expands;
    bool percentsChanged = false;
    // Items announced by this batch: the view reads them after it, so a
    // change of their data needs no signal (a walk sets most folders' sizes
    // moments after inserting them).
    uint32_t newSince = m_announced;
    size_t i = 0;
    while (i < changes.size()) {
        const TreeChange& change = changes[i];
        if (change.kind == TreeChange::AllDeleted) {
            reorders.clear();
            expands.clear();
            percentsChanged = false;
            Reset(change);
            newSince = m_announced;
            ++i;
            continue;
        }
        if (change.kind == TreeChange::Deleted) {
            FlushDataChanged();
            Remove(change);
            ++i;
            continue;
        }
        size_t end = i;
        while (end < changes.size() && !IsBoundary(changes[end].kind)) {
            ++end;
        }
        AnnounceInsertions(changes, i, end);
        for (size_t k = i; k < end; ++k) {
            const TreeChange& later = changes[k];
            switch (later.kind) {
                case TreeChange::DataChanged:
                    if (IsOfShownTree(later.item) &&
                        FolderTreeStore::ItemNumberOf(later.item) < newSince) {
                        m_changed.push_back(later.item);
                    }
                    break;
                case TreeChange::PercentsChanged:
                    percentsChanged = true;
                    break;
                case TreeChange::ChildrenReordered:
                    reorders.push_back(later);
                    break;
                case TreeChange::ExpandRequested:
                    expands.push_back(later.item);
                    break;
                default:
                    break;
            }
        }
        i = end;
    }
    Reorder(reorders, percentsChanged);
    FlushDataChanged();
    for (NodeHandle item : expands) {
        const QModelIndex index = IndexOf(item);
        if (index.isValid()) {
            Q_EMIT expandRequested(index);
        }
    }
}

void FolderTreeModel::Reset(const TreeChange& change) {
    beginResetModel();
    // The old tree is freed here, while no view reads it.
    m_store.ApplyChange(change);
    m_topLevel = change.item;
    m_announced = FolderTreeStore::ItemNumberOf(m_topLevel) + 1;
    m_announcing.clear();
    m_changed.clear();
    endResetModel();
    // A new tree is in the order of its walk: no column marks its order.
    Q_EMIT treeReplaced();
}

void FolderTreeModel::AnnounceInsertions(const std::vector<TreeChange>& changes, size_t begin,
                                         size_t end) {
    std::vector<NodeHandle> parents;
    std::unordered_map<NodeHandle, std::vector<NodeHandle>> runs;
    uint32_t highest = 0;
    for (size_t k = begin; k < end; ++k) {
        const TreeChange& change = changes[k];
        if (change.kind != TreeChange::Inserted || !IsOfShownTree(change.item)) {
            continue;
        }
        std::vector<NodeHandle>& run = runs[change.parent];
        if (run.empty()) {
            parents.push_back(change.parent);
        }
        run.push_back(change.item);
        highest = std::max(highest, FolderTreeStore::ItemNumberOf(change.item));
    }
    // The tree may be gone already (replaced twice before this model caught
    // up); then nothing of it is shown.
    if (parents.empty() || !m_store.IsShownLinked(m_topLevel)) {
        return;
    }
    // Items are numbered in journal order and a parent is inserted before
    // its children, so each parent's new rows are its children between its
    // old limit and its last new item, and every parent is announced before
    // its own new rows are.
    for (NodeHandle parent : parents) {
        const std::vector<NodeHandle>& run = runs[parent];
        const int first = m_store.GetShownChildCount(parent, AnnouncedFor(parent));
        const uint32_t limit = FolderTreeStore::ItemNumberOf(run.back()) + 1;
        const int last = m_store.GetShownChildCount(parent, limit) - 1;
        if (last < first) {
            continue;
        }
        beginInsertRows(IndexOfShown(parent), first, last);
        m_announcing[parent] = limit;
        endInsertRows();
    }
    m_announced = std::max(m_announced, highest + 1);
    m_announcing.clear();
}

void FolderTreeModel::Remove(const TreeChange& change) {
    if (!IsOfShownTree(change.item)) {
        m_store.ApplyChange(change);
        return;
    }
    const auto [parent, row] = m_store.GetShownParentAndRow(change.item);
    if (parent == kNoNode ||
        m_store.GetShownChild(parent, row, AnnouncedFor(parent)) != change.item) {
        m_store.ApplyChange(change);  // not shown (any more): nothing to announce
        return;
    }
    beginRemoveRows(IndexOfShown(parent), row, row);
    m_store.ApplyChange(change);
    endRemoveRows();
}

void FolderTreeModel::Reorder(const std::vector<TreeChange>& reorders, bool percentsChanged) {
    if (reorders.empty() && !percentsChanged) {
        return;
    }
    QList<QPersistentModelIndex> named;
    std::unordered_set<NodeHandle> seen;
    bool includesTopLevel = false;
    for (const TreeChange& change : reorders) {
        if (seen.insert(change.parent).second) {
            includesTopLevel = includesTopLevel || change.parent == m_topLevel;
        }
    }
    if (!percentsChanged && !includesTopLevel && seen.size() <= kMaxNamedLayoutParents) {
        for (NodeHandle parent : seen) {
            const QModelIndex index = IndexOfShown(parent);
            if (index.isValid()) {
                named.append(QPersistentModelIndex(index));
            }
        }
    }
    const auto hint = reorders.empty() ? QAbstractItemModel::NoLayoutChangeHint
                                       : QAbstractItemModel::VerticalSortHint;
    Q_EMIT layoutAboutToBeChanged(named, hint);
    const QModelIndexList before = persistentIndexList();
    for (const TreeChange& change : reorders) {
        m_store.ApplyChange(change);
    }
    if (!reorders.empty()) {
        QModelIndexList after;
        after.reserve(before.size());
        for (const QModelIndex& index : before) {
            after.append(IndexOfShown(HandleOf(index), index.column()));
        }
        changePersistentIndexList(before, after);
    }
    Q_EMIT layoutChanged(named, hint);
}

void FolderTreeModel::FlushDataChanged() {
    if (m_changed.empty()) {
        return;
    }
    struct Place {
        NodeHandle parent;
        int row;
        NodeHandle item;
    };
    std::vector<Place> places;
    places.reserve(m_changed.size());
    for (NodeHandle item : m_changed) {
        const auto [parent, row] = m_store.GetShownParentAndRow(item);
        if (parent != kNoNode && m_store.GetShownChild(parent, row, AnnouncedFor(parent)) == item) {
            places.push_back(Place{parent, row, item});
        }
    }
    m_changed.clear();
    std::sort(places.begin(), places.end(), [](const Place& a, const Place& b) {
        return a.parent != b.parent ? a.parent < b.parent : a.row < b.row;
    });
    size_t i = 0;
    while (i < places.size()) {
        size_t j = i;
        while (j + 1 < places.size() && places[j + 1].parent == places[i].parent) {
            ++j;
        }
        const QModelIndex parent = IndexOfShown(places[i].parent);
        Q_EMIT dataChanged(index(places[i].row, 0, parent),
                           index(places[j].row, std::max(0, kColumnCount - 1), parent));
        i = j + 1;
    }
}

QModelIndex FolderTreeModel::IndexOfShown(NodeHandle item, int column) const {
    if (item == m_topLevel || item == kNoNode) {
        return {};
    }
    const auto [parent, row] = m_store.GetShownParentAndRow(item);
    if (parent == kNoNode) {
        return {};
    }
    return createIndex(row, column, quintptr(item));
}

NodeHandle FolderTreeModel::HandleOf(const QModelIndex& index) const {
    return index.isValid() ? NodeHandle(index.internalId()) : kNoNode;
}

QModelIndex FolderTreeModel::IndexOf(NodeHandle item, int column) const {
    if (item == kNoNode || !IsOfShownTree(item) || item == m_topLevel) {
        return {};
    }
    const auto [parent, row] = m_store.GetShownParentAndRow(item);
    if (parent == kNoNode || FolderTreeStore::ItemNumberOf(item) >= AnnouncedFor(parent) ||
        !m_store.IsShownLinked(item)) {
        return {};
    }
    return createIndex(row, column, quintptr(item));
}

QModelIndex FolderTreeModel::index(int row, int column, const QModelIndex& parent) const {
    if (row < 0 || column < 0 || column >= kColumnCount ||
        (parent.isValid() && parent.column() != 0)) {
        return {};
    }
    const NodeHandle parentItem = parent.isValid() ? HandleOf(parent) : m_topLevel;
    const NodeHandle child = m_store.GetShownChild(parentItem, row, AnnouncedFor(parentItem));
    if (child == kNoNode) {
        return {};
    }
    return createIndex(row, column, quintptr(child));
}

QModelIndex FolderTreeModel::parent(const QModelIndex& child) const {
    if (!child.isValid()) {
        return {};
    }
    const NodeHandle parent = m_store.GetShownParentAndRow(HandleOf(child)).first;
    return IndexOfShown(parent);
}

int FolderTreeModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid() && parent.column() != 0) {
        return 0;
    }
    const NodeHandle parentItem = parent.isValid() ? HandleOf(parent) : m_topLevel;
    return m_store.GetShownChildCount(parentItem, AnnouncedFor(parentItem));
}

int FolderTreeModel::columnCount(const QModelIndex&) const {
    return kColumnCount;
}

bool FolderTreeModel::hasChildren(const QModelIndex& parent) const {
    if (parent.isValid() && parent.column() != 0) {
        return false;
    }
    const NodeHandle parentItem = parent.isValid() ? HandleOf(parent) : m_topLevel;
    return m_store.GetShownChild(parentItem, 0, AnnouncedFor(parentItem)) != kNoNode;
}

QVariant FolderTreeModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) {
        return {};
    }
    const NodeHandle item = HandleOf(index);
    const int column = index.column();
    if (m_comparison != nullptr) {
        if (QVariant shown = ComparisonData(item, column, role); shown.isValid()) {
            return shown;
        }
    }
    switch (role) {
        case Qt::DisplayRole:
            return DisplayText(item, column);
        case Qt::DecorationRole:
            if (column == kNameColumn) {
                return TwinMarkOf(item) ? TwinIcon() : KindIcon(item);
            }
            return {};
        case Qt::ToolTipRole: {
            if (m_store.GetItemKind(item) == NodeKind::OtherFileSystem) {
                return QStringLiteral("other file system");
            }
            if (column != kNameColumn) {
                return {};
            }
            const std::optional<FolderReadProblems::Problem> problem = m_store.GetReadProblem(item);
            if (!problem) {
                const std::optional<TwinFolderMarks::Mark> mark = TwinMarkOf(item);
                if (mark && !mark->others.empty()) {
                    return QStringLiteral("copy of ") + FileNameText(mark->others.front());
                }
                return {};
            }
            // The system's error texts, in its own encoding.
            return QString::fromLocal8Bit(FolderReadProblems::Describe(*problem));
        }
        case Qt::TextAlignmentRole:
            if (column == kNameColumn) {
                return int(Qt::AlignLeft | Qt::AlignVCenter);
            }
            if (column == kPercentColumn) {
                return int(Qt::AlignCenter);
            }
            return int(Qt::AlignRight | Qt::AlignVCenter);
        case kPercentRole:
            return m_store.GetItemPercent(item);
        case kHandleRole:
            return qulonglong(item);
        default:
            return {};
    }
}

QString FolderTreeModel::DisplayText(NodeHandle item, int column) const {
    switch (column) {
        case kNameColumn: {
            // The label, not the live name: a row deleted by the scan keeps
            // its name until its removal is announced.
            const std::optional<FolderTreeStore::ShownLabel> label = m_store.GetShownLabel(item);
            if (!label) {
                return {};
            }
            if (label->kind == NodeKind::FilesItem) {
                return QString::fromStdString(FilesItemText(label->fileCount));
            }
            return FileNameText(label->name);
        }
        case kSizeColumn: {
            const std::optional<uint64_t> size = m_store.GetItemSize(item);
            return size ? QString::fromStdString(FormatSize(*size)) : QString();
        }
        case kPercentColumn: {
            const int percent = m_store.GetItemPercent(item);
            return percent < 0 ? QString() : QString::fromStdString(PercentText(percent));
        }
        case kCopiesColumn: {
            const std::optional<TwinFolderMarks::Mark> mark = TwinMarkOf(item);
            return mark ? QString::fromStdString(FormatSize(mark->freed)) : QString();
        }
        default:
            return {};
    }
}

QVariant FolderTreeModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount) {
        return {};
    }
    if (role == Qt::DisplayRole) {
        static const char* const titles[kColumnCount] = {"Name", "Size", "%", "Copies", "Change"};
        return QString::fromLatin1(titles[section]);
    }
    if (role == Qt::TextAlignmentRole) {
        return section == kPercentColumn ? int(Qt::AlignCenter)
                                         : int(Qt::AlignLeft | Qt::AlignVCenter);
    }
    return {};
}

Qt::ItemFlags FolderTreeModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) {
        return Qt::NoItemFlags;
    }
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

QIcon FolderTreeModel::KindIcon(NodeHandle item) const {
    const std::optional<FolderTreeStore::ShownLabel> label = m_store.GetShownLabel(item);
    if (!label) {
        return {};
    }
    const std::optional<NodeKind> kind = label->kind;
    if (*kind == NodeKind::Folder && item == m_store.GetRootItem()) {
        // A scan root on a mount point or a network location: the desktop's icon.
        static QFileIconProvider provider;
        switch (m_store.GetRootPlace()) {
            case FolderTreeStore::RootPlace::MountPoint:
                return provider.icon(QFileIconProvider::Drive);
            case FolderTreeStore::RootPlace::Network:
                return provider.icon(QFileIconProvider::Network);
            case FolderTreeStore::RootPlace::Folder:
                break;
        }
    }
    auto cached = m_icons.constFind(int(*kind));
    if (cached != m_icons.constEnd()) {
        return *cached;
    }
    QIcon icon;
    switch (*kind) {
        case NodeKind::FilesItem:
            icon = QIcon(FilesItemImage());
            break;
        case NodeKind::Folder:
            icon = QIcon(FolderItemImage());
            break;
        case NodeKind::Unreadable:
            icon = QIcon(UnreadableFolderItemImage());
            break;
        case NodeKind::OtherFileSystem:
            icon = QIcon(OtherFileSystemItemImage());
            break;
    }
    m_icons.insert(int(*kind), icon);
    return icon;
}

}  // namespace quarn
