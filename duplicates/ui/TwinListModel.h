#pragma once
// A table model over the twin list's row store (CFileListCtrl).
//
// Workers append and delete rows under the store's lock; the store records
// each change in a journal and posts one announcement until it is taken.
// The model takes the journal on the interface thread, at most about 30
// times a second (fewer for very long lists), and replays it as row
// insertions, removals and resets, so a view keeps its selection and scroll
// position while a scan fills the list.
//
// Texts are read from the store when the view asks for them; for a twin
// list (CTwinListView) the Content cell's tool tip says why a file is
// changed or unread. Between a
// worker's change and the next replay a visible row may briefly show the
// store's newer text; the row count the view knows is always the model's own.
//
// Threads: interface thread only, except that the store calls the posted
// announcement on its workers (it only queues a call to this thread).
// Ownership: the store and the icon provider are not owned and must outlive
// the model.

#include <QAbstractTableModel>
#include <QElapsedTimer>
#include <QTimer>
#include <vector>

#include "duplicates/TwinListView.h"

namespace quarn {

class MimeIconProvider;

class TwinListModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    // The shortest time between two replays, in milliseconds; a list of more
    // than 165,000 rows waits one more millisecond per kRowsPerExtraMs rows
    // (a million rows: 5 replays a second).
    static constexpr int kRefreshIntervalMs = 33;
    static constexpr int kRowsPerExtraMs = 5000;
    // True for the first row of a group that follows another group's rows.
    static constexpr int kGroupStartRole = Qt::UserRole + 1;

    TwinListModel(CFileListCtrl& list, MimeIconProvider* icons, QObject* parent = nullptr);
    TwinListModel(CTwinListView& list, MimeIconProvider* icons, QObject* parent = nullptr);
    ~TwinListModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    CFileListCtrl& List() const { return m_list; }

    // Replays the store's changes now (the timer does this on its own).
    void ApplyPendingChanges();

    // How many replays have happened; lets tests see the coalescing.
    int ReplayCount() const { return m_replays; }

  private:
    // Called by name from the list's worker (see the constructor).
    Q_INVOKABLE void OnChangesPosted();
    void Replay(const std::vector<RowChange>& changes);

    CFileListCtrl& m_list;
    CTwinListView* m_pTwins = nullptr;  // the same list, when it is a twin list
    MimeIconProvider* m_pIcons;
    int m_rowCount = 0;  // the rows the view has been told of
    QTimer m_timer;
    QElapsedTimer m_sinceReplay;
    int m_replays = 0;
};

}  // namespace quarn
