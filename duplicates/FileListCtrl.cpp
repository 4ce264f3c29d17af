#include "duplicates/FileListCtrl.h"

#include <cinttypes>
#include <cstdio>
#include <ctime>

#include "platform/FileTime.h"

namespace quarn {

CFileListCtrl::CFileListCtrl() {
    SetupColumns();
}

CFileListCtrl::~CFileListCtrl() {
    DetachListener();
}

void CFileListCtrl::SetupColumns() {
    std::lock_guard lock(m_mutex);
    m_columns = {
        {"File", 100, ColumnAlignment::Left},   {"Path", 340, ColumnAlignment::Left},
        {"Size", 75, ColumnAlignment::Right},   {"Modified", 110, ColumnAlignment::Right},
        {"Content", 80, ColumnAlignment::Left},
    };
}

std::string CFileListCtrl::GetColumnTitle(int column) const {
    std::lock_guard lock(m_mutex);
    return column >= 0 && size_t(column) < m_columns.size() ? m_columns[column].title
                                                            : std::string();
}

int CFileListCtrl::GetColumnWidth(int column) const {
    std::lock_guard lock(m_mutex);
    return column >= 0 && size_t(column) < m_columns.size() ? m_columns[column].width : 0;
}

ColumnAlignment CFileListCtrl::GetColumnAlignment(int column) const {
    std::lock_guard lock(m_mutex);
    return column >= 0 && size_t(column) < m_columns.size() ? m_columns[column].alignment
                                                            : ColumnAlignment::Left;
}

void CFileListCtrl::SetIconKeyProvider(IconKeyProvider* provider) {
    std::lock_guard lock(m_mutex);
    m_pIconProvider = provider;
}

int CFileListCtrl::AddRow(const TreeNode& group, int i) {
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

int CFileListCtrl::ImageFor(const BinBaum& tree, const TreeNode& group, FileId file) {
    // The icon is looked up once per group; the tree keeps it. The provider
    // may be slow or talk to the interface thread, so no lock is held.
    IconKeyProvider* provider;
    {
        std::lock_guard lock(m_mutex);
        provider = m_pIconProvider;
    }
    if (provider == nullptr) {
        return -1;
    }
    int image = tree.GroupIcon(group.Id());
    if (image == -1) {
        image = provider->IconIndexForFile(tree.FilePath(group.Id(), file));
        const_cast<BinBaum&>(tree).SetGroupIcon(group.Id(), image);
    }
    return image;
}

int CFileListCtrl::AddRowForFile(const TreeNode& group, FileId file) {
    const BinBaum* tree = group.Tree();
    if (tree == nullptr) {
        return -1;
    }
    int image = ImageFor(*tree, group, file);
    std::lock_guard lock(m_mutex);
    if (tree != m_pTree) {
        if (!m_rows.empty()) {
            DeleteAllItemsLocked();
        }
        m_pTree = tree;
    }
    int row = int(m_rows.size());
    m_rows.push_back(Row{group.Id(), file, image});
    Record(RowChange{RowChange::Appended, row, 1});
    return row;
}

void CFileListCtrl::ReplaceRows(const std::vector<RowSource>& rows, const BinBaum& tree) {
    std::vector<Row> fresh;
    fresh.reserve(rows.size());
    for (const RowSource& source : rows) {
        fresh.push_back(Row{source.group, source.file,
                            ImageFor(tree, TreeNode(&tree, source.group), source.file)});
    }
    std::lock_guard lock(m_mutex);
    DeleteAllItemsLocked();
    m_pTree = &tree;
    m_rows = std::move(fresh);
    if (!m_rows.empty()) {
        Record(RowChange{RowChange::Appended, 0, int(m_rows.size())});
    }
}

int CFileListCtrl::RemoveRowsLocked(const std::function<bool(const RowSource&)>& remove) {
    size_t kept = 0;
    int removed = 0;
    for (size_t i = 0; i < m_rows.size(); ++i) {
        if (remove(RowSource{m_rows[i].group, m_rows[i].file})) {
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

std::string CFileListCtrl::ContentTextLocked(const RowSource&) const {
    return {};
}

int CFileListCtrl::GetItemCount() const {
    std::lock_guard lock(m_mutex);
    return int(m_rows.size());
}

std::string CFileListCtrl::GetRowText(int row, int column) const {
    std::lock_guard lock(m_mutex);
    if (row < 0 || size_t(row) >= m_rows.size()) {
        return {};
    }
    const Row& r = m_rows[row];
    switch (column) {
        case kFileColumn:
            return std::string(m_pTree->GroupName(r.group));
        case kPathColumn:
            return m_pTree->FilePath(r.group, r.file);
        case kSizeColumn:
            return FormatSizeText(m_pTree->FileSize(r.file));
        case kModifiedColumn:
            return FormatModifiedText(m_pTree->FileLastWriteTime(r.file));
        case kContentColumn:
            return ContentTextLocked(RowSource{r.group, r.file});
        default:
            return {};
    }
}

int CFileListCtrl::GetRowImage(int row) const {
    std::lock_guard lock(m_mutex);
    return row >= 0 && size_t(row) < m_rows.size() ? m_rows[row].image : -1;
}

std::optional<RowSource> CFileListCtrl::GetRowSource(int row) const {
    std::lock_guard lock(m_mutex);
    if (row < 0 || size_t(row) >= m_rows.size()) {
        return std::nullopt;
    }
    return RowSource{m_rows[row].group, m_rows[row].file};
}

void CFileListCtrl::DeleteAllItems() {
    std::lock_guard lock(m_mutex);
    DeleteAllItemsLocked();
}

void CFileListCtrl::DeleteAllItemsLocked() {
    int count = int(m_rows.size());
    std::vector<Row>().swap(m_rows);
    Record(RowChange{RowChange::AllDeleted, 0, count});
}

bool CFileListCtrl::DeleteRow(int row) {
    std::lock_guard lock(m_mutex);
    return DeleteRowLocked(row);
}

bool CFileListCtrl::DeleteRowLocked(int row) {
    if (row < 0 || size_t(row) >= m_rows.size()) {
        return false;
    }
    m_rows.erase(m_rows.begin() + row);
    Record(RowChange{RowChange::Removed, row, 1});
    return true;
}

void CFileListCtrl::Record(RowChange change) {
    if (!m_listening) {
        return;
    }
    if (change.kind == RowChange::AllDeleted) {
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

void CFileListCtrl::AttachListener(ChangeNotifier::Poster poster) {
    {
        std::lock_guard lock(m_mutex);
        m_listening = true;
        m_journal.clear();
        m_rowsKnownToListener = int(m_rows.size());
    }
    m_notifier.SetPoster(std::move(poster));
}

void CFileListCtrl::DetachListener() {
    {
        std::lock_guard lock(m_mutex);
        m_listening = false;
        m_journal.clear();
    }
    m_notifier.SetPoster({});
}

std::vector<RowChange> CFileListCtrl::TakeChanges() {
    m_notifier.Acknowledge();
    std::lock_guard lock(m_mutex);
    std::vector<RowChange> changes;
    changes.swap(m_journal);
    m_rowsKnownToListener = int(m_rows.size());
    return changes;
}

std::string CFileListCtrl::FormatSizeText(uint64_t bytes) {
    char text[40];
    std::snprintf(text, sizeof text, "%" PRIu64 " Bytes", bytes);
    return text;
}

std::string CFileListCtrl::FormatModifiedText(uint64_t fileTime) {
    // Times before 1900 in local time show the start of 1970 (UTC) instead;
    // any other time is shown as it is, far past or far future, so that one
    // odd file never stops a scan.
    std::optional<std::tm> fields = FileTimeToLocalTime(fileTime);
    if (fields && fields->tm_year < 0) {
        fields = FileTimeToLocalTime(FileTimeFromUnix(0, 0));
    }
    if (!fields) {
        return {};
    }
    char text[96];
    size_t length = std::strftime(text, sizeof text, "%d.%m.%y  %H:%M:%S ", &*fields);
    return std::string(text, length);
}

}  // namespace quarn
