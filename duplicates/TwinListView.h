#pragma once
// The twin list: the rows of CFileListCtrl plus the duplicate detector's
// state (tree, counters, status, content verdicts).
//
// Workers: a duplicate scan (StartScan), a filter search (StartSearch) and a
// content verification (StartVerify) are jobs of one TwinSession, so never
// two of them work on the tree at once; a combined scan runs on the folder
// scan's thread and reaches this list through TwinSink (AddFile,
// RebuildList), and the session's jobs wait for it to end (BeginFeed,
// EndFeed). What may start when:
//   - a scan always starts: it supersedes a running scan, search or
//     verification (they stop at their next folder, group or read);
//   - a search or a verification is refused with "App is busy.." while a
//     scan, a verification or a combined scan works on the tree; a search
//     in progress is superseded;
//   - cancelling = CancelScan() (clears the busy flag, which scans and
//     verifications hold): a walk stops on entering its next folder, counts
//     one exception and still shows what it found; a verification stops at
//     its next read and keeps the verdicts of the groups it finished;
//   - the destructor ends and joins every job before the tree is freed; a
//     folder scan feeding it (combined scan) must have been joined first.
//
// Content: a hard link of a file already in its group reads "hard link" in
// the Content column from the scan on; after a verification each file of a
// group of twins has a verdict (ContentVerdict.h), the Content column shows it, the rows of one
// identical set stand together, and the status counts the bytes identical copies hold beyond the
// first of each set. With the setting VerifyContents on (default off), a verification follows every
// scan by itself.
//
// Trash: TrashFiles (interface thread, no job running) moves files of the
// list to the trash only after re-checking each one: it must still be the
// file the scan saw, and another file with the same bytes must stay.
//
// Status: SetStatusText stores the text under a lock and bumps a counter;
// the frame polls GetStatus()/StatusChangeCount(). Workers update it at most
// every 40 ms (no per-file lock or call into the interface thread).

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stop_token>
#include <string>
#include <vector>

#include "duplicates/BinBaum.h"
#include "duplicates/ContentFile.h"
#include "duplicates/ContentVerdicts.h"
#include "duplicates/FileListCtrl.h"
#include "duplicates/TwinGroup.h"
#include "duplicates/TwinSession.h"
#include "filter/FilterCriteria.h"
#include "foldersize/TwinSink.h"
#include "platform/FindRecord.h"
#include "platform/FolderWalker.h"
#include "platform/Trash.h"
#include "platform/UserMessage.h"
#include "platform/WalkOptions.h"

namespace quarn {

class CTwinListView : public CFileListCtrl, public TwinSink {
  public:
    // The search worker (filter/FileSearch.h): fills the list from the tree.
    // It must return soon after `stop` is requested.
    using SearchWorker = std::function<void(CTwinListView& list, const FilterCriteria& criteria,
                                            std::stop_token stop)>;

    CTwinListView();
    // Cancels and joins every worker, then frees the tree.
    ~CTwinListView() override;

    // Where "App is busy.." and the tree's messages go (stderr when empty).
    // Set before starting workers.
    void SetUserMessagePresenter(UserMessagePresenter presenter);

    // --- Status -------------------------------------------------------------
    // Any thread: stores the text and bumps the change counter.
    void SetStatusText(const std::string& text);
    std::string GetStatus() const;
    uint64_t StatusChangeCount() const { return m_statusChanges.load(std::memory_order_acquire); }

    // --- Duplicate scan -----------------------------------------------------
    // Any thread. Claims the busy flag and starts the scan of `folder`,
    // superseding whatever job runs. Returns at once.
    void StartScan(const std::string& folder);
    // Scans `root` and waits for the scan (and a verification that follows
    // it) to end; refused with "App is busy.." while the list is busy.
    void Scan(const std::string& root);
    // Clears the busy flag: a running scan stops at its next folder, a
    // verification at its next read.
    void CancelScan() { m_bBusy.store(false); }
    bool IsBusy() const { return m_bBusy.load(); }
    // True from StartScan until its job has ended (summary, rebuild and a
    // verification that follows it done).
    bool IsScanRunning() const { return m_session.Current() == TwinSession::Job::Scan; }
    // True while the list is busy, any job runs or a combined scan feeds it.
    bool IsWorking() const;
    // Folders the running or last scan entered (for progress displays).
    int64_t FoldersEntered() const { return m_nFoldersEntered.load(std::memory_order_relaxed); }
    // Waits for every job started so far (the report, the tests).
    void WaitForWorkers() { m_session.Wait(); }

