#pragma once
// The Dupmatch engine: the duplicate detector's index of the last scan
// (BinBaum), the list's rows (TwinRows), the counters, the content verdicts
// and the jobs that change them, run by one JobRunner. The window's twin
// list, the File Filter, the report and the trash all drive it; it makes no
// texts but its status, and has no Qt.
//
// Jobs:
//   - a duplicate scan (StartScan) walks or imports the request's tree into
//     the index; every file that joins a group shows as a row at once; when
//     the walk ends the summary is the status and the rows are rebuilt from
//     the index (RebuildList), every group of two or more, in name order;
//   - a content verification (StartVerify), and one that follows a scan or a
//     feed when the request asks for it;
//   - a filter search (StartSearch, filter/FileSearch.h) refills the rows.
// A scan always starts: it supersedes a running scan, search or
// verification. A search or a verification is refused with "App is busy.."
// while a scan, a verification or a feed works on the index; a search in
// progress is superseded. Cancel() clears the busy flag: a walk stops on
// entering its next folder, counts one exception and still shows what it
// found; a verification stops at its next read and keeps the verdicts of the
// groups it finished.
//
// A combined scan (TwinFeed): a folder scan's walk fills the index; from
// BeginFeed to EndFeed no job of this engine runs, and EndFeed rebuilds the
// list and writes the summary a duplicate scan of the same folder writes.
//
// Twins by content (the request's contentTwins): the walk groups regular
// files by size, without rows; a content search follows (ContentSearchJob)
// and leaves one group per set of identical bytes, largest space first, the
// only rows. Files in reference folders take part but are never selected or
// trashed; reference folders outside the root are walked too.
//
// Content: a hard link of a file already in its group reads "hard link" from
// the scan on; after a verification each file of a group of twins has a
// verdict (ContentVerdict.h), the rows of one identical set stand together,
// and the status counts the bytes identical copies hold beyond the first of
// each set.
//
// Threads: every member may be called from any thread, except as noted; the
// observer is called on the thread that caused the news and must not block.
// The destructor stops and joins the jobs; a folder scan feeding the engine
// must have been joined first.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "duplicates/BinBaum.h"
#include "duplicates/ContentFile.h"
#include "duplicates/ContentVerdicts.h"
#include "duplicates/ContentVerifier.h"
#include "duplicates/TwinFolderFinder.h"
#include "duplicates/TwinGroup.h"
#include "duplicates/TwinReplacement.h"
#include "duplicates/TwinRows.h"
#include "pipeline/JobRunner.h"
#include "pipeline/ReferenceFolders.h"
#include "pipeline/ScanRequest.h"
#include "pipeline/TwinFeed.h"
#include "platform/UserMessage.h"

namespace quarn {

class TwinTrash;

// What a row shows, read from the index when asked.
struct TwinRow {
    RowSource source;
    std::string name;  // the group's name
    std::string path;
    uint64_t size = 0;
    uint64_t lastWriteTime = 0;  // FILETIME
    // The verification's verdict (a hard link known from the scan reads
    // HardLink before any), and the reason of a changed or unread file.
    Content content = Content::NotVerified;
    std::string reason;
    bool reference = false;  // in a reference folder: never selected, trashed or replaced
    uint64_t files = 0;      // a twin folder's files (its content reads Folder)
};

class TwinScanner final : public TwinFeed {
  public:
    struct Observer {
        std::function<void()> progressed;  // a new status or counts
        std::function<void()> idle;        // the last job (or feed) has ended
    };
    // A search (filter/FileSearch.h): fills the rows from the index. It
    // must return soon after `stop` is requested.
    using SearchWorker = std::function<void(TwinScanner& twins, std::stop_token stop)>;

    // `presenter` shows "App is busy.." and the index's messages.
    explicit TwinScanner(UserMessagePresenter presenter = {});
    ~TwinScanner() override;

    // Set once, before the first job.
    void SetObserver(Observer observer);

    // --- Duplicate scan -------------------------------------------------------
    // Starts the scan of `request` (a folder or an import), superseding
    // whatever job runs; returns at once with the busy flag set.
    void StartScan(const ScanRequest& request);
    // Scans and waits for the scan (and a verification that follows it) to
    // end; refused with "App is busy.." while the engine is busy.
    void Scan(const ScanRequest& request);
    // Clears the busy flag: a running scan stops at its next folder, a
    // verification at its next read.
    void Cancel() { m_runner.Cancel(); }
    bool IsBusy() const { return m_runner.IsBusy(); }
    // True while the engine is busy, a job runs or a feed fills the index.
    bool IsWorking() const;
    bool IsScanRunning() const { return m_runner.Current() == JobKind::Scan; }
    bool IsSearching() const { return m_runner.Current() == JobKind::Search; }
    bool IsVerifying() const { return m_runner.Current() == JobKind::Verify; }
    // Waits for every job started so far (the report, the tests).
    void WaitForWorkers() { m_runner.Wait(); }
    bool WaitFor(std::chrono::milliseconds timeout);
    ScanProgress Progress() const { return m_runner.Progress(); }

