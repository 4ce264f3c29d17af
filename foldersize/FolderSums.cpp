#include "foldersize/FolderSums.h"

#include <algorithm>
#include <utility>

#include "platform/ByteSum.h"

namespace quarn {

FolderSums::FolderSums(bool allocatedSizes, LinkedFiles& links, std::mutex& linksMutex)
    : m_allocatedSizes(allocatedSizes), m_links(links), m_linksMutex(linksMutex) {}

void FolderSums::Enter(uint32_t serial) {
    Open open;
    open.serial = serial;
    m_open.push_back(std::move(open));
}

void FolderSums::AddFile(const FileEntry& file) {
    Open& folder = m_open.back();
    ++folder.fileCount;
    uint64_t bytes = m_allocatedSizes ? file.allocatedSize : file.size;
    if (file.linkCount <= 1) {
        AddBytes(folder.filesBytes, bytes);
        return;
    }
    ++m_linkedNames;
    uint32_t inode;
    {
        std::lock_guard lock(m_linksMutex);
        inode = m_links.Intern(file.device, file.inode, bytes);
        bytes = m_links.Bytes(inode);  // every name counts what the first one did
    }
    m_names.push_back(LinkedFiles::Name{inode, folder.serial});
    if (!folder.ownLinked.insert(inode).second) {
        return;  // another name among the folder's own files
    }
    AddBytes(folder.filesBytes, bytes);
    if (inode >= m_lastFolder.size()) {
        m_lastFolder.resize(size_t(inode) + 1, kNoFolder);
    }
    uint32_t earlier = m_lastFolder[inode];
    m_lastFolder[inode] = folder.serial;
    if (earlier == kNoFolder) {
        return;
    }
    // The deepest open folder that holds an earlier name already counts
    // the inode; so does every folder above it.
    auto after =
        std::upper_bound(m_open.begin(), m_open.end(), earlier,
                         [](uint32_t serial, const Open& open) { return serial < open.serial; });
    if (after != m_open.begin()) {
        AddBytes((after - 1)->sharedBytes, bytes);
    }
}

uint64_t FolderSums::OpenTotal(const Open& open) {
    // The shared bytes are part of the two sums; a saturated sum stays so.
    return SubtractBytes(SaturatingAdd(open.filesBytes, open.subfoldersBytes), open.sharedBytes);
}

FolderSums::Folder FolderSums::Leave() {
    Open done = std::move(m_open.back());
    m_open.pop_back();
    Folder folder;
    folder.total = OpenTotal(done);
    folder.filesBytes = done.filesBytes;
    folder.fileCount = done.fileCount;
    folder.subfolderCount = done.subfolderCount;
    if (m_open.empty()) {
        m_rootTotal = folder.total;
    } else {
        AddBytes(m_open.back().subfoldersBytes, folder.total);
        ++m_open.back().subfolderCount;
    }
    return folder;
}

uint64_t FolderSums::CountedBytes() const {
    if (m_open.empty()) {
        return m_rootTotal;
    }
    // A finished folder's total sits in its open parent only, and an inode
    // two open folders count is taken off where their paths meet.
    uint64_t sum = 0;
    for (const Open& open : m_open) {
        AddBytes(sum, OpenTotal(open));
    }
    return sum;
}

}  // namespace quarn
