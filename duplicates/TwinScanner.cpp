#include "duplicates/TwinScanner.h"

#include "duplicates/TwinStatusText.h"
#include "foldersize/SizeText.h"
#include "platform/ByteSum.h"
#include "platform/FolderWalker.h"
#include "platform/ImportSet.h"
#include "platform/PathRules.h"

namespace quarn {

// Feeds a walk into the index. Keeps the current folder's path prefix so a
// file costs no path building.
class TwinScanner::ScanWalkSink : public WalkSink {
  public:
    // `stop`: a duplicate scan's walk stops with its job; a combined walk's
    // is stopped by the folder scan that runs it.
    // `references`: the reference folders; must outlive the sink.
    ScanWalkSink(TwinScanner& twins, std::stop_token stop, bool testsCancel,
                 const std::vector<std::string>& references)
        : m_twins(twins), m_stop(stop), m_testsCancel(testsCancel), m_references(references) {}

    bool EnterFolder(const std::string&, const FileEntry*) override {
        m_twins.m_nFoldersEntered.fetch_add(1, std::memory_order_relaxed);
        // The one cancel test, once per folder.
        return !m_testsCancel || (m_twins.m_runner.IsBusy() && !m_stop.stop_requested());
    }
    void AddFile(const std::string& folderPath, const FileEntry& file) override {
        if (folderPath != m_folder) {
            m_folder = folderPath;
            m_prefix = folderPath;
            AppendPathComponent(m_prefix, "");
            m_inReference = IsInsideAnyFolder(m_folder, m_references);
        }
        m_twins.AddFileAt(m_prefix, file, m_inReference);
    }
    void LeaveFolder(const std::string&) override {}
    void FolderUnreadable(const std::string& path, int) override {
        m_twins.NoteUnreadableFolder(path);
    }

