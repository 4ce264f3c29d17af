#include "foldersize/FolderSizeView.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "foldersize/SizeText.h"
#include "platform/FileSystems.h"
#include "platform/FolderWalker.h"
#include "platform/ImportReader.h"
#include "platform/PathRules.h"
#include "settings/ScanScope.h"
#include "settings/Settings.h"

namespace quarn {

namespace {

// Thrown out of the walk when the busy flag is found cleared.
struct ScanCancelled {};

// While walking, the folder being listed is shown at most this often: the
// eye cannot follow more, and a path 200 KB long is not copied per folder.
constexpr auto kWalkStatusInterval = std::chrono::milliseconds(40);

// Folders are sorted in batches, so that a view reading the store is not
// kept waiting for the whole pass.
constexpr uint32_t kItemsPerLock = 2048;

bool IsNetworkLocation(const std::string& path) {
    return IsNetworkStylePath(path) || FileSystemKindOfPath(path) == FileSystemKind::Network;
}

}  // namespace

bool CFolderSizeView::AllocatedSizeSetting() {
    return ReadSetting(kAllocatedSize, false);
}

// The walk's view of the scan: the item of every folder being listed, and
// their sums.
class CFolderSizeView::ScanSink final : public WalkSink {
  public:
    ScanSink(CFolderSizeView& view, NodeHandle parentItem, TwinSink* twinSink, bool allocatedSizes)
        : m_view(view),
          m_parentItem(parentItem),
          m_twinSink(twinSink),
          m_ticket(view.m_nWalkTicket),
          m_sums(allocatedSizes, view.m_links, view.StoreMutex()) {
        size_t largest = view.m_nLargestFiles.load();
        if (largest > 0) {
            m_fileStats = std::make_shared<ScanFileStats>(largest, allocatedSizes);
        }
    }

    bool EnterFolder(const std::string& path, const FindRecord* entry) override {
        NodeHandle item = kNoNode;
        if (entry != nullptr) {
            // A subfolder's item appears when its parent's listing meets it.
            item = m_view.InsertFolderItem(entry->Name(), NodeKind::Folder, m_items.back());
        }
        // Cancelled, or cancelled and a new scan already started.
        if (!m_view.m_bBusy.load(std::memory_order_relaxed) ||
            m_view.m_nScanTicket.load(std::memory_order_relaxed) != m_ticket) {
            return false;
        }
        auto now = std::chrono::steady_clock::now();
        if (m_items.empty() || now - m_lastStatus >= kWalkStatusInterval) {
            m_lastStatus = now;
            m_view.SetStatus(path);
        }
        if (entry == nullptr) {
            const RootPlace place =
                m_view.m_strImportFile.empty() ? PlaceOf(path) : RootPlace::Folder;
            item = m_view.InsertFolderItem(path, NodeKind::Folder, m_parentItem);
            std::lock_guard lock(m_view.StoreMutex());
            m_view.m_hScanRoot = item;
            m_view.m_strRootPath = path;
            m_view.m_rootPlace = place;
        }
        m_items.push_back(item);
        // Items are numbered in the order the walk enters their folders.
        m_sums.Enter(FolderTreeStore::ItemNumberOf(item));
        return true;
    }

    void AddFile(const std::string& folderPath, const FindRecord& file) override {
        m_sums.AddFile(file);
        // Only this thread writes the counters; readers want a recent value.
        m_view.m_nFiles.store(m_view.m_nFiles.load(std::memory_order_relaxed) + 1,
                              std::memory_order_relaxed);
        if (file.linkCount > 1) {
            m_view.m_nHardLinks.store(m_view.m_nHardLinks.load(std::memory_order_relaxed) + 1,
                                      std::memory_order_relaxed);
        }
        if (m_fileStats != nullptr) {
            m_fileStats->AddFile(folderPath, file);
        }
        if (m_twinSink != nullptr) {
            m_twinSink->AddFileInFolder(folderPath, file);
        }
    }

    // A folder on another file system stays in the tree, marked and of
    // size 0, so the user sees where the scan stopped; a folder left out by
    // a pattern is not shown.
    void EntryExcluded(const std::string&, const FindRecord& entry,
                       ExclusionReason reason) override {
        if (reason != ExclusionReason::OtherFileSystem) {
            return;
        }
        NodeHandle item =
            m_view.InsertFolderItem(entry.Name(), NodeKind::OtherFileSystem, m_items.back());
        // An empty folder to the sums, so its parent knows it has a subfolder.
        m_sums.Enter(FolderTreeStore::ItemNumberOf(item));
        m_view.CompleteFolder(item, m_sums.Leave());
    }

    void LeaveFolder(const std::string&) override {
        NodeHandle item = m_items.back();
        m_items.pop_back();
        m_view.CompleteFolder(item, m_sums.Leave());
        if (!m_items.empty()) {
            m_view.m_nFolders.fetch_add(1, std::memory_order_relaxed);
        }
    }

    void FolderUnreadable(const std::string&, int errorNumber) override {
        std::lock_guard lock(m_view.StoreMutex());
        m_view.MarkUnreadableLocked(m_items.back(), errorNumber);
    }

    void EntrySkipped(const std::string&, std::string_view, int errorNumber) override {
        std::lock_guard lock(m_view.StoreMutex());
        if (m_view.IsLiveItemLocked(m_items.back())) {
            m_view.m_readProblems.AddSkipped(FolderTreeStore::ItemNumberOf(m_items.back()),
                                             errorNumber);
        }
    }

