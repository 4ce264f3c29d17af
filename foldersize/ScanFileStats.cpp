#include "foldersize/ScanFileStats.h"

namespace quarn {

ScanFileStats::ScanFileStats(size_t largestCount, bool allocatedSizes)
    : m_allocatedSizes(allocatedSizes), m_largest(largestCount) {}

void ScanFileStats::AddFile(std::string_view folderPath, const FileEntry& file) {
    uint64_t bytes = m_allocatedSizes ? file.allocatedSize : file.size;
    if (file.linkCount > 1 && !m_linkedSeen.insert(InodeKey{file.device, file.inode}).second) {
        m_types.Add(file.name, 0);
        return;
    }
    m_types.Add(file.name, bytes);
    m_largest.Add(folderPath, file.name, bytes, file.mtimeSeconds);
}

}  // namespace quarn
