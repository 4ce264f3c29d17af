#pragma once
// The folder-size pane's engine: a tree-list store that walks a folder tree
// on its own worker thread and fills itself with one item per folder (and
// one files item per folder that has both files and subfolders), each with
// its size in bytes, then percentages, sorting and a status text. The items
// are the only record of the scan: sizes, paths and texts are read from them.
//
// Threads: StartScan, cancelling (m_bBusy = false), the getters and the
// store's reads may be used from any thread while a scan runs. A new scan
// never runs beside the previous one: its thread first joins the old
// worker. Destroying the view cancels and joins the running scan.
//
// Folders that could not be read. A folder that could not be opened or
// listed counts as empty and its node is of the kind Unreadable; an entry
// that vanished between its listing and its stat is not counted. Both are
// counted (GetUnreadableFolderCount, GetSkippedEntryCount) and their reasons
// kept for the few folders concerned only (FolderReadProblems); the item's
// tool tip tells them.
//
// Paths are not stored per item (a tree 100,000 levels deep would need
// gigabytes); GetItemPath derives them from the tree on demand.
//
// Sizes. A folder's total counts every inode once, however many hard links
// to it lie below the folder (LinkedFiles keeps the few files with several
// links, so that later changes stay exact). With the setting AllocatedSize
// a file counts the space it takes on the disk instead of its length; the
// setting is read when a scan starts and holds for that tree.
//
// The tree stays true after the user acts on it: RemoveFolderItem and
// RemoveLooseFiles take out what a Delete or Move to took off the disk, and
// StartRefresh rescans one folder in place. Each updates every ancestor's
// size, a files item that no longer has a place, the percentages, the
// order (when SortBySize is on), the scan's total, counts and status. None
// of them runs while a scan or a refresh runs: they return false, and
// StartRefresh shows "App is busy..".

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "foldersize/FolderReadProblems.h"
#include "foldersize/FolderSums.h"
#include "foldersize/FolderTreeStore.h"
#include "foldersize/LinkedFiles.h"
#include "foldersize/ScanFileStats.h"
#include "foldersize/SubtreeScan.h"
#include "foldersize/TreemapTree.h"
#include "foldersize/TwinSink.h"
#include "platform/ChangeNotifier.h"
#include "platform/FolderWalker.h"
#include "platform/UserMessage.h"
#include "platform/WalkOptions.h"

namespace quarn {

class CFolderSizeView : public FolderTreeStore {
  public:
    // Makes the columns "Name", "Size" and "%" and paints the bar in "%".
    CFolderSizeView();
    // Cancels and joins a running scan before anything is freed.
    ~CFolderSizeView() override;

    // Starts a scan of `path` on a new worker thread and returns at once.
    // The busy flag is set before returning, so clearing it right after
    // cancels this scan. When a scan is already running, "App is busy.." is
    // shown (through m_messagePresenter) and nothing else happens.
    // m_pTwinSink is read here, on the calling thread.
    void StartScan(const std::string& path, NodeHandle parentItem = kTopLevel);

    // The scan itself, on the calling thread; shows "App is busy.." and
    // returns when the view is already busy.
    void RunScan(const std::string& path, NodeHandle parentItem = kTopLevel);

    // Rescans the folder of `item` (a files item: its folder) in place on
    // the worker: its subtree is walked anew and, when the walk completes,
    // takes the place of the old one, with the ancestors updated; a folder
    // that no longer exists leaves the tree. A cancelled refresh changes
    // nothing but the exception count, as a cancelled scan does. The scan
    // root cannot be refreshed in place (a new scan is its refresh).
    // Returns false when it did not start: not an item of this scan, the
    // root, or a scan or refresh is running (then "App is busy.." is shown).
    // Any thread. One thing a refresh cannot know: a file that had a single
    // name when the tree was scanned and has gained another inside the
    // refreshed folder since counts twice above that folder until the next
    // scan (the tree never learned its first name).
    bool StartRefresh(NodeHandle item);