    // Every byte the walk has met so far, each inode once; after the walk
    // the root's total.
    uint64_t CountedBytes() const { return m_sums.CountedBytes(); }

    // What the walk found of single files goes to the view's readers.
    void PublishFileStats() {
        std::lock_guard lock(m_view.m_statsMutex);
        m_view.m_fileStats = std::move(m_fileStats);
        m_view.m_forgottenLargest.clear();
    }

    // The names of the linked files met join the scan's table (also after
    // a cancel: their folders' items stay).
    void CommitLinkedNames() {
        std::lock_guard lock(m_view.StoreMutex());
        for (const LinkedFiles::Name& name : m_sums.Names()) {
            m_view.m_links.AddName(name.inode, name.folder);
        }
    }

  private:
    CFolderSizeView& m_view;
    NodeHandle m_parentItem;
    TwinSink* m_twinSink;
    uint64_t m_ticket;
    FolderSums m_sums;
    std::shared_ptr<ScanFileStats> m_fileStats;  // null: not kept
    std::vector<NodeHandle> m_items;             // the heap, not the machine stack, holds the depth
    std::chrono::steady_clock::time_point m_lastStatus;
};

CFolderSizeView::CFolderSizeView() = default;

CFolderSizeView::~CFolderSizeView() {
    OnDestroy();
}

void CFolderSizeView::OnDestroy() {
    m_bBusy.store(false);
    WaitForScan();
    ResetScan();
}

// --- Starting and running ---------------------------------------------------

uint64_t CFolderSizeView::ClaimBusy() {
    std::lock_guard lock(m_claimMutex);
    if (m_bBusy.exchange(true)) {
        return 0;
    }
    return m_nScanTicket.fetch_add(1) + 1;
}

void CFolderSizeView::StartScan(const std::string& path, NodeHandle parentItem) {
    std::lock_guard start(m_startMutex);
    uint64_t ticket = ClaimBusy();
    std::jthread previous = std::move(m_scanThread);
    if (ticket == 0) {
        // The running worker keeps the view. The message is shown on a
        // thread of its own, as a blocking box must not stop the caller.
        m_scanThread = std::jthread([this, previous = std::move(previous)]() mutable {
            ShowUserMessage(m_messagePresenter, kAppIsBusyMessage);
            if (previous.joinable()) {
                previous.join();
            }
        });
        return;
    }
    {
        std::lock_guard lock(m_textMutex);
        m_strScanPath = path;
    }
    TwinSink* twinSink = m_pTwinSink.load();
    if (twinSink != nullptr) {
        twinSink->BeginFeed();  // from now on, until the worker's EndFeed
    }
    m_bWorkerRunning.store(true);
    m_scanThread =
        std::jthread([this, path, parentItem, twinSink, ticket, importFile = m_importFile,
                      previous = std::move(previous)]() mutable {
            // A cancelled worker may still be finishing: never two on one tree.
            if (previous.joinable()) {
                previous.join();
            }
            m_strImportFile = importFile;
            RunClaimedScan(path, parentItem, twinSink, ticket);
        });
}

void CFolderSizeView::RunScan(const std::string& path, NodeHandle parentItem) {
    uint64_t ticket = ClaimBusy();
    if (ticket == 0) {
        ShowUserMessage(m_messagePresenter, kAppIsBusyMessage);
        return;
    }
    {
        std::lock_guard lock(m_textMutex);
        m_strScanPath = path;
    }
    m_bWorkerRunning.store(true);
    TwinSink* twinSink = m_pTwinSink.load();
    if (twinSink != nullptr) {
        twinSink->BeginFeed();
    }
    m_strImportFile = m_importFile;
    RunClaimedScan(path, parentItem, twinSink, ticket);
}

void CFolderSizeView::RunClaimedScan(const std::string& path, NodeHandle parentItem,
                                     TwinSink* twinSink, uint64_t ticket) {
    m_strWalkPath = path;
    m_nWalkTicket = ticket;
    ResetScan();
    try {
        m_nTotal.store(ScanFolder(path, parentItem, twinSink));
    } catch (...) {
        // A cancel or a failure ends the walk; what was found stays.
        m_nExceptions.fetch_add(1);
    }
    try {
        FinishScan();
        if (twinSink != nullptr) {
            twinSink->RebuildList();
        }
    } catch (...) {
        m_nExceptions.fetch_add(1);
    }
    if (twinSink != nullptr) {
        twinSink->EndFeed();
    }
    EndWorker(ticket);
}

void CFolderSizeView::EndWorker(uint64_t ticket) {
    {
        std::lock_guard lock(m_claimMutex);
        if (m_nScanTicket != ticket) {
            return;  // a newer scan owns the flag now
        }
        m_bBusy.store(false);
    }
    std::lock_guard lock(m_endMutex);
    m_bWorkerRunning.store(false);
    m_scanEnded.notify_all();
}

bool CFolderSizeView::StartRefresh(NodeHandle item) {
    {
        std::lock_guard start(m_startMutex);
        NodeHandle folder = kNoNode;
        std::optional<std::string> path;
        {
            std::lock_guard lock(StoreMutex());
            path = ItemPathLocked(item);
            folder = IsFilesItemLocked(item) ? GetParentItemLocked(item) : item;
            if (!path || folder == m_hScanRoot) {
                return false;
            }
        }
        uint64_t ticket = ClaimBusy();
        if (ticket != 0) {
            std::jthread previous = std::move(m_scanThread);
            m_bWorkerRunning.store(true);
            m_scanThread = std::jthread(
                [this, folder, path = *path, ticket, previous = std::move(previous)]() mutable {
                    if (previous.joinable()) {
                        previous.join();
                    }
                    RunClaimedRefresh(folder, path, ticket);
                });
            return true;
        }
    }
    // Not under the start lock: the box may run the caller's event loop.
    ShowUserMessage(m_messagePresenter, kAppIsBusyMessage);
    return false;
}

// The walk of a refresh: its folders in a private list until it completes.
class CFolderSizeView::RefreshWalk {
  public:
    RefreshWalk(CFolderSizeView& view, uint64_t ticket, bool allocatedSizes)
        : m_view(view),
          m_ticket(ticket),
          m_scan(allocatedSizes, view.m_links, view.StoreMutex(),
                 [this](const std::string& path) { return KeepGoing(path); }) {}

