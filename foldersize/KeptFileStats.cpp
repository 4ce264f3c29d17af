#include "foldersize/KeptFileStats.h"

#include <algorithm>

#include "platform/ByteSum.h"
#include "platform/PathRules.h"

namespace quarn {

void KeptFileStats::Replace(std::shared_ptr<const ScanFileStats> stats) {
    std::lock_guard lock(m_mutex);
    m_stats = std::move(stats);
    m_scanRunning = false;
    m_goneFiles.clear();
    m_goneByType.clear();
    m_goneFolders.clear();
    ++m_serial;
}

void KeptFileStats::ScanStarted() {
    std::lock_guard lock(m_mutex);
    m_scanRunning = true;
}

std::shared_ptr<const ScanFileStats> KeptFileStats::Stats() const {
    std::lock_guard lock(m_mutex);
    return m_scanRunning ? nullptr : m_stats;
}

std::shared_ptr<const ScanFileStats> KeptFileStats::Shown() const {
    std::lock_guard lock(m_mutex);
    return m_stats;
}

void KeptFileStats::ForgetFile(const std::string& path, uint64_t bytes) {
    std::lock_guard lock(m_mutex);
    if (m_stats == nullptr || IsGoneLocked(path) || !m_goneFiles.insert(path).second) {
        return;
    }
    const std::string ext = FileTypeTally::ExtensionOf(NameOfPath(path));
    FileTypeTally::Row& gone = m_goneByType[ext];
    gone.files += 1;
    AddBytes(gone.bytes, bytes);
    ++m_serial;
}

void KeptFileStats::ForgetFolder(const std::string& folder) {
    std::lock_guard lock(m_mutex);
    if (m_stats == nullptr) {
        return;
    }
    m_goneFolders.push_back(NormalisedPath(folder));
    ++m_serial;
}

bool KeptFileStats::IsGone(std::string_view path) const {
    std::lock_guard lock(m_mutex);
    return IsGoneLocked(path);
}

bool KeptFileStats::IsGoneLocked(std::string_view path) const {
    if (m_goneFiles.contains(std::string(path))) {
        return true;
    }
    for (const std::string& folder : m_goneFolders) {
        const bool below = folder == "/"
                               ? path.starts_with('/')
                               : path.starts_with(folder) && path.size() > folder.size() &&
                                     path[folder.size()] == kPathSeparator;
        if (path == folder || below) {
            return true;
        }
    }
    return false;
}

std::vector<LargestFiles::Entry> KeptFileStats::Largest() const {
    std::lock_guard lock(m_mutex);
    if (m_stats == nullptr) {
        return {};
    }
    std::vector<LargestFiles::Entry> largest = m_stats->Largest().Sorted();
    std::erase_if(largest,
                  [this](const LargestFiles::Entry& file) { return IsGoneLocked(file.path); });
    return largest;
}

std::vector<FileTypeTally::Row> KeptFileStats::Types() const {
    std::lock_guard lock(m_mutex);
    if (m_stats == nullptr) {
        return {};
    }
    std::vector<FileTypeTally::Row> rows = m_stats->Types().Rows();
    if (m_goneByType.empty()) {
        return rows;
    }
    for (FileTypeTally::Row& row : rows) {
        auto gone = m_goneByType.find(row.ext);
        if (gone != m_goneByType.end()) {
            row.files = std::max<int64_t>(0, row.files - gone->second.files);
            row.bytes = SubtractBytes(row.bytes, gone->second.bytes);
        }
    }
    std::erase_if(rows, [](const FileTypeTally::Row& row) { return row.files == 0; });
    std::sort(rows.begin(), rows.end(), FileTypeTally::ComesBefore);
    return rows;
}

uint64_t KeptFileStats::Serial() const {
    std::lock_guard lock(m_mutex);
    return m_serial;
}

}  // namespace quarn