  private:
    TwinScanner& m_twins;
    std::stop_token m_stop;
    bool m_testsCancel;
    const std::vector<std::string>& m_references;
    bool m_inReference = false;
    std::string m_folder;
    std::string m_prefix;
};

TwinScanner::TwinScanner(UserMessagePresenter presenter) : m_presenter(std::move(presenter)) {
    m_tree.SetUserMessagePresenter(m_presenter);
}

TwinScanner::~TwinScanner() {
    m_runner.Cancel();
    m_runner.RequestStop();
    m_runner.Wait();
}

void TwinScanner::SetObserver(Observer observer) {
    m_observer = std::move(observer);
    m_runner.SetObserver(JobRunner::Observer{m_observer.progressed, m_observer.idle});
}

// --- Status -----------------------------------------------------------------------

void TwinScanner::SetStatusText(const std::string& text) {
    ScanProgress progress;
    progress.status = text;
    progress.files = m_nFiles.load(std::memory_order_relaxed);
    progress.folders = std::max<int64_t>(0, m_nFoldersEntered.load(std::memory_order_relaxed) - 1);
    m_runner.Publish(std::move(progress));
}

void TwinScanner::PublishStatusThrottled(const std::string& text) {
    if (m_throttle.Due()) {
        SetStatusText(text);
    }
}

std::string TwinScanner::ScanRoot() const {
    std::lock_guard lock(m_mutex);
    return m_strScanRoot;
}

std::string TwinScanner::GetImportError() const {
    std::lock_guard lock(m_mutex);
    return m_strImportError;
}

std::string TwinScanner::FormatTwinBytes(uint64_t bytes) const {
    return FormatSize(bytes);
}

std::string TwinScanner::ImportedSuffix() const {
    std::lock_guard lock(m_mutex);
    return m_strImportedFrom.empty() ? std::string() : " [imported " + m_strImportedFrom + "]";
}

namespace {

// What the status says an import came from. Twins of several machines are
// found by name, size and time alone: their contents are not here to read.
std::string ImportedFrom(const ScanRequest& request) {
    if (!request.IsImport()) {
        return {};
    }
    if (request.importSet.size() < 2) {
        return request.root;
    }
    return std::to_string(request.importSet.size()) +
           " files; twins by name, size and time, contents not checked";
}

}  // namespace

TwinScanner::Summary TwinScanner::LastScanSummary() const {
    Summary summary;
    const ScanProgress progress = m_runner.Progress();
    summary.running = progress.running && progress.job == JobKind::Scan;
    summary.files = m_nFiles.load();
    // The walk counts the folders it entered, the scanned one with them.
    summary.folders = std::max<int64_t>(0, m_nFoldersEntered.load() - 1);
    std::lock_guard lock(m_mutex);
    summary.scanned = m_scanned;
    summary.fed = m_lastScanFed;
    summary.seconds = m_scanSeconds;
    return summary;
}

ScanRequest TwinScanner::LastRequest() const {
    std::lock_guard lock(m_mutex);
    return m_request;
}

TwinScanner::ContentCounts TwinScanner::LastContentCounts() const {
    std::lock_guard lock(m_mutex);
    return m_contentCounts;
}

void TwinScanner::CountScanStart(bool fed) {
    std::lock_guard lock(m_mutex);
    m_scanned = true;
    m_lastScanFed = fed;
    m_scanStarted = std::chrono::steady_clock::now();
    m_scanSeconds = 0;
}

// --- Jobs -------------------------------------------------------------------------

bool TwinScanner::IsWorking() const {
    return m_runner.IsBusy() || m_runner.Running() || m_runner.Feeding();
}

bool TwinScanner::WaitFor(std::chrono::milliseconds timeout) {
    return m_runner.WaitFor(timeout);
}

bool TwinScanner::MayStartJob(JobKind current, bool busy, bool feeding) const {
    // Asked under the runner's lock: nothing but a search may be at work.
    return !busy && !feeding && (current == JobKind::None || current == JobKind::Search);
}

void TwinScanner::StartScan(const ScanRequest& request) {
    {
        std::lock_guard lock(m_mutex);
        m_strScanRoot = request.root;
        m_strImportedFrom = ImportedFrom(request);
        m_strImportError.clear();
        m_request = request;
        m_contentCounts = ContentCounts();
    }
    CountScanStart(/*fed=*/false);
    m_runner.Start(JobKind::Scan, [this, request](const JobRunner::Ticket& ticket) {
        ScanJob(request, ticket);
        const bool search = request.verifyContents || request.contentTwins;
        if (search && m_runner.IsBusy() && !ticket.stop.stop_requested()) {
            m_runner.Retag(ticket, JobKind::Verify);
            VerifyJob(ticket);
        }
    });
}

void TwinScanner::Scan(const ScanRequest& request) {
    if (m_runner.IsBusy()) {
        ShowUserMessage(m_presenter, kAppIsBusyMessage);
        return;
    }
    StartScan(request);
    m_runner.Wait();
}

void TwinScanner::EmptyIndexAndRows() {
    std::lock_guard lock(m_rows.RowMutex());
    m_rows.DeleteAllItemsLocked(/*newIndex=*/true);
    m_verdicts.Clear();
    m_twinFolderFiles.clear();
    m_tree.Clear();
    m_shown = Shown::Scan;
    std::lock_guard state(m_mutex);
    m_unreadableFolders.clear();
    m_twinFolders.clear();
}

void TwinScanner::ScanJob(const ScanRequest& request, const JobRunner::Ticket& ticket) {
    m_nFiles.store(0);
    m_nFoldersEntered.store(0);
    m_nTwinBytes = 0;
    m_throttle = ProgressThrottle();
    m_newFile.m_nCompare = request.twinCompare;
    m_minContentSize = request.minContentSize;
    m_maxContentSize = request.maxContentSize;
    EmptyIndexAndRows();
    m_byContent = request.contentTwins;
    try {
        Walk(request, ticket.stop);
    } catch (...) {
        // A failure abandons the whole walk; what it inserted stays.
        m_nExceptions.fetch_add(1);
    }
    PublishScanSummary();
    {
        std::lock_guard lock(m_mutex);
        m_scanSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - m_scanStarted).count();
    }
    if (ticket.stop.stop_requested()) {
        return;  // a newer job owns the index now
    }
    RebuildRows(ticket.stop);
}