    // True when the walk completed.
    bool Run(const std::string& path) {
        return WalkFolderTree(path, m_scan) == WalkResult::Completed && KeepGoing(std::string());
    }
    const SubtreeScan& Scan() const { return m_scan; }

  private:
    bool KeepGoing(const std::string& path) {
        if (!m_view.m_bBusy.load(std::memory_order_relaxed) ||
            m_view.m_nScanTicket.load(std::memory_order_relaxed) != m_ticket) {
            return false;
        }
        auto now = std::chrono::steady_clock::now();
        if (!path.empty() && now - m_lastStatus >= kWalkStatusInterval) {
            m_lastStatus = now;
            m_view.SetStatus(path);
        }
        return true;
    }

    CFolderSizeView& m_view;
    uint64_t m_ticket;
    SubtreeScan m_scan;
    std::chrono::steady_clock::time_point m_lastStatus;
};

void CFolderSizeView::RunClaimedRefresh(NodeHandle folder, const std::string& path,
                                        uint64_t ticket) {
    bool applied = false;
    try {
        bool allocatedSizes;
        {
            std::lock_guard lock(StoreMutex());
            allocatedSizes = m_bTreeAllocated;  // the tree's measure, whatever the setting says now
        }
        RefreshWalk walk(*this, ticket, allocatedSizes);
        struct ::stat status;
        // Gone since the scan: what a scan would show now is no item.
        bool gone = ::lstat(path.c_str(), &status) != 0 && errno == ENOENT;
        if (gone || walk.Run(path)) {
            std::lock_guard claim(m_claimMutex);  // no newer scan takes over meanwhile
            if (m_nScanTicket == ticket) {
                std::lock_guard lock(StoreMutex());
                if (gone) {
                    applied = RemoveFolderItemLocked(folder);
                } else if (IsLiveItemLocked(folder)) {
                    ApplyRefreshLocked(folder, walk.Scan());
                    applied = true;
                }
            }
        }
    } catch (...) {
        // A failure leaves the tree as it was.
    }
    if (!applied) {
        m_nExceptions.fetch_add(1);
    }
    if (m_nScanTicket.load() == ticket) {
        ShowChangedTotal();  // also in place of the paths the walk showed
    }
    EndWorker(ticket);
}

void CFolderSizeView::ApplyRefreshLocked(NodeHandle folder, const SubtreeScan& walk) {
    const std::vector<SubtreeScan::Folder>& found = walk.Folders();
    // The old subtree leaves.
    std::vector<NodeHandle> oldFolders = SubtreeFoldersLocked(folder);
    int64_t oldFiles = 0;
    for (NodeHandle old : oldFolders) {
        oldFiles += OwnFileCountLocked(old);
    }
    std::vector<LinkedFiles::Name> oldNames = TakeNamesOfLocked(oldFolders);
    for (NodeHandle old : oldFolders) {
        m_readProblems.Erase(ItemNumberOf(old));
    }
    SetItemKindLocked(folder, NodeKind::Folder);  // read anew: the walk's findings hold
    uint64_t oldBytes = GetItemSizeLocked(folder).value_or(0);
    int count = GetChildCountLocked(folder);
    std::vector<NodeHandle> children;
    for (int row = 0; row < count; ++row) {
        children.push_back(GetChildItemLocked(folder, row));
    }
    for (NodeHandle child : children) {
        DeleteItemLocked(child);
    }
    // The new one takes its place: folders in walk order, each folder's files
    // item after its subfolders.
    std::vector<NodeHandle> items(found.size(), kNoNode);
    items[0] = folder;
    for (size_t place = 1; place < found.size(); ++place) {
        items[place] = InsertItemLocked(walk.NameOf(found[place]), NodeKind::Folder,
                                        items[found[place].parent]);
    }
    for (size_t place = 0; place < found.size(); ++place) {
        const FolderSums::Folder& sums = found[place].sums;
        SetItemSizeLocked(items[place], sums.total);
        SetOwnFileCountLocked(items[place], sums.fileCount);
        CompleteChildrenLocked(items[place]);
        if (sums.fileCount > 0 && sums.subfolderCount > 0) {
            InsertFilesItemLocked(items[place], sums.fileCount, sums.filesBytes);
        }
    }
    for (const auto& [place, problem] : walk.ReadProblems().All()) {
        m_readProblems.Put(ItemNumberOf(items[place]), problem);
        if (problem.error != 0) {
            SetItemKindLocked(items[place], NodeKind::Unreadable);
        }
    }
    std::vector<LinkedFiles::Name> newNames;
    for (const LinkedFiles::Name& name : walk.LinkedNames()) {
        if (items[name.folder] != kNoNode) {
            newNames.push_back(LinkedFiles::Name{name.inode, ItemNumberOf(items[name.folder])});
        }
    }
    m_nFiles.fetch_add(walk.FileCount() - oldFiles);
    m_nFolders.fetch_add(int64_t(found.size()) - int64_t(oldFolders.size()));
    m_nHardLinks.fetch_add(int64_t(newNames.size()) - int64_t(oldNames.size()));
    // The folder's own figures are the walk's; above it the totals change by
    // the difference, and linked names are settled with the rest of the tree.
    uint64_t newBytes = found[0].sums.total;
    UpdateAncestorsLocked(GetParentItemLocked(folder), oldBytes, oldNames, newBytes, newNames);
    SortChangedLocked(items);
}

bool CFolderSizeView::WaitForScanEnd(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_endMutex);
    return m_scanEnded.wait_for(lock, timeout, [this] { return !m_bWorkerRunning.load(); });
}

