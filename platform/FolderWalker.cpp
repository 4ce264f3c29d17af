#include "platform/FolderWalker.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/DirectoryListing.h"
#include "platform/FileSystems.h"
#include "platform/ListingChunk.h"
#include "platform/PathRules.h"

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

namespace quarn {

unsigned DefaultWalkThreads() {
    long online = ::sysconf(_SC_NPROCESSORS_ONLN);
    return unsigned(std::clamp(online, 4L, 64L));
}

namespace {

constexpr size_t kMaxPathHandles = 64;
constexpr size_t kMaxFoldersAhead = 128;
constexpr size_t kChunkEntries = 2048;
constexpr size_t kChunksAheadPerFolder = 4;
constexpr size_t kMaxBytesAhead = size_t(8) << 20;
constexpr unsigned kMaxThreads = 64;
constexpr size_t kSpareChunks = 32;
// The path's handles, one more while the deepest is pushed before the
// shallowest is closed, one reopened for a closed parent, and one per folder
// opened ahead.
static_assert(kMaxPathHandles + 2 + kMaxFoldersAhead <= kMaxWalkHandles);

constexpr int kLostHandle = -2;  // closed to save handles and could not be reopened

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
          m_threads(
              std::min(options.threads == 0 ? DefaultWalkThreads() : options.threads, kMaxThreads)),
          m_buffer(new char[DirectoryListing::kBufferSize]) {}

    ~Walker() {
        {
            std::lock_guard lock(m_mutex);
            m_stop.store(true);
        }
        m_workCv.notify_all();
        for (std::thread& worker : m_workers) {
            worker.join();
        }
        // Only now may folders (and their handles) go: no thread uses them.
    }

    WalkResult Run(const std::string& root) {
        m_path = NormalisedPath(root);
        if (!m_sink.EnterFolder(m_path, nullptr)) {
            return WalkResult::Abandoned;
        }
        auto folder = std::make_unique<Folder>();
        DirectoryListing opened = DirectoryListing::Open(m_path);
        int error = opened.OpenError();
        int handle = opened.Release();
        struct ::stat status;
        if (handle >= 0 && ::fstat(handle, &status) != 0) {
            error = errno;
        } else if (handle >= 0 && IsVirtual(handle, status.st_dev)) {
            folder->end = true;
        } else if (handle >= 0) {
            FillEntryStatus(status, folder->status);
            folder->opened = true;
            folder->handle = std::exchange(handle, -1);
            m_rootDevice = m_givenRootDevice.value_or(uint64_t(status.st_dev));
        }
        if (handle >= 0) {
            ::close(handle);
        }
        if (error != 0) {
            folder->end = true;
            folder->listError = error;
        }
        if (m_exclude.NeedsRelativePath()) {
            folder->relativePath = m_rootRelativePath;
        }
        PushOnPath(std::move(folder));
        if (!m_stack.back()->end) {
            StartWorkers();
        }

        while (!m_stack.empty()) {
            Folder& top = *m_stack.back();
            const ListingChunk* chunk = nullptr;
            size_t position = 0;
            if (!NextEntry(top, chunk, position)) {
                // NextEntry has taken the folder off the path.
                std::unique_ptr<Folder> done = std::move(m_leaving);
                m_path.resize(done->pathLength);
                if (done->listError != 0) {
                    m_sink.FolderUnreadable(m_path, done->listError);
                }
                m_sink.LeaveFolder(m_path);
                if (!m_stack.empty()) {
                    m_path.resize(m_stack.back()->pathLength);
                }
                continue;
            }
            // Handed on as the chunk holds it: no copy per entry.
            const FileEntry& entry = chunk->Entry(position);
            if (int error = chunk->StatError(position); error != 0) {
                m_sink.EntrySkipped(m_path, entry.name, error);
                continue;
            }
            if (!entry.IsDirectory()) {
                if (!m_exclude.Empty() && IsExcluded(top, entry.name, false)) {
                    m_sink.EntryExcluded(m_path, entry, ExclusionReason::Pattern);
                } else {
                    m_sink.AddFile(m_path, entry);
                }
                continue;
            }
            if (!Descend(top, chunk->firstIndex + position, entry)) {
                return WalkResult::Abandoned;
            }
        }
        return WalkResult::Completed;
    }

