#include "duplicates/TwinListView.h"

#include <charconv>
#include <cstdio>
#include <cstring>

#include "platform/FolderWalker.h"
#include "platform/PathRules.h"

namespace quarn {

namespace {
constexpr const char* kBusyMessage = "App is busy..";
}

// Feeds the walk into the list. Keeps the current folder's path prefix so a
// file costs no path building beyond the status text.
class CTwinListView::ScanWalkSink : public WalkSink {
  public:
    ScanWalkSink(CTwinListView& list, std::stop_token stop) : m_list(list), m_stop(stop) {}

    bool EnterFolder(const std::string&, const FindRecord*) override {
        m_list.m_nFoldersEntered.fetch_add(1, std::memory_order_relaxed);
        // The one cancel test, once per folder.
        return m_list.m_bBusy.load(std::memory_order_relaxed) && !m_stop.stop_requested();
    }
    void AddFile(const std::string& folderPath, const FindRecord& file) override {
        if (folderPath != m_folder) {
            m_folder = folderPath;
            m_prefix = folderPath;
            AppendPathComponent(m_prefix, "");
        }
        m_list.AddFileAt(m_prefix, file);
    }
    void LeaveFolder(const std::string&) override {}

  private:
    CTwinListView& m_list;
    std::stop_token m_stop;
    std::string m_folder;
    std::string m_prefix;
};

CTwinListView::CTwinListView() {
    m_tree.SetOwner(this, &m_nTwinBytes);
}

CTwinListView::~CTwinListView() {
    {
        std::lock_guard lock(m_workerMutex);
        m_bBusy.store(false);
        m_hScanThread.request_stop();
        m_hSearchThread.request_stop();
    }
    if (m_hScanThread.joinable()) {
        m_hScanThread.join();
    }
    if (m_hSearchThread.joinable()) {
        m_hSearchThread.join();
    }
}

void CTwinListView::SetUserMessagePresenter(UserMessagePresenter presenter) {
    m_presenter = presenter;
    m_tree.SetUserMessagePresenter(std::move(presenter));
}

void CTwinListView::ShowMessage(const std::string& text) const {
    ShowUserMessage(m_presenter, text);
}

void CTwinListView::SetStatusText(const std::string& text) {
    {
        std::lock_guard lock(m_statusMutex);
        m_strStatus.assign(text);
    }
    m_statusChanges.fetch_add(1, std::memory_order_release);
}

std::string CTwinListView::GetStatus() const {
    std::lock_guard lock(m_statusMutex);
    return m_strStatus;
}

std::string CTwinListView::ScanRoot() const {
    std::lock_guard lock(m_statusMutex);
    return m_strScanRoot;
}

bool CTwinListView::WorkerActive() const {
    return m_bBusy.load() || m_nScanThreads.load() > 0 || m_bCombinedScan.load() ||
           m_bSearching.load();
}

void CTwinListView::StopSearch() {
    m_hSearchThread.request_stop();
    if (m_hSearchThread.joinable()) {
        m_hSearchThread.join();
    }
}

void CTwinListView::StartScan(const std::string& folder) {
    StopSearch();
    {
        std::lock_guard lock(m_statusMutex);
        m_strScanRoot = folder;
    }
    std::lock_guard lock(m_workerMutex);
    // Claimed here, not on the thread, so that a cancel right after the
    // start is not lost.
    m_bBusy.store(true);
    m_bCombinedScan.store(false);  // a combined scan that never ended is over now
    m_nScanThreads.fetch_add(1);
    std::jthread previous = std::move(m_hScanThread);
    previous.request_stop();
    m_hScanThread = std::jthread(
        [this](std::stop_token stop, std::jthread prev, std::string root) {
            ScanThreadProc(stop, std::move(prev), std::move(root));
        },
        std::move(previous), folder);
}

void CTwinListView::ScanThreadProc(std::stop_token stop, std::jthread previous, std::string root) {
    // The superseded scan stops at its next folder; it must be gone before
    // this one touches the tree.
    if (previous.joinable()) {
        previous.join();
    }
    ScanClaimed(root, stop);
    m_nScanThreads.fetch_sub(1);
}

void CTwinListView::Scan(const std::string& root) {
    bool claimed = false;
    {
        std::lock_guard lock(m_workerMutex);
        if (!m_bBusy.load()) {
            m_bBusy.store(true);
            claimed = true;
        }
    }
    if (!claimed) {
        ShowMessage(kBusyMessage);  // outside the lock: it may wait for the user
        return;
    }
    ScanClaimed(root, std::stop_token());
}

void CTwinListView::EmptyTreeAndRows() {
    std::lock_guard lock(RowMutex());
    DeleteAllItemsLocked();
    m_tree.Clear();
}

void CTwinListView::ScanClaimed(const std::string& root, std::stop_token stop) {
    {
        // A cancelled combined scan may still be adding files to the tree.
        std::unique_lock lock(m_feedMutex);
        m_feedEnded.wait(lock, [this] { return m_nFeeds == 0; });
    }
    m_nFiles.store(0);
    m_nFoldersEntered.store(0);
    m_nTwinBytes = 0;
    EmptyTreeAndRows();
    try {
        Walk(root, stop);
    } catch (...) {
        // A failure abandons the whole walk; what it inserted stays.
        m_nExceptions.fetch_add(1);
    }
    PublishScanSummary();
    {
        std::lock_guard lock(m_workerMutex);
        if (stop.stop_requested()) {
            // A newer scan has claimed the flag and will clear the tree.
            return;
        }
        m_bBusy.store(false);
    }
    RebuildClaimed(stop);
}

void CTwinListView::PublishScanSummary() {
    std::string sizeText = FormatTwinBytes(m_nTwinBytes);
    int rows = GetItemCount();
    m_nScanTwinRows.store(rows);
    m_nScanTwinBytes.store(m_nTwinBytes);
    char status[256];
    std::snprintf(status, sizeof status, "Twin Files: %d [%s] of Files %d, Exceptions: %d", rows,
                  sizeText.c_str(), int(m_nFiles.load()), int(m_nExceptions.load()));
    SetStatusText(status);
}

void CTwinListView::Walk(const std::string& root, std::stop_token stop) {
    ScanWalkSink sink(*this, stop);
    if (WalkFolderTree(root, sink, m_walkOptions) == WalkResult::Abandoned) {
        m_nExceptions.fetch_add(1);
    }
}

void CTwinListView::AddFileAt(std::string_view folderPrefix, const FindRecord& record) {
    m_nFiles.fetch_add(1, std::memory_order_relaxed);
    m_tree.Insert(folderPrefix, record, m_newFile.m_nCompare);
    m_pathBuffer.assign(folderPrefix);
    m_pathBuffer.append(record.Name());
    SetStatusText(m_pathBuffer);
}

void CTwinListView::AddFile(const std::string& path, const FindRecord& record) {
    std::string normalised = CollapseDoubledSeparators(path);
    m_newFile.Assign(record, normalised);
    m_tree.Insert(m_newFile);
    m_nFiles.fetch_add(1, std::memory_order_relaxed);
    SetStatusText(normalised);
}

void CTwinListView::AddFileInFolder(const std::string& folderPath, const FindRecord& record) {
    if (folderPath != m_feedFolder) {
        m_feedFolder = folderPath;
        m_feedPrefix = folderPath;
        AppendPathComponent(m_feedPrefix, "");
    }
    AddFileAt(m_feedPrefix, record);
}

void CTwinListView::RebuildList() {
    RebuildClaimed(std::stop_token());
}

void CTwinListView::RebuildClaimed(std::stop_token stop) {
    bool busy = false;
    {
        std::lock_guard lock(m_workerMutex);
        if (stop.stop_requested()) {
            return;
        }
        busy = m_bBusy.load();
        m_bBusy.store(true);
    }
    if (busy) {
        ShowMessage(kBusyMessage);
        return;
    }
    if (m_bCombinedScan.load()) {
        // The end of a combined walk: the list gets the summary a duplicate
        // scan of the same folder writes, instead of its last file's path.
        PublishScanSummary();
    }
    m_nTwinBytes = 0;
    DeleteAllItems();
    if (m_tree.m_nNodes != 0) {
        for (BinBaum::Cursor it = m_tree.First(); !it.AtEnd() && !stop.stop_requested();
             m_tree.Next(it)) {
            TreeNode node = it.Node();
            if (!node.HasTwins()) {
                continue;
            }
            for (FileId file = node.FirstFile(); file != kNoFile; file = node.NextFile(file)) {
                AddRowForFile(node, file);
            }
        }
    }
    {
        std::lock_guard lock(m_workerMutex);
        if (!stop.stop_requested()) {
            m_bBusy.store(false);
        }
    }
    m_bCombinedScan.store(false);
}

void CTwinListView::ResetForCombinedScan(const std::string& folder) {
    StopSearch();
    {
        std::lock_guard lock(m_statusMutex);
        m_strScanRoot = folder;
    }
    if (m_nScanThreads.load() > 0) {
        // A duplicate scan still finishing must not share the tree.
        std::lock_guard lock(m_workerMutex);
        m_bBusy.store(false);
        m_hScanThread.request_stop();
    }
    if (m_hScanThread.joinable()) {
        m_hScanThread.join();
    }
    {
        // A cancelled folder scan may still be adding files and rebuilding.
        std::unique_lock lock(m_feedMutex);
        m_feedEnded.wait(lock, [this] { return m_nFeeds == 0; });
    }
    m_nFiles.store(0);
    m_nTwinBytes = 0;
    EmptyTreeAndRows();
    m_bCombinedScan.store(true);
}

void CTwinListView::BeginFeed() {
    std::lock_guard lock(m_feedMutex);
    ++m_nFeeds;
}

void CTwinListView::EndFeed() {
    {
        std::lock_guard lock(m_feedMutex);
        --m_nFeeds;
    }
    m_feedEnded.notify_all();
}

std::string CTwinListView::FormatTwinBytes(uint64_t bytes) {
    const char* unit = "KB";
    double value = double(bytes) / 1024.0;
    if (bytes >= (uint64_t(1) << 30)) {
        unit = "GB";
        value = double(bytes) / double(uint64_t(1) << 30);
    } else if (bytes >= (uint64_t(1) << 20)) {
        unit = "MB";
        value = double(bytes) / double(uint64_t(1) << 20);
    }
    // "%.3f", but always with a full stop: the window runs in the user's
    // locale, and the text must not change with it.
    char text[64];
    auto result = std::to_chars(text, text + sizeof text - 4, value, std::chars_format::fixed, 3);
    *result.ptr++ = ' ';
    std::memcpy(result.ptr, unit, 3);
    m_strSizeText.assign(text, result.ptr + 2);
    return m_strSizeText;
}

bool CTwinListView::StartSearch(const FilterCriteria& criteria, SearchWorker worker) {
    {
        std::lock_guard lock(m_workerMutex);
        if (!(m_bBusy.load() || m_nScanThreads.load() > 0 || m_bCombinedScan.load())) {
            StopSearch();
            m_bSearching.store(true);
            m_hSearchThread =
                std::jthread([this, criteria, worker = std::move(worker)](std::stop_token stop) {
                    worker(*this, criteria, stop);
                    m_bSearching.store(false);
                });
            return true;
        }
    }
    ShowMessage(kBusyMessage);
    return false;
}

void CTwinListView::WaitForWorkers() {
    if (m_hScanThread.joinable()) {
        m_hScanThread.join();
    }
    if (m_hSearchThread.joinable()) {
        m_hSearchThread.join();
    }
}

bool CTwinListView::RemoveTrashedRow(int row, const std::string& path) {
    if (WorkerActive()) {
        return false;
    }
    std::optional<RowSource> source = GetRowSource(row);
    if (!source || GetRowText(row, kPathColumn) != path) {
        return false;
    }
    std::lock_guard lock(RowMutex());
    m_tree.RemoveFile(source->group, source->file);
    return DeleteRowLocked(row);
}

}  // namespace quarn