    // After the folder of `item` (its subtree) left the disk: takes the item
    // out and updates the tree. False (nothing changed) for an item that is
    // not a live folder item of this scan, or while a walk runs.
    bool RemoveFolderItem(NodeHandle item);
    // After the loose files of a files item's folder left the disk: takes
    // the files item out and updates the tree. False as above.
    bool RemoveLooseFiles(NodeHandle filesItem);

    // The folder item of `path` when the path lies inside the scanned tree:
    // its own item, or, when the tree has no item for it (a folder made
    // after the scan), the item of its deepest folder that has one.
    // kNoNode when the path lies outside.
    NodeHandle FindFolderItem(const std::string& path) const;

    // The measure of the current tree: true when sizes are the space taken
    // on the disk (AllocatedSize), false for the files' lengths.
    bool AreSizesAllocated() const;
    // The setting AllocatedSize as a scan reads it: off unless a settings
    // file says otherwise (a missing key keeps the files' lengths).
    static bool AllocatedSizeSetting();

    // Waits until the last started worker has ended.
    void WaitForScan();
    // True from StartScan until its worker has finished everything.
    bool IsScanRunning() const { return m_bWorkerRunning.load(); }
    // Waits at most `timeout` for the running scan to finish; true when no
    // scan runs any more.
    bool WaitForScanEnd(std::chrono::milliseconds timeout);

    // Stops a running walk, waits for it, then clears the tree and records.
    void OnDestroy();

    // --- Results, readable from any thread -----------------------------------
    std::string GetStatus() const;
    // Grows by one with every status change; a poller compares it.
    uint64_t GetStatusSerial() const { return m_nStatusSerial.load(); }
    // Called (coalesced, must not block) after the status text changed.
    void AttachStatusListener(ChangeNotifier::Poster poster) {
        m_statusNotifier.SetPoster(std::move(poster));
    }
    void AcknowledgeStatus() { m_statusNotifier.Acknowledge(); }

    std::string GetScanPath() const;
    int64_t GetFileCount() const { return m_nFiles.load(std::memory_order_relaxed); }
    int64_t GetFolderCount() const { return m_nFolders.load(std::memory_order_relaxed); }
    int64_t GetExceptionCount() const { return m_nExceptions.load(); }
    // Files met whose link count is above 1 (every name of them).
    int64_t GetHardLinkCount() const { return m_nHardLinks.load(std::memory_order_relaxed); }
    // Folders of the tree that could not be opened or listed, and entries
    // listed but not counted; both follow the tree after an action.
    int64_t GetUnreadableFolderCount() const;
    int64_t GetSkippedEntryCount() const;
    // What kept the folder of `item` from being read whole; nothing when it
    // was read whole or is no live folder item of this scan.
    std::optional<FolderReadProblems::Problem> GetReadProblem(NodeHandle item) const override;
    RootPlace GetRootPlace() const override;
    // After a complete walk the root's total; after a cancel or failure the
    // bytes of every file the walk counted, each once.
    uint64_t GetTotal() const { return m_nTotal.load(); }

    // The full path of the folder an item stands for (a files item: its
    // folder), or nothing when the item is not a live item of this scan.
    std::optional<std::string> GetItemPath(NodeHandle item) const;
    // The walked (normalised) path of the scan root.
    std::string GetRootPath() const;
    // The items the last scan finished: folders with their totals, and
    // files items.
    size_t GetRecordCount() const;
    // The largest files and the file types of the last scan, once its walk
    // has ended (also a cancelled one: what it met); null while a scan runs
    // or when m_nLargestFiles was 0. Sizes are the tree's (apparent or
    // allocated), each hard-linked inode once.
    std::shared_ptr<const ScanFileStats> GetFileStats() const;
    // A copy of the finished tree for a treemap, made under the store's
    // lock: every live folder and files item with its size and handle, and
    // below the items that hold a folder's own files (its files item, or a
    // folder without subfolders) the largest files known in that folder and
    // the rest of its bytes. Files are coloured by their type's place among
    // the TreemapTree::kPaletteSize types of most bytes. An empty tree when
    // nothing was scanned. Any thread; costs a few milliseconds for 100,000
    // folders.
    TreemapTree TreemapSnapshot() const;
    // A file of GetFileStats()'s largest files is gone (trashed): treemaps
    // leave it out until the next scan brings lists of its own. Any thread.
    void ForgetLargestFile(const std::string& path);

