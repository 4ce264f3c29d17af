#pragma once
// The open folders on the way from a starting folder down to the current
// one, for work that descends a tree by handles: no path is resolved again,
// so depth and path length have no limit. At most kMaxOpen handles stay
// open; deeper down the shallowest are closed and, on the way back, reopened
// through ".." of the folder below, and only if they are still the same
// folder (device and inode).
//
// Threading: one thread at a time.

#include <sys/types.h>

#include <cstddef>
#include <vector>

namespace quarn {

class FolderChain {
  public:
    static constexpr size_t kMaxOpen = 64;

    FolderChain() = default;
    ~FolderChain();
    FolderChain(const FolderChain&) = delete;
    FolderChain& operator=(const FolderChain&) = delete;

    // Takes over `handle`, an open folder: the first, or a subfolder of
    // Top(). Returns false (the handle closed) when it cannot be fstat'ed.
    bool Push(int handle);
    // The deepest folder's handle; -1 when the chain is empty or that folder
    // could not be reached again.
    int Top() const { return m_levels.empty() ? -1 : m_levels.back().handle; }
    // Leaves the deepest folder. Returns false when the folder above could
    // not be reached again (it was moved or removed meanwhile).
    bool Pop();
    size_t Depth() const { return m_levels.size(); }

  private:
    struct Level {
        int handle;
        dev_t device;
        ino_t inode;
    };
    std::vector<Level> m_levels;
    size_t m_lowestOpen = 0;  // shallowest level whose handle may still be open
};

}  // namespace quarn
