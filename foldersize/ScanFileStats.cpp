#include "foldersize/ScanFileStats.h"

namespace quarn {

ScanFileStats::ScanFileStats(size_t largestCount, bool allocatedSizes)
    : m_allocatedSizes(allocatedSizes), m_largest(largestCount) {}

void ScanFileStats::AddFile(std::string_view folderPath, const FindRecord& file) {
    uint64_t bytes = m_allocatedSizes ? file.allocatedSize : file.FileSize();
    if (file.linkCount > 1 && !m_linkedSeen.insert(InodeKey{file.device, file.inode}).second) {
        m_types.Add(file.Name(), 0);
        return;
    }
    m_types.Add(file.Name(), bytes);
    m_largest.Add(folderPath, file.Name(), bytes, file.mtimeSeconds);
}

}  // namespace quarn