void CFolderSizeView::WaitForScan() {
    std::jthread worker;
    {
        std::lock_guard start(m_startMutex);
        worker = std::move(m_scanThread);
    }
    if (worker.joinable()) {
        worker.join();
    }
}

// --- The walk ---------------------------------------------------------------

uint64_t CFolderSizeView::ScanFolder(const std::string& path, NodeHandle item, TwinSink* twinSink) {
    bool allocatedSizes = m_bAllocatedSizes.load() || AllocatedSizeSetting();
    {
        std::lock_guard lock(StoreMutex());
        m_bTreeAllocated = allocatedSizes;
    }
    ScanSink sink(*this, item, twinSink, allocatedSizes);
    WalkResult result;
    try {
        result = m_strImportFile.empty()
                     ? WalkFolderTree(path, sink, WithScopeSettings(m_walkOptions))
                     : ImportTree(sink);
    } catch (...) {
        sink.CommitLinkedNames();
        sink.PublishFileStats();
        m_nTotal.store(sink.CountedBytes());
        if (const std::string error = GetImportError(); twinSink != nullptr && !error.empty()) {
            twinSink->DiscardFeed(error);
        }
        throw;
    }
    sink.CommitLinkedNames();
    sink.PublishFileStats();
    if (result == WalkResult::Abandoned) {
        m_nTotal.store(sink.CountedBytes());
        throw ScanCancelled{};
    }
    return sink.CountedBytes();
}

WalkResult CFolderSizeView::ImportTree(WalkSink& sink) {
    const bool standardInput = m_strImportFile == "-";
    int fd = standardInput ? 0 : ::open(m_strImportFile.c_str(), O_RDONLY | O_CLOEXEC);
    std::string error;
    ImportOutcome outcome;
    if (fd < 0) {
        error = std::strerror(errno);
    } else {
        outcome = ReadImport(fd, sink);
        if (!standardInput) {
            ::close(fd);
        }
        if (outcome.kind == ImportOutcome::Kind::Damaged ||
            outcome.kind == ImportOutcome::Kind::ReadFailed) {
            error = outcome.Describe();
        }
    }
    if (!error.empty()) {
        // Nothing of a damaged file is shown: a part of a tree would pass
        // for the whole.
        {
            std::lock_guard lock(m_textMutex);
            m_strImportError = error;
        }
        std::lock_guard lock(StoreMutex());
        m_hScanRoot = kNoNode;
        DeleteAllItemsLocked();
        throw ScanCancelled{};
    }
    if (outcome.kind == ImportOutcome::Kind::Abandoned) {
        return WalkResult::Abandoned;
    }
    std::lock_guard lock(StoreMutex());
    m_strWalkPath = m_strRootPath;
    return WalkResult::Completed;
}

std::string CFolderSizeView::GetImportError() const {
    std::lock_guard lock(m_textMutex);
    return m_strImportError;
}

NodeHandle CFolderSizeView::InsertFolderItem(std::string_view text, NodeKind kind,
                                             NodeHandle parent) {
    std::lock_guard lock(StoreMutex());
    // The scan root stays open while its children are added.
    NodeHandle root = GetRootItemLocked();
    if (root != kNoNode) {
        ExpandLocked(root);
    }
    return InsertItemLocked(text, kind, parent);
}

FolderTreeStore::RootPlace CFolderSizeView::PlaceOf(const std::string& path) {
    if (IsNetworkLocation(path)) {
        return RootPlace::Network;
    }
    std::optional<std::string> mountPoint = MountPointOf(path);
    return mountPoint && NormalisedPath(path) == *mountPoint ? RootPlace::MountPoint
                                                             : RootPlace::Folder;
}

