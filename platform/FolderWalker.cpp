#include "platform/FolderWalker.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <deque>
#include <memory>
#include <unordered_map>
#include <vector>

#include "platform/DirectoryListing.h"
#include "platform/FileSystems.h"
#include "platform/PathRules.h"

namespace quarn {

namespace {

// Handles kept open along the current path. Deeper trees close the handles of
// their shallowest open levels and reopen them through ".." on the way back.
constexpr size_t kMaxOpenFolderHandles = 64;

// One entry of a listed folder, packed; its name lives in the level's arena.
struct PackedEntry {
    uint64_t lastWriteTime;
    uint64_t size;
    uint64_t device;
    uint64_t inode;
    uint64_t allocatedSize;
    int64_t mtimeSeconds;
    uint32_t mtimeNanoseconds;
    uint32_t linkCount;
    uint32_t mode;
    uint32_t attributes;
    uint32_t nameOffset;
    uint32_t nameLength;
};

struct Level {
    int handle = -1;  // -1: closed to save handles; kLostHandle: cannot be reopened
    dev_t device = 0;
    ino_t inode = 0;
    size_t pathLength = 0;
    std::vector<PackedEntry> entries;
    std::string names;
    size_t next = 0;
};

constexpr int kLostHandle = -2;

class Walker {
  public:
    Walker(WalkSink& sink) : m_sink(sink) {}
    ~Walker() {
        for (size_t i = 0; i < m_depth; ++i) {
            CloseHandle(m_levels[i]);
        }
    }