  private:
    // --- The walking thread ---------------------------------------------------

    void StartWorkers() {
        for (unsigned i = 1; i < m_threads; ++i) {
            try {
                m_workers.emplace_back([this] { WorkerMain(); });
            } catch (const std::system_error&) {
                break;  // fewer threads: the walk is slower, not wrong
            }
        }
    }

    void PushOnPath(std::unique_ptr<Folder> folder) {
        folder->pathLength = m_path.size();
        std::lock_guard lock(m_mutex);
        folder->onPath = true;
        m_stack.push_back(std::move(folder));
    }

    // The next entry of the deepest folder. False when it has none left:
    // the folder is then off the path, in m_leaving.
    bool NextEntry(Folder& top, const ListingChunk*& chunk, size_t& position) {
        if (top.current != nullptr && top.consumed < top.current->Size()) {
            chunk = top.current;
            position = top.consumed++;
            return true;
        }
        std::unique_ptr<ListingChunk> finished;  // freed after the lock is given back
        std::unique_lock lock(m_mutex);
        for (;;) {
            ThrowIfAWorkerFailed();
            if (top.current != nullptr) {
                bool wasLimited =
                    m_bytesAhead >= kMaxBytesAhead || top.chunks.Size() >= kChunksAheadPerFolder;
                finished = top.chunks.Pop();
                m_bytesAhead -= finished->Bytes();
                if (m_spareChunks.size() < kSpareChunks) {
                    m_spareChunks.push_back(std::move(finished));
                }
                top.current = nullptr;
                if (wasLimited) {
                    WakeWorkers(false);
                }
            }
            if (!top.chunks.Empty() && top.chunks.Front()->ready) {
                top.current = top.chunks.Front().get();
                top.consumed = 0;
                if (top.current->Size() == 0) {
                    continue;
                }
                chunk = top.current;
                position = top.consumed++;
                return true;
            }
            if (top.chunks.Empty() && top.end) {
                TakeOffPath(lock, top);
                return false;
            }
            if (top.chunks.Empty() && !top.reading) {
                if (top.handle < 0) {
                    top.end = true;  // lost on a reopen; the error is set there
                    continue;
                }
                ReadChunk(lock, top, m_buffer.get());
                continue;
            }
            HelpOrWait(lock, top);
        }
    }

