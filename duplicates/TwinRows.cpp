#include "duplicates/TwinRows.h"

namespace quarn {

TwinRows::TwinRows() = default;

TwinRows::~TwinRows() {
    DetachListener();
}

int TwinRows::AddRow(const TreeNode& group, int i) {
    if (group.Tree() == nullptr || group.FileCount() == 0) {
        return -1;
    }
    FileId file = kNoFile;
    if (i == -1) {
        file = group.LastFile();
    } else if (i >= 0) {
        file = group.FirstFile();
        while (i-- > 0 && file != kNoFile) {
            file = group.NextFile(file);
        }
    }
    if (file == kNoFile) {
        return -1;
    }
    return AddRowForFile(group, file);
}

int TwinRows::AddRowForFile(const TreeNode& group, FileId file) {
    std::lock_guard lock(m_mutex);
    const int row = int(m_rows.size());
    m_rows.push_back(RowSource{group.Id(), file});
    Record(RowChange{RowChange::Appended, row, 1});
    return row;
}

void TwinRows::ReplaceRows(std::vector<RowSource> rows) {
    std::lock_guard lock(m_mutex);
    DeleteAllItemsLocked();
    m_rows = std::move(rows);
    if (!m_rows.empty()) {
        Record(RowChange{RowChange::Appended, 0, int(m_rows.size())});
    }
}

int TwinRows::RemoveRowsIf(const std::function<bool(const RowSource&)>& remove) {
    std::lock_guard lock(m_mutex);
    return RemoveRowsIfLocked(remove);
}

int TwinRows::RemoveRowsIfLocked(const std::function<bool(const RowSource&)>& remove) {
    size_t kept = 0;
    int removed = 0;
    for (size_t i = 0; i < m_rows.size(); ++i) {
        if (remove(m_rows[i])) {
            // Rows before it have moved up by the ones removed already.
            Record(RowChange{RowChange::Removed, int(i) - removed, 1});
            ++removed;
        } else {
            m_rows[kept++] = m_rows[i];
        }
    }
    m_rows.resize(kept);
    return removed;
}

int TwinRows::GetItemCount() const {
    std::lock_guard lock(m_mutex);
    return int(m_rows.size());
}

std::optional<RowSource> TwinRows::GetRowSource(int row) const {
    std::lock_guard lock(m_mutex);
    return GetRowSourceLocked(row);
}

std::optional<RowSource> TwinRows::GetRowSourceLocked(int row) const {
    if (row < 0 || size_t(row) >= m_rows.size()) {
        return std::nullopt;
    }
    return m_rows[size_t(row)];
}

uint64_t TwinRows::IndexGeneration() const {
    std::lock_guard lock(m_mutex);
    return m_indexGeneration;
}

void TwinRows::DeleteAllItems() {
    std::lock_guard lock(m_mutex);
    DeleteAllItemsLocked();
}

void TwinRows::DeleteAllItemsLocked(bool newIndex) {
    const int count = int(m_rows.size());
    std::vector<RowSource>().swap(m_rows);
    if (newIndex) {
        ++m_indexGeneration;
    }
    Record(RowChange{RowChange::AllDeleted, 0, count});
}

void TwinRows::Record(RowChange change) {
    if (!m_listening) {
        return;
    }
    if (change.kind == RowChange::AllDeleted) {
        if (m_journal.empty() && m_rowsKnownToListener == 0) {
            return;  // the listener knows no rows and has nothing pending: no news
        }
        // Whatever happened since the listener last looked is gone: one reset
        // of the rows it knows replaces it.
        m_journal.clear();
        m_journal.push_back(RowChange{RowChange::AllDeleted, 0, m_rowsKnownToListener});
    } else if (change.kind == RowChange::Appended && !m_journal.empty() &&
               m_journal.back().kind == RowChange::Appended &&
               m_journal.back().row + m_journal.back().count == change.row) {
        m_journal.back().count += change.count;
    } else if (change.kind == RowChange::Removed && !m_journal.empty() &&
               m_journal.back().kind == RowChange::Removed && m_journal.back().row == change.row) {
        m_journal.back().count += change.count;  // the rows after it, one by one
    } else {
        m_journal.push_back(change);
    }
    m_notifier.Notify();
}

void TwinRows::AttachListener(ChangeNotifier::Poster poster) {
    {
        std::lock_guard lock(m_mutex);
        m_listening = true;
        m_journal.clear();
        m_rowsKnownToListener = int(m_rows.size());
    }
    m_notifier.SetPoster(std::move(poster));
}

void TwinRows::DetachListener() {
    {
        std::lock_guard lock(m_mutex);
        m_listening = false;
        m_journal.clear();
    }
    m_notifier.SetPoster({});
}

std::vector<RowChange> TwinRows::TakeChanges() {
    m_notifier.Acknowledge();
    std::lock_guard lock(m_mutex);
    std::vector<RowChange> changes;
    changes.swap(m_journal);
    m_rowsKnownToListener = int(m_rows.size());
    return changes;
}

}  // namespace quarn