void CFolderSizeView::CompleteFolder(NodeHandle item, const FolderSums::Folder& sums) {
    std::lock_guard lock(StoreMutex());
    SetItemSizeLocked(item, sums.total);
    SetOwnFileCountLocked(item, sums.fileCount);
    // No subfolder comes any more; the files item follows in the packed list.
    CompleteChildrenLocked(item);
    ++m_nRecords;
    if (sums.fileCount > 0 && sums.subfolderCount > 0) {
        InsertFilesItemLocked(item, sums.fileCount, sums.filesBytes);
        ++m_nRecords;
    }
}

void CFolderSizeView::MarkUnreadableLocked(NodeHandle item, int errorNumber) {
    if (!IsLiveItemLocked(item)) {
        return;
    }
    m_readProblems.SetUnreadable(ItemNumberOf(item), errorNumber);
    SetItemKindLocked(item, NodeKind::Unreadable);
}

uint32_t CFolderSizeView::OwnFileCountLocked(NodeHandle item) const {
    uint32_t number = ItemNumberOf(item);
    return number < m_ownFiles.size() ? m_ownFiles[number] : 0;
}

void CFolderSizeView::SetOwnFileCountLocked(NodeHandle item, int64_t count) {
    if (item == kNoNode) {
        return;
    }
    uint32_t number = ItemNumberOf(item);
    if (number >= m_ownFiles.size()) {
        m_ownFiles.resize(size_t(number) + 1, 0);
    }
    m_ownFiles[number] = uint32_t(std::clamp<int64_t>(count, 0, 0xffffffffll));
}

// --- The end of a scan ------------------------------------------------------

CFolderSizeView::Ending CFolderSizeView::ComposeEnding(const std::string& path,
                                                       uint64_t total) const {
    Ending ending;
    ending.denominator = total;
    if (!m_strImportFile.empty()) {
        // The drive of an imported tree is not this machine's.
        std::string error = GetImportError();
        ending.status = error.empty() ? std::string(kReadyStatus) : "Import failed: " + error;
        ending.status += " [imported " + m_strImportFile + "]";
        return ending;
    }
    if (IsNetworkLocation(path)) {
        ending.status = NetworkReadyStatus(path, total, m_nFiles.load(), m_nFolders.load(),
                                           m_nExceptions.load());
        return ending;
    }
    std::optional<DiskSpace> space = DiskSpaceOf(path);
    std::optional<std::string> mountPoint = MountPointOf(path);
    if (space && mountPoint) {
        if (ReadSetting(kRelativToDriveSpace)) {
            ending.denominator = space->total;
            ending.ofTotal = false;
        }
        ending.status = FreeSpaceStatus(*mountPoint, space->freeToCaller);
        ending.renameRoot = NormalisedPath(path) == *mountPoint;
    } else {
        ending.status = kReadyStatus;
    }
    return ending;
}

void CFolderSizeView::FinishScan() {
    Ending ending = ComposeEnding(m_strWalkPath, m_nTotal.load());
    {
        std::lock_guard lock(StoreMutex());
        m_bPercentOfTotal = ending.ofTotal;
        if (ending.renameRoot) {
            SetItemNameLocked(m_hScanRoot, ending.status);
        }
    }
    SetStatus(ending.status);
    // Percentages are made from the sizes when shown; every item shares
    // this denominator. 0: no item has one and nothing is sorted.
    SetPercentBase(ending.denominator);
    if (ending.denominator != 0 && ReadSetting(kSortBySize)) {
        SortBySize();
    }
}

void CFolderSizeView::ShowChangedTotal() {
    Ending ending = ComposeEnding(GetScanPath(), m_nTotal.load());
    {
        std::lock_guard lock(StoreMutex());
        if (ending.renameRoot) {
            SetItemNameLocked(m_hScanRoot, ending.status);
        }
    }
    SetStatus(ending.status);
}

void CFolderSizeView::SortBySize() {
    // A files item stays the last child of its folder, even when it is the
    // largest; only under the scan root is it placed by size. A folder the
    // walk did not finish keeps the order of the walk.
    NodeHandle root = GetRootItem();
    uint32_t next = 1;
    while (true) {
        std::lock_guard lock(StoreMutex());
        uint32_t end = std::min(ItemNumberEndLocked(), next + kItemsPerLock);
        if (next >= end) {
            break;
        }
        for (; next < end; ++next) {
            NodeHandle item = LiveItemLocked(next);
            if (item != kNoNode && item != root && !IsFilesItemLocked(item) &&
                GetItemSizeLocked(item)) {
                SortChildrenByPercentLocked(item, true);
            }
        }
    }
    SortChildrenByPercent(root);
}

void CFolderSizeView::ResetScan() {
    {
        std::lock_guard lock(m_textMutex);
        m_strImportError.clear();
    }
    m_nFiles.store(0);
    m_nFolders.store(0);
    m_nHardLinks.store(0);
    // A new scan counts from nothing; only the exceptions add up.
    m_nTotal.store(0);
    {
        std::lock_guard lock(m_statsMutex);
        m_fileStats.reset();
        m_forgottenLargest.clear();
    }
    std::lock_guard lock(StoreMutex());
    m_nRecords = 0;
    m_hScanRoot = kNoNode;
    m_strRootPath.clear();
    m_rootPlace = RootPlace::Folder;
    m_links.Clear();
    m_readProblems.Clear();
    std::deque<uint32_t>().swap(m_ownFiles);
    DeleteAllItemsLocked();
}

// --- Keeping the tree true after an action ----------------------------------

bool CFolderSizeView::AreSizesAllocated() const {
    std::lock_guard lock(StoreMutex());
    return m_bTreeAllocated;
}

