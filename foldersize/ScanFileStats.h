#pragma once
// What a folder scan keeps about single files beside the folder tree: the
// largest files and the files and bytes per type. Each file counts with the
// size the tree counts it with (its apparent size, or with `allocatedSizes`
// the space it takes), and an inode with several hard links counts its
// bytes once: its first name met enters the largest files, later names
// count as files of their type without bytes.
//
// Not thread-safe: the scan's walk fills it on its thread; the view hands
// the finished object to readers as a const shared object.

#include <cstdint>
#include <string_view>
#include <unordered_set>

#include "foldersize/FileTypeTally.h"
#include "foldersize/LargestFiles.h"
#include "platform/FileEntry.h"

namespace quarn {

class ScanFileStats {
  public:
    ScanFileStats(size_t largestCount, bool allocatedSizes);

    // A file the walk met in `folderPath`.
    void AddFile(std::string_view folderPath, const FileEntry& file);

    bool AllocatedSizes() const { return m_allocatedSizes; }
    const LargestFiles& Largest() const { return m_largest; }
    const FileTypeTally& Types() const { return m_types; }

  private:
    struct InodeKey {
        uint64_t device;
        uint64_t inode;
        bool operator==(const InodeKey&) const = default;
    };
    struct InodeHash {
        size_t operator()(const InodeKey& key) const {
            return size_t(key.inode * 0x9e3779b97f4a7c15ull ^ key.device);
        }
    };

    bool m_allocatedSizes;
    LargestFiles m_largest;
    FileTypeTally m_types;
    // Inodes with several links already counted; files with one link never
    // come here.
    std::unordered_set<InodeKey, InodeHash> m_linkedSeen;
};

}  // namespace quarn