    WalkResult Run(const std::string& root) {
        m_path = CollapseDoubledSeparators(root);
        if (!m_sink.EnterFolder(m_path, nullptr)) {
            return WalkResult::Abandoned;
        }
        int handle = ::open(m_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (handle < 0 || !PushLevel(handle, dev_t(0), /*checkKind=*/true)) {
            m_sink.LeaveFolder(m_path);
            return WalkResult::Completed;
        }
        while (m_depth > 0) {
            Level& level = m_levels[m_depth - 1];
            if (level.next == level.entries.size()) {
                PopLevel();
                continue;
            }
            const PackedEntry& packed = level.entries[level.next++];
            std::string_view name(level.names.data() + packed.nameOffset, packed.nameLength);
            Unpack(packed, name);
            if ((packed.attributes & kAttributeDirectory) == 0) {
                m_sink.AddFile(m_path, m_record);
                continue;
            }
            if (name == "." || name == "..") {
                continue;
            }
            if (!Descend(level, name)) {
                return WalkResult::Abandoned;
            }
        }
        return WalkResult::Completed;
    }

  private:
    void Unpack(const PackedEntry& packed, std::string_view name) {
        m_record.dwFileAttributes = packed.attributes;
        m_record.ftLastWriteTime = packed.lastWriteTime;
        m_record.SetFileSize(packed.size);
        m_record.SetName(name);
        m_record.device = packed.device;
        m_record.inode = packed.inode;
        m_record.allocatedSize = packed.allocatedSize;
        m_record.mtimeSeconds = packed.mtimeSeconds;
        m_record.mtimeNanoseconds = packed.mtimeNanoseconds;
        m_record.linkCount = packed.linkCount;
        m_record.mode = packed.mode;
    }

    // Returns false when the sink abandons the walk.
    bool Descend(Level& parent, std::string_view name) {
        size_t parentLength = m_path.size();
        AppendPathComponent(m_path, name);
        if (!m_sink.EnterFolder(m_path, &m_record)) {
            return false;
        }
        int handle = -1;
        if (parent.handle >= 0) {
            m_nameBuffer.assign(name);
            handle = ::openat(parent.handle, m_nameBuffer.c_str(),
                              O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        }
        if (handle < 0 || !PushLevel(handle, parent.device, /*checkKind=*/false)) {
            m_sink.LeaveFolder(m_path);
            m_path.resize(parentLength);
        }
        return true;
    }

    // Lists the folder into a new level. Returns false (handle closed) when
    // the folder is not to be walked.
    bool PushLevel(int handle, dev_t parentDevice, bool checkKind) {
        struct ::stat status;
        if (::fstat(handle, &status) != 0) {
            ::close(handle);
            return false;
        }
        if ((checkKind || status.st_dev != parentDevice) && IsVirtual(handle, status.st_dev)) {
            ::close(handle);
            return false;
        }
        if (m_levels.size() == m_depth) {
            m_levels.emplace_back();
        }
        Level& level = m_levels[m_depth++];
        level.handle = handle;
        level.device = status.st_dev;
        level.inode = status.st_ino;
        level.pathLength = m_path.size();
        level.entries.clear();
        level.names.clear();
        level.next = 0;
        ReadEntries(level);
        LimitOpenHandles();
        return true;
    }

    void ReadEntries(Level& level) {
        if (!m_listingBuffer) {
            m_listingBuffer.reset(new char[DirectoryListing::kBufferSize]);
        }
        DirectoryListing listing = DirectoryListing::Borrow(level.handle, m_listingBuffer.get(),
                                                            DirectoryListing::kBufferSize);
        listing.SkipDotEntries();
        listing.SkipFolderStatus();
        while (listing.Next(m_record)) {
            std::string_view name = m_record.Name();
            PackedEntry packed{m_record.ftLastWriteTime,
                               m_record.FileSize(),
                               m_record.device,
                               m_record.inode,
                               m_record.allocatedSize,
                               m_record.mtimeSeconds,
                               m_record.mtimeNanoseconds,
                               m_record.linkCount,
                               m_record.mode,
                               m_record.dwFileAttributes,
                               uint32_t(level.names.size()),
                               uint32_t(name.size())};
            level.names.append(name);
            level.entries.push_back(packed);
        }
    }

    void PopLevel() {
        size_t index = m_depth - 1;
        Level& level = m_levels[index];
        m_path.resize(level.pathLength);
        m_sink.LeaveFolder(m_path);
        if (index >= 1) {
            Level& parent = m_levels[index - 1];
            if (parent.handle == -1) {
                ReopenThroughParentLink(level, parent);
            }
            m_path.resize(parent.pathLength);
            if (m_lowestOpen > index - 1) {
                m_lowestOpen = index - 1;
            }
        }
        CloseHandle(level);
        m_depth = index;
    }

    // The parent's handle was closed to stay under the handle limit; get it
    // back through "..", and make sure it is still the same folder.
    void ReopenThroughParentLink(const Level& child, Level& parent) {
        parent.handle = kLostHandle;
        if (child.handle < 0) {
            return;
        }
        int handle = ::openat(child.handle, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (handle < 0) {
            return;
        }
        struct ::stat status;
        if (::fstat(handle, &status) != 0 || status.st_dev != parent.device ||
            status.st_ino != parent.inode) {
            ::close(handle);  // the tree was moved meanwhile: its rest stays unlisted
            return;
        }
        parent.handle = handle;
    }

    void LimitOpenHandles() {
        if (m_depth <= kMaxOpenFolderHandles) {
            return;
        }
        // Close the handles of the shallowest levels still open.
        while (m_depth - m_lowestOpen > kMaxOpenFolderHandles) {
            Level& level = m_levels[m_lowestOpen];
            if (level.handle >= 0) {
                ::close(level.handle);
                level.handle = -1;
            }
            ++m_lowestOpen;
        }
    }

    static void CloseHandle(Level& level) {
        if (level.handle >= 0) {
            ::close(level.handle);
        }
        level.handle = -1;
    }

    bool IsVirtual(int handle, dev_t device) {
        auto known = m_virtualByDevice.find(device);
        if (known != m_virtualByDevice.end()) {
            return known->second;
        }
        bool isVirtual = FileSystemKindOfHandle(handle) == FileSystemKind::Virtual;
        m_virtualByDevice.emplace(device, isVirtual);
        return isVirtual;
    }

    WalkSink& m_sink;
    std::deque<Level> m_levels;  // a deque: references to levels survive a push
    size_t m_depth = 0;
    size_t m_lowestOpen = 0;  // shallowest level whose handle may still be open
    std::string m_path;
    std::string m_nameBuffer;
    std::unique_ptr<char[]> m_listingBuffer;
    FindRecord m_record;
    std::unordered_map<dev_t, bool> m_virtualByDevice;
};

}  // namespace

WalkResult WalkFolderTree(const std::string& root, WalkSink& sink) {
    Walker walker(sink);
    return walker.Run(root);
}

}  // namespace quarn