uint32_t CFolderSizeView::ParentNumberLocked(uint32_t number) const {
    NodeHandle parent = GetParentItemLocked(LiveItemLocked(number));
    if (parent == kNoNode || parent == kTopLevel) {
        return LinkedFiles::kNoParent;
    }
    return ItemNumberOf(parent);
}

std::vector<NodeHandle> CFolderSizeView::SubtreeFoldersLocked(NodeHandle item) const {
    std::vector<NodeHandle> folders;
    std::vector<NodeHandle> pending{item};
    while (!pending.empty()) {
        NodeHandle folder = pending.back();
        pending.pop_back();
        folders.push_back(folder);
        int count = GetChildCountLocked(folder);
        for (int row = 0; row < count; ++row) {
            NodeHandle child = GetChildItemLocked(folder, row);
            // Deleted children stay linked until a view has applied it.
            if (IsLiveItemLocked(child) && !IsFilesItemLocked(child)) {
                pending.push_back(child);
            }
        }
    }
    return folders;
}

std::vector<LinkedFiles::Name> CFolderSizeView::TakeNamesOfLocked(
    const std::vector<NodeHandle>& folders) {
    if (m_links.Names().empty()) {
        return {};
    }
    std::vector<bool> inside(ItemNumberEndLocked(), false);
    for (NodeHandle folder : folders) {
        inside[ItemNumberOf(folder)] = true;
    }
    return m_links.TakeNamesIf([&inside](const LinkedFiles::Name& name) {
        return name.folder < inside.size() && inside[name.folder];
    });
}

void CFolderSizeView::UpdateAncestorsLocked(NodeHandle start, uint64_t removed,
                                            const std::vector<LinkedFiles::Name>& removedNames,
                                            uint64_t added,
                                            const std::vector<LinkedFiles::Name>& addedNames) {
    std::vector<NodeHandle> chain;
    std::vector<uint32_t> numbers;
    for (NodeHandle at = start; at != kTopLevel && at != kNoNode; at = GetParentItemLocked(at)) {
        chain.push_back(at);
        numbers.push_back(ItemNumberOf(at));
    }
    auto parentOf = [this](uint32_t number) { return ParentNumberLocked(number); };
    // An inode whose names leave or join a folder still counts there (once)
    // when another of its names stays below it.
    std::vector<uint64_t> keptOfRemoved = m_links.BytesHeldAlong(numbers, removedNames, parentOf);
    std::vector<uint64_t> heldOfAdded = m_links.BytesHeldAlong(numbers, addedNames, parentOf);
    for (size_t at = 0; at < chain.size(); ++at) {
        if (std::optional<uint64_t> size = GetItemSizeLocked(chain[at])) {
            SetItemSizeLocked(chain[at],
                              *size - removed + keptOfRemoved[at] + added - heldOfAdded[at]);
        }
    }
    uint64_t total = m_nTotal.load() - removed + added;
    if (!chain.empty()) {
        total += keptOfRemoved.back() - heldOfAdded.back();
    } else {
        total = 0;  // the scan root itself went
    }
    m_nTotal.store(total);
    for (const LinkedFiles::Name& name : addedNames) {
        m_links.AddName(name.inode, name.folder);
    }
    if (m_bPercentOfTotal) {
        SetPercentBaseLocked(total);
    }
    SortChangedLocked(chain);
}

void CFolderSizeView::SortChangedLocked(const std::vector<NodeHandle>& folders) {
    if (GetPercentBaseLocked() == 0 || !ReadSetting(kSortBySize)) {
        return;
    }
    NodeHandle root = GetRootItemLocked();
    for (NodeHandle folder : folders) {
        if (folder == root) {
            // The root's children as the header last ordered them.
            SortTopLevelLocked(!TopLevelByNameLocked());
        } else if (GetItemSizeLocked(folder)) {
            SortChildrenByPercentLocked(folder, true);
        }
    }
}

bool CFolderSizeView::RemoveFolderItem(NodeHandle item) {
    if (IsWalkRunning()) {
        return false;
    }
    {
        std::lock_guard lock(StoreMutex());
        if (!RemoveFolderItemLocked(item)) {
            return false;
        }
    }
    ShowChangedTotal();
    return true;
}

bool CFolderSizeView::RemoveFolderItemLocked(NodeHandle item) {
    if (!ItemPathLocked(item) || IsFilesItemLocked(item)) {
        return false;
    }
    NodeHandle parent = GetParentItemLocked(item);
    bool isRoot = item == m_hScanRoot;
    std::vector<NodeHandle> folders = SubtreeFoldersLocked(item);
    int64_t files = 0;
    for (NodeHandle folder : folders) {
        files += OwnFileCountLocked(folder);
    }
    std::vector<LinkedFiles::Name> names = TakeNamesOfLocked(folders);
    for (NodeHandle folder : folders) {
        m_readProblems.Erase(ItemNumberOf(folder));
    }
    std::optional<uint64_t> bytes = GetItemSizeLocked(item);
    DeleteItemLocked(item);
    m_nFiles.fetch_sub(files);
    m_nFolders.fetch_sub(int64_t(folders.size()) - (isRoot ? 1 : 0));
    m_nHardLinks.fetch_sub(int64_t(names.size()));
    if (isRoot) {
        m_links.Clear();
        UpdateAncestorsLocked(kTopLevel, 0, {}, 0, {});
    } else {
        // A folder left with files only stands for them itself: its files
        // item goes, as a scan would not make one.
        bool hasSubfolder = false;
        NodeHandle filesItem = kNoNode;
        int count = GetChildCountLocked(parent);
        for (int row = 0; row < count; ++row) {
            NodeHandle child = GetChildItemLocked(parent, row);
            if (!IsLiveItemLocked(child)) {
                continue;
            }
            if (IsFilesItemLocked(child)) {
                filesItem = child;
            } else {
                hasSubfolder = true;
            }
        }
        if (!hasSubfolder && filesItem != kNoNode) {
            DeleteItemLocked(filesItem);
        }
        UpdateAncestorsLocked(parent, bytes.value_or(0), names, 0, {});
    }
    return true;
}

