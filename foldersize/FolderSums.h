#pragma once
// Adds up a walk into folder totals as the folder tree counts them: a
// folder's total is the bytes of its own files and of its subfolders'
// totals, except that an inode with several hard links counts once in every
// folder that holds any of its names, however many it holds. A folder's own
// files (its files item) likewise count each inode once. Links of one inode
// in two subfolders count in each of them and once in every folder that
// holds both.
//
// The bytes of a file are its apparent size, or with `allocatedSizes` the
// space it takes on the disk (st_blocks x 512).
// Sums saturate at kSaturatedBytes (platform/ByteSum.h) instead of wrapping.
//
// Folders are named by serial numbers that grow in the order the walk enters
// them (folder item numbers, or the places in a private list): an open
// folder whose serial is not above that of the folder that last counted an
// inode holds that earlier name too, since a walk enters everything below a
// folder before it leaves it.
//
// One walk, on one thread. Files with a single link cost one comparison.

#include <cstdint>
#include <mutex>
#include <unordered_set>
#include <vector>

#include "foldersize/LinkedFiles.h"
#include "platform/FileEntry.h"

namespace quarn {

class FolderSums {
  public:
    // A folder's figures when the walk leaves it.
    struct Folder {
        uint64_t total = 0;       // each inode once
        uint64_t filesBytes = 0;  // its own files, each inode once
        int64_t fileCount = 0;    // its own files, every name
        int64_t subfolderCount = 0;
    };

    // Linked files are entered into `links`, under `linksMutex`; the table
    // outlives the walk.
    FolderSums(bool allocatedSizes, LinkedFiles& links, std::mutex& linksMutex);

    void Enter(uint32_t serial);
    // A file of the folder entered last.
    void AddFile(const FileEntry& file);
    // Leaves the folder entered last; its total goes to its parent.
    Folder Leave();
    bool Empty() const { return m_open.empty(); }

    // The bytes met so far, each inode once: after the last Leave the
    // root's total, before it the sum of what the open folders hold.
    uint64_t CountedBytes() const;
    // Files met whose link count is above 1 (every name).
    int64_t LinkedNameCount() const { return m_linkedNames; }
    // The names of linked files met, each with the serial of its folder.
    const std::vector<LinkedFiles::Name>& Names() const { return m_names; }

  private:
    static constexpr uint32_t kNoFolder = 0xffffffffu;
    struct Open {
        uint32_t serial = 0;
        uint64_t filesBytes = 0;
        uint64_t subfoldersBytes = 0;
        // Bytes of inodes that two of its subtrees (or its own files and a
        // subtree) both count: taken off its total once per extra count.
        uint64_t sharedBytes = 0;
        int64_t fileCount = 0;
        int64_t subfolderCount = 0;
        // The linked inodes its own files have counted.
        std::unordered_set<uint32_t> ownLinked;
    };

    // Its bytes, each inode once, as far as the walk has come.
    static uint64_t OpenTotal(const Open& open);

    bool m_allocatedSizes;
    LinkedFiles& m_links;
    std::mutex& m_linksMutex;
    std::vector<Open> m_open;
    // Per inode of m_links: the serial of the last folder whose own files
    // counted it (the most recently entered of them).
    std::vector<uint32_t> m_lastFolder;
    std::vector<LinkedFiles::Name> m_names;
    int64_t m_linkedNames = 0;
    uint64_t m_rootTotal = 0;
};

}  // namespace quarn
