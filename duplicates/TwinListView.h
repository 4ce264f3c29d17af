#pragma once
// The twin list: the rows of CFileListCtrl plus the duplicate detector's
// state (tree, counters, status) and the workers that fill it.
//
// Workers and what they may do at the same time:
//   - a duplicate scan (StartScan) and a filter search (StartSearch) each run
//     on an owned thread; a combined scan runs on the folder scan's thread and
//     reaches this list through TwinSink (AddFile, RebuildList);
//   - never two of them work on the tree at once: a new scan, and
//     ResetForCombinedScan, first end and join a running search; both wait
//     for a cancelled combined scan that still feeds the list; a new scan
//     also stops the previous scan and its thread waits for the old one
//     before it starts; a search while a scan or a rebuild is busy is refused
//     with "App is busy.."; a new search ends and joins a running search;
//   - cancelling = CancelScan() (clears the busy flag); the walk notices it
//     on entering its next folder, counts one exception and still shows what
//     it found;
//   - the destructor ends and joins every worker before the tree is freed;
//     a folder scan feeding it (combined scan) must have been joined first.
//
// Status: SetStatusText stores the text under a lock and bumps a counter;
// the frame polls GetStatus()/StatusChangeCount() (no per-file call into the
// interface thread).

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>

#include "duplicates/BinBaum.h"
#include "duplicates/FileListCtrl.h"
#include "duplicates/TwinGroup.h"
#include "filter/FilterCriteria.h"
#include "foldersize/TwinSink.h"
#include "platform/FindRecord.h"
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
    // Interface thread. Ends a running search, claims the busy flag, and
    // starts the scan of `folder` on a new thread, which first waits for the
    // previous scan thread. Returns at once.
    void StartScan(const std::string& folder);
    // The body of the scan thread; public for callers that scan on their own
    // thread (the tests). Refuses with "App is busy.." when the list is busy.
    void Scan(const std::string& root);
    // Clears the busy flag: a running walk stops at its next folder.
    void CancelScan() { m_bBusy.store(false); }
    bool IsBusy() const { return m_bBusy.load(); }
    // True from StartScan until its thread has ended (summary and rebuild done).
    bool IsScanRunning() const { return m_nScanThreads.load() > 0; }
    // Folders the running or last scan entered (for progress displays).
    int64_t FoldersEntered() const { return m_nFoldersEntered.load(std::memory_order_relaxed); }
    // Waits for the scan and search threads to end (the report, the tests).
    void WaitForWorkers();

    // TwinSink: one file of a walk, `path` = folder + "/" + name.
    void AddFile(const std::string& path, const FindRecord& record) override;
    // TwinSink: the same with the folder the walk is in, kept once per folder.
    void AddFileInFolder(const std::string& folderPath, const FindRecord& record) override;
    // TwinSink and end of a scan: refills the rows from the tree, every group
    // of two or more files. Refused with "App is busy.." while busy.
    void RebuildList() override;

    // Interface thread, before a combined scan of `folder`: ends a running
    // search and waits for a folder scan that still feeds the list (a
    // cancelled one finishes its folder and its rebuild first), then empties
    // the tree, the rows and the file count. `folder` becomes ScanRoot(); the
    // rebuild at the walk's end writes the scan's summary status.
    void ResetForCombinedScan(const std::string& folder);
    // TwinSink: a folder scan's worker starts and ends feeding this list.
    void BeginFeed() override;
    void EndFeed() override;

    // "%.3f GB" from 2^30 bytes, "%.3f MB" from 2^20, else "%.3f KB"; also
    // stored in m_strSizeText.
    std::string FormatTwinBytes(uint64_t bytes);

    // --- Filter search ------------------------------------------------------
    // Interface thread. Refused ("App is busy..", false) while a scan or a
    // rebuild is busy; otherwise ends and joins a running search and runs
    // `worker` on a new thread.
    bool StartSearch(const FilterCriteria& criteria, SearchWorker worker);
    // The same with the File Filter search (RunSearch). Defined beside the
    // search in filter/FileSearch.cpp: callers link quarn_filter.
    bool StartSearch(const FilterCriteria& criteria);
    bool IsSearching() const { return m_bSearching.load(); }

    // --- Trash --------------------------------------------------------------
    // The interface thread trashed the file of `row`, whose path it read as
    // `path`: takes the file out of its group and removes the row. Nothing
    // happens (false) when the row no longer shows that path or a worker is
    // running (the worker owns the tree then).
    bool RemoveTrashedRow(int row, const std::string& path);

    // --- State (read by the frame, the search and the report) --------------
    TwinGroup m_newFile;                    // the one-file group; its flags hold for the next scan
    BinBaum m_tree;                         // the groups of the last scan
    std::atomic<int32_t> m_nFiles{0};       // files handed to AddFile since the scan began
    std::atomic<int32_t> m_nExceptions{0};  // walks abandoned since the list was made
    std::atomic<bool> m_bBusy{false};       // a scan or a rebuild runs; cleared to cancel
    WalkOptions m_walkOptions;              // how the walk runs; set while no scan runs
    std::string m_strSizeText;              // last FormatTwinBytes text
    uint64_t m_nTwinBytes = 0;  // bytes of the copies beyond each group's first (worker only)
    // Twin rows and bytes as the last scan's summary counted them (the
    // rebuild clears m_nTwinBytes; the report prints these).
    std::atomic<int32_t> m_nScanTwinRows{0};
    std::atomic<uint64_t> m_nScanTwinBytes{0};
    std::string ScanRoot() const;  // the folder of the last scan, alone or combined

  private:
    class ScanWalkSink;
    friend class ScanWalkSink;

    void ScanThreadProc(std::stop_token stop, std::jthread previous, std::string root);
    void ScanClaimed(const std::string& root, std::stop_token stop);
    void Walk(const std::string& root, std::stop_token stop);
    // "Twin Files: ..." from the counters and the rows found during the walk.
    void PublishScanSummary();
    void AddFileAt(std::string_view folderPrefix, const FindRecord& record);
    void RebuildClaimed(std::stop_token stop);
    bool WorkerActive() const;
    void EmptyTreeAndRows();
    void StopSearch();
    void ShowMessage(const std::string& text) const;

    UserMessagePresenter m_presenter;
    mutable std::mutex m_statusMutex;
    std::string m_strStatus;
    std::string m_strScanRoot;
    std::atomic<uint64_t> m_statusChanges{0};
    std::string m_pathBuffer;  // the scan's current file path, reused
    std::string m_feedFolder;  // a combined walk's current folder
    std::string m_feedPrefix;  // the same with its trailing separator

    std::mutex m_workerMutex;  // claims of the busy flag against superseding
    std::atomic<bool> m_bSearching{false};
    std::atomic<int> m_nScanThreads{0};        // started and not yet ended
    std::atomic<bool> m_bCombinedScan{false};  // between ResetForCombinedScan and RebuildList
    std::atomic<int64_t> m_nFoldersEntered{0};
    std::mutex m_feedMutex;  // guards m_nFeeds
    std::condition_variable m_feedEnded;
    int m_nFeeds = 0;  // folder scans between BeginFeed and EndFeed
    std::jthread m_hScanThread;
    std::jthread m_hSearchThread;
};

}  // namespace quarn
