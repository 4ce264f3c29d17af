#include "foldersize/FolderSizeView.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "foldersize/SizeText.h"
#include "platform/FileSystems.h"
#include "platform/FolderWalker.h"
#include "platform/PathRules.h"
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

// "/home/" and "/home" name the same folder.
std::string WithoutTrailingSeparator(std::string path) {
    while (path.size() > 1 && path.back() == kPathSeparator) {
        path.pop_back();
    }
    return path;
}

bool IsNetworkLocation(const std::string& path) {
    return IsNetworkStylePath(path) || FileSystemKindOfPath(path) == FileSystemKind::Network;
}

}  // namespace

// The walk's view of the scan: one open entry per folder being listed.
class CFolderSizeView::ScanSink final : public WalkSink {
  public:
    ScanSink(CFolderSizeView& view, HTREEITEM parentItem, TwinSink* twinSink)
        : m_view(view),
          m_parentItem(parentItem),
          m_twinSink(twinSink),
          m_ticket(view.m_nWalkTicket) {}

    bool EnterFolder(const std::string& path, const FindRecord* entry) override {
        HTREEITEM item = TVI_NULL;
        if (entry != nullptr) {
            // A subfolder's item appears when its parent's listing meets it.
            item = m_view.InsertFolderItem(entry->Name(), kImageFolder, m_open.back().item);
        }
        // Cancelled, or cancelled and a new scan already started.
        if (!m_view.m_bBusy.load(std::memory_order_relaxed) ||
            m_view.m_nScanTicket.load(std::memory_order_relaxed) != m_ticket) {
            return false;
        }
        auto now = std::chrono::steady_clock::now();
        if (m_open.empty() || now - m_lastStatus >= kWalkStatusInterval) {
            m_lastStatus = now;
            m_view.SetStatus(path);
        }
        if (entry == nullptr) {
            int image = m_view.RootImage(path);
            item = m_view.InsertFolderItem(path, image, m_parentItem);
            std::lock_guard lock(m_view.StoreMutex());
            m_view.m_hScanRoot = item;
            m_view.m_strRootPath = path;
        }
        m_open.push_back(OpenFolder{item});
        return true;
    }

    void AddFile(const std::string& folderPath, const FindRecord& file) override {
        OpenFolder& folder = m_open.back();
        folder.filesSize += file.FileSize();
        ++folder.fileCount;
        // Only this thread writes the counter; readers want a recent value.
        m_view.m_nFiles.store(m_view.m_nFiles.load(std::memory_order_relaxed) + 1,
                              std::memory_order_relaxed);
        if (m_twinSink != nullptr) {
            m_twinSink->AddFileInFolder(folderPath, file);
        }
    }

    void LeaveFolder(const std::string&) override {
        OpenFolder folder = m_open.back();
        m_open.pop_back();
        uint64_t total = folder.filesSize + folder.subfoldersSize;
        m_view.CompleteFolder(folder.item, total, folder.fileCount, folder.filesSize,
                              folder.subfolderCount > 0);
        if (m_open.empty()) {
            m_rootTotal = total;
            m_rootDone = true;
            return;
        }
        OpenFolder& parent = m_open.back();
        parent.subfoldersSize += total;
        ++parent.subfolderCount;
        m_view.m_nFolders.fetch_add(1, std::memory_order_relaxed);
    }

    uint64_t RootTotal() const { return m_rootTotal; }

    // Every byte the walk has met so far, each once: a completed folder's
    // total sits in its open parent only.
    uint64_t CountedBytes() const {
        if (m_rootDone) {
            return m_rootTotal;
        }
        uint64_t sum = 0;
        for (const OpenFolder& folder : m_open) {
            sum += folder.filesSize + folder.subfoldersSize;
        }
        return sum;
    }

  private:
    struct OpenFolder {
        HTREEITEM item = TVI_NULL;
        uint64_t filesSize = 0;
        uint64_t subfoldersSize = 0;
        int64_t fileCount = 0;
        int64_t subfolderCount = 0;
    };

    CFolderSizeView& m_view;
    HTREEITEM m_parentItem;
    TwinSink* m_twinSink;
    uint64_t m_ticket;
    std::vector<OpenFolder> m_open;  // the heap, not the machine stack, holds the depth
    std::chrono::steady_clock::time_point m_lastStatus;
    uint64_t m_rootTotal = 0;
    bool m_rootDone = false;
};

CFolderSizeView::CFolderSizeView() {
    InsertColumn(0, "Name", kAlignLeft, 260);
    InsertColumn(1, "Size", kAlignLeft, 100);
    InsertColumn(2, "%", kAlignCentre, 100);
    SetSizeColumn(1);
    SetPercentColumn(2);
}

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

void CFolderSizeView::StartScan(const std::string& path, HTREEITEM parentItem) {
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
    m_scanThread = std::jthread(
        [this, path, parentItem, twinSink, ticket, previous = std::move(previous)]() mutable {
            // A cancelled worker may still be finishing: never two on one tree.
            if (previous.joinable()) {
                previous.join();
            }
            SetMarkedColumn(-1);
            RunClaimedScan(path, parentItem, twinSink, ticket);
        });
}

void CFolderSizeView::RunScan(const std::string& path, HTREEITEM parentItem) {
    SetMarkedColumn(-1);
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
    RunClaimedScan(path, parentItem, twinSink, ticket);
}

