#include "platform/DirectoryListing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/FileTime.h"

namespace quarn {

void FillFindRecord(const struct ::stat& status, std::string_view name, FindRecord& record) {
    uint32_t attributes = 0;
    if (S_ISDIR(status.st_mode)) {
        attributes |= kAttributeDirectory;
    } else if (S_ISLNK(status.st_mode)) {
        attributes |= kAttributeLink;
    }
    if (!name.empty() && name[0] == '.' && name != "." && name != "..") {
        attributes |= kAttributeHidden;
    }
    if (attributes == 0) {
        attributes = kAttributeNormal;
    }
    record.dwFileAttributes = attributes;
    record.ftLastWriteTime = FileTimeFromUnix(status.st_mtim.tv_sec, status.st_mtim.tv_nsec);
    record.SetFileSize(S_ISDIR(status.st_mode) ? 0 : uint64_t(status.st_size));
    record.SetName(name);
    record.device = uint64_t(status.st_dev);
    record.inode = uint64_t(status.st_ino);
    record.allocatedSize = uint64_t(status.st_blocks) * 512;
    record.linkCount = uint32_t(status.st_nlink);
    record.mode = uint32_t(status.st_mode);
    record.mtimeSeconds = int64_t(status.st_mtim.tv_sec);
    record.mtimeNanoseconds = uint32_t(status.st_mtim.tv_nsec);
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
                                FindRecord& record) {
    if (skipFolderStatus && entry.type == DT_DIR) {
        struct ::stat folder {};
        folder.st_mode = S_IFDIR;
        folder.st_ino = ino_t(entry.inode);
        FillFindRecord(folder, entry.name, record);
        record.ftLastWriteTime = 0;
        return 0;
    }
    struct ::stat status;
    if (::fstatat(handle, entry.name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno;
    }
    FillFindRecord(status, entry.name, record);
    return 0;
}

}  // namespace quarn
