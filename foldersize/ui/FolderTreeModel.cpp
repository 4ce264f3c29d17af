#include "foldersize/ui/FolderTreeModel.h"

#include <QFileIconProvider>

#include <QElapsedTimer>

#include <algorithm>
#include <unordered_set>

#include "controls/AppIcons.h"
#include "platform/PathRules.h"

namespace quarn {

namespace {

QString Text(const std::string& bytes) {
    return QString::fromUtf8(bytes);
}

// Above this many reordered parents one layout change names no parents:
// a persistent index per parent would cost more than the views save.
constexpr size_t kMaxNamedLayoutParents = 64;

}  // namespace

CFolderTreeModel::CFolderTreeModel(CTreeListCtrl& store, QObject* parent)
    : QAbstractItemModel(parent), m_store(store) {
    m_root.handle = TVI_ROOT;
    m_refreshTimer.setSingleShot(true);
    m_refreshTimer.setInterval(kRefreshIntervalMs);
    connect(&m_refreshTimer, &QTimer::timeout, this, &CFolderTreeModel::RefreshSlice);
    // Attach first, then read: whatever changes in between is both read and
    // journalled, and applying the journal skips what is known already.
    m_store.AttachListener([this] {
        QMetaObject::invokeMethod(this, &CFolderTreeModel::ScheduleRefresh, Qt::QueuedConnection);
    });
    m_nColumns = m_store.GetColumnCount();
    Rebuild();
}

CFolderTreeModel::~CFolderTreeModel() {
    m_store.DetachListener();
}

void CFolderTreeModel::ScheduleRefresh() {
    if (!m_refreshTimer.isActive()) {
        m_refreshTimer.start(kRefreshIntervalMs);
    }
}

void CFolderTreeModel::ApplyChanges() {
    m_refreshTimer.stop();
    TakeJournal();
    while (!m_backlog.empty()) {
        ApplySlice();
    }
}

void CFolderTreeModel::RefreshSoon() {
    m_refreshTimer.start(0);
}

void CFolderTreeModel::RefreshSlice() {
    // The end of a scan sets every item's percentage and sorts every folder
    // at once: applying that in slices keeps the interface answering.
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

void CFolderTreeModel::TakeJournal() {
    std::vector<TreeChange> changes = m_store.TakeChanges();
    if (m_backlog.empty()) {
        m_backlog = std::move(changes);
        m_backlogStart = 0;
    } else {
        m_backlog.insert(m_backlog.end(), changes.begin(), changes.end());
    }
}

void CFolderTreeModel::ApplySlice() {
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

void CFolderTreeModel::Rebuild() {
    m_nodes.clear();
    m_root.children.clear();
    std::vector<Node*> pending{&m_root};
    while (!pending.empty()) {
        Node* node = pending.back();
        pending.pop_back();
        const int count = m_store.GetChildCount(node->handle);
        for (int row = 0; row < count; ++row) {
            const HTREEITEM child = m_store.GetChildItem(node->handle, row);
            if (child != TVI_NULL && NodeOf(child) == nullptr) {
                pending.push_back(AddNode(node, child));
            }
        }
    }
}

void CFolderTreeModel::Apply(const std::vector<TreeChange>& changes) {
    // A batch is applied in segments between deletions. Within a segment the
    // insertions are announced per parent (a walk inserts under ever other
    // folders, so consecutive runs would be one row each), then the data
    // changes are collected; reorders wait for the end of the batch, where
    // one layout change covers them all. Items only ever append, and a
    // parent is inserted before anything below it, so grouping keeps both
    // the store's order and the parents ahead of their children.
    std::vector<HTREEITEM> reorders;
    std::unordered_set<HTREEITEM> reorderSeen;
    std::vector<HTREEITEM> expands;
    size_t i = 0;
    while (i < changes.size()) {
        const TreeChange& change = changes[i];
        if (change.kind == TreeChange::AllDeleted) {
            m_changed.clear();
            reorders.clear();
            reorderSeen.clear();
            expands.clear();
            beginResetModel();
            m_nodes.clear();
            m_root.children.clear();
            m_nColumns = m_store.GetColumnCount();
            endResetModel();
            // The store drops older journal entries at this point, a
            // change of the mark among them: announce the mark anew.
            Q_EMIT markedColumnChanged(m_store.GetMarkedColumn());
            ++i;
            continue;
        }
        if (change.kind == TreeChange::Deleted) {
            FlushDataChanged();
            Remove(change.item);
            ++i;
            continue;
        }
        size_t end = i;
        while (end < changes.size() && changes[end].kind != TreeChange::AllDeleted &&
               changes[end].kind != TreeChange::Deleted) {
            ++end;
        }
        std::vector<HTREEITEM> parents;
        std::unordered_map<HTREEITEM, std::vector<HTREEITEM>> runs;
        for (size_t k = i; k < end; ++k) {
            if (changes[k].kind == TreeChange::Inserted) {
                std::vector<HTREEITEM>& run = runs[changes[k].parent];
                if (run.empty()) {
                    parents.push_back(changes[k].parent);
                }
                run.push_back(changes[k].item);
            }
        }
        for (HTREEITEM parent : parents) {
            if (Node* node = NodeOf(parent)) {
                InsertRun(node, runs[parent]);
            }
        }
        for (size_t k = i; k < end; ++k) {
            const TreeChange& later = changes[k];
            switch (later.kind) {
                case TreeChange::DataChanged:
                    if (Node* node = NodeOf(later.item)) {
                        m_changed.push_back(node);
                    }
                    break;
                case TreeChange::ChildrenReordered:
                    if (reorderSeen.insert(later.parent).second) {
                        reorders.push_back(later.parent);
                    }
                    break;
                case TreeChange::ExpandRequested:
                    expands.push_back(later.item);
                    break;
                case TreeChange::MarkChanged:
                    Q_EMIT markedColumnChanged(m_store.GetMarkedColumn());
                    break;
                default:
                    break;
            }
        }
        i = end;
    }
    Reorder(reorders);
    FlushDataChanged();
    for (HTREEITEM item : expands) {
        const QModelIndex index = IndexOf(item);
        if (index.isValid()) {
            Q_EMIT expandRequested(index);
        }
    }
}

CFolderTreeModel::Node* CFolderTreeModel::NodeOf(HTREEITEM item) {
    if (item == TVI_ROOT) {
        return &m_root;
    }
    auto found = m_nodes.find(item);
    return found == m_nodes.end() ? nullptr : found->second.get();
}

CFolderTreeModel::Node* CFolderTreeModel::NodeOf(const QModelIndex& index) const {
    return index.isValid() ? static_cast<Node*>(index.internalPointer())
                           : const_cast<Node*>(&m_root);
}

QModelIndex CFolderTreeModel::IndexOfNode(const Node* node, int column) const {
    if (node == nullptr || node == &m_root) {
        return {};
    }
    return createIndex(node->row, column, const_cast<Node*>(node));
}

CFolderTreeModel::Node* CFolderTreeModel::AddNode(Node* parent, HTREEITEM item) {
    auto node = std::make_unique<Node>();
    node->handle = item;
    node->parent = parent;
    node->row = int(parent->children.size());
    Node* raw = node.get();
    parent->children.push_back(raw);
    m_nodes.emplace(item, std::move(node));
    return raw;
}

void CFolderTreeModel::InsertRun(Node* parent, const std::vector<HTREEITEM>& items) {
    std::vector<HTREEITEM> fresh;
    fresh.reserve(items.size());
    for (HTREEITEM item : items) {
        if (m_nodes.find(item) == m_nodes.end() &&
            std::find(fresh.begin(), fresh.end(), item) == fresh.end()) {
            fresh.push_back(item);
        }
    }
    if (fresh.empty()) {
        return;
    }
    const int first = int(parent->children.size());
    beginInsertRows(IndexOfNode(parent), first, first + int(fresh.size()) - 1);
    for (HTREEITEM item : fresh) {
        AddNode(parent, item);
    }
    endInsertRows();
}

void CFolderTreeModel::Remove(HTREEITEM item) {
    Node* node = NodeOf(item);
    if (node == nullptr || node == &m_root) {
        return;
    }
    Node* parent = node->parent;
    const int row = node->row;
    beginRemoveRows(IndexOfNode(parent), row, row);
    parent->children.erase(parent->children.begin() + row);
    for (int r = row; r < int(parent->children.size()); ++r) {
        parent->children[size_t(r)]->row = r;
    }
    std::vector<HTREEITEM> doomed{item};
    while (!doomed.empty()) {
        const HTREEITEM next = doomed.back();
        doomed.pop_back();
        auto found = m_nodes.find(next);
        if (found == m_nodes.end()) {
            continue;
        }
        for (const Node* child : found->second->children) {
            doomed.push_back(child->handle);
        }
        m_nodes.erase(found);
    }
    endRemoveRows();
}

void CFolderTreeModel::Reorder(const std::vector<HTREEITEM>& parents) {
    std::vector<Node*> nodes;
    std::unordered_set<Node*> seen;
    bool includesTopLevel = false;
    for (HTREEITEM handle : parents) {
        Node* node = NodeOf(handle);
        if (node != nullptr && node->children.size() > 1 && seen.insert(node).second) {
            nodes.push_back(node);
            includesTopLevel = includesTopLevel || node == &m_root;
        }
    }
    if (nodes.empty()) {
        return;
    }
    QList<QPersistentModelIndex> named;
    if (!includesTopLevel && nodes.size() <= kMaxNamedLayoutParents) {
        for (const Node* node : nodes) {
            named.append(QPersistentModelIndex(IndexOfNode(node)));
        }
    }
    Q_EMIT layoutAboutToBeChanged(named, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<std::pair<Node*, int>> saved;
    saved.reserve(size_t(before.size()));
    for (const QModelIndex& index : before) {
        saved.emplace_back(NodeOf(index), index.column());
    }
    for (Node* node : nodes) {
        ReorderChildren(node);
    }
    QModelIndexList after;
    after.reserve(before.size());
    for (const auto& [node, column] : saved) {
        after.append(IndexOfNode(node, column));
    }
    changePersistentIndexList(before, after);
    Q_EMIT layoutChanged(named, QAbstractItemModel::VerticalSortHint);
}

bool CFolderTreeModel::ReorderChildren(Node* parent) {
    // The store's order now, restricted to the children announced so far;
    // children the store no longer lists keep their relative order at the
    // end until their deletion is applied.
    std::vector<Node*> order;
    order.reserve(parent->children.size());
    const int count = m_store.GetChildCount(parent->handle);
    for (int row = 0; row < count; ++row) {
        Node* child = NodeOf(m_store.GetChildItem(parent->handle, row));
        if (child != nullptr && child->parent == parent && !child->placed) {
            child->placed = true;
            order.push_back(child);
        }
    }
    for (Node* child : parent->children) {
        if (!child->placed) {
            order.push_back(child);
        }
        child->placed = false;
    }
    if (order == parent->children) {
        return false;
    }
    parent->children = std::move(order);
    for (size_t r = 0; r < parent->children.size(); ++r) {
        parent->children[r]->row = int(r);
    }
    return true;
}

void CFolderTreeModel::FlushDataChanged() {
    if (m_changed.empty()) {
        return;
    }
    std::sort(m_changed.begin(), m_changed.end(), [](const Node* a, const Node* b) {
        return a->parent != b->parent ? a->parent < b->parent : a->row < b->row;
    });
    size_t i = 0;
    while (i < m_changed.size()) {
        size_t j = i;
        while (j + 1 < m_changed.size() && m_changed[j + 1]->parent == m_changed[i]->parent) {
            ++j;
        }
        Q_EMIT dataChanged(IndexOfNode(m_changed[i], 0),
                           IndexOfNode(m_changed[j], std::max(0, m_nColumns - 1)));
        i = j + 1;
    }
    m_changed.clear();
}

HTREEITEM CFolderTreeModel::HandleOf(const QModelIndex& index) const {
    return index.isValid() ? NodeOf(index)->handle : TVI_NULL;
}

QModelIndex CFolderTreeModel::IndexOf(HTREEITEM item, int column) const {
    auto found = m_nodes.find(item);
    return found == m_nodes.end() ? QModelIndex() : IndexOfNode(found->second.get(), column);
}

QModelIndex CFolderTreeModel::index(int row, int column, const QModelIndex& parent) const {
    const Node* node = NodeOf(parent);
    if (row < 0 || column < 0 || column >= m_nColumns || row >= int(node->children.size()) ||
        (parent.isValid() && parent.column() != 0)) {
        return {};
    }
    return createIndex(row, column, node->children[size_t(row)]);
}

QModelIndex CFolderTreeModel::parent(const QModelIndex& child) const {
    if (!child.isValid()) {
        return {};
    }
    return IndexOfNode(NodeOf(child)->parent);
}

int CFolderTreeModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid() && parent.column() != 0) {
        return 0;
    }
    return int(NodeOf(parent)->children.size());
}

int CFolderTreeModel::columnCount(const QModelIndex&) const {
    return m_nColumns;
}

bool CFolderTreeModel::hasChildren(const QModelIndex& parent) const {
    return rowCount(parent) > 0;
}

QVariant CFolderTreeModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) {
        return {};
    }
    const HTREEITEM item = NodeOf(index)->handle;
    const int column = index.column();
    switch (role) {
        case Qt::DisplayRole: {
            QString text = Text(m_store.GetItemText(item, column));
            if (text.isEmpty() && column == m_store.GetPercentColumn()) {
                const int percent = m_store.GetItemPercent(item);
                if (percent >= 0) {
                    text = QString::asprintf("%d%%", percent);
                }
            }
            return text;
        }
        case Qt::DecorationRole:
            if (column == 0) {
                return ImageIcon(m_store.GetItemImage(item));
            }
            return {};
        case Qt::TextAlignmentRole:
            if (column == 0) {
                return int(Qt::AlignLeft | Qt::AlignVCenter);
            }
            if (column == m_store.GetPercentColumn()) {
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

QVariant CFolderTreeModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= m_nColumns) {
        return {};
    }
    if (role == Qt::DisplayRole) {
        return Text(m_store.GetColumnTitle(section));
    }
    if (role == Qt::TextAlignmentRole) {
        switch (m_store.GetColumnAlignment(section)) {
            case kAlignRight:
                return int(Qt::AlignRight | Qt::AlignVCenter);
            case kAlignCentre:
                return int(Qt::AlignCenter);
            default:
                return int(Qt::AlignLeft | Qt::AlignVCenter);
        }
    }
    return {};
}

Qt::ItemFlags CFolderTreeModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) {
        return Qt::NoItemFlags;
    }
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

QIcon CFolderTreeModel::ImageIcon(int image) const {
    if (image < 0) {
        return {};
    }
    auto cached = m_icons.constFind(image);
    if (cached != m_icons.constEnd()) {
        return *cached;
    }
    QIcon icon;
    if (image == kImageFilesItem) {
        icon = QIcon(FilesItemImage());
    } else if (image == kImageFolder) {
        icon = QIcon(FolderItemImage());
    } else {
        // A scan root on a mount point or a network location: the desktop's icon.
        static QFileIconProvider provider;
        const std::string path = m_store.GetShellIconPath(image);
        if (IsNetworkStylePath(path)) {
            icon = provider.icon(QFileIconProvider::Network);
        } else if (!path.empty()) {
            // Only mount points get an image of their own: show them as drives.
            icon = provider.icon(QFileIconProvider::Drive);
        }
        if (icon.isNull()) {
            icon = QIcon(FolderItemImage());
        }
    }
    m_icons.insert(image, icon);
    return icon;
}

}  // namespace quarn