void TwinScanner::Walk(const ScanRequest& request, std::stop_token stop) {
    ScanWalkSink sink(*this, stop, /*testsCancel=*/true, request.referenceFolders);
    if (request.IsImport()) {
        std::string error;
        const ImportOutcome outcome = ReadImportFiles(request.ImportFiles(), sink, error);
        if (outcome.kind == ImportOutcome::Kind::Abandoned) {
            m_nExceptions.fetch_add(1);
        }
        if (!error.empty()) {
            m_nExceptions.fetch_add(1);
            std::lock_guard lock(m_mutex);
            m_strImportError = error;
        }
        return;
    }
    if (WalkFolderTree(request.root, sink, request.walk) == WalkResult::Abandoned) {
        m_nExceptions.fetch_add(1);
    }
    WalkReferenceFolders(request, stop);
}

void TwinScanner::WalkReferenceFolders(const ScanRequest& request, std::stop_token stop) {
    if (request.IsImport()) {
        return;  // an imported tree has no disk to add folders from
    }
    ScanWalkSink sink(*this, stop, /*testsCancel=*/true, request.referenceFolders);
    for (const std::string& folder : FoldersOutside(request.root, request.referenceFolders)) {
        if (!m_runner.IsBusy() || stop.stop_requested()) {
            return;
        }
        if (WalkFolderTree(folder, sink, request.walk) == WalkResult::Abandoned) {
            m_nExceptions.fetch_add(1);
        }
    }
}

void TwinScanner::PublishScanSummary() {
    // Hard links of a file already in its group were shown but are no copies.
    // A walk by content shows no rows: the content search makes them.
    const int rows = ByContent() ? 0 : m_rows.GetItemCount() - int(m_tree.ExtraLinkJoins());
    m_nScanTwinRows.store(rows);
    m_nScanTwinBytes.store(m_nTwinBytes);
    SetStatusText(
        TwinSummaryStatus(rows, m_nTwinBytes, int(m_nFiles.load()), int(m_nExceptions.load())) +
        ImportedSuffix());
}

void TwinScanner::AddFileAt(std::string_view folderPrefix, const FileEntry& entry, bool reference) {
    m_nFiles.fetch_add(1, std::memory_order_relaxed);
    const bool byContent = (m_newFile.m_nCompare & kCompareContent) != 0;
    if (byContent && entry.IsRegularFile() &&
        ((m_minContentSize != 0 && entry.size <= m_minContentSize) ||
         (m_maxContentSize != 0 && entry.size >= m_maxContentSize))) {
        return;  // outside the sizes asked for
    }
    const BinBaum::Inserted inserted =
        m_tree.Insert(folderPrefix, entry, m_newFile.m_nCompare, reference);
    if (inserted.result == BinBaum::InsertResult::Joined && !byContent) {
        // Every file that joins a group shows at once; its bytes count
        // unless it is the same inode again.
        m_rows.AddRowForFile(TreeNode(&m_tree, inserted.group), inserted.file);
        if (!inserted.extraLink) {
            AddBytes(m_nTwinBytes, entry.size);
        }
    }
    if (m_throttle.Due()) {
        m_pathBuffer.assign(folderPrefix);
        m_pathBuffer.append(entry.name);
        SetStatusText(m_pathBuffer);
    }
}

void TwinScanner::AddFile(const std::string& path, const FileEntry& entry) {
    m_pathBuffer = NormalisedPath(path);
    m_newFile.Assign(entry, m_pathBuffer);
    m_nFiles.fetch_add(1, std::memory_order_relaxed);
    const BinBaum::Inserted inserted = m_tree.Insert(m_newFile);
    if (inserted.result == BinBaum::InsertResult::Joined && !ByContent()) {
        m_rows.AddRowForFile(TreeNode(&m_tree, inserted.group), inserted.file);
        if (!inserted.extraLink) {
            AddBytes(m_nTwinBytes, entry.size);
        }
    }
    PublishStatusThrottled(m_pathBuffer);
}

void TwinScanner::RebuildList() {
    if (!m_runner.Start(
            JobKind::Scan, [this](const JobRunner::Ticket& ticket) { RebuildRows(ticket.stop); },
            [this](JobKind current, bool busy, bool feeding) {
                return MayStartJob(current, busy, feeding);
            })) {
        ShowUserMessage(m_presenter, kAppIsBusyMessage);
        return;
    }
    m_runner.Wait();
}

