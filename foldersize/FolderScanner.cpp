#include "foldersize/FolderScanner.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "foldersize/FolderTreeBuilder.h"
#include "foldersize/ScanFileStats.h"
#include "foldersize/SizeText.h"
#include "pipeline/WalkFanOut.h"
#include "platform/ExportTarget.h"
#include "platform/ExportWriter.h"
#include "platform/FileSystems.h"
#include "platform/FolderWalker.h"
#include "platform/ImportReader.h"
#include "platform/PathRules.h"
#include "settings/Settings.h"

namespace quarn {

namespace {

// The largest files and the types, as one more sink of the walk.
class FileStatsSink final : public WalkSink {
  public:
    explicit FileStatsSink(ScanFileStats& stats) : m_stats(stats) {}
    bool EnterFolder(const std::string&, const FileEntry*) override { return true; }
    void AddFile(const std::string& folderPath, const FileEntry& file) override {
        m_stats.AddFile(folderPath, file);
    }
    void LeaveFolder(const std::string&) override {}

  private:
    ScanFileStats& m_stats;
};

FolderTreeStore::RootPlace PlaceOf(const ScanRequest& request) {
    if (request.IsImport()) {
        return FolderTreeStore::RootPlace::Folder;  // not a place of this machine
    }
    const std::string& path = request.root;
    if (IsNetworkStylePath(path) || FileSystemKindOfPath(path) == FileSystemKind::Network) {
        return FolderTreeStore::RootPlace::Network;
    }
    const std::optional<std::string> mountPoint = MountPointOf(path);
    return mountPoint && NormalisedPath(path) == *mountPoint
               ? FolderTreeStore::RootPlace::MountPoint
               : FolderTreeStore::RootPlace::Folder;
}

// The walk of a scan keeps to its root's device with OneFileSystem; a refresh
// of part of the tree keeps to the same one.
WalkOptions ScopeOf(const ScanRequest& request) {
    WalkOptions scope = request.walk;
    struct ::stat status;
    if (!request.IsImport() && !scope.rootDevice && ::stat(request.root.c_str(), &status) == 0) {
        scope.rootDevice = uint64_t(status.st_dev);
    }
    return scope;
}

}  // namespace

FolderScanner::FolderScanner(UserMessagePresenter presenter) : m_presenter(std::move(presenter)) {}

FolderScanner::~FolderScanner() {
    m_runner.Cancel();
    m_runner.RequestStop();
    m_runner.Wait();
}

void FolderScanner::SetObserver(Observer observer) {
    m_observer = std::move(observer);
    m_runner.SetObserver(JobRunner::Observer{m_observer.progressed, m_observer.idle});
}

std::string FolderScanner::GetScanPath() const {
    std::lock_guard lock(m_mutex);
    return m_request.root;
}

ScanRequest FolderScanner::LastRequest() const {
    std::lock_guard lock(m_mutex);
    return m_request;
}

std::string FolderScanner::GetImportError() const {
    std::lock_guard lock(m_mutex);
    return m_importError;
}

FolderScanner::ExportOutcome FolderScanner::LastExport() const {
    std::lock_guard lock(m_mutex);
    return m_export;
}

bool FolderScanner::Claim(JobKind kind, JobRunner::Body body) {
    bool started;
    {
        std::lock_guard start(m_startMutex);
        // A cancelled job that has not ended yet is superseded (and joined
        // first); only a busy one refuses.
        started =
            m_runner.Start(kind, std::move(body), [](JobKind, bool busy, bool) { return !busy; });
    }
    if (!started) {
        ShowUserMessage(m_presenter, kAppIsBusyMessage);
    }
    return started;
}

// --- The scan ----------------------------------------------------------------------

bool FolderScanner::StartScan(ScanRequest request) {
    TwinFeed* const twins = request.feedTwins ? m_twins : nullptr;
    {
        std::unique_lock start(m_startMutex);
        if (!m_runner.IsBusy()) {
            // Before the job exists and outside the runner's lock: the
            // twins may first wait for a cancelled walk that still feeds
            // them, and that walk must be able to end.
            if (twins != nullptr) {
                twins->BeginFeed(request);
            }
            {
                std::lock_guard lock(m_mutex);
                m_request = request;
                m_importError.clear();
                m_scanned = true;
            }
            // Starts: only starts take the busy flag, and they hold the
            // start lock.
            m_runner.Start(JobKind::Scan, [this, request, twins](const JobRunner::Ticket& ticket) {
                RunScan(request, twins, ticket);
                // From BeginFeed until here the twins were this walk's.
                if (twins != nullptr) {
                    twins->EndFeed();
                }
            });
            return true;
        }
    }
    ShowUserMessage(m_presenter, kAppIsBusyMessage);
    return false;
}

bool FolderScanner::RunScan(const ScanRequest& request) {
    if (!StartScan(request)) {
        return false;
    }
    m_runner.Wait();
    return true;
}

void FolderScanner::RunScan(const ScanRequest& request, TwinFeed* twins,
                            const JobRunner::Ticket& ticket) {
    const auto started = std::chrono::steady_clock::now();
    ResetScan(request);
    std::string importError;
    bool complete = false;
    try {
        complete = ScanFolder(request, twins, ticket, importError);
    } catch (...) {
        // A failure ends the walk; what was found stays.
    }
    if (!complete) {
        m_exceptions.fetch_add(1);
    }
    {
        std::lock_guard lock(m_mutex);
        m_importError = importError;
    }
    try {
        FinishScan();
    } catch (...) {
        m_exceptions.fetch_add(1);
    }
    std::lock_guard lock(m_mutex);
    m_scanSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
}

FolderScanner::Summary FolderScanner::LastScanSummary() const {
    Summary summary;
    const ScanProgress progress = m_runner.Progress();
    {
        std::lock_guard lock(m_mutex);
        summary.scanned = m_scanned;
        summary.seconds = m_scanSeconds;
    }
    summary.running = progress.running && progress.job == JobKind::Scan;
    if (summary.running) {
        summary.files = progress.files;
        summary.folders = progress.folders;
    } else {
        const FolderSizeTree::Figures figures = m_tree.GetFigures();
        summary.files = figures.files;
        summary.folders = figures.folders;
    }
    return summary;
}

void FolderScanner::ResetScan(const ScanRequest& request) {
    m_tree.Reset(ScopeOf(request), request.allocatedSizes);
}

bool FolderScanner::ScanFolder(const ScanRequest& request, TwinFeed* twins,
                               const JobRunner::Ticket& ticket, std::string& error) {
    ProgressThrottle throttle;
    FolderTreeBuilder* builderSeen = nullptr;
    FolderTreeBuilder builder(m_tree, PlaceOf(request), [&](const std::string& path) {
        if (ticket.Cancelled()) {
            return false;
        }
        if (throttle.Due()) {
            SetStatus(path, builderSeen->Files(), builderSeen->Folders());
        }
        return true;
    });
    builderSeen = &builder;
    std::unique_ptr<ScanFileStats> stats;
    std::unique_ptr<FileStatsSink> statsSink;
    if (request.largestFiles > 0) {
        stats = std::make_unique<ScanFileStats>(request.largestFiles, request.allocatedSizes);
        statsSink = std::make_unique<FileStatsSink>(*stats);
    }
    WalkFanOut fanOut;
    fanOut.Add(&builder);
    fanOut.Add(statsSink.get());
    fanOut.Add(twins != nullptr ? &twins->FeedSink() : nullptr);

    bool complete = false;
    if (request.IsImport()) {
        const ImportOutcome outcome = ReadImportFile(request.root, fanOut, error);
        complete = outcome.Ok();
    } else {
        complete = WalkFolderTree(request.root, fanOut, m_tree.GetScope()) == WalkResult::Completed;
    }
    builder.Commit();
    m_tree.FileStats().Replace(std::move(stats));
    if (!error.empty()) {
        // Nothing of a damaged file is shown: a part of a tree would pass
        // for the whole.
        m_tree.Reset(m_tree.GetScope(), request.allocatedSizes);
        m_tree.FileStats().Replace(nullptr);
        if (twins != nullptr) {
            twins->DiscardFeed(error);
        }
    }
    return complete;
}

void FolderScanner::FinishScan() {
    // Read when the scan ends, as the pane has always done.
    {
        std::lock_guard lock(m_mutex);
        m_relativeToDrive = ReadSetting(kRelativToDriveSpace);
    }
    const ScanEnding ending = ComposeTreeEnding();
    m_tree.Finish(ending.denominator, ending.ofTotal, ReadSetting(kSortBySize),
                  ending.renameRoot ? ending.status : std::string());
    const FolderSizeTree::Figures figures = m_tree.GetFigures();
    SetStatus(ending.status, figures.files, figures.folders);
}

ScanEnding FolderScanner::ComposeTreeEnding() const {
    ScanFacts facts;
    {
        std::lock_guard lock(m_mutex);
        facts.path = m_request.root;
        if (m_request.IsImport()) {
            facts.importFile = m_request.root;
            facts.importError = m_importError;
        }
        facts.relativeToDrive = m_relativeToDrive;
    }
    if (!facts.importFile.empty()) {
        facts.path = m_tree.GetRootPath();
    }
    const FolderSizeTree::Figures figures = m_tree.GetFigures();
    facts.total = figures.total;
    facts.files = figures.files;
    facts.folders = figures.folders;
    facts.exceptions = m_exceptions.load();
    return ComposeEnding(facts);
}

void FolderScanner::SetStatus(const std::string& text, int64_t files, int64_t folders) {
    ScanProgress progress;
    progress.status = text;
    progress.files = files;
    progress.folders = folders;
    m_runner.Publish(std::move(progress));
}

// --- Refresh -------------------------------------------------------------------------

bool FolderScanner::StartRefresh(NodeHandle item) {
    const std::optional<std::string> path = m_tree.GetItemPath(item);
    const NodeHandle folder = m_tree.IsFilesItem(item) ? m_tree.GetParentItem(item) : item;
    if (!path || folder == m_tree.GetRootItem() ||
        m_tree.GetItemKind(folder) == NodeKind::OtherFileSystem) {
        return false;
    }
    {
        std::lock_guard lock(m_mutex);
        if (m_request.IsImport()) {
            return false;  // its folders are another machine's
        }
    }
    return Claim(JobKind::Refresh, [this, folder, path = *path](const JobRunner::Ticket& ticket) {
        RunRefresh(folder, path, ticket);
    });
}

void FolderScanner::RunRefresh(NodeHandle folder, const std::string& path,
                               const JobRunner::Ticket& ticket) {
    bool applied = false;
    try {
        ProgressThrottle throttle;
        std::unique_ptr<SubtreeScan> walk = m_tree.NewSubtreeScan([&](const std::string& walked) {
            if (ticket.Cancelled()) {
                return false;
            }
            if (throttle.Due()) {
                const FolderSizeTree::Figures figures = m_tree.GetFigures();
                SetStatus(walked, figures.files, figures.folders);
            }
            return true;
        });
        WalkOptions scope = m_tree.GetScope();
        // Patterns with a "/" are matched from the scan's root, not this folder's.
        const std::string root = NormalisedPath(m_tree.GetRootPath());
        const std::string walked = NormalisedPath(path);
        scope.rootRelativePath =
            walked.size() > root.size() ? walked.substr(root == "/" ? 1 : root.size() + 1) : "";
        struct ::stat status;
        // Gone since the scan: what a scan would show now is no node.
        const bool gone = ::lstat(path.c_str(), &status) != 0 && errno == ENOENT;
        const bool complete = gone || WalkFolderTree(path, *walk, scope) == WalkResult::Completed;
        if (complete && !ticket.Cancelled()) {
            applied = gone ? m_tree.RemoveFolderItem(folder) : m_tree.ApplyRefresh(folder, *walk);
        }
    } catch (...) {
        // A failure leaves the tree as it was.
    }
    if (!applied) {
        m_exceptions.fetch_add(1);
    }
    if (!ticket.stop.stop_requested()) {
        ShowChangedTotal();  // also in place of the paths the walk showed
    }
    if (applied && m_observer.treeChanged) {
        m_observer.treeChanged();
    }
}

// --- Export --------------------------------------------------------------------------

bool FolderScanner::StartExport(ScanRequest request, std::string file, std::string progver) {
    return Claim(JobKind::Export, [this, request = std::move(request), file = std::move(file),
                                   progver = std::move(progver)](const JobRunner::Ticket& ticket) {
        RunExport(request, file, progver, ticket);
    });
}

void FolderScanner::RunExport(const ScanRequest& request, const std::string& file,
                              const std::string& progver, const JobRunner::Ticket& ticket) {
    ExportOutcome outcome;
    ExportTarget target(file);
    if (target.Fd() < 0) {
        outcome.error = std::strerror(target.OpenError());
    } else {
        ProgressThrottle throttle;
        std::string current;
        ExportWriter* self = nullptr;
        ExportWriter writer(target.Fd(), progver, [&] {
            if (throttle.Due()) {
                SetStatus(current, self->Files(), self->Folders());
            }
            return !ticket.Cancelled();
        });
        self = &writer;
        // The writer's own sink does not see the path; the progress shows it.
        struct PathTap final : WalkSink {
            std::string& current;
            explicit PathTap(std::string& path) : current(path) {}
            bool EnterFolder(const std::string& path, const FileEntry*) override {
                current = path;
                return true;
            }
            void AddFile(const std::string&, const FileEntry&) override {}
            void LeaveFolder(const std::string&) override {}
        } tap(current);
        WalkFanOut fanOut;
        fanOut.Add(&tap);
        fanOut.Add(&writer);
        WalkFolderTree(request.root, fanOut, request.walk);
        const bool whole = writer.Finish();
        outcome.files = writer.Files();
        outcome.folders = writer.Folders();
        outcome.writeError = writer.WriteError();
        if (writer.WriteError() != 0) {
            outcome.error = std::strerror(writer.WriteError());
        } else if (!whole) {
            outcome.error = "cancelled";
        } else if (const int commitError = target.Commit()) {
            outcome.writeError = commitError;
            outcome.error = std::strerror(commitError);
        } else {
            outcome.written = true;
        }
    }
    if (m_tree.GetRootItem() != kNoNode) {
        ShowChangedTotal();  // the pane's status is its tree's again
    }
    std::lock_guard lock(m_mutex);
    m_export = outcome;
}

// --- The user's changes ----------------------------------------------------------------

bool FolderScanner::RefuseWhileBusy() const {
    // The tree is being filled: what a change would take out or add could
    // not be settled with the walk's sums.
    return m_runner.IsBusy() || m_runner.Running();
}

bool FolderScanner::RemoveFolderItem(NodeHandle item) {
    if (RefuseWhileBusy() || !m_tree.RemoveFolderItem(item)) {
        return false;
    }
    ShowChangedTotal();
    if (m_observer.treeChanged) {
        m_observer.treeChanged();
    }
    return true;
}

bool FolderScanner::RemoveLooseFiles(NodeHandle filesItem) {
    if (RefuseWhileBusy() || !m_tree.RemoveLooseFiles(filesItem)) {
        return false;
    }
    ShowChangedTotal();
    if (m_observer.treeChanged) {
        m_observer.treeChanged();
    }
    return true;
}

void FolderScanner::ForgetFile(const std::string& path, uint64_t bytes) {
    m_tree.FileStats().ForgetFile(path, bytes);
    if (m_observer.treeChanged) {
        m_observer.treeChanged();
    }
}

void FolderScanner::ShowChangedTotal() {
    const ScanEnding ending = ComposeTreeEnding();
    m_tree.FollowTotal(ending.renameRoot ? ending.status : std::string());
    const FolderSizeTree::Figures figures = m_tree.GetFigures();
    SetStatus(ending.status, figures.files, figures.folders);
}

}  // namespace quarn
