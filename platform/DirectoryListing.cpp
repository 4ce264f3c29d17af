#include "platform/DirectoryListing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace quarn {

void FillEntryStatus(const struct ::stat& status, EntryStatus& entry) {
    entry.size = S_ISDIR(status.st_mode) ? 0 : uint64_t(status.st_size);
    entry.allocatedSize = uint64_t(status.st_blocks) * 512;
    entry.device = uint64_t(status.st_dev);
    entry.inode = uint64_t(status.st_ino);
    entry.mtimeSeconds = int64_t(status.st_mtim.tv_sec);
    entry.mtimeNanoseconds = uint32_t(status.st_mtim.tv_nsec);
    entry.ctimeSeconds = int64_t(status.st_ctim.tv_sec);
    entry.ctimeNanoseconds = uint32_t(status.st_ctim.tv_nsec);
    entry.linkCount = uint32_t(status.st_nlink);
    entry.mode = uint32_t(status.st_mode);
    entry.hasTime = true;
}

DirectoryListing::~DirectoryListing() {
    if (m_handle >= 0 && m_ownsHandle) {
        ::close(m_handle);
    }
}

DirectoryListing::DirectoryListing(DirectoryListing&& other) noexcept {
    *this = std::move(other);
}

DirectoryListing& DirectoryListing::operator=(DirectoryListing&& other) noexcept {
    if (this != &other) {
        if (m_handle >= 0 && m_ownsHandle) {
            ::close(m_handle);
        }
        m_handle = std::exchange(other.m_handle, -1);
        m_openError = other.m_openError;
        m_readError = other.m_readError;
        m_ownsHandle = other.m_ownsHandle;
        m_skipDotEntries = other.m_skipDotEntries;
        m_ownBuffer = std::move(other.m_ownBuffer);
        m_buffer = std::exchange(other.m_buffer, nullptr);
        m_bufferSize = std::exchange(other.m_bufferSize, 0);
        m_bufferFilled = std::exchange(other.m_bufferFilled, 0);
        m_bufferPos = std::exchange(other.m_bufferPos, 0);
    }
    return *this;
}

DirectoryListing DirectoryListing::OpenAt(int parentHandle, const char* name) {
    int handle = ::openat(parentHandle, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    return DirectoryListing(handle, handle < 0 ? errno : 0);
}

DirectoryListing DirectoryListing::Open(const std::string& path) {
    int handle = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return DirectoryListing(handle, handle < 0 ? errno : 0);
}

DirectoryListing DirectoryListing::Adopt(int handle) {
    return DirectoryListing(handle, 0);
}

DirectoryListing DirectoryListing::Borrow(int handle, char* buffer, long bufferSize) {
    DirectoryListing listing(handle, 0);
    listing.m_ownsHandle = false;
    listing.m_buffer = buffer;
    listing.m_bufferSize = bufferSize;
    return listing;
}

int DirectoryListing::Release() {
    return std::exchange(m_handle, -1);
}

bool DirectoryListing::Refill() {
    if (m_buffer == nullptr) {
        m_ownBuffer.reset(new char[kBufferSize]);  // not zeroed: getdents64 fills it
        m_buffer = m_ownBuffer.get();
        m_bufferSize = kBufferSize;
    }
    long n = ::syscall(SYS_getdents64, m_handle, m_buffer, m_bufferSize);
    if (n <= 0) {
        m_readError = n < 0 ? errno : 0;
        m_bufferFilled = m_bufferPos = 0;
        return false;
    }
    m_bufferFilled = n;
    m_bufferPos = 0;
    return true;
}

bool DirectoryListing::NextName(ListedName& listed) {
    if (m_handle < 0) {
        return false;
    }
    for (;;) {
        if (m_bufferPos >= m_bufferFilled && !Refill()) {
            return false;
        }
        auto* entry = reinterpret_cast<struct dirent64*>(m_buffer + m_bufferPos);
        m_bufferPos += entry->d_reclen;
        if (m_skipDotEntries && entry->d_name[0] == '.' &&
            (entry->d_name[1] == '\0' || (entry->d_name[1] == '.' && entry->d_name[2] == '\0'))) {
            continue;
        }
        listed.name = entry->d_name;
        listed.type = entry->d_type;
        listed.inode = entry->d_ino;
        return true;
    }
}

int DirectoryListing::StatEntry(int handle, const ListedName& entry, bool skipFolderStatus,
                                EntryStatus& status) {
    if (skipFolderStatus && entry.type == DT_DIR) {
        status = EntryStatus{};
        status.hasTime = false;
        status.mode = kDirectoryType;
        status.inode = entry.inode;
        return 0;
    }
    struct ::stat found;
    if (::fstatat(handle, entry.name, &found, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno;
    }
    FillEntryStatus(found, status);
    return 0;
}

}  // namespace quarn
