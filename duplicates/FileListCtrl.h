#pragma once
// The twin list's rows, independent of any display: a thread-safe store that
// workers append to and a view reads.
//
// A row shows one file of a group: File (the group's name), Path, Size
// ("1536 Bytes"), Modified (local time, "%d.%m.%y  %H:%M:%S ") and Content
// (what a verification found, empty before one), and an image index (the
// group's icon, -1 = none). Rows stand in the order they were appended;
// nothing sorts them.
//
// A row refers to its file in the tree (group id, file id), and its texts
// are made from the tree when read, so a million rows cost a few bytes each.
// The ids stay valid until the rows are deleted; the owner deletes all rows
// together with (and before) emptying the tree, under RowMutex().
//
// Threads: every member may be called from any thread; one mutex guards the
// rows. A view attaches a listener (AttachListener) and is told through a
// coalescing ChangeNotifier; it then calls TakeChanges() on its own thread.
// The icon provider is called outside the lock, on the appending thread.

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "duplicates/BinBaum.h"
#include "platform/ChangeNotifier.h"

namespace quarn {

enum class ColumnAlignment { Left, Right };

struct ListColumn {
    std::string title;
    int width = 0;  // pixels
    ColumnAlignment alignment = ColumnAlignment::Left;
};

// Gives the icon of a file. Set by the window; the headless report has none
// (rows then have image -1). Called on worker threads, once per group, never
// while the row lock is held.
class IconKeyProvider {
  public:
    virtual ~IconKeyProvider() = default;
    virtual int IconIndexForFile(const std::string& path) = 0;
};

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

// Where a row came from: the group and file in the tree it was made from.
struct RowSource {
    GroupId group = 0;
    FileId file = kNoFile;
};

class CFileListCtrl {
  public:
    static constexpr int kColumnCount = 5;
    enum Column {
        kFileColumn = 0,
        kPathColumn = 1,
        kSizeColumn = 2,
        kModifiedColumn = 3,
        kContentColumn = 4,
    };

    CFileListCtrl();
    virtual ~CFileListCtrl();
    CFileListCtrl(const CFileListCtrl&) = delete;
    CFileListCtrl& operator=(const CFileListCtrl&) = delete;

    // The columns: "File" 100 left, "Path" 340 left, "Size" 75 right,
    // "Modified" 110 right, "Content" 80 left. Done by the constructor;
    // calling again restores them.
    void SetupColumns();
    int GetColumnCount() const { return kColumnCount; }
    // Out-of-range columns give an empty title, width 0, left alignment.
    std::string GetColumnTitle(int column) const;
    int GetColumnWidth(int column) const;
    ColumnAlignment GetColumnAlignment(int column) const;

    // Not owned; must outlive the list or be reset to null first.
    void SetIconKeyProvider(IconKeyProvider* provider);

    // Appends the row of file `i` (join order; -1 = the group's last file)
    // of `group`; returns its row index, or -1 when there is no such file.
    // All rows refer to one tree: a row of another tree first deletes the
    // rows of the previous one.
    int AddRow(const TreeNode& group, int i);
    // The same for a file given by id (a file of `group`).
    int AddRowForFile(const TreeNode& group, FileId file);

    int GetItemCount() const;
    // Out-of-range rows or columns read as "" / image -1 / nothing.
    std::string GetRowText(int row, int column) const;
    int GetRowImage(int row) const;
    std::optional<RowSource> GetRowSource(int row) const;

    void DeleteAllItems();
    // Removes one row; later rows move up. False when out of range.
    bool DeleteRow(int row);

    // --- Change announcements ----------------------------------------------
    // While a listener is attached, every change is recorded in a journal and
    // announced through `poster` (coalesced; the poster must not block).
    void AttachListener(ChangeNotifier::Poster poster);
    void DetachListener();
    // The changes since the last call, oldest first; acknowledges the
    // announcement so the next change posts again.
    std::vector<RowChange> TakeChanges();

    // The texts a row shows, as AddRow makes them (also for the report).
    static std::string FormatSizeText(uint64_t bytes);
    static std::string FormatModifiedText(uint64_t fileTime);

  protected:
    // The lock of the rows; a subclass holds it while it empties its tree so
    // no reader meets a row whose file is gone.
    std::mutex& RowMutex() const { return m_mutex; }
    // DeleteAllItems for a caller that holds RowMutex().
    void DeleteAllItemsLocked();
    // Removes every row for which `remove` is true, in one pass; later rows
    // move up. For a caller that holds RowMutex(). Returns the rows removed.
    int RemoveRowsLocked(const std::function<bool(const RowSource&)>& remove);
    // Replaces all rows by `rows` (files of this list's tree), icons as
    // AddRowForFile finds them. Takes the lock.
    void ReplaceRows(const std::vector<RowSource>& rows, const BinBaum& tree);
    // The Content text of a row's file; called with RowMutex() held.
    virtual std::string ContentTextLocked(const RowSource& source) const;

  private:
    // 12 bytes: a million rows of a search stay small.
    struct Row {
        GroupId group;
        FileId file;
        int image;
    };

    void Record(RowChange change);
    bool DeleteRowLocked(int row);
    int ImageFor(const BinBaum& tree, const TreeNode& group, FileId file);

    mutable std::mutex m_mutex;
    std::vector<ListColumn> m_columns;
    std::vector<Row> m_rows;
    const BinBaum* m_pTree = nullptr;  // the tree every row refers to
    IconKeyProvider* m_pIconProvider = nullptr;
    bool m_listening = false;
    int m_rowsKnownToListener = 0;
    std::vector<RowChange> m_journal;
    ChangeNotifier m_notifier;
};

}  // namespace quarn