    // One file of a walk, `path` = folder + "/" + name: it joins its twins
    // or starts a group, and shows as a row when it joins.
    void AddFile(const std::string& path, const FileEntry& entry);
    // Refills the rows from the index, every group of two or more files.
    // Refused with "App is busy.." while busy.
    void RebuildList();
    // Before a combined scan of `request`: waits for a feed that is still
    // running, ends a running job, then empties the index, the rows, the
    // verdicts and the file count.
    void ResetForCombinedScan(const ScanRequest& request);

    // --- TwinFeed --------------------------------------------------------------
    void BeginFeed(const ScanRequest& request) override;
    WalkSink& FeedSink() override;
    void DiscardFeed(const std::string& reason) override;
    void EndFeed() override;

    // --- Filter search and verification ----------------------------------------
    // Refused ("App is busy..", false) while a scan, a verification or a
    // feed works on the index; otherwise supersedes a running search.
    bool StartSearch(SearchWorker worker);
    // Refused like a search; otherwise claims the busy flag and verifies
    // every group of twins. When it ends, the rows are rebuilt group by
    // group, identical sets together.
    bool StartVerify();
    // A file's verdict (NotVerified before a verification), and the reason
    // of a changed or unread file.
    FileVerdict VerdictOf(FileId file) const;
    std::string VerdictReason(FileId file) const;
    // A verification gave verdicts since the last scan.
    bool HasVerdicts() const;
    // The rows are a verification's (not a scan's or a search's).
    bool ShowsVerdicts() const { return m_shown.load() == Shown::Verified; }
    // The index groups by content (the last scan asked for twins by content).
    bool ByContent() const { return m_byContent.load(); }
    // The request of the last scan, alone or combined.
    ScanRequest LastRequest() const;
    // What the last content search counted.
    struct ContentCounts {
        int sets = 0;
        int changed = 0;
        int unread = 0;
        uint64_t filesRead = 0;     // files whose contents were read (not from the cache)
        uint64_t filesSampled = 0;  // files opened to tell whether they are in the page cache
        uint64_t bytesRead = 0;
        double seconds = 0;            // the whole search, the twin folders included
        double twinFolderSeconds = 0;  // finding and listing the twin folders
    };
    ContentCounts LastContentCounts() const;
    // The twin folders the last content search found (TwinFolderFinder.h):
    // topmost copies only, the largest first. They lead the rows, one group
    // per set, each folder a row whose Content is Folder.
    std::vector<TwinFolderSet> TwinFolders() const;
    // Where the hash cache lives (HashCache::DefaultPath() unless set).
    std::string HashCacheFile() const;
    void SetHashCacheFile(std::string path);

    // What the status counts, recomputed from the index and the verdicts.
    struct TwinCounts {
        int copies = 0;  // files beyond the first of each group, hard links not counted
        uint64_t copyBytes = 0;
        int identicalSets = 0;    // sets of identical content that still hold two inodes
        int identicalCopies = 0;  // inodes beyond the first of each identical set
        uint64_t identicalBytes = 0;
        int unique = 0;
        int hardLinks = 0;
        int changed = 0;
        int unread = 0;
        int notVerified = 0;
    };
    TwinCounts CountTwins() const;

    // --- Select Copies ----------------------------------------------------------
    enum class KeepRule { Oldest, Newest, FirstPath };
    // The rows to select so that every identical set keeps one file (a file
    // in a reference folder when the set has one, else the oldest, the
    // newest, or the first by path) and shows every other one selected. Hard
    // links are not copies and are never selected, nor is a reference file.
    // Ascending.
    std::vector<int> CopyRows(KeepRule keep) const;

    // --- Space back: copies replaced by hard links or clones -----------------------
    // The replacements that leave one file of each identical set that `rows`
    // (ascending) touch: every row of a set that is not kept, is not a
    // reference file and is not a link of the kept file is a copy to replace.
    // The file kept is one not among `rows` when the set has one, else the
    // set's first under `keep`; a reference file is kept first either way.
    // Links of one copied inode are all replaced, so that its space goes.
    std::vector<CopyReplacement> PlanReplacements(const std::vector<int>& rows,
                                                  KeepRule keep) const;
    // The replacements of every identical set of the last search, the sets
    // inside twin folders too (which the list leaves out); each set keeps a
    // reference file, else its first under `keep`.
    std::vector<CopyReplacement> PlanAllReplacements(KeepRule keep) const;
    // Replaces the planned copies one by one (CopyReplacer.h: re-checked,
    // compared, made under a temporary name), as a job refused like a
    // verification; Cancel() stops it before the next copy. A copy replaced
    // by a hard link reads "hard link" afterwards. With `dryRun` nothing on
    // disk changes.
    bool StartReplace(ReplaceMethod method, std::vector<CopyReplacement> plan, bool dryRun);
    bool IsReplacing() const { return m_runner.Current() == JobKind::Replace; }
    ReplacementSummary LastReplacement() const;

