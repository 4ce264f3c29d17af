#pragma once
// The twin list's rows as plain data: which file of which group each row
// shows, in the order the rows were added (nothing sorts them). A row holds
// its group and file ids (8 bytes); what it shows is read from the twin
// index when shown, so a million rows cost a few megabytes.
//
// Threads: every member may be called from any thread; one mutex guards the
// rows. The owner (TwinScanner) empties its index only under RowMutex(), so
// that no reader meets a row whose file is gone. A view attaches a listener
// and is told of changes through a coalescing ChangeNotifier; it then calls
// TakeChanges() on its own thread.

#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "duplicates/BinBaum.h"
#include "platform/ChangeNotifier.h"

namespace quarn {

// One entry of the change journal, in the order the changes were made.
struct RowChange {
    enum Kind {
        Appended,    // rows row .. row+count-1 were appended
        Removed,     // rows row .. row+count-1 were removed; later rows moved up
        AllDeleted,  // every row was removed (row 0, count = the rows the listener knew
                     // when it last took changes); earlier entries are dropped
    } kind;
    int row;
    int count;
};

// Where a row came from: the group and file in the index it was made from.
struct RowSource {
    GroupId group = 0;
    FileId file = kNoFile;
};

class TwinRows {
  public:
    TwinRows();
    ~TwinRows();
    TwinRows(const TwinRows&) = delete;
    TwinRows& operator=(const TwinRows&) = delete;

    // Appends the row of file `i` (join order; -1 = the group's last file)
    // of `group`; returns its row index, or -1 when there is no such file.
    int AddRow(const TreeNode& group, int i);
    // The same for a file given by id (a file of `group`).
    int AddRowForFile(const TreeNode& group, FileId file);

    int GetItemCount() const;
    // Nothing for a row out of range.
    std::optional<RowSource> GetRowSource(int row) const;

    void DeleteAllItems();
    // Replaces all rows by `rows`.
    void ReplaceRows(std::vector<RowSource> rows);
    // Removes every row for which `remove` is true, in one pass; later rows
    // move up. Returns the rows removed.
    int RemoveRowsIf(const std::function<bool(const RowSource&)>& remove);

    // A new index (a new scan): a view forgets what it knew of the old
    // groups, such as their icons. Grows with every DeleteAllItems that the
    // owner calls with `newIndex`.
    uint64_t IndexGeneration() const;

    // --- Change announcements ----------------------------------------------
    // While a listener is attached, every change is recorded in a journal and
    // announced through `poster` (coalesced; the poster must not block).
    void AttachListener(ChangeNotifier::Poster poster);
    void DetachListener();
    // The changes since the last call, oldest first; acknowledges the
    // announcement so the next change posts again.
    std::vector<RowChange> TakeChanges();

    // The lock of the rows; the owner holds it while it empties its index.
    std::mutex& RowMutex() const { return m_mutex; }
    // For a caller that holds RowMutex().
    void DeleteAllItemsLocked(bool newIndex = false);
    int RemoveRowsIfLocked(const std::function<bool(const RowSource&)>& remove);
    int GetItemCountLocked() const { return int(m_rows.size()); }
    std::optional<RowSource> GetRowSourceLocked(int row) const;

  private:
    void Record(RowChange change);

    mutable std::mutex m_mutex;
    std::vector<RowSource> m_rows;
    uint64_t m_indexGeneration = 0;
    bool m_listening = false;
    int m_rowsKnownToListener = 0;
    std::vector<RowChange> m_journal;
    ChangeNotifier m_notifier;
};

}  // namespace quarn
