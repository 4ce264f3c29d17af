#pragma once
// The Dirmass engine: runs the scans, refreshes and exports of one folder
// tree as jobs of one JobRunner, and keeps the tree they make
// (FolderSizeTree). The window's pane, the treemap, the report and the
// export all drive it; it has no texts but the status it composes, and no
// Qt.
//
// Jobs:
//   - a scan (or an import) makes a new tree from a ScanRequest; its walk
//     fans out to the tree builder, the file statistics and, in a combined
//     scan, the twin engine (SetTwinFeed);
//   - a refresh walks one folder anew with the scope of the scan that made
//     the tree and, when it completes, puts it in place of the old subtree;
//   - an export walks a folder with a request's scope into an export file.
// A job is refused with "App is busy.." (and false) while another runs.
// Cancel() clears the busy flag: a walk stops at its next folder, counts an
// exception and still finishes what it found (a cancelled refresh changes
// nothing but the count).
//
// Changes the user made (RemoveFolderItem, RemoveLooseFiles, ForgetFile)
// are refused while a walk runs; each updates the tree, the status and
// tells the observer.
//
// Threads: every member may be called from any thread; the observer is
// called on the thread that caused the news and must not block. The
// destructor cancels and joins the running job.

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "foldersize/FolderSizeTree.h"
#include "foldersize/ScanEnding.h"
#include "pipeline/JobRunner.h"
#include "pipeline/ScanCopySink.h"
#include "pipeline/ScanRequest.h"
#include "pipeline/TwinFeed.h"
#include "platform/UserMessage.h"

namespace quarn {

class FolderScanner {
  public:
    struct Observer {
        std::function<void()> progressed;   // a new ScanProgress snapshot
        std::function<void()> idle;         // the last running job has ended
        std::function<void()> treeChanged;  // the finished tree changed (a user's action)
    };

    // `presenter` shows "App is busy.." (stderr when empty).
    explicit FolderScanner(UserMessagePresenter presenter = {});
    ~FolderScanner();
    FolderScanner(const FolderScanner&) = delete;
    FolderScanner& operator=(const FolderScanner&) = delete;

    // Both set once, before the first job.
    void SetObserver(Observer observer);
    // The twin engine that a request with `feedTwins` also fills, read when
    // a scan starts; it must outlive that scan's job.
    void SetTwinFeed(TwinFeed* twins) { m_twins = twins; }
    // What keeps a copy of each scan and export of a folder (the kept
    // scans), asked on the job's thread when the walk starts.
    void SetScanKeeper(ScanCopyMaker keeper) { m_keeper = std::move(keeper); }

    // --- Jobs -----------------------------------------------------------------
    // Starts a scan (or import) of `request` and returns at once; the busy
    // flag is set before it returns.
    bool StartScan(ScanRequest request);
    // StartScan, then waits for it to end (the report, the tests).
    bool RunScan(const ScanRequest& request);
    // Rescans the folder of `item` (a files item: its folder) in place. Not
    // for the scan root (a new scan is its refresh), a folder on another
    // file system or an imported tree.
    bool StartRefresh(NodeHandle item);
    // Walks `request`'s folder with its scope into the export file `file`
    // ("-": standard output), written whole or not at all.
    bool StartExport(ScanRequest request, std::string file, std::string progver);
    struct ExportOutcome {
        bool written = false;
        std::string error;   // "cancelled", or why it could not be written
        int writeError = 0;  // errno of a failed write (the report's exit 1)
        int64_t files = 0;
        int64_t folders = 0;
    };
    // The last export's outcome, once its job has ended.
    ExportOutcome LastExport() const;

    void Cancel() { m_runner.Cancel(); }
    bool IsBusy() const { return m_runner.IsBusy(); }
    // A job (or one it superseded) has not ended yet.
    bool IsScanRunning() const { return m_runner.Running(); }
    void Wait() { m_runner.Wait(); }
    bool WaitFor(std::chrono::milliseconds timeout) { return m_runner.WaitFor(timeout); }

    ScanProgress Progress() const { return m_runner.Progress(); }
    // The last scan as the status bar tells it: what it met and, once it
    // ended, how long it took. A refresh leaves it as it was.
    struct Summary {
        bool scanned = false;  // a scan was started
        bool running = false;
        int64_t files = 0;
        int64_t folders = 0;
        double seconds = 0;
    };
    Summary LastScanSummary() const;
    std::string GetStatus() const { return m_runner.Progress().status; }
    // The folder (or file) handed to the last scan, and the whole request.
    std::string GetScanPath() const;
    ScanRequest LastRequest() const;
    // Walks that ended by a cancel or a failure since the engine was made.
    int64_t GetExceptionCount() const { return m_exceptions.load(); }
    // Why the last import could not be read; empty when it could.
    std::string GetImportError() const;

    FolderSizeTree& Tree() { return m_tree; }
    const FolderSizeTree& Tree() const { return m_tree; }

    // --- What the user changed on the disk --------------------------------------
    bool RemoveFolderItem(NodeHandle item);
    bool RemoveLooseFiles(NodeHandle filesItem);
    // A file of the scan left the disk: the statistics forget it (the tree
    // follows by a refresh of its folder, which the caller asks for).
    void ForgetFile(const std::string& path, uint64_t bytes);

  private:
    // The scan's job body; `twins` is the twin engine it also fills, or null.
    void RunScan(const ScanRequest& request, TwinFeed* twins, const JobRunner::Ticket& ticket);
    // Walks (or reads) the tree into the fan-out; returns whether it ended
    // complete. `error` tells why an import could not be read.
    bool ScanFolder(const ScanRequest& request, TwinFeed* twins, const JobRunner::Ticket& ticket,
                    std::string& error);
    // Percentages, order, root name and the closing status.
    void FinishScan();
    // How the tree ends now: its status and what its percentages are of.
    ScanEnding ComposeTreeEnding() const;
    void ResetScan(const ScanRequest& request);
    // The status text the panes show.
    void SetStatus(const std::string& text, int64_t files, int64_t folders);
    void RunRefresh(NodeHandle folder, const std::string& path, const JobRunner::Ticket& ticket);
    void RunExport(const ScanRequest& request, const std::string& file, const std::string& progver,
                   const JobRunner::Ticket& ticket);
    // After a change of the tree: the status and the root's name follow.
    void ShowChangedTotal();
    bool RefuseWhileBusy() const;
    bool Claim(JobKind kind, JobRunner::Body body);

    UserMessagePresenter m_presenter;
    TwinFeed* m_twins = nullptr;
    ScanCopyMaker m_keeper;
    Observer m_observer;
    FolderSizeTree m_tree;
    std::atomic<int64_t> m_exceptions{0};

    mutable std::mutex m_mutex;  // guards the members below it
    ScanRequest m_request;       // the last scan's (its path, import and scope)
    std::string m_importError;
    bool m_relativeToDrive = false;  // as read when the last scan ended
    bool m_scanned = false;
    double m_scanSeconds = 0;
    ExportOutcome m_export;

    // Serialises the starts: only they take the busy flag.
    std::mutex m_startMutex;
    // Declared last: destroyed (and its job joined) before the state above.
    JobRunner m_runner;
};

}  // namespace quarn