void TwinScanner::RebuildRows(std::stop_token stop) {
    m_nTwinBytes = 0;
    std::vector<RowSource> rows;
    if (m_tree.m_nNodes != 0) {
        for (BinBaum::Cursor it = m_tree.First(); !it.AtEnd() && !stop.stop_requested();
             m_tree.Next(it)) {
            const TreeNode node = it.Node();
            if (!node.HasTwins()) {
                continue;
            }
            // By content, only what a content search found are twins.
            if (ByContent() && VerdictOf(node.FirstFile()).set == 0) {
                continue;
            }
            for (FileId file = node.FirstFile(); file != kNoFile; file = node.NextFile(file)) {
                rows.push_back(RowSource{node.Id(), file});
            }
        }
    }
    m_rows.ReplaceRows(std::move(rows));
}

// --- Combined scans -------------------------------------------------------------------

void TwinScanner::ResetForCombinedScan(const ScanRequest& request) {
    {
        std::lock_guard lock(m_mutex);
        m_strScanRoot = request.root;
        m_strImportedFrom = ImportedFrom(request);
        m_strImportError.clear();
        m_feedDiscarded.clear();
        m_verifyAfterFeed = request.verifyContents || request.contentTwins;
        m_walkReferencesAfterFeed = !FoldersOutside(request.root, request.referenceFolders).empty();
        m_request = request;
        m_contentCounts = ContentCounts();
    }
    // A cancelled folder scan may still be feeding; its end may have started
    // a verification, which is stopped here.
    m_runner.WaitForFeeds();
    if (m_runner.Running()) {
        m_runner.Cancel();
        m_runner.RequestStop();
        m_runner.Wait();
    }
    m_nFiles.store(0);
    m_nFoldersEntered.store(0);
    m_nTwinBytes = 0;
    m_throttle = ProgressThrottle();
    m_pathBuffer.clear();
    m_newFile.m_nCompare = request.twinCompare;
    m_minContentSize = request.minContentSize;
    m_maxContentSize = request.maxContentSize;
    EmptyIndexAndRows();
    m_byContent = request.contentTwins;
}

void TwinScanner::BeginFeed(const ScanRequest& request) {
    ResetForCombinedScan(request);
    CountScanStart(/*fed=*/true);
    m_feedFolder.clear();
    m_feedReferences = request.referenceFolders;
    m_feedSink = std::make_unique<ScanWalkSink>(*this, std::stop_token(), /*testsCancel=*/false,
                                                m_feedReferences);
    m_runner.BeginFeed();
}

WalkSink& TwinScanner::FeedSink() {
    return *m_feedSink;
}

void TwinScanner::DiscardFeed(const std::string& reason) {
    // The feeding thread owns the index until its end.
    EmptyIndexAndRows();
    m_nFiles.store(0);
    m_nTwinBytes = 0;
    std::lock_guard lock(m_mutex);
    m_feedDiscarded = reason.empty() ? std::string("damaged file") : reason;
}

void TwinScanner::EndFeed() {
    // The end of a combined walk: the list gets the summary a duplicate scan
    // of the same folder writes, instead of its last file's path.
    std::string discarded;
    bool verify;
    {
        std::lock_guard lock(m_mutex);
        discarded = m_feedDiscarded;
        verify = m_verifyAfterFeed && discarded.empty();
        m_verifyAfterFeed = false;
        m_scanSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - m_scanStarted).count();
    }
    if (discarded.empty()) {
        PublishScanSummary();
    } else {
        SetStatusText("Import failed: " + discarded + ImportedSuffix());
    }
    RebuildRows(std::stop_token());
    // Claimed while the feed still counts, so that a reset for the next
    // combined scan, which waits for the feed, finds the job and stops it.
    if (verify) {
        StartVerifyJob(true);
    }
    m_runner.EndFeed();
}

// --- Search ---------------------------------------------------------------------------

bool TwinScanner::StartSearch(SearchWorker worker) {
    const bool started = m_runner.Start(
        JobKind::Search,
        [this, worker = std::move(worker)](const JobRunner::Ticket& ticket) {
            m_shown = Shown::Search;
            worker(*this, ticket.stop);
        },
        [this](JobKind current, bool busy, bool feeding) {
            return MayStartJob(current, busy, feeding);
        },
        /*claimsBusy=*/false);
    if (!started) {
        ShowUserMessage(m_presenter, kAppIsBusyMessage);
    }
    return started;
}

}  // namespace quarn