    // TwinSink: one file of a walk, `path` = folder + "/" + name.
    void AddFile(const std::string& path, const FindRecord& record) override;
    // TwinSink: the same with the folder the walk is in, kept once per folder.
    void AddFileInFolder(const std::string& folderPath, const FindRecord& record) override;
    // TwinSink and end of a scan: refills the rows from the tree, every group
    // of two or more files. Refused with "App is busy.." while busy.
    void RebuildList() override;

    // Interface thread, before a combined scan of `folder`: waits for a folder
    // scan that still feeds the list (a cancelled one finishes its folder and
    // its rebuild first), ends a running job, then empties the tree, the rows,
    // the verdicts and the file count. `folder` becomes ScanRoot(); the
    // rebuild at the walk's end writes the scan's summary status.
    void ResetForCombinedScan(const std::string& folder);
    // The same before a folder scan reads the imported `file` and feeds this
    // list: the summary status then ends in "[imported FILE]".
    void ResetForCombinedImport(const std::string& file);
    // TwinSink: the imported file was damaged; the list forgets the feed and
    // its status says why.
    void DiscardFeed(const std::string& reason) override;
    // TwinSink: a folder scan's worker starts and ends feeding this list.
    // After the feed, a verification follows when VerifyContents was on at
    // the reset.
    void BeginFeed() override;
    void EndFeed() override;

    // "%.3f GB" from 2^30 bytes, "%.3f MB" from 2^20, else "%.3f KB"; also
    // stored in m_strSizeText.
    std::string FormatTwinBytes(uint64_t bytes);

    // --- Filter search ------------------------------------------------------
    // Refused ("App is busy..", false) while a scan, a verification or a
    // combined scan works on the tree; otherwise supersedes a running search
    // and runs `worker` as a job.
    bool StartSearch(const FilterCriteria& criteria, SearchWorker worker);
    // The same with the File Filter search (RunSearch). Defined beside the
    // search in filter/FileSearch.cpp: callers link quarn_filter.
    bool StartSearch(const FilterCriteria& criteria);
    bool IsSearching() const { return m_session.Current() == TwinSession::Job::Search; }

    // --- Content verification ----------------------------------------------
    // Any thread. Refused ("App is busy..", false) like a search; otherwise
    // claims the busy flag and verifies every group of twins as a job. When
    // it ends, the rows are rebuilt group by group, identical sets together.
    bool StartVerify();
    bool IsVerifying() const { return m_session.Current() == TwinSession::Job::Verify; }
    // A file's verdict (NotVerified before a verification), and the reason
    // of a changed or unread file.
    FileVerdict VerdictOf(FileId file) const;
    std::string VerdictReason(FileId file) const;
    // True once a verification gave verdicts since the last scan.
    bool HasVerdicts() const;
    // True while the rows are a verification's (not a scan's or a search's).
    bool ShowsVerdicts() const { return m_shown.load() == Shown::Verified; }

    // What the status counts, recomputed from the tree and the verdicts.
    struct TwinCounts {
        int copies = 0;  // files beyond the first of each group, hard links not counted
        uint64_t copyBytes = 0;
        int identicalCopies = 0;  // inodes beyond the first of each identical set
        uint64_t identicalBytes = 0;
        int unique = 0;
        int hardLinks = 0;
        int changed = 0;
        int unread = 0;
        int notVerified = 0;
    };
    TwinCounts CountTwins() const;

    // --- Select Copies and Move to Trash (interface thread) ----------------
    enum class KeepRule { Oldest, Newest, FirstPath };
    // The rows to select so that every identical set keeps one file (the
    // oldest, the newest, or the first by path) and shows every other one
    // selected. Hard links are not copies and are never selected. Ascending.
    std::vector<int> CopyRows(KeepRule keep) const;

    // What moving `files` to the trash would do, for the question asked first.
    struct TrashPlan {
        int files = 0;
        uint64_t bytes = 0;              // the sizes of the files that free space
        int freeingNothing = 0;          // hard links of a file that stays
        std::vector<bool> freesNothing;  // parallel to the files asked about
    };
    TrashPlan PlanTrash(const std::vector<RowSource>& files) const;

    enum class TrashVerdict {
        Trashed,
        Busy,       // a job runs: nothing was done
        Changed,    // no longer the file the scan saw
        LastOfSet,  // no other file with the same bytes stays
        Differs,    // its bytes are not another file's
        Unread,     // it, or what it was compared with, could not be read
        Failed,     // the trash did not take it
    };
    struct TrashOutcome {
        std::string path;
        TrashVerdict verdict = TrashVerdict::Failed;
        std::string reason;  // for the user; empty when trashed
    };
    // Moves the file to the trash when it is still `expected`; the default
    // is MoveToTrash.
    using TrashMover =
        std::function<TrashResult(const std::string& path, const FileIdentity& expected)>;
    // Trashes `files` one after another, each only after the re-check above;
    // then each trashed file leaves its group and its rows, a group without
    // a twin left leaves the list, and the status counts follow.
    std::vector<TrashOutcome> TrashFiles(const std::vector<RowSource>& files,
                                         const TrashMover& mover = {});