    // --- Set by the owner ----------------------------------------------------
    // A walk is running; clear it to cancel (the walk stops at its next
    // folder and counts one exception).
    std::atomic<bool> m_bBusy{false};
    // The twin list to feed in a combined scan, or null; read when a scan
    // starts. The sink must outlive the scan.
    std::atomic<TwinSink*> m_pTwinSink{nullptr};
    // Sizes are the space files take on the disk whatever AllocatedSize
    // says (the report's --allocated); read when a scan starts.
    std::atomic<bool> m_bAllocatedSizes{false};
    // Shows "App is busy.."; empty: stderr.
    UserMessagePresenter m_messagePresenter;
    // How the walk runs; set while no scan runs, read by the scan's worker.
    WalkOptions m_walkOptions;
    // Read when a scan starts (on the starting thread): the scan then reads
    // the tree from this file ("-": standard input) instead of walking the
    // folder, and the status ends in "[imported FILE]". Empty: folders are
    // walked.
    std::string m_importFile;
    // Why the last import failed ("truncated at byte 40 ..."); empty when
    // it did not. Readable from any thread once the scan has ended.
    std::string GetImportError() const;
    // How many of the largest files a scan keeps; 0 keeps neither them nor
    // the file types. Read when a scan's walk starts.
    std::atomic<size_t> m_nLargestFiles{kDefaultLargestFiles};

  protected:
    class ScanSink;
    friend class ScanSink;

    // Takes the busy flag for a new scan; returns its ticket, 0 when busy.
    uint64_t ClaimBusy();
    // The body of RunScan once the busy flag is ours (ticket from ClaimBusy).
    void RunClaimedScan(const std::string& path, NodeHandle parentItem, TwinSink* twinSink,
                        uint64_t ticket);
    // Walks the tree below `path`; returns its total. Throws ScanCancelled
    // when the busy flag is found cleared.
    uint64_t ScanFolder(const std::string& path, NodeHandle item, TwinSink* twinSink);
    void FinishScan();
    // Reads m_importFile into the sink; throws ScanCancelled (after
    // clearing the tree) when the file cannot be read or is damaged.
    WalkResult ImportTree(WalkSink& sink);
    void ResetScan();
    void SetStatus(const std::string& text);
    // Orders every finished folder's children by percentage (files items
    // last), then the root's (its files item by size).
    void SortBySize();

    // Inserts a folder's item and keeps the scan root expanded.
    NodeHandle InsertFolderItem(std::string_view text, NodeKind kind, NodeHandle parent);
    // A folder is complete: its total, and its files item when it has both
    // files and subfolders.
    void CompleteFolder(NodeHandle item, const FolderSums::Folder& sums);

  private:
    class RefreshWalk;

    std::optional<std::string> ItemPathLocked(NodeHandle item) const;
    static RootPlace PlaceOf(const std::string& path);

    // The status text of a finished tree of `total` bytes, and what the
    // percentages are shares of.
    struct Ending {
        std::string status;
        uint64_t denominator = 0;
        bool ofTotal = true;      // the denominator is the scan's total
        bool renameRoot = false;  // a mount point was scanned: the root reads the status
    };
    Ending ComposeEnding(const std::string& path, uint64_t total) const;
    // After a change of the tree: the status and, when they are shares of
    // the total, the percentages follow the new total.
    void ShowChangedTotal();

    // Gives the busy flag back unless a newer scan has taken it.
    void EndWorker(uint64_t ticket);
    // The body of a refresh once the busy flag is ours.
    void RunClaimedRefresh(NodeHandle folder, const std::string& path, uint64_t ticket);
    bool RemoveFolderItemLocked(NodeHandle item);
    // Puts a completed refresh walk in place of the folder's old subtree.
    void ApplyRefreshLocked(NodeHandle folder, const SubtreeScan& walk);

