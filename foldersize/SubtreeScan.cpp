#include "foldersize/SubtreeScan.h"

#include <utility>

namespace quarn {

SubtreeScan::SubtreeScan(bool allocatedSizes, LinkedFiles& links, std::mutex& linksMutex,
                         std::function<bool(const std::string& path)> keepGoing)
    : m_sums(allocatedSizes, links, linksMutex), m_keepGoing(std::move(keepGoing)) {}

bool SubtreeScan::EnterFolder(const std::string& path, const FileEntry* entry) {
    if (!m_keepGoing(path)) {
        return false;
    }
    Folder folder;
    if (entry != nullptr) {
        folder.parent = m_open.back();
        folder.nameOffset = uint32_t(m_names.size());
        folder.nameLength = uint32_t(entry->name.size());
        m_names.append(entry->name);
    }
    uint32_t place = uint32_t(m_folders.size());
    m_folders.push_back(folder);
    m_open.push_back(place);
    m_sums.Enter(place);
    return true;
}

void SubtreeScan::AddFile(const std::string&, const FileEntry& file) {
    m_sums.AddFile(file);
    ++m_files;
}

void SubtreeScan::LeaveFolder(const std::string&) {
    Folder& folder = m_folders[m_open.back()];
    m_open.pop_back();
    folder.sums = m_sums.Leave();
    folder.left = true;
}

void SubtreeScan::EntryExcluded(const std::string&, const FileEntry& entry,
                                ExclusionReason reason) {
    // As a scan shows it: a folder on another file system stays, marked; a
    // folder left out by a pattern is not shown.
    if (reason != ExclusionReason::OtherFileSystem) {
        return;
    }
    Folder folder;
    folder.parent = m_open.back();
    folder.nameOffset = uint32_t(m_names.size());
    folder.nameLength = uint32_t(entry.name.size());
    folder.otherFileSystem = true;
    m_names.append(entry.name);
    const uint32_t place = uint32_t(m_folders.size());
    // An empty folder to the sums, so its parent knows it has a subfolder.
    m_sums.Enter(place);
    folder.sums = m_sums.Leave();
    folder.left = true;
    m_folders.push_back(folder);
}

void SubtreeScan::FolderUnreadable(const std::string&, int errorNumber) {
    m_problems.SetUnreadable(m_open.back(), errorNumber);
}

void SubtreeScan::EntrySkipped(const std::string&, std::string_view, int errorNumber) {
    m_problems.AddSkipped(m_open.back(), errorNumber);
}

}  // namespace quarn
