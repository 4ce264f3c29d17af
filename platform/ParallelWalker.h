#pragma once
// The walk's machinery behind WalkFolderTree, shared by its two halves:
// FolderWalker.cpp, the walking thread that owns the path and calls the sink,
// and WalkAhead.cpp, the tasks that list folders ahead (done by the workers,
// and by the walking thread while it waits). Nothing here is for other code.
//
// How the walk is shared between threads
// --------------------------------------
// The calling thread (the walking thread) alone calls the sink and owns the
// path: the folders from the root to the one being handed on, each with the
// pieces of its listing not yet handed on. Every subfolder that some thread
// has opened ahead hangs off the entry of its parent's listing that named it
// ("claimed"), with its own pieces and claimed subfolders, so what lies
// ahead is a small tree rooted in the path. Workers pick their next task
// from it in the order the sink will need it (depth-first from the deepest
// folder of the path, nearest first): open a claimed subfolder and read its
// first piece, or read the next piece of a folder already open.
//
// One mutex guards every folder's shared fields (handle, pins, chunks,
// claims, flags) and the path. System calls run outside it: a folder's
// handle stays open while `pins` counts threads that use it, and only one
// thread at a time reads names from it (`reading`). A chunk is written by
// one thread, then published under the lock and never changed again.
//
// Limits: at most kMaxFoldersAhead folders are opened ahead, the pieces read
// ahead of one folder are at most kChunksAheadPerFolder, all of them together
// at most about kMaxBytesAhead, and at most kMaxPathHandles handles stay open
// along the path (the shallowest are closed and reopened through ".." on the
// way back). The walking thread never waits for a limit: what it needs and
// nobody has done yet it does itself, and while it waits for a worker it
// takes on tasks of its own.

#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/DirectoryListing.h"
#include "platform/FolderWalker.h"
#include "platform/ListingChunk.h"
#include "platform/WalkThreadClock.h"
#include "platform/WalkThreadGovernor.h"

namespace quarn::walk {

inline constexpr size_t kMaxPathHandles = 64;
inline constexpr size_t kMaxFoldersAhead = 128;
inline constexpr size_t kChunkEntries = 2048;
inline constexpr size_t kChunksAheadPerFolder = 4;
inline constexpr size_t kMaxBytesAhead = size_t(8) << 20;
inline constexpr unsigned kMaxThreads = 64;
inline constexpr size_t kSpareChunks = 32;
// The path's handles, one more while the deepest is pushed before the
// shallowest is closed, one reopened for a closed parent, and one per folder
// opened ahead.
static_assert(kMaxPathHandles + 2 + kMaxFoldersAhead <= kMaxWalkHandles);

inline constexpr int kLostHandle = -2;  // closed to save handles and could not be reopened

// A first-in first-out list whose pops keep the storage: most folders have
// one piece and a few subfolders, and a deque would allocate for each.
template <typename T>
class Fifo {
  public:
    bool Empty() const { return m_head == m_items.size(); }
    size_t Size() const { return m_items.size() - m_head; }
    T& Front() { return m_items[m_head]; }
    T& operator[](size_t i) { return m_items[m_head + i]; }
    const T& operator[](size_t i) const { return m_items[m_head + i]; }
    void Push(T item) { m_items.push_back(std::move(item)); }
    T Pop() {
        T item = std::move(m_items[m_head++]);
        if (m_head == m_items.size()) {
            m_items.clear();
            m_head = 0;
        }
        return item;
    }

  private:
    std::vector<T> m_items;
    size_t m_head = 0;
};

struct Folder {
    Folder() = default;
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    ~Folder() {
        if (handle >= 0) {
            ::close(handle);
        }
    }

    std::string name;         // as its parent listed it; the root's is empty
    uint64_t entryIndex = 0;  // of that entry in the parent's listing
    EntryStatus status{};     // the fstat of its own handle, when `opened`
    bool opened = false;
    bool opening = false;  // a worker is opening it
    // Opened on another device than the root's with WalkOptions::oneFileSystem:
    // never listed; the sink hears of it as excluded.
    bool otherFileSystem = false;
    // Its path below the root, kept only when an exclude pattern needs it.
    std::string relativePath;

    int handle = -1;         // -1: closed (not needed, or to save handles)
    int pins = 0;            // threads using `handle` outside the lock
    bool reading = false;    // a thread reads the next names from `handle`
    bool closing = false;    // the walking thread waits to close `handle`: no new pins
    bool end = false;        // no more names to read (also: could not be opened)
    int listError = 0;       // why the listing ended early (or could not start)
    uint64_t namesRead = 0;  // the index the next chunk starts at
    Fifo<std::unique_ptr<ListingChunk>> chunks;  // in listing order, not yet handed on

