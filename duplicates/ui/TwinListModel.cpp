#include "duplicates/ui/TwinListModel.h"

#include <QFile>
#include <QMetaObject>
#include <algorithm>

#include "controls/AppIcons.h"
#include "controls/FileNameText.h"
#include "duplicates/TwinRowText.h"
#include "duplicates/ui/MimeIconProvider.h"

namespace quarn {

namespace {

// Past this many single-row removals in one replay, a reset is cheaper for
// the view than announcing each one.
constexpr size_t kMaxRemovalsReplayed = 256;

// The verdict, and whether the file lies in a reference folder, which
// nothing ever selects, trashes or replaces.
QString ContentCellText(const TwinRow& row) {
    const std::string_view verdict = ContentText(row.content);
    QString text = QString::fromLatin1(verdict.data(), qsizetype(verdict.size()));
    if (row.content == Content::Folder) {
        // A whole folder: how much it holds tells it from a stray copy.
        text += row.files == 1 ? QStringLiteral(", 1 file")
                               : QStringLiteral(", %1 files").arg(row.files);
    }
    if (row.reference) {
        text += text.isEmpty() ? QStringLiteral("reference") : QStringLiteral(", reference");
    }
    return text;
}

}  // namespace

TwinListModel::TwinListModel(TwinScanner& twins, MimeIconProvider* icons, QObject* parent)
    : QAbstractTableModel(parent), m_twins(twins), m_pIcons(icons) {
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &TwinListModel::ApplyPendingChanges);
    // The poster runs on a worker: it only queues the call to this thread.
    // Once the listener is detached (destructor) no poster runs any more.
    m_twins.Rows().AttachListener([this] {
        // By name: Qt makes and frees the queued call in its own code, and no
        // functor of ours crosses between the threads.
        QMetaObject::invokeMethod(this, "OnChangesPosted", Qt::QueuedConnection);
    });
    m_twins.Rows().TakeChanges();
    m_rowCount = m_twins.Rows().GetItemCount();
}

TwinListModel::~TwinListModel() {
    m_twins.Rows().DetachListener();
}

QString TwinListModel::ColumnTitle(int column) {
    static const char* const titles[kColumnCount] = {"File", "Path", "Size", "Modified", "Content"};
    return column >= 0 && column < kColumnCount ? QString::fromLatin1(titles[column]) : QString();
}

Qt::Alignment TwinListModel::ColumnAlignment(int column) {
    const bool right = column == kSizeColumn || column == kModifiedColumn;
    return (right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter;
}

int TwinListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_rowCount;
}

int TwinListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant TwinListModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
        return QVariant();
    }
    const int column = index.column();
    if (role == Qt::TextAlignmentRole) {
        return QVariant(int(ColumnAlignment(column)));
    }
    if (role == kGroupStartRole) {
        if (index.row() == 0) {
            return false;
        }
        const std::optional<RowSource> source = m_twins.Rows().GetRowSource(index.row());
        const std::optional<RowSource> before = m_twins.Rows().GetRowSource(index.row() - 1);
        return source && before && source->group != before->group;
    }
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole && role != Qt::DecorationRole) {
        return QVariant();
    }
    const std::optional<TwinRow> row = m_twins.RowAt(index.row());
    if (!row) {
        return QVariant();
    }
    switch (role) {
        case Qt::DisplayRole:
            switch (column) {
                case kFileColumn:
                    // Names and paths are the file system's bytes.
                    return FileNameText(row->name);
                case kPathColumn:
                    return FileNameText(row->path);
                case kSizeColumn:
                    return QString::fromStdString(FormatSizeText(row->size));
                case kModifiedColumn:
                    return QString::fromLocal8Bit(FormatModifiedText(row->lastWriteTime));
                case kContentColumn:
                    return ContentCellText(*row);
                default:
                    return QVariant();
            }
        case Qt::ToolTipRole:
            // The path column is often narrower than the path.
            if (column == kPathColumn) {
                return FileNameText(row->path);
            }
            if (column == kContentColumn && !row->reason.empty()) {
                return QString::fromStdString(row->reason);
            }
            return QVariant();
        case Qt::DecorationRole:
            return column == kFileColumn ? GroupIcon(*row) : QVariant();
        default:
            return QVariant();
    }
}

QVariant TwinListModel::GroupIcon(const TwinRow& row) const {
    if (m_pIcons == nullptr) {
        return QVariant();
    }
    if (row.content == Content::Folder) {
        // The theme's folder, as the file rows show the theme's types.
        if (m_folderIcon.isNull()) {
            m_folderIcon = QIcon::fromTheme(QStringLiteral("folder"), QIcon(FolderItemImage()));
        }
        return m_folderIcon;
    }
    // One look-up per group: a new scan's index numbers its groups anew.
    const uint64_t generation = m_twins.Rows().IndexGeneration();
    if (generation != m_iconIndexGeneration) {
        m_groupIcons.clear();
        m_iconIndexGeneration = generation;
    }
    auto cached = m_groupIcons.constFind(row.source.group);
    const int image =
        cached != m_groupIcons.constEnd()
            ? *cached
            : *m_groupIcons.insert(row.source.group, m_pIcons->IconIndexForFile(row.path));
    const QIcon icon = m_pIcons->IconAt(image);
    return icon.isNull() ? QVariant() : QVariant(icon);
}

QVariant TwinListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount) {
        return QVariant();
    }
    switch (role) {
        case Qt::DisplayRole:
            return ColumnTitle(section);
        case Qt::TextAlignmentRole:
            return QVariant(int(ColumnAlignment(section)));
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

void TwinListModel::RepaintRows() {
    if (m_rowCount > 0) {
        Q_EMIT dataChanged(index(0, 0), index(m_rowCount - 1, kColumnCount - 1));
    }
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
    const std::vector<RowChange> changes = m_twins.Rows().TakeChanges();
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
        resetTo(count >= 0 ? count : m_twins.Rows().GetItemCount());
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
                resetTo(m_twins.Rows().GetItemCount());
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
                resetTo(m_twins.Rows().GetItemCount());
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
