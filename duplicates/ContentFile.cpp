#include "duplicates/ContentFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

namespace quarn {

namespace {

// Zeros to hash in place of a hole.
constexpr size_t kZeroBlock = 64 * 1024;
const char kZeros[kZeroBlock] = {};

ExactTime ExactTimeOfStat(const struct ::stat& status) {
    return ExactTime{int64_t(status.st_mtim.tv_sec), uint32_t(status.st_mtim.tv_nsec / 100)};
}

}  // namespace

std::string ContentFile::Difference(const struct ::stat& status, const ExpectedFile& expected) {
    if (S_ISLNK(status.st_mode)) {
        return "is a link now";
    }
    if (!S_ISREG(status.st_mode)) {
        return "is no regular file now";
    }
    if (uint64_t(status.st_dev) != expected.device || uint64_t(status.st_ino) != expected.inode) {
        return "is another file now";
    }
    if (uint64_t(status.st_size) != expected.size || ExactTimeOfStat(status) != expected.time) {
        return "was modified since the scan";
    }
    return {};
}

int ContentFile::OpenHandle(int folder, const std::string& name, const ExpectedFile& expected,
                            struct ::stat& status, Opened& outcome, std::string& reason) {
    int handle = ::openat(folder, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (handle < 0) {
        int error = errno;
        bool gone = error == ENOENT || error == ENOTDIR;
        outcome = gone ? Opened::Changed : Opened::Unread;
        reason = gone ? "no longer exists" : std::strerror(error);
        return -1;
    }
    if (::fstat(handle, &status) != 0) {
        outcome = Opened::Unread;
        reason = std::strerror(errno);
    } else {
        reason = Difference(status, expected);
        outcome = reason.empty() ? Opened::Yes : Opened::Changed;
    }
    if (outcome != Opened::Yes) {
        ::close(handle);
        return -1;
    }
    return handle;
}

int ContentFile::OpenForReading(int handle, int folder, const std::string& name,
                                const struct ::stat& status, Opened& outcome, std::string& reason) {
    // Reopening the handle reads exactly the inode that was checked.
    char viaHandle[40];
    std::snprintf(viaHandle, sizeof viaHandle, "/proc/self/fd/%d", handle);
    int fd = ::open(viaHandle, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0 && (errno == ENOENT || errno == ENOTDIR)) {
        // No /proc: open the name without following a link or waiting on a
        // fifo, and make sure it is the inode that was checked.
        fd = ::openat(folder, name.c_str(),
                      O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        struct ::stat opened;
        if (fd >= 0 && (::fstat(fd, &opened) != 0 || opened.st_dev != status.st_dev ||
                        opened.st_ino != status.st_ino)) {
            ::close(fd);
            outcome = Opened::Changed;
            reason = "is another file now";
            return -1;
        }
    }
    if (fd < 0) {
        outcome = Opened::Unread;
        reason = std::strerror(errno);
        return -1;
    }
    outcome = Opened::Yes;
    return fd;
}

Xxh3State NewXxh3State() {
    Xxh3State state(XXH3_createState());
    if (!state) {
        throw std::bad_alloc();
    }
    XXH3_128bits_reset(state.get());
    return state;
}

ContentFile::~ContentFile() {
    Close();
}

void ContentFile::Close() {
    if (m_fd >= 0) {
        if (m_bytesRead >= kDropPagesFrom) {
            // Read only to be hashed: a large file's pages should not push
            // the user's working set out of the page cache.
            ::posix_fadvise(m_fd, 0, 0, POSIX_FADV_DONTNEED);
        }
        ::close(m_fd);
        m_fd = -1;
    }
}

ContentFile::Opened ContentFile::Check(const std::string& path, const ExpectedFile& expected,
                                       std::string& reason, struct ::stat* seen) {
    struct ::stat status;
    Opened outcome = Opened::Yes;
    int handle = OpenHandle(AT_FDCWD, path, expected, status, outcome, reason);
    if (handle >= 0) {
        ::close(handle);
        if (seen != nullptr) {
            *seen = status;
        }
    }
    return outcome;
}

ContentFile::Opened ContentFile::Open(const std::string& path, const ExpectedFile& expected) {
    Close();
    m_reason.clear();
    struct ::stat status;
    Opened outcome = Opened::Yes;
    int handle = OpenHandle(AT_FDCWD, path, expected, status, outcome, m_reason);
    if (handle < 0) {
        return outcome;
    }
    int fd = OpenForReading(handle, AT_FDCWD, path, status, outcome, m_reason);
    ::close(handle);
    if (fd < 0) {
        return outcome;
    }
    m_fd = fd;
    m_status = status;
    m_mayHaveHoles = uint64_t(status.st_blocks) * 512 < uint64_t(status.st_size);
    return Opened::Yes;
}

ContentFile::Read ContentFile::Hash(XXH3_state_t* state, uint64_t from, uint64_t to,
                                    std::vector<char>& buffer,
                                    const std::function<bool()>& cancelled) {
    uint64_t pos = from;
    // The data region [pos, dataEnd) is known to hold no hole.
    uint64_t dataEnd = m_mayHaveHoles ? pos : to;
    while (pos < to) {
        if (cancelled && cancelled()) {
            return Read::Cancelled;
        }
        if (pos >= dataEnd) {
            off_t data = ::lseek(m_fd, off_t(pos), SEEK_DATA);
            if (data < 0) {
                if (errno == ENXIO) {
                    data = off_t(to);  // nothing but a hole up to the end
                } else {
                    // Holes are not reported here: read everything.
                    data = off_t(pos);
                    m_mayHaveHoles = false;
                    dataEnd = to;
                }
            }
            uint64_t holeEnd = std::min(uint64_t(data), to);
            while (pos < holeEnd) {
                size_t n = size_t(std::min<uint64_t>(kZeroBlock, holeEnd - pos));
                XXH3_128bits_update(state, kZeros, n);
                pos += n;
            }
            if (pos >= to) {
                break;
            }
            if (m_mayHaveHoles) {
                off_t hole = ::lseek(m_fd, off_t(pos), SEEK_HOLE);
                dataEnd = hole < 0 ? to : std::min(uint64_t(hole), to);
                if (dataEnd <= pos) {
                    dataEnd = to;
                }
            }
            continue;
        }
        size_t want = size_t(std::min<uint64_t>(buffer.size(), dataEnd - pos));
        ssize_t n = ::pread(m_fd, buffer.data(), want, off_t(pos));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            m_reason = std::strerror(errno);
            return Read::Unread;
        }
        if (n == 0) {
            m_reason = "was modified since the scan";  // shorter than it was
            return Read::Changed;
        }
        XXH3_128bits_update(state, buffer.data(), size_t(n));
        pos += uint64_t(n);
        m_bytesRead += uint64_t(n);
    }
    return Read::Done;
}

bool ContentFile::FirstBytesCached() {
    char byte;
    struct iovec one {
        &byte, 1
    };
    const ssize_t read = ::preadv2(m_fd, &one, 1, 0, RWF_NOWAIT);
    return read > 0 || (read == 0 && m_status.st_size == 0);
}

bool ContentFile::StillAsExpected(const ExpectedFile& expected) {
    struct ::stat status;
    if (m_fd < 0 || ::fstat(m_fd, &status) != 0) {
        m_reason = "was modified since the scan";
        return false;
    }
    m_reason = Difference(status, expected);
    return m_reason.empty();
}

}  // namespace quarn