bool CFolderSizeView::RemoveLooseFiles(NodeHandle filesItem) {
    if (IsWalkRunning()) {
        return false;
    }
    {
        std::lock_guard lock(StoreMutex());
        if (!ItemPathLocked(filesItem) || !IsFilesItemLocked(filesItem)) {
            return false;
        }
        NodeHandle folder = GetParentItemLocked(filesItem);
        uint64_t bytes = GetItemSizeLocked(filesItem).value_or(0);
        int64_t files = OwnFileCountLocked(folder);
        std::vector<LinkedFiles::Name> names = TakeNamesOfLocked({folder});
        DeleteItemLocked(filesItem);
        SetOwnFileCountLocked(folder, 0);
        m_nFiles.fetch_sub(files);
        m_nHardLinks.fetch_sub(int64_t(names.size()));
        UpdateAncestorsLocked(folder, bytes, names, 0, {});
    }
    ShowChangedTotal();
    return true;
}

NodeHandle CFolderSizeView::FindFolderItem(const std::string& path) const {
    std::lock_guard lock(StoreMutex());
    if (m_hScanRoot == kNoNode || !IsLiveItemLocked(m_hScanRoot)) {
        return kNoNode;
    }
    std::string root = NormalisedPath(m_strRootPath);
    std::string wanted = NormalisedPath(path);
    if (wanted != root) {
        std::string prefix = root == "/" ? root : root + kPathSeparator;
        if (!wanted.starts_with(prefix)) {
            return kNoNode;
        }
    }
    NodeHandle at = m_hScanRoot;
    size_t begin = std::min(wanted.size(), root.size() + 1);
    if (root == "/") {
        begin = 1;
    }
    while (begin < wanted.size()) {
        size_t end = wanted.find(kPathSeparator, begin);
        if (end == std::string::npos) {
            end = wanted.size();
        }
        std::string_view name(wanted.data() + begin, end - begin);
        NodeHandle next = kNoNode;
        int count = GetChildCountLocked(at);
        for (int row = 0; row < count && next == kNoNode; ++row) {
            NodeHandle child = GetChildItemLocked(at, row);
            if (IsLiveItemLocked(child) && !IsFilesItemLocked(child) &&
                GetItemNameLocked(child) == name) {
                next = child;
            }
        }
        if (next == kNoNode) {
            break;  // made after the scan: its deepest folder the tree knows
        }
        at = next;
        begin = end + 1;
    }
    return at;
}

void CFolderSizeView::SetStatus(const std::string& text) {
    {
        std::lock_guard lock(m_textMutex);
        m_strStatus = text;
    }
    m_nStatusSerial.fetch_add(1);
    m_statusNotifier.Notify();
}

// --- Reads --------------------------------------------------------------------

std::string CFolderSizeView::GetStatus() const {
    std::lock_guard lock(m_textMutex);
    return m_strStatus;
}

std::string CFolderSizeView::GetScanPath() const {
    std::lock_guard lock(m_textMutex);
    return m_strScanPath;
}

std::optional<std::string> CFolderSizeView::GetItemPath(NodeHandle item) const {
    std::lock_guard lock(StoreMutex());
    return ItemPathLocked(item);
}

std::optional<std::string> CFolderSizeView::ItemPathLocked(NodeHandle item) const {
    if (m_hScanRoot == kNoNode || GetParentItemLocked(item) == kNoNode) {
        return std::nullopt;
    }
    if (IsFilesItemLocked(item)) {
        item = GetParentItemLocked(item);
    }
    std::vector<std::string> names;
    for (NodeHandle at = item; at != m_hScanRoot; at = GetParentItemLocked(at)) {
        if (at == kNoNode || at == kTopLevel) {
            return std::nullopt;  // not below this scan's root
        }
        names.push_back(GetItemNameLocked(at));
    }
    std::string path = m_strRootPath;
    for (auto name = names.rbegin(); name != names.rend(); ++name) {
        AppendPathComponent(path, *name);
    }
    return path;
}

int64_t CFolderSizeView::GetUnreadableFolderCount() const {
    std::lock_guard lock(StoreMutex());
    return m_readProblems.UnreadableFolders();
}

int64_t CFolderSizeView::GetSkippedEntryCount() const {
    std::lock_guard lock(StoreMutex());
    return m_readProblems.SkippedEntries();
}

