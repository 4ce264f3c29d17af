#include "platform/FolderWalker.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/ParallelWalker.h"
#include "platform/PathRules.h"

// The walking thread: it alone calls the sink and moves along the path.
// What it finds ahead comes from WalkAhead.cpp (ParallelWalker.h).

namespace quarn {

WalkResult WalkFolderTree(const std::string& root, WalkSink& sink, const WalkOptions& options) {
    walk::Walker walker(sink, options);
    return walker.Run(root);
}

namespace walk {

Walker::~Walker() {
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

WalkResult Walker::Run(const std::string& root) {
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
        StartMeasuring();
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

void Walker::PushOnPath(std::unique_ptr<Folder> folder) {
    folder->pathLength = m_path.size();
    std::lock_guard lock(m_mutex);
    folder->onPath = true;
    m_stack.push_back(std::move(folder));
}

bool Walker::NextEntry(Folder& top, const ListingChunk*& chunk, size_t& position) {
    if (top.current != nullptr && top.consumed < top.current->Size()) {
        chunk = top.current;
        position = top.consumed++;
        return true;
    }
    if (m_adaptive) {
        AdaptThreadCount();
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

bool Walker::Descend(Folder& top, uint64_t index, const FileEntry& entry) {
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

void Walker::TakeOffPath(std::unique_lock<std::mutex>& lock, Folder& top) {
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

void Walker::ReopenThroughParentLink(const Folder& child, Folder& parent) {
    int error = ENOENT;
    int handle =
        child.handle >= 0 ? ::openat(child.handle, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
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

void Walker::LimitPathHandles() {
    while (m_stack.size() - m_lowestOpen > kMaxPathHandles) {
        CloseToSaveHandles(*m_stack[m_lowestOpen], *m_stack[m_lowestOpen + 1]);
        std::lock_guard lock(m_mutex);
        ++m_lowestOpen;
    }
}

void Walker::CloseToSaveHandles(Folder& level, Folder& next) {
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
        if (nextHandle >= 0 &&
            (::fstat(nextHandle, &status) != 0 || uint64_t(status.st_dev) != next.status.device ||
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

void Walker::HelpOrWait(std::unique_lock<std::mutex>& lock, const Folder& awaited) {
    ThrowIfAWorkerFailed();
    if (std::optional<Task> task = FindTask()) {
        Execute(lock, *task, m_buffer.get());
        return;
    }
    m_awaited = &awaited;
    BeginIdle(0);
    m_walkerCv.wait(lock);
    EndIdle(0);
    m_awaited = nullptr;
}

void Walker::ThrowIfAWorkerFailed() {
    if (m_failure) {
        std::rethrow_exception(m_failure);
    }
}

FileEntry Walker::WithStatus(const FileEntry& listed, const EntryStatus& status) {
    FileEntry entry;
    static_cast<EntryStatus&>(entry) = status;
    entry.name = listed.name;
    return entry;
}

}  // namespace walk

}  // namespace quarn