    // Hands on the subfolder at `index` of the deepest folder. Returns false
    // when the sink abandons the walk.
    bool Descend(Folder& top, uint64_t index, const FileEntry& entry) {
        const std::string_view name = entry.name;
        if (!m_exclude.Empty() && IsExcluded(top, name, true)) {
            // Never claimed ahead either (ClaimNextSubfolder asks the same).
            {
                std::lock_guard lock(m_mutex);
                top.claimCursor = std::max(top.claimCursor, index + 1);
            }
            m_sink.EntryExcluded(m_path, entry, ExclusionReason::Pattern);
            return true;
        }
        // Whatever may throw comes first: a folder opened ahead goes from its
        // parent's claims to the path in one step, since a worker may still
        // be reading its first piece.
        const size_t parentLength = m_path.size();
        AppendPathComponent(m_path, name);
        Folder* child = nullptr;
        std::unique_ptr<Folder> elsewhere;  // on another file system: not entered
        {
            std::unique_lock lock(m_mutex);
            if (m_stack.size() == m_stack.capacity()) {
                m_stack.reserve(2 * m_stack.capacity() + 16);  // workers read it under the lock
            }
            if (!top.claimed.Empty() && top.claimed.Front()->entryIndex == index) {
                while (top.claimed.Front()->opening) {
                    HelpOrWait(lock, *top.claimed.Front());
                }
                std::unique_ptr<Folder> claimed = top.claimed.Pop();
                if (top.quietClaimed > 0) {
                    --top.quietClaimed;
                }
                if (claimed->otherFileSystem) {
                    elsewhere = std::move(claimed);
                } else {
                    child = claimed.get();
                    child->pathLength = m_path.size();
                    child->onPath = true;
                    m_stack.push_back(std::move(claimed));
                    // Its first piece comes along, saving a trip to the lock.
                    if (!child->chunks.Empty() && child->chunks.Front()->ready) {
                        child->current = child->chunks.Front().get();
                        child->consumed = 0;
                    }
                }
                --m_foldersAhead;
                if (m_windowFull && m_foldersAhead <= kMaxFoldersAhead / 2) {
                    m_windowFull = false;
                    WakeWorkers(true);
                }
            } else {
                top.claimCursor = std::max(top.claimCursor, index + 1);
            }
        }
        if (child == nullptr && elsewhere == nullptr) {
            auto opened = std::make_unique<Folder>();
            opened->name.assign(name);
            opened->entryIndex = index;
            if (top.handle >= 0) {
                ApplyOpen(*opened, OpenBelow(top.handle, opened->name, top.status.device));
            } else {
                opened->end = true;  // its parent could not be reached again
                opened->listError = top.reopenError;
            }
            if (opened->otherFileSystem) {
                elsewhere = std::move(opened);
            } else {
                if (m_exclude.NeedsRelativePath()) {
                    opened->relativePath = RelativePathOf(top, opened->name);
                }
                child = opened.get();
                PushOnPath(std::move(opened));
            }
        }
        if (elsewhere != nullptr) {
            m_path.resize(parentLength);
            m_sink.EntryExcluded(m_path, WithStatus(entry, elsewhere->status),
                                 ExclusionReason::OtherFileSystem);
            return true;
        }
        // The folder's own status when it was opened, else what its parent listed.
        const FileEntry opened = child->opened ? WithStatus(entry, child->status) : entry;
        if (!m_sink.EnterFolder(m_path, &opened)) {
            // Tell the workers at once, not when the walk is torn down: each
            // finishes at most the folder it is reading.
            m_stop.store(true);
            return false;
        }
        LimitPathHandles();
        return true;
    }

    // Takes the deepest folder, all handed on, off the path into m_leaving;
    // its parent's handle is reopened first when it was closed and is still
    // needed, since only this folder's handle leads back to it.
    void TakeOffPath(std::unique_lock<std::mutex>& lock, Folder& top) {
        while (top.pins > 0) {
            HelpOrWait(lock, top);
        }
        size_t index = m_stack.size() - 1;
        Folder* parent = index >= 1 ? m_stack[index - 1].get() : nullptr;
        if (parent != nullptr && parent->handle == -1 &&
            (NeedsHandle(*parent) || parent->keepForParent)) {
            lock.unlock();
            ReopenThroughParentLink(top, *parent);
            lock.lock();
        }
        m_leaving = std::move(m_stack.back());
        m_stack.pop_back();
        if (parent != nullptr) {
            m_lowestOpen = std::min(m_lowestOpen, index - 1);
        }
    }