    // Subfolder entries below this index need no claim: they were claimed,
    // or the walking thread has passed them.
    uint64_t claimCursor = 0;
    Fifo<std::unique_ptr<Folder>> claimed;  // opened ahead, in listing order
    // The first claimed subfolders that, with everything below them, will
    // never yield a task again; a search passes them at once.
    size_t quietClaimed = 0;
    bool quiet = false;

    bool onPath = false;
    // Walking thread only:
    off_t resumeAt = -1;         // where the listing goes on after a reopen
    int reopenError = 0;         // why the handle could not be reopened
    bool keepForParent = false;  // its ".." is how a closed parent gets reopened
    size_t pathLength = 0;       // its path's length in the walk's path
    size_t consumed = 0;         // entries of chunks.Front() handed on
    ListingChunk* current = nullptr;
};

struct Task {
    enum class Kind { Open, Read } kind;
    Folder* folder;           // Read: the folder; Open: the parent
    Folder* child = nullptr;  // Open: the claimed subfolder
};

// One thread of an adapting walk (slot 0: the walking thread), as the
// walking thread measures it (WalkThreads.cpp).
struct ThreadSlot {
    WalkThreadId id;
    // Under the walk's lock: the time the thread spent waiting for a task,
    // and since when it waits now (0: it does not).
    int64_t idleTotal = 0;
    int64_t idleSince = 0;
    // Walking thread only: the figures at the last sample.
    int64_t lastWall = 0;
    int64_t lastIdle = 0;
    ThreadUsage lastUsage;
};

struct OpenedFolder {
    int handle = -1;
    int error = 0;
    bool otherFileSystem = false;
    EntryStatus status{};
};

class Walker {
  public:
    Walker(WalkSink& sink, const WalkOptions& options)
        : m_sink(sink),
          m_exclude(options.exclude),
          m_oneFileSystem(options.oneFileSystem),
          m_givenRootDevice(options.rootDevice),
          m_rootRelativePath(options.rootRelativePath),
          m_adaptive(options.threads == 0),
          m_clock(options.clock ? options.clock : SystemWalkThreadClock()),
          m_governor(m_clock->Processors()),
          m_threadLimit(m_adaptive ? kMaxAdaptiveWalkThreads
                                   : std::min(options.threads, kMaxThreads)),
          m_threadCount(m_adaptive ? m_governor.Start() : m_threadLimit),
          m_threadsUsed(options.threadsUsed),
          m_buffer(new char[DirectoryListing::kBufferSize]) {}

    ~Walker();

    WalkResult Run(const std::string& root);

  private:
    // --- The walking thread (FolderWalker.cpp) -------------------------------

    // --- Threads (WalkThreads.cpp) -------------------------------------------

    // Starts workers until m_threadCount threads list, the walking thread
    // counted.
    void StartWorkers();
    // The figures every thread of an adapting walk starts from.
    void StartMeasuring();
    // Every kWalkSampleNanoseconds: measures the threads and starts more when
    // the governor says so. Not under the lock.
    void AdaptThreadCount();
    // Around a wait for a task (thread `slot`), under the lock.
    void BeginIdle(size_t slot);
    void EndIdle(size_t slot);

    void PushOnPath(std::unique_ptr<Folder> folder);

    // The next entry of the deepest folder. False when it has none left:
    // the folder is then off the path, in m_leaving.
    bool NextEntry(Folder& top, const ListingChunk*& chunk, size_t& position);

    // Hands on the subfolder at `index` of the deepest folder. Returns false
    // when the sink abandons the walk.
    bool Descend(Folder& top, uint64_t index, const FileEntry& entry);

    // Takes the deepest folder, all handed on, off the path into m_leaving;
    // its parent's handle is reopened first when it was closed and is still
    // needed, since only this folder's handle leads back to it.
    void TakeOffPath(std::unique_lock<std::mutex>& lock, Folder& top);

    // The parent's handle was closed to stay under the handle limit and is
    // still needed: get it back through "..", and make sure it is still the
    // same folder. Not under the lock: no other thread uses a closed folder.
    void ReopenThroughParentLink(const Folder& child, Folder& parent);

    void LimitPathHandles();

    // Closes the handle of `level`, the shallowest open folder of the path.
    // If it will be needed again, `next` (its subfolder on the path) keeps a
    // handle to reach it back through "..".
    void CloseToSaveHandles(Folder& level, Folder& next);

    // Does a task or, when there is none, waits until a worker has done one
    // on `awaited`. Called with the lock held.
    void HelpOrWait(std::unique_lock<std::mutex>& lock, const Folder& awaited);

    void ThrowIfAWorkerFailed();

    // The listed entry's name with the status of the folder opened there.
    static FileEntry WithStatus(const FileEntry& listed, const EntryStatus& status);

    // --- Listing ahead (WalkAhead.cpp): the lock is held unless said otherwise

    // True while the folder's handle is still of use: names are left to read,
    // or subfolders to open that nobody has claimed.
    static bool NeedsHandle(const Folder& folder);