    // --- What left the disk ------------------------------------------------------
    // Files (or every file below a folder) that left the disk, whoever moved
    // them: they leave their groups and rows, a group without a twin left
    // leaves the list, and the status follows. Not while a job works on the
    // index (false, nothing changed).
    bool ForgetPaths(const std::vector<std::string>& files,
                     const std::vector<std::string>& folders);

    // --- State, read by the panes, the search and the report --------------------
    const BinBaum& Index() const { return m_tree; }
    TwinRows& Rows() { return m_rows; }
    const TwinRows& Rows() const { return m_rows; }
    // What row `row` shows; nothing out of range.
    std::optional<TwinRow> RowAt(int row) const;
    std::string GetStatus() const { return m_runner.Progress().status; }
    // Stores the status text and tells the observer.
    void SetStatusText(const std::string& text);
    // The folder (or file) of the last scan, alone or combined.
    std::string ScanRoot() const;
    // Why the last import could not be read; empty when it could.
    std::string GetImportError() const;
    // "%.3f GB" from 2^30 bytes, "%.3f MB" from 2^20, else "%.3f KB".
    std::string FormatTwinBytes(uint64_t bytes) const;

    int32_t FileCount() const { return m_nFiles.load(); }  // files met since the scan began
    int32_t ExceptionCount() const { return m_nExceptions.load(); }
    // Folders the running or last walk entered (for progress displays).
    int64_t FoldersEntered() const { return m_nFoldersEntered.load(std::memory_order_relaxed); }
    // Twin rows and bytes as the last scan's summary counted them (the
    // rebuild clears the running total; the report prints these). Hard links
    // of a file already in the group are not copies and not counted.
    int32_t ScanTwinRows() const { return m_nScanTwinRows.load(); }
    uint64_t ScanTwinBytes() const { return m_nScanTwinBytes.load(); }

    // The last scan as the status bar tells it: what it met and, once it
    // ended, how long it took (a combined scan's walk included).
    struct Summary {
        bool scanned = false;
        bool running = false;
        bool fed = false;  // a folder scan's walk filled the index (a combined scan)
        int64_t files = 0;
        int64_t folders = 0;
        double seconds = 0;
    };
    Summary LastScanSummary() const;

  private:
    friend class TwinTrash;
    class ScanWalkSink;
    friend class ScanWalkSink;
    class KnownHashesFile;
    // What the rows show, so the status after a change says the same kind
    // of thing.
    enum class Shown { Scan, Search, Verified };