    // The parent's handle was closed to stay under the handle limit and is
    // still needed: get it back through "..", and make sure it is still the
    // same folder. Not under the lock: no other thread uses a closed folder.
    void ReopenThroughParentLink(const Folder& child, Folder& parent) {
        int error = ENOENT;
        int handle = child.handle >= 0
                         ? ::openat(child.handle, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                         : -1;
        if (handle >= 0) {
            struct ::stat status;
            if (::fstat(handle, &status) != 0 || uint64_t(status.st_dev) != parent.status.device ||
                uint64_t(status.st_ino) != parent.status.inode) {
                ::close(handle);  // the tree was moved meanwhile: its rest stays unlisted
                handle = -1;
            } else if (!parent.end &&
                       (parent.resumeAt < 0 || ::lseek(handle, parent.resumeAt, SEEK_SET) < 0)) {
                error = parent.resumeAt < 0 ? EIO : errno;
                ::close(handle);
                handle = -1;
            }
        } else if (child.handle >= 0) {
            error = errno;
        }
        std::lock_guard lock(m_mutex);
        if (handle >= 0) {
            parent.handle = handle;
            return;
        }
        parent.handle = kLostHandle;
        parent.reopenError = error;  // its subfolders not yet opened say why
        if (!parent.end) {
            parent.end = true;
            parent.listError = error;
        }
    }

    void LimitPathHandles() {
        while (m_stack.size() - m_lowestOpen > kMaxPathHandles) {
            CloseToSaveHandles(*m_stack[m_lowestOpen], *m_stack[m_lowestOpen + 1]);
            std::lock_guard lock(m_mutex);
            ++m_lowestOpen;
        }
    }

    // Closes the handle of `level`, the shallowest open folder of the path.
    // If it will be needed again, `next` (its subfolder on the path) keeps a
    // handle to reach it back through "..".
    void CloseToSaveHandles(Folder& level, Folder& next) {
        std::unique_lock lock(m_mutex);
        level.closing = true;
        while (level.pins > 0) {
            HelpOrWait(lock, level);
        }
        level.closing = false;
        if (level.handle < 0) {
            return;
        }
        bool needed = NeedsHandle(level) || level.keepForParent;
        int handle = std::exchange(level.handle, -1);
        bool reopenNext = needed && next.handle == -1;
        lock.unlock();
        if (needed) {
            if (!level.end) {
                level.resumeAt = ::lseek(handle, 0, SEEK_CUR);
            }
            next.keepForParent = true;
        }
        if (reopenNext) {
            // Opened ahead and closed as no longer needed; now it is the way back.
            int nextHandle = DirectoryListing::OpenAt(handle, next.name.c_str()).Release();
            struct ::stat status;
            if (nextHandle >= 0 && (::fstat(nextHandle, &status) != 0 ||
                                    uint64_t(status.st_dev) != next.status.device ||
                                    uint64_t(status.st_ino) != next.status.inode)) {
                ::close(nextHandle);
                nextHandle = -1;
            }
            lock.lock();
            next.handle = nextHandle >= 0 ? nextHandle : kLostHandle;
            lock.unlock();
        }
        ::close(handle);
    }

    // Does a task or, when there is none, waits until a worker has done one
    // on `awaited`. Called with the lock held.
    void HelpOrWait(std::unique_lock<std::mutex>& lock, const Folder& awaited) {
        ThrowIfAWorkerFailed();
        if (std::optional<Task> task = FindTask()) {
            Execute(lock, *task, m_buffer.get());
            return;
        }
        m_awaited = &awaited;
        m_walkerCv.wait(lock);
        m_awaited = nullptr;
    }

    void ThrowIfAWorkerFailed() {
        if (m_failure) {
            std::rethrow_exception(m_failure);
        }
    }

    // --- Shared: the lock is held unless said otherwise ------------------------

    // True while the folder's handle is still of use: names are left to read,
    // or subfolders to open that nobody has claimed.
    static bool NeedsHandle(const Folder& folder) {
        if (!folder.end || folder.reading) {
            return true;
        }
        for (size_t i = 0; i < folder.chunks.Size(); ++i) {
            const ListingChunk& chunk = *folder.chunks[i];
            if (!chunk.ready) {
                return true;
            }
            const std::vector<uint32_t>& folders = chunk.FolderPositions();
            if (!folders.empty() && chunk.firstIndex + folders.back() >= folder.claimCursor) {
                return true;
            }
        }
        return false;
    }

    // Off the path, a folder gives its handle back as soon as it is of no
    // more use, so that a wide or deep tree ahead holds few handles.
    static void ReleaseIfDone(Folder& folder) {
        if (folder.onPath || folder.handle < 0 || folder.pins > 0 || NeedsHandle(folder)) {
            return;
        }
        ::close(folder.handle);
        folder.handle = -1;
    }

    std::optional<Task> FindTask() {
        for (size_t i = m_stack.size(); i-- > m_lowestOpen;) {
            if (std::optional<Task> task = SearchFolder(*m_stack[i])) {
                return task;
            }
        }
        return std::nullopt;
    }

    // The first task in the order the sink will need it: the folders opened
    // ahead below `folder` (depth-first), then its next unclaimed subfolder,
    // then its next piece.
    std::optional<Task> SearchFolder(Folder& folder) {
        while (folder.quietClaimed < folder.claimed.Size() &&
               folder.claimed[folder.quietClaimed]->quiet) {
            ++folder.quietClaimed;
        }
        for (size_t i = folder.quietClaimed; i < folder.claimed.Size(); ++i) {
            Folder& child = *folder.claimed[i];
            if (!child.opening && !child.quiet) {
                if (std::optional<Task> task = SearchFolder(child)) {
                    return task;
                }
            }
        }
        if (folder.handle >= 0 && !folder.closing) {
            if (std::optional<Task> task = ClaimNextSubfolder(folder)) {
                return task;
            }
            if (!folder.end && !folder.reading && folder.chunks.Size() < kChunksAheadPerFolder &&
                m_bytesAhead < kMaxBytesAhead) {
                return Task{Task::Kind::Read, &folder};
            }
        }
        // Quiet for good: read to its end, every subfolder claimed, and
        // everything below it quiet too.
        folder.quiet = !folder.onPath && !folder.opening && !NeedsHandle(folder) &&
                       folder.quietClaimed == folder.claimed.Size();
        return std::nullopt;
    }

    std::optional<Task> ClaimNextSubfolder(Folder& folder) {
        for (size_t i = 0; i < folder.chunks.Size(); ++i) {
            const ListingChunk& chunk = *folder.chunks[i];
            if (!chunk.ready) {
                return std::nullopt;  // claims keep the listing's order
            }
            const std::vector<uint32_t>& folders = chunk.FolderPositions();
            if (folders.empty() || chunk.firstIndex + folders.back() < folder.claimCursor) {
                continue;
            }
            if (m_foldersAhead >= kMaxFoldersAhead) {
                m_windowFull = true;
                return std::nullopt;
            }
            uint64_t from =
                folder.claimCursor > chunk.firstIndex ? folder.claimCursor - chunk.firstIndex : 0;
            auto at = std::lower_bound(folders.begin(), folders.end(), from);
            // The walking thread passes an excluded folder by (Descend).
            while (at != folders.end() && !m_exclude.Empty() &&
                   IsExcluded(folder, chunk.Name(*at), true)) {
                folder.claimCursor = chunk.firstIndex + *at + 1;
                ++at;
            }
            if (at == folders.end()) {
                continue;
            }
            uint32_t position = *at;
            auto child = std::make_unique<Folder>();
            child->name.assign(chunk.Name(position));
            if (m_exclude.NeedsRelativePath()) {
                child->relativePath = RelativePathOf(folder, child->name);
            }
            child->entryIndex = chunk.firstIndex + position;
            child->opening = true;
            folder.claimCursor = child->entryIndex + 1;
            ++folder.pins;
            ++m_foldersAhead;
            Folder* raw = child.get();
            folder.claimed.Push(std::move(child));
            return Task{Task::Kind::Open, &folder, raw};
        }
        return std::nullopt;
    }

    void Execute(std::unique_lock<std::mutex>& lock, const Task& task, char* buffer) {
        if (task.kind == Task::Kind::Read) {
            ReadChunk(lock, *task.folder, buffer);
        } else {
            OpenAhead(lock, *task.folder, *task.child, buffer);
        }
    }

    // Reads the folder's next piece. Called with the lock held, returns
    // with it held.
    void ReadChunk(std::unique_lock<std::mutex>& lock, Folder& folder, char* buffer) {
        folder.reading = true;
        ++folder.pins;
        int handle = folder.handle;
        uint64_t firstIndex = folder.namesRead;
        std::unique_ptr<ListingChunk> chunk = TakeSpareChunk();
        lock.unlock();
        ListingChunk::ReadOutcome outcome = ReadPiece(handle, firstIndex, chunk, buffer);
        lock.lock();
        PublishPiece(lock, folder, handle, std::move(chunk), outcome);
        --folder.pins;
        ReleaseIfDone(folder);
        WakeWalker(folder);
    }

    // Opens a claimed subfolder below its parent and reads its first piece;
    // what it found is published in one step. Called with the lock held.
    void OpenAhead(std::unique_lock<std::mutex>& lock, Folder& parent, Folder& child,
                   char* buffer) {
        int parentHandle = parent.handle;
        uint64_t parentDevice = parent.status.device;
        std::unique_ptr<ListingChunk> chunk = TakeSpareChunk();
        lock.unlock();
        OpenedFolder opened = OpenBelow(parentHandle, child.name, parentDevice);
        ListingChunk::ReadOutcome outcome;
        if (opened.handle >= 0) {
            outcome = ReadPiece(opened.handle, 0, chunk, buffer);
        }
        lock.lock();
        --parent.pins;
        ReleaseIfDone(parent);
        ApplyOpen(child, opened);
        if (opened.handle >= 0) {
            ++child.pins;
            child.opening = false;
            PublishPiece(lock, child, opened.handle, std::move(chunk), outcome);
            --child.pins;
            ReleaseIfDone(child);
        } else {
            child.opening = false;
            ReturnSpareChunk(std::move(chunk));
        }
        WakeWalker(child, &parent);
    }

    std::unique_ptr<ListingChunk> TakeSpareChunk() {
        if (m_spareChunks.empty()) {
            return nullptr;
        }
        std::unique_ptr<ListingChunk> chunk = std::move(m_spareChunks.back());
        m_spareChunks.pop_back();
        return chunk;
    }

    void ReturnSpareChunk(std::unique_ptr<ListingChunk> chunk) {
        if (chunk && m_spareChunks.size() < kSpareChunks) {
            m_spareChunks.push_back(std::move(chunk));
        }
    }

    // Not under the lock: reads names from `handle` into `chunk` (made or
    // emptied here) and, when they were the folder's last, stats them too.
    // Only the piece of a folder that goes on is stat'ed after it has been
    // published, so that another thread may read the next one meanwhile.
    ListingChunk::ReadOutcome ReadPiece(int handle, uint64_t firstIndex,
                                        std::unique_ptr<ListingChunk>& chunk, char* buffer) {
        if (chunk) {
            chunk->Clear();
        } else {
            chunk = std::make_unique<ListingChunk>();
        }
        chunk->firstIndex = firstIndex;
        ListingChunk::ReadOutcome outcome =
            chunk->ReadNames(handle, buffer, DirectoryListing::kBufferSize, kChunkEntries);
        if (outcome.end) {
            chunk->ready = chunk->StatEntries(handle, m_stop);
        }
        return outcome;
    }

    // Hands a piece read by ReadPiece to its folder (whose `reading` it
    // clears); stats it first when ReadPiece did not, giving the lock back
    // meanwhile. The caller holds a pin on the folder.
    void PublishPiece(std::unique_lock<std::mutex>& lock, Folder& folder, int handle,
                      std::unique_ptr<ListingChunk> owned, ListingChunk::ReadOutcome outcome) {
        folder.reading = false;
        folder.namesRead += owned->Size();
        if (outcome.end) {
            folder.end = true;
            folder.listError = outcome.error;
        }
        if (owned->Size() == 0) {
            ReturnSpareChunk(std::move(owned));
            return;
        }
        ListingChunk& chunk = *owned;
        folder.chunks.Push(std::move(owned));
        if (!outcome.end) {
            WakeWorkers(false);  // the next piece may be read meanwhile
            lock.unlock();
            bool complete = chunk.StatEntries(handle, m_stop);
            lock.lock();
            chunk.ready = complete;
        }
        if (chunk.ready) {
            m_bytesAhead += chunk.Bytes();
            if (!chunk.FolderPositions().empty()) {
                WakeWorkers(false);
            }
        }
    }

    // Not under the lock.
    OpenedFolder OpenBelow(int parentHandle, const std::string& name, uint64_t parentDevice) {
        OpenedFolder opened;
        DirectoryListing folder = DirectoryListing::OpenAt(parentHandle, name.c_str());
        opened.error = folder.OpenError();
        int handle = folder.Release();
        struct ::stat status;
        if (handle < 0) {
            return opened;
        }
        if (::fstat(handle, &status) != 0) {
            opened.error = errno;
            ::close(handle);
            return opened;
        }
        if (uint64_t(status.st_dev) != parentDevice && IsVirtual(handle, status.st_dev)) {
            ::close(handle);
            return opened;  // not listed, and no fault
        }
        FillEntryStatus(status, opened.status);
        if (m_oneFileSystem && uint64_t(status.st_dev) != m_rootDevice) {
            ::close(handle);
            opened.otherFileSystem = true;
            return opened;
        }
        opened.handle = handle;
        return opened;
    }

    // The listed entry's name with the status of the folder opened there.
    static FileEntry WithStatus(const FileEntry& listed, const EntryStatus& status) {
        FileEntry entry;
        static_cast<EntryStatus&>(entry) = status;
        entry.name = listed.name;
        return entry;
    }

    static void ApplyOpen(Folder& folder, const OpenedFolder& opened) {
        folder.handle = opened.handle;
        folder.opened = opened.handle >= 0;
        folder.status = opened.status;
        folder.otherFileSystem = opened.otherFileSystem;
        if (opened.handle < 0) {
            folder.end = true;
            folder.listError = opened.error;  // 0 for a virtual folder: not listed, no fault
        }
    }

    void WakeWorkers(bool all) {
        if (m_idleWorkers == 0) {
            return;
        }
        if (all) {
            m_workCv.notify_all();
        } else {
            m_workCv.notify_one();
        }
    }

    // Only a change to what the walking thread waits for wakes it.
    void WakeWalker(const Folder& changed, const Folder* alsoChanged = nullptr) {
        if (m_awaited != nullptr && (m_awaited == &changed || m_awaited == alsoChanged)) {
            m_walkerCv.notify_one();
        }
    }

    // Not under the lock.
    bool IsVirtual(int handle, dev_t device) {
        {
            std::lock_guard lock(m_virtualMutex);
            auto known = m_virtualByDevice.find(device);
            if (known != m_virtualByDevice.end()) {
                return known->second;
            }
        }
        bool isVirtual = FileSystemKindOfHandle(handle) == FileSystemKind::Virtual;
        std::lock_guard lock(m_virtualMutex);
        m_virtualByDevice.emplace(device, isVirtual);
        return isVirtual;
    }

    // Any thread; `parent` is the folder that lists `name`. The walking
    // thread and the workers ask this alike, so that a folder left out is
    // never claimed ahead.
    bool IsExcluded(const Folder& parent, std::string_view name, bool isFolder) const {
        if (!m_exclude.NeedsRelativePath()) {
            return m_exclude.Excludes(name, {}, isFolder);
        }
        return m_exclude.Excludes(name, RelativePathOf(parent, name), isFolder);
    }

    static std::string RelativePathOf(const Folder& parent, std::string_view name) {
        std::string path = parent.relativePath;
        if (!path.empty()) {
            path += kPathSeparator;
        }
        path += name;
        return path;
    }

    // --- Workers --------------------------------------------------------------

    void WorkerMain() {
        std::unique_ptr<char[]> buffer(new char[DirectoryListing::kBufferSize]);
        std::unique_lock lock(m_mutex);
        try {
            while (!m_stop.load()) {
                std::optional<Task> task = FindTask();
                if (!task) {
                    ++m_idleWorkers;
                    m_workCv.wait(lock);
                    --m_idleWorkers;
                    continue;
                }
                WakeWorkers(false);  // there may be more where this came from
                Execute(lock, *task, buffer.get());
            }
        } catch (...) {
            if (!lock.owns_lock()) {
                lock.lock();
            }
            if (!m_failure) {
                m_failure = std::current_exception();
            }
            m_stop.store(true);
            m_workCv.notify_all();
            m_walkerCv.notify_all();
        }
    }

    WalkSink& m_sink;
    const ExcludeRules m_exclude;
    const bool m_oneFileSystem;
    const std::optional<uint64_t> m_givenRootDevice;
    const std::string m_rootRelativePath;
    uint64_t m_rootDevice = 0;  // set before any worker starts
    const unsigned m_threads;
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

}  // namespace

WalkResult WalkFolderTree(const std::string& root, WalkSink& sink, const WalkOptions& options) {
    Walker walker(sink, options);
    return walker.Run(root);
}

}  // namespace quarn