void CFolderSizeView::RunClaimedScan(const std::string& path, HTREEITEM parentItem,
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

uint64_t CFolderSizeView::ScanFolder(const std::string& path, HTREEITEM item, TwinSink* twinSink) {
    ScanSink sink(*this, item, twinSink);
    WalkResult result;
    try {
        result = WalkFolderTree(path, sink, m_walkOptions);
    } catch (...) {
        m_nTotal.store(sink.CountedBytes());
        throw;
    }
    if (result == WalkResult::Abandoned) {
        m_nTotal.store(sink.CountedBytes());
        throw ScanCancelled{};
    }
    return sink.RootTotal();
}

HTREEITEM CFolderSizeView::InsertFolderItem(std::string_view text, int image, HTREEITEM parent) {
    std::lock_guard lock(StoreMutex());
    // The scan root stays open while its children are added.
    HTREEITEM root = GetRootItemLocked();
    if (root != TVI_NULL) {
        ExpandLocked(root);
    }
    return InsertItemLocked(text, image, parent);
}

int CFolderSizeView::RootImage(const std::string& path) {
    std::optional<std::string> mountPoint = MountPointOf(path);
    bool isMountPoint = mountPoint && WithoutTrailingSeparator(path) == *mountPoint;
    if (isMountPoint || IsNetworkLocation(path)) {
        return AddShellIcon(path);
    }
    return kImageFolder;
}

void CFolderSizeView::CompleteFolder(HTREEITEM item, uint64_t total, int64_t fileCount,
                                     uint64_t filesSize, bool hasSubfolders) {
    std::lock_guard lock(StoreMutex());
    SetItemSizeLocked(item, total);
    // No subfolder comes any more; the files item follows in the packed list.
    CompleteChildrenLocked(item);
    ++m_nRecords;
    if (fileCount > 0 && hasSubfolders) {
        InsertFilesItemLocked(item, fileCount, filesSize);
        ++m_nRecords;
    }
}

// --- The end of a scan ------------------------------------------------------

void CFolderSizeView::FinishScan() {
    const std::string& path = m_strWalkPath;
    uint64_t total = m_nTotal.load();
    uint64_t denominator = total;
    std::string status;
    if (IsNetworkLocation(path)) {
        status = NetworkReadyStatus(path, total, m_nFiles.load(), m_nFolders.load(),
                                    m_nExceptions.load());
    } else {
        std::optional<DiskSpace> space = DiskSpaceOf(path);
        std::optional<std::string> mountPoint = MountPointOf(path);
        if (space && mountPoint) {
            if (ReadSetting(kRelativToDriveSpace)) {
                denominator = space->total;
            }
            status = FreeSpaceStatus(*mountPoint, space->freeToCaller);
            if (WithoutTrailingSeparator(CollapseDoubledSeparators(path)) == *mountPoint) {
                std::lock_guard lock(StoreMutex());
                SetItemTextLocked(m_hScanRoot, status);
            }
        } else {
            status = kReadyStatus;
        }
    }
    SetStatus(status);
    // Percentages are made from the sizes when shown; every item shares
    // this denominator. 0: no item has one and nothing is sorted.
    SetPercentBase(denominator);
    if (denominator != 0 && ReadSetting(kSortBySize)) {
        SortBySize();
    }
}

void CFolderSizeView::SortBySize() {
    // A files item stays the last child of its folder, even when it is the
    // largest; only under the scan root is it placed by size. A folder the
    // walk did not finish keeps the order of the walk.
    HTREEITEM root = GetRootItem();
    uint32_t next = 1;
    while (true) {
        std::lock_guard lock(StoreMutex());
        uint32_t end = std::min(ItemNumberEndLocked(), next + kItemsPerLock);
        if (next >= end) {
            break;
        }
        for (; next < end; ++next) {
            HTREEITEM item = LiveItemLocked(next);
            if (item != TVI_NULL && item != root && !IsFilesItemLocked(item) &&
                GetItemSizeLocked(item)) {
                SortChildrenByPercentLocked(item, true);
            }
        }
    }
    SortChildrenByPercent(root);
}

void CFolderSizeView::ResetScan() {
    m_nFiles.store(0);
    m_nFolders.store(0);
    // A new scan counts from nothing; only the exceptions add up.
    m_nTotal.store(0);
    std::lock_guard lock(StoreMutex());
    m_nRecords = 0;
    m_hScanRoot = TVI_NULL;
    m_strRootPath.clear();
    DeleteAllItemsLocked();
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

std::optional<std::string> CFolderSizeView::GetItemPath(HTREEITEM item) const {
    std::lock_guard lock(StoreMutex());
    return ItemPathLocked(item);
}

std::optional<std::string> CFolderSizeView::ItemPathLocked(HTREEITEM item) const {
    if (m_hScanRoot == TVI_NULL || GetParentItemLocked(item) == TVI_NULL) {
        return std::nullopt;
    }
    if (IsFilesItemLocked(item)) {
        item = GetParentItemLocked(item);
    }
    std::vector<std::string> names;
    for (HTREEITEM at = item; at != m_hScanRoot; at = GetParentItemLocked(at)) {
        if (at == TVI_NULL || at == TVI_ROOT) {
            return std::nullopt;  // not below this scan's root
        }
        names.push_back(GetItemTextLocked(at));
    }
    std::string path = m_strRootPath;
    for (auto name = names.rbegin(); name != names.rend(); ++name) {
        AppendPathComponent(path, *name);
    }
    return path;
}

std::string CFolderSizeView::GetRootPath() const {
    std::lock_guard lock(StoreMutex());
    return m_strRootPath;
}

size_t CFolderSizeView::GetRecordCount() const {
    std::lock_guard lock(StoreMutex());
    return m_nRecords;
}

}  // namespace quarn