    // --- State (read by the frame, the search and the report) --------------
    TwinGroup m_newFile;                    // the one-file group; its flags hold for the next scan
    BinBaum m_tree;                         // the groups of the last scan
    std::atomic<int32_t> m_nFiles{0};       // files handed to AddFile since the scan began
    std::atomic<int32_t> m_nExceptions{0};  // walks abandoned since the list was made
    std::atomic<bool> m_bBusy{false};  // a scan, rebuild or verification runs; cleared to cancel
    WalkOptions m_walkOptions;         // how the walk runs; set while no scan runs
    std::string m_strSizeText;         // last FormatTwinBytes text
    // Set while no scan runs: the scan reads the tree (names, sizes, times)
    // from this export file ("-": standard input) instead of walking; empty:
    // it walks. Why a read failed is in GetImportError after the scan.
    std::string m_importFile;
    std::string GetImportError() const;
    uint64_t m_nTwinBytes = 0;  // bytes of the copies beyond each group's first (worker only)
    // Twin rows and bytes as the last scan's summary counted them (the
    // rebuild clears m_nTwinBytes; the report prints these). Hard links of
    // a file already in the group are not copies and not counted.
    std::atomic<int32_t> m_nScanTwinRows{0};
    std::atomic<uint64_t> m_nScanTwinBytes{0};

  private:
    mutable std::mutex m_importErrorMutex;
    std::string m_strImportError;  // guarded by m_importErrorMutex

  public:
    std::string ScanRoot() const;  // the folder of the last scan, alone or combined

  protected:
    std::string ContentTextLocked(const RowSource& source) const override;
    // Called on the verifying thread after each group; shows the progress
    // in the status (at most every 40 ms).
    virtual void ShowVerifyProgress(uint64_t filesDone, uint64_t filesTotal, uint64_t bytesRead);

  private:
    class ScanWalkSink;
    friend class ScanWalkSink;
    // What the rows show, so the status after a trash says the same kind of thing.
    enum class Shown { Scan, Search, Verified };

    void ScanJob(const std::string& root, const TwinSession::Ticket& ticket);
    void Walk(const std::string& root, std::stop_token stop);
    // Reads m_importFile into the walk's sink; a failure is counted as an
    // exception and kept for GetImportError.
    void ImportInto(WalkSink& sink);
    // "Twin Files: ..." from the counters and the rows found during the walk.
    void PublishScanSummary();
    // " [imported FILE]" when the last scan read a file, else empty.
    std::string ImportedSuffix() const;
    void AddFileAt(std::string_view folderPrefix, const FindRecord& record);
    void RebuildRows(std::stop_token stop);
    bool StartVerifyJob(bool fromFeed);
    void VerifyJob(const TwinSession::Ticket& ticket);
    bool MayStartJob(TwinSession::Job current, bool feeding) const;
    void EmptyTreeAndRows();
    void ShowMessage(const std::string& text) const;
    void PublishStatusThrottled(const std::string& text);
    std::string StatusAfterChange() const;
    std::string VerifyStatus(const TwinCounts& counts, bool cancelled) const;
    ExpectedFile ExpectedOf(FileId file) const;
    bool InGroup(GroupId group, FileId file) const;
    TrashOutcome CheckBeforeTrash(GroupId group, FileId file, const std::string& path);
    void ForgetTrashed(GroupId group, FileId file);

    UserMessagePresenter m_presenter;
    mutable std::mutex m_statusMutex;
    std::string m_strStatus;
    std::string m_strScanRoot;
    std::string m_strImportedFrom;  // the file the last scan read, empty for a walk
    std::atomic<uint64_t> m_statusChanges{0};
    std::chrono::steady_clock::time_point m_lastStatus;  // the worker's last status
    std::string m_pathBuffer;                            // the walk's current file path, reused
    std::string m_feedFolder;                            // a combined walk's current folder
    std::string m_feedPrefix;                            // the same with its trailing separator
    std::string m_feedDiscarded;  // why a combined import's feed was forgotten, or empty

    std::atomic<bool> m_bCombinedScan{false};  // between ResetForCombinedScan and RebuildList
    std::atomic<bool> m_bVerifyAfterFeed{false};
    std::atomic<int64_t> m_nFoldersEntered{0};
    ContentVerdicts m_verdicts;  // guarded by RowMutex()
    std::atomic<Shown> m_shown{Shown::Scan};
    // Declared last: destroyed (and its jobs joined) before the state above.
    TwinSession m_session;
};

}  // namespace quarn
