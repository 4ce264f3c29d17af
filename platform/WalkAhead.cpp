#include "platform/ParallelWalker.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/FileSystems.h"
#include "platform/PathRules.h"

// Listing ahead: the tasks that open, list and stat the folders the sink
// will meet next, in the order it will meet them. Workers do them, and so
// does the walking thread while it waits (ParallelWalker.h).

namespace quarn::walk {

bool Walker::NeedsHandle(const Folder& folder) {
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

void Walker::ReleaseIfDone(Folder& folder) {
    if (folder.onPath || folder.handle < 0 || folder.pins > 0 || NeedsHandle(folder)) {
        return;
    }
    ::close(folder.handle);
    folder.handle = -1;
}

std::optional<Task> Walker::FindTask() {
    for (size_t i = m_stack.size(); i-- > m_lowestOpen;) {
        if (std::optional<Task> task = SearchFolder(*m_stack[i])) {
            return task;
        }
    }
    return std::nullopt;
}

std::optional<Task> Walker::SearchFolder(Folder& folder) {
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

std::optional<Task> Walker::ClaimNextSubfolder(Folder& folder) {
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

void Walker::Execute(std::unique_lock<std::mutex>& lock, const Task& task, char* buffer) {
    if (task.kind == Task::Kind::Read) {
        ReadChunk(lock, *task.folder, buffer);
    } else {
        OpenAhead(lock, *task.folder, *task.child, buffer);
    }
}

void Walker::ReadChunk(std::unique_lock<std::mutex>& lock, Folder& folder, char* buffer) {
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

void Walker::OpenAhead(std::unique_lock<std::mutex>& lock, Folder& parent, Folder& child,
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

std::unique_ptr<ListingChunk> Walker::TakeSpareChunk() {
    if (m_spareChunks.empty()) {
        return nullptr;
    }
    std::unique_ptr<ListingChunk> chunk = std::move(m_spareChunks.back());
    m_spareChunks.pop_back();
    return chunk;
}

void Walker::ReturnSpareChunk(std::unique_ptr<ListingChunk> chunk) {
    if (chunk && m_spareChunks.size() < kSpareChunks) {
        m_spareChunks.push_back(std::move(chunk));
    }
}

ListingChunk::ReadOutcome Walker::ReadPiece(int handle, uint64_t firstIndex,
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

void Walker::PublishPiece(std::unique_lock<std::mutex>& lock, Folder& folder, int handle,
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

OpenedFolder Walker::OpenBelow(int parentHandle, const std::string& name, uint64_t parentDevice) {
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

void Walker::ApplyOpen(Folder& folder, const OpenedFolder& opened) {
    folder.handle = opened.handle;
    folder.opened = opened.handle >= 0;
    folder.status = opened.status;
    folder.otherFileSystem = opened.otherFileSystem;
    if (opened.handle < 0) {
        folder.end = true;
        folder.listError = opened.error;  // 0 for a virtual folder: not listed, no fault
    }
}

void Walker::WakeWorkers(bool all) {
    if (m_idleWorkers == 0) {
        return;
    }
    if (all) {
        m_workCv.notify_all();
    } else {
        m_workCv.notify_one();
    }
}

void Walker::WakeWalker(const Folder& changed, const Folder* alsoChanged) {
    if (m_awaited != nullptr && (m_awaited == &changed || m_awaited == alsoChanged)) {
        m_walkerCv.notify_one();
    }
}

bool Walker::IsVirtual(int handle, dev_t device) {
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

bool Walker::IsExcluded(const Folder& parent, std::string_view name, bool isFolder) const {
    if (!m_exclude.NeedsRelativePath()) {
        return m_exclude.Excludes(name, {}, isFolder);
    }
    return m_exclude.Excludes(name, RelativePathOf(parent, name), isFolder);
}

std::string Walker::RelativePathOf(const Folder& parent, std::string_view name) {
    std::string path = parent.relativePath;
    if (!path.empty()) {
        path += kPathSeparator;
    }
    path += name;
    return path;
}

void Walker::WorkerMain(size_t slot) {
    std::unique_ptr<char[]> buffer(new char[DirectoryListing::kBufferSize]);
    std::unique_lock lock(m_mutex);
    if (m_slots != nullptr) {
        m_slots[slot].id.systemId = ::gettid();
    }
    try {
        while (!m_stop.load()) {
            std::optional<Task> task = FindTask();
            if (!task) {
                ++m_idleWorkers;
                BeginIdle(slot);
                m_workCv.wait(lock);
                EndIdle(slot);
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

}  // namespace quarn::walk
