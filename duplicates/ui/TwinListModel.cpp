#include "duplicates/ui/TwinListModel.h"

#include <QFile>
#include <QMetaObject>
#include <algorithm>

#include "controls/FileNameText.h"
#include "duplicates/ui/MimeIconProvider.h"

namespace quarn {

namespace {

// Past this many single-row removals in one replay, a reset is cheaper for
// the view than announcing each one.
constexpr size_t kMaxRemovalsReplayed = 256;

Qt::Alignment AlignmentOf(ColumnAlignment alignment) {
    return (alignment == ColumnAlignment::Right ? Qt::AlignRight : Qt::AlignLeft) |
           Qt::AlignVCenter;
}

}  // namespace

TwinListModel::TwinListModel(CFileListCtrl& list, MimeIconProvider* icons, QObject* parent)
    : QAbstractTableModel(parent), m_list(list), m_pIcons(icons) {
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &TwinListModel::ApplyPendingChanges);
    // The poster runs on a worker: it only queues the call to this thread.
    // Once the listener is detached (destructor) no poster runs any more.
    m_list.AttachListener([this] {
        // By name: Qt makes and frees the queued call in its own code, and no
        // functor of ours crosses between the threads.
        QMetaObject::invokeMethod(this, "OnChangesPosted", Qt::QueuedConnection);
    });
    m_list.TakeChanges();
    m_rowCount = m_list.GetItemCount();
}

TwinListModel::TwinListModel(CTwinListView& list, MimeIconProvider* icons, QObject* parent)
    : TwinListModel(static_cast<CFileListCtrl&>(list), icons, parent) {
    m_pTwins = &list;
}

TwinListModel::~TwinListModel() {
    m_list.DetachListener();
}

int TwinListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_rowCount;
}

int TwinListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_list.GetColumnCount();
}

QVariant TwinListModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
        return QVariant();
    }
    const int row = index.row();
    const int column = index.column();
    switch (role) {
        case Qt::DisplayRole: {
            const std::string text = m_list.GetRowText(row, column);
            if (column == CFileListCtrl::kFileColumn || column == CFileListCtrl::kPathColumn) {
                // Names and paths are the file system's bytes.
                return FileNameText(text);
            }
            return QString::fromLocal8Bit(text.data(), qsizetype(text.size()));
        }
        case Qt::ToolTipRole:
            // The path column is often narrower than the path.
            if (column == CFileListCtrl::kPathColumn) {
                return FileNameText(m_list.GetRowText(row, column));
            }
            if (column == CFileListCtrl::kContentColumn && m_pTwins != nullptr) {
                const std::optional<RowSource> source = m_list.GetRowSource(row);
                const std::string reason =
                    source ? m_pTwins->VerdictReason(source->file) : std::string();
                return reason.empty() ? QVariant() : QVariant(QString::fromStdString(reason));
            }
            return QVariant();
        case kGroupStartRole: {
            if (row == 0) {
                return false;
            }
            const std::optional<RowSource> source = m_list.GetRowSource(row);
            const std::optional<RowSource> before = m_list.GetRowSource(row - 1);
            return source && before && source->group != before->group;
        }
        case Qt::DecorationRole:
            if (column == CFileListCtrl::kFileColumn && m_pIcons != nullptr) {
                const QIcon icon = m_pIcons->IconAt(m_list.GetRowImage(row));
                return icon.isNull() ? QVariant() : QVariant(icon);
            }
            return QVariant();
        case Qt::TextAlignmentRole:
            return QVariant(int(AlignmentOf(m_list.GetColumnAlignment(column))));
        default:
            return QVariant();
    }
}

QVariant TwinListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= m_list.GetColumnCount()) {
        return QVariant();
    }
    switch (role) {
        case Qt::DisplayRole:
            return QString::fromStdString(m_list.GetColumnTitle(section));
        case Qt::TextAlignmentRole:
            return QVariant(int(AlignmentOf(m_list.GetColumnAlignment(section))));
        case Qt::SizeHintRole:
            return QVariant();
        default:
            return QVariant();
    }
}

Qt::ItemFlags TwinListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) {
        return Qt::NoItemFlags;
    }
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

void TwinListModel::OnChangesPosted() {
    if (m_timer.isActive()) {
        return;
    }
    // The first change after a quiet spell shows at once; during a scan the
    // replays come no closer than the interval.
    // A view lays out all its rows after every insertion (about 50 ms for a
    // million), so long lists are replayed less often.
    const qint64 interval = std::max(kRefreshIntervalMs, m_rowCount / kRowsPerExtraMs);
    qint64 wait = 0;
    if (m_sinceReplay.isValid()) {
        wait = interval - m_sinceReplay.elapsed();
    }
    m_timer.start(int(std::max<qint64>(0, wait)));
}

void TwinListModel::ApplyPendingChanges() {
    m_timer.stop();
    const std::vector<RowChange> changes = m_list.TakeChanges();
    m_sinceReplay.restart();
    if (!changes.empty()) {
        Replay(changes);
        ++m_replays;
    }
}

void TwinListModel::Replay(const std::vector<RowChange>& changes) {
    // Everything before the last "all deleted" is moot.
    size_t first = 0;
    bool reset = false;
    size_t removals = 0;
    for (size_t i = 0; i < changes.size(); ++i) {
        if (changes[i].kind == RowChange::AllDeleted) {
            first = i + 1;
            reset = true;
            removals = 0;
        } else if (changes[i].kind == RowChange::Removed) {
            ++removals;
        }
    }
    reset = reset || removals > kMaxRemovalsReplayed;

    auto resetTo = [this](int count) {
        beginResetModel();
        m_rowCount = count;
        endResetModel();
    };

    if (reset) {
        int count = first > 0 ? 0 : m_rowCount;
        for (size_t i = first; i < changes.size(); ++i) {
            count += changes[i].kind == RowChange::Appended ? changes[i].count : -changes[i].count;
        }
        resetTo(count >= 0 ? count : m_list.GetItemCount());
        return;
    }

    for (size_t i = 0; i < changes.size();) {
        const RowChange& change = changes[i];
        if (change.count <= 0) {
            ++i;
            continue;
        }
        if (change.kind == RowChange::Appended) {
            if (change.row != m_rowCount) {
                // The journal and the rows known here disagree (a listener
                // attached while a worker appended): start over from the store.
                resetTo(m_list.GetItemCount());
                return;
            }
            // Consecutive appends become one insertion.
            int total = change.count;
            size_t next = i + 1;
            while (next < changes.size() && changes[next].kind == RowChange::Appended &&
                   changes[next].row == change.row + total && changes[next].count > 0) {
                total += changes[next].count;
                ++next;
            }
            beginInsertRows(QModelIndex(), change.row, change.row + total - 1);
            m_rowCount += total;
            endInsertRows();
            i = next;
        } else {
            if (change.row < 0 || change.row + change.count > m_rowCount) {
                resetTo(m_list.GetItemCount());
                return;
            }
            beginRemoveRows(QModelIndex(), change.row, change.row + change.count - 1);
            m_rowCount -= change.count;
            endRemoveRows();
            ++i;
        }
    }
}

}  // namespace quarn
