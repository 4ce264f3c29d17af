#include "platform/FolderChain.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quarn {

FolderChain::~FolderChain() {
    for (const Level& level : m_levels) {
        if (level.handle >= 0) {
            ::close(level.handle);
        }
    }
}

bool FolderChain::Push(int handle) {
    struct ::stat status;
    if (::fstat(handle, &status) != 0) {
        ::close(handle);
        return false;
    }
    m_levels.push_back(Level{handle, status.st_dev, status.st_ino});
    while (m_levels.size() - m_lowestOpen > kMaxOpen) {
        Level& shallowest = m_levels[m_lowestOpen++];
        if (shallowest.handle >= 0) {
            ::close(shallowest.handle);
            shallowest.handle = -1;
        }
    }
    return true;
}

bool FolderChain::Pop() {
    Level top = m_levels.back();
    m_levels.pop_back();
    bool reached = true;
    if (!m_levels.empty()) {
        Level& parent = m_levels.back();
        if (parent.handle < 0) {
            int handle = top.handle >= 0
                             ? ::openat(top.handle, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                             : -1;
            struct ::stat status;
            if (handle >= 0 && (::fstat(handle, &status) != 0 || status.st_dev != parent.device ||
                                status.st_ino != parent.inode)) {
                ::close(handle);
                handle = -1;
            }
            parent.handle = handle;
            reached = handle >= 0;
        }
        if (m_lowestOpen > m_levels.size() - 1) {
            m_lowestOpen = m_levels.size() - 1;
        }
    } else {
        m_lowestOpen = 0;
    }
    if (top.handle >= 0) {
        ::close(top.handle);
    }
    return reached;
}

}  // namespace quarn