std::optional<FolderReadProblems::Problem> CFolderSizeView::GetReadProblem(NodeHandle item) const {
    std::lock_guard lock(StoreMutex());
    // Numbers are of the current tree; a handle of an older one is no match.
    if (!IsLiveItemLocked(item) || IsFilesItemLocked(item)) {
        return std::nullopt;
    }
    const FolderReadProblems::Problem* problem = m_readProblems.Find(ItemNumberOf(item));
    if (problem == nullptr) {
        return std::nullopt;
    }
    return *problem;
}

std::string CFolderSizeView::GetRootPath() const {
    std::lock_guard lock(StoreMutex());
    return m_strRootPath;
}

FolderTreeStore::RootPlace CFolderSizeView::GetRootPlace() const {
    std::lock_guard lock(StoreMutex());
    return m_rootPlace;
}

std::shared_ptr<const ScanFileStats> CFolderSizeView::GetFileStats() const {
    std::lock_guard lock(m_statsMutex);
    return m_fileStats;
}

TreemapTree CFolderSizeView::TreemapSnapshot() const {
    using Kind = TreemapTree::Kind;
    TreemapTree tree;
    // The largest files by the item of their folder, found before the lock
    // is taken (FindFolderItem takes it itself), once per folder.
    std::vector<LargestFiles::Entry> largest;
    std::unordered_map<NodeHandle, std::vector<size_t>> filesOfFolder;
    std::shared_ptr<const ScanFileStats> stats;
    {
        std::lock_guard lock(m_statsMutex);
        stats = m_fileStats;
        if (stats != nullptr) {
            largest = stats->Largest().Sorted();
            std::erase_if(largest, [this](const LargestFiles::Entry& file) {
                return m_forgottenLargest.contains(file.path);
            });
        }
    }
    if (stats != nullptr) {
        for (const FileTypeTally::Row& row : stats->Types().Rows()) {
            if (tree.paletteTypes.size() == TreemapTree::kPaletteSize) {
                break;
            }
            tree.paletteTypes.push_back(row.ext);
        }
        std::unordered_map<std::string_view, NodeHandle> folderItems;
        for (size_t i = 0; i < largest.size(); ++i) {
            const std::string& path = largest[i].path;
            const size_t slash = path.rfind(kPathSeparator);
            if (slash == std::string::npos) {
                continue;
            }
            std::string_view folder(path.data(), slash == 0 ? 1 : slash);
            auto [found, added] = folderItems.try_emplace(folder, kNoNode);
            if (added) {
                found->second = FindFolderItem(std::string(folder));
            }
            if (found->second != kNoNode) {
                filesOfFolder[found->second].push_back(i);
            }
        }
    }
    auto colourOf = [&](std::string_view path) {
        const std::string ext =
            FileTypeTally::ExtensionOf(path.substr(path.rfind(kPathSeparator) + 1));
        auto it = std::find(tree.paletteTypes.begin(), tree.paletteTypes.end(), ext);
        return it == tree.paletteTypes.end() ? TreemapTree::kGrey
                                             : int(it - tree.paletteTypes.begin());
    };

    std::lock_guard lock(StoreMutex());
    if (m_hScanRoot == kNoNode || !IsLiveItemLocked(m_hScanRoot)) {
        return tree;
    }
    tree.rootPath = m_strRootPath;
    tree.AddRoot(GetItemSizeLocked(m_hScanRoot).value_or(0), m_hScanRoot,
                 GetItemNameLocked(m_hScanRoot));
    // Breadth first over the nodes as they are added, so that each node's
    // children are added together.
    for (uint32_t at = 0; at < tree.Size(); ++at) {
        const TreemapTree::Node node = tree.At(at);  // a copy: adding moves nodes
        if (node.kind == Kind::File || node.kind == Kind::Rest) {
            continue;
        }
        const int childCount = node.kind == Kind::Folder ? GetChildCountLocked(node.item) : 0;
        for (int row = 0; row < childCount; ++row) {
            const NodeHandle child = GetChildItemLocked(node.item, row);
            if (!IsLiveItemLocked(child)) {
                continue;
            }
            const bool filesItem = IsFilesItemLocked(child);
            tree.AddChild(at, filesItem ? Kind::FilesItem : Kind::Folder,
                          GetItemSizeLocked(child).value_or(0), child,
                          filesItem ? FilesItemText(GetItemFileCountLocked(child))
                                    : GetItemNameLocked(child));
        }
        if (childCount > 0) {
            continue;
        }
        // This node holds its folder's own files.
        const NodeHandle folder =
            node.kind == Kind::FilesItem ? GetParentItemLocked(node.item) : node.item;
        auto files = filesOfFolder.find(folder);
        if (files == filesOfFolder.end()) {
            continue;
        }
        uint64_t known = 0;
        for (size_t i : files->second) {
            tree.AddChild(at, Kind::File, largest[i].bytes, node.item, largest[i].path,
                          colourOf(largest[i].path));
            known += largest[i].bytes;
        }
        if (node.bytes > known) {
            tree.AddChild(at, Kind::Rest, node.bytes - known, node.item, {});
        }
    }
    return tree;
}

void CFolderSizeView::ForgetLargestFile(const std::string& path) {
    std::lock_guard lock(m_statsMutex);
    if (m_fileStats != nullptr) {
        m_forgottenLargest.insert(path);
    }
}

size_t CFolderSizeView::GetRecordCount() const {
    std::lock_guard lock(StoreMutex());
    return m_nRecords;
}

}  // namespace quarn