    // With StoreMutex() held, after the totals below `start` (a folder
    // item, or kTopLevel when the scan root itself went) changed: `removed`
    // bytes (each inode once) and their linked names went, `added` bytes and
    // names came. Updates the sizes of `start` and its ancestors, the total
    // and the order; the names of `added` join the table.
    void UpdateAncestorsLocked(NodeHandle start, uint64_t removed,
                               const std::vector<LinkedFiles::Name>& removedNames, uint64_t added,
                               const std::vector<LinkedFiles::Name>& addedNames);
    // The parent's item number of a live item number; kNoParent above the
    // top level.
    uint32_t ParentNumberLocked(uint32_t number) const;
    // The live folder items of the subtree of `item` (itself included).
    std::vector<NodeHandle> SubtreeFoldersLocked(NodeHandle item) const;
    // Takes the linked names held by the folders of `folders` out of the table.
    std::vector<LinkedFiles::Name> TakeNamesOfLocked(const std::vector<NodeHandle>& folders);
    // The folder of `item` could not be opened or listed.
    void MarkUnreadableLocked(NodeHandle item, int errorNumber);
    uint32_t OwnFileCountLocked(NodeHandle item) const;
    void SetOwnFileCountLocked(NodeHandle item, int64_t count);
    // Orders the children of the changed folders as a scan's end does.
    void SortChangedLocked(const std::vector<NodeHandle>& folders);
    bool IsWalkRunning() const { return m_bBusy.load() || m_bWorkerRunning.load(); }

    size_t m_nRecords = 0;                      // guarded by StoreMutex()
    NodeHandle m_hScanRoot = kNoNode;           // guarded by StoreMutex()
    std::string m_strRootPath;                  // guarded by StoreMutex()
    RootPlace m_rootPlace = RootPlace::Folder;  // guarded by StoreMutex()
    // The files with several links; guarded by StoreMutex().
    LinkedFiles m_links;
    // Each folder item's number of own files (every name), by item number;
    // guarded by StoreMutex().
    std::deque<uint32_t> m_ownFiles;
    // The folders not read whole, by item number; guarded by StoreMutex().
    FolderReadProblems m_readProblems;
    bool m_bTreeAllocated = false;  // the tree's measure; guarded by StoreMutex()
    bool m_bPercentOfTotal = true;  // guarded by StoreMutex()

    std::atomic<int64_t> m_nFiles{0};
    std::atomic<int64_t> m_nFolders{0};
    std::atomic<int64_t> m_nExceptions{0};
    std::atomic<int64_t> m_nHardLinks{0};
    std::atomic<uint64_t> m_nTotal{0};

    mutable std::mutex m_textMutex;  // guards the two texts below
    std::string m_strStatus;
    std::string m_strScanPath;
    std::atomic<uint64_t> m_nStatusSerial{0};

    mutable std::mutex m_statsMutex;  // guards the two below
    std::shared_ptr<const ScanFileStats> m_fileStats;
    std::unordered_set<std::string> m_forgottenLargest;  // of m_fileStats
    ChangeNotifier m_statusNotifier;

    std::string m_strWalkPath;     // the running scan's own path; the worker's only
    std::string m_strImportError;  // guarded by m_textMutex
    std::string m_strImportFile;   // the running scan's import; the worker's only

    // The busy flag is taken and given back under this lock, with a ticket
    // per scan, so that a cancelled worker that ends late cannot clear the
    // flag of the scan started after it.
    // A walk also stops when a newer scan has taken the flag after a cancel.
    std::mutex m_claimMutex;
    std::atomic<uint64_t> m_nScanTicket{0};
    uint64_t m_nWalkTicket = 0;  // the running scan's ticket; the worker's only

    std::mutex m_startMutex;  // serialises StartScan, WaitForScan, OnDestroy
    std::jthread m_scanThread;
    std::atomic<bool> m_bWorkerRunning{false};
    std::mutex m_endMutex;
    std::condition_variable m_scanEnded;
};

}  // namespace quarn