    // Off the path, a folder gives its handle back as soon as it is of no
    // more use, so that a wide or deep tree ahead holds few handles.
    static void ReleaseIfDone(Folder& folder);

    std::optional<Task> FindTask();

    // The first task in the order the sink will need it: the folders opened
    // ahead below `folder` (depth-first), then its next unclaimed subfolder,
    // then its next piece.
    std::optional<Task> SearchFolder(Folder& folder);

    std::optional<Task> ClaimNextSubfolder(Folder& folder);

    void Execute(std::unique_lock<std::mutex>& lock, const Task& task, char* buffer);

    // Reads the folder's next piece. Called with the lock held, returns
    // with it held.
    void ReadChunk(std::unique_lock<std::mutex>& lock, Folder& folder, char* buffer);

    // Opens a claimed subfolder below its parent and reads its first piece;
    // what it found is published in one step. Called with the lock held.
    void OpenAhead(std::unique_lock<std::mutex>& lock, Folder& parent, Folder& child, char* buffer);

    std::unique_ptr<ListingChunk> TakeSpareChunk();

    void ReturnSpareChunk(std::unique_ptr<ListingChunk> chunk);

    // Not under the lock: reads names from `handle` into `chunk` (made or
    // emptied here) and, when they were the folder's last, stats them too.
    // Only the piece of a folder that goes on is stat'ed after it has been
    // published, so that another thread may read the next one meanwhile.
    ListingChunk::ReadOutcome ReadPiece(int handle, uint64_t firstIndex,
                                        std::unique_ptr<ListingChunk>& chunk, char* buffer);

    // Hands a piece read by ReadPiece to its folder (whose `reading` it
    // clears); stats it first when ReadPiece did not, giving the lock back
    // meanwhile. The caller holds a pin on the folder.
    void PublishPiece(std::unique_lock<std::mutex>& lock, Folder& folder, int handle,
                      std::unique_ptr<ListingChunk> owned, ListingChunk::ReadOutcome outcome);

    // Not under the lock.
    OpenedFolder OpenBelow(int parentHandle, const std::string& name, uint64_t parentDevice);

    static void ApplyOpen(Folder& folder, const OpenedFolder& opened);

    void WakeWorkers(bool all);

    // Only a change to what the walking thread waits for wakes it.
    void WakeWalker(const Folder& changed, const Folder* alsoChanged = nullptr);

    // Not under the lock.
    bool IsVirtual(int handle, dev_t device);

    // Any thread; `parent` is the folder that lists `name`. The walking
    // thread and the workers ask this alike, so that a folder left out is
    // never claimed ahead.
    bool IsExcluded(const Folder& parent, std::string_view name, bool isFolder) const;

    static std::string RelativePathOf(const Folder& parent, std::string_view name);

    // --- Workers (WalkAhead.cpp) ---------------------------------------------

    void WorkerMain(size_t slot);

    WalkSink& m_sink;
    const ExcludeRules m_exclude;
    const bool m_oneFileSystem;
    const std::optional<uint64_t> m_givenRootDevice;
    const std::string m_rootRelativePath;
    uint64_t m_rootDevice = 0;  // set before any worker starts
    const bool m_adaptive;      // no thread count given: it follows the work
    const std::shared_ptr<WalkThreadClock> m_clock;
    const WalkThreadGovernor m_governor;
    const unsigned m_threadLimit;
    unsigned m_threadCount;  // walking thread only
    const std::shared_ptr<std::atomic<unsigned>> m_threadsUsed;
    std::unique_ptr<ThreadSlot[]> m_slots;  // m_threadLimit of them, when adaptive
    int64_t m_lastSample = 0;
    std::unique_ptr<char[]> m_buffer;  // the walking thread's own
    std::string m_path;

    std::mutex m_mutex;
    std::vector<std::unique_ptr<Folder>> m_stack;  // the path, root first
    std::unique_ptr<Folder> m_leaving;             // just taken off the path; the walking thread's
    size_t m_lowestOpen = 0;    // shallowest folder of the path whose handle may be open
    size_t m_foldersAhead = 0;  // claimed and not yet reached by the walking thread
    size_t m_bytesAhead = 0;    // held by finished pieces not yet handed on
    bool m_windowFull = false;  // a claim was refused for kMaxFoldersAhead
    unsigned m_idleWorkers = 0;
    const Folder* m_awaited = nullptr;  // what the waiting walking thread waits for
    std::condition_variable m_workCv;
    std::condition_variable m_walkerCv;
    std::atomic<bool> m_stop{false};
    std::exception_ptr m_failure;
    // Pieces handed on, kept for the next listings: most folders are small,
    // and an allocation per folder and thread adds up.
    std::vector<std::unique_ptr<ListingChunk>> m_spareChunks;
    std::vector<std::thread> m_workers;

    std::mutex m_virtualMutex;
    std::unordered_map<dev_t, bool> m_virtualByDevice;
};

}  // namespace quarn::walk