    void ScanJob(const ScanRequest& request, const JobRunner::Ticket& ticket);
    // Walks or reads the request's tree into the index.
    void Walk(const ScanRequest& request, std::stop_token stop);
    // "Twin Files: ..." from the counters and the rows found during the walk.
    void PublishScanSummary();
    // " [imported FILE]" when the last scan read a file, else empty.
    std::string ImportedSuffix() const;
    void AddFileAt(std::string_view folderPrefix, const FileEntry& entry, bool reference);
    // Walks the reference folders outside the request's root into the index.
    void WalkReferenceFolders(const ScanRequest& request, std::stop_token stop);
    // The content search: verifies every size group, then splits each into
    // its sets of identical bytes (TwinContentSearch.cpp).
    void ContentSearchJob(const JobRunner::Ticket& ticket);
    // A walk could not read `path` whole (the walking thread).
    void NoteUnreadableFolder(const std::string& path);
    // After a content search: finds the twin folders, adds their groups
    // (under the row lock) and puts their rows first in `rows`, leaving out
    // the file sets that lie wholly inside them (TwinFolderSearch.cpp).
    void ListTwinFolders(const ScanRequest& request, std::vector<RowSource>& rows,
                         uint32_t& nextSet);
    std::string ContentStatus(bool cancelled) const;
    // Orders the size groups for reading as suits the device that holds
    // them, and returns how many readers share them (`asked`, unless 0).
    // `opened` counts the files opened to tell.
    size_t PlanReads(std::vector<TreeNode>& groups, unsigned asked, KnownHashes* known,
                     uint64_t& opened) const;
    // True when the first bytes of a sample of the groups' files are in the
    // page cache (files whose hashes `known` has are not looked at).
    bool SampleIsCached(const std::vector<TreeNode>& groups, KnownHashes* known,
                        uint64_t& opened) const;
    // The hash cache, read for a search (a damaged one is told once and not
    // used), and written after it when it learnt something.
    std::unique_ptr<KnownHashes> OpenHashCache();
    void SaveHashCache(KnownHashes& known);
    void RebuildRows(std::stop_token stop);
    bool StartVerifyJob(bool fromFeed);
    void VerifyJob(const JobRunner::Ticket& ticket);
    // The groups a verification or content search compares (two candidates
    // or more), in list order, and how many files they hold.
    std::vector<TreeNode> GroupsToCompare(uint64_t& files) const;
    bool MayStartJob(JobKind current, bool busy, bool feeding) const;
    // The index, the rows and the verdicts of the last scan go.
    void EmptyIndexAndRows();
    void PublishStatusThrottled(const std::string& text);
    std::string StatusAfterChange() const;
    std::string VerifyStatus(const TwinCounts& counts, bool cancelled) const;
    // Shows the verification's progress in the status (throttled).
    void ShowVerifyProgress(uint64_t filesDone, uint64_t filesTotal, uint64_t bytesRead);
    ExpectedFile ExpectedOf(FileId file) const;
    bool InGroup(GroupId group, FileId file) const;
    // Takes a file out of its group and its rows (it left the disk).
    void ForgetFile(GroupId group, FileId file);
    // Takes what left the disk out of the twin folders; true when any went.
    bool ForgetTwinFolders(const std::unordered_set<std::string>& files,
                           const std::unordered_set<std::string>& folders,
                           const std::function<bool(std::string_view)>& below);
    void CountScanStart(bool fed);
    void ReplaceJob(const JobRunner::Ticket& ticket, ReplaceMethod method,
                    const std::vector<CopyReplacement>& plan, bool dryRun);
    // A dry run's bytes for copies whose every name would be replaced.
    void CountInodesThatWouldGo(const std::vector<CopyReplacement>& plan,
                                ReplacementSummary& summary) const;
    // After a copy became a hard link of `kept`: the index and verdicts say so.
    void RecordRelinked(FileId copy, FileId kept);

    UserMessagePresenter m_presenter;
    Observer m_observer;
    TwinGroup m_newFile;  // the one-file group; its flags hold for the scan
    BinBaum m_tree;       // the groups of the last scan
    TwinRows m_rows;
    ContentVerdicts m_verdicts;                              // guarded by the rows' lock
    std::unordered_map<FileId, uint64_t> m_twinFolderFiles;  // likewise: a folder row's files

    std::atomic<int32_t> m_nFiles{0};
    std::atomic<int32_t> m_nExceptions{0};
    std::atomic<int64_t> m_nFoldersEntered{0};
    std::atomic<int32_t> m_nScanTwinRows{0};
    std::atomic<uint64_t> m_nScanTwinBytes{0};
    std::atomic<Shown> m_shown{Shown::Scan};
    std::atomic<bool> m_byContent{false};  // set with the request, before its job
    uint64_t m_nTwinBytes = 0;  // bytes of the copies beyond each group's first (the job's)

    mutable std::mutex m_mutex;  // guards the members below it
    std::string m_strScanRoot;
    std::string m_strImportedFrom;  // the file the last scan read, empty for a walk
    std::string m_strImportError;
    std::string m_feedDiscarded;  // why a combined import's feed was forgotten, or empty
    bool m_verifyAfterFeed = false;
    bool m_walkReferencesAfterFeed = false;
    ScanRequest m_request;  // of the last scan
    ContentCounts m_contentCounts;
    std::string m_hashCacheFile;
    ReplacementSummary m_replacement;              // the last replacement job's
    std::vector<std::string> m_unreadableFolders;  // of the last walk
    std::vector<TwinFolderSet> m_twinFolders;      // of the last content search
    bool m_scanned = false;
    bool m_lastScanFed = false;
    std::chrono::steady_clock::time_point m_scanStarted;
    double m_scanSeconds = 0;

    // The walking thread's own: its throttle and path buffers.
    ProgressThrottle m_throttle;
    std::string m_pathBuffer;
    std::string m_feedFolder;
    std::string m_feedPrefix;
    uint64_t m_minContentSize = 0;  // the walk's bounds on a content candidate's size
    uint64_t m_maxContentSize = 0;
    std::unique_ptr<WalkSink> m_feedSink;
    std::vector<std::string> m_feedReferences;

    // Declared last: destroyed (and its jobs joined) before the state above.
    JobRunner m_runner;
};

}  // namespace quarn
