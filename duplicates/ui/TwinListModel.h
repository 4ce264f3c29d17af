#pragma once
// A table model over the twin engine's rows (TwinRows of a TwinScanner), with
// the columns File, Path, Size, Modified and Content.
//
// Workers append and delete rows under the rows' lock; the rows record each
// change in a journal and post one announcement until it is taken. The model
// takes the journal on the interface thread, at most about 30 times a second
// (fewer for very long lists), and replays it as row insertions, removals
// and resets, so a view keeps its selection and scroll position while a scan
// fills the list. Texts are made from each row's raw fields when the view
// asks; the Content cell adds ", reference" for a file in a reference
// folder, and its tool tip says why a file is changed or unread. A twin
// folder's row reads "folder, 120 files" and shows a folder icon. A
// group's icon is looked up once, until a new scan brings a new index.
//
// Threads: interface thread only, except that the rows call the posted
// announcement on the engine's workers (it only queues a call to this
// thread). The engine and the icon provider must outlive the model.

#include <QAbstractTableModel>
#include <QElapsedTimer>
#include <QHash>
#include <QIcon>
#include <QTimer>
#include <vector>

#include "duplicates/TwinScanner.h"

namespace quarn {

class MimeIconProvider;

class TwinListModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    enum Column {
        kFileColumn = 0,
        kPathColumn = 1,
        kSizeColumn = 2,
        kModifiedColumn = 3,
        kContentColumn = 4,
        kColumnCount = 5,
    };
    // The shortest time between two replays, in milliseconds; a list of more
    // than 165,000 rows waits one more millisecond per kRowsPerExtraMs rows
    // (a million rows: 5 replays a second).
    static constexpr int kRefreshIntervalMs = 33;
    static constexpr int kRowsPerExtraMs = 5000;
    // True for the first row of a group that follows another group's rows.
    static constexpr int kGroupStartRole = Qt::UserRole + 1;

    // `icons` may be null (no icons).
    TwinListModel(TwinScanner& twins, MimeIconProvider* icons, QObject* parent = nullptr);
    ~TwinListModel() override;

    // The titles and alignments of the columns: "File" left, "Path" left,
    // "Size" right, "Modified" right, "Content" left.
    static QString ColumnTitle(int column);
    static Qt::Alignment ColumnAlignment(int column);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    TwinScanner& Twins() const { return m_twins; }

    // Replays the rows' changes now (the timer does this on its own).
    void ApplyPendingChanges();

    // Every shown row is read anew: for changes the journal does not carry
    // (a copy that became a hard link keeps its row).
    void RepaintRows();

    // How many replays have happened, and whether one is due; let tests see
    // the coalescing.
    int ReplayCount() const { return m_replays; }
    bool ReplayPending() const { return m_timer.isActive(); }

  private:
    // Called by name from the engine's worker (see the constructor).
    Q_INVOKABLE void OnChangesPosted();
    void Replay(const std::vector<RowChange>& changes);
    QVariant GroupIcon(const TwinRow& row) const;

    TwinScanner& m_twins;
    MimeIconProvider* m_pIcons;
    int m_rowCount = 0;  // the rows the view has been told of
    QTimer m_timer;
    QElapsedTimer m_sinceReplay;
    int m_replays = 0;
    // Icon indexes by group, of the index they were looked up in.
    mutable QHash<GroupId, int> m_groupIcons;
    mutable uint64_t m_iconIndexGeneration = 0;
    mutable QIcon m_folderIcon;  // made when first shown
};

}  // namespace quarn
