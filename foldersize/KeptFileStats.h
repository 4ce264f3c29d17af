#pragma once
// The largest files and the file types of the last folder scan, as every
// window shows them: the statistics the scan made, less the files that left
// the disk since (trashed, deleted or moved from any pane). One set of gone
// files for every reader, cleared when a new scan brings statistics of its
// own.
//
// Threads: any; one lock. The statistics themselves are immutable and shared.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "foldersize/ScanFileStats.h"

namespace quarn {

class KeptFileStats {
  public:
    // A new scan's statistics (null: none kept, or a scan is running); the
    // gone files are forgotten with the old ones.
    void Replace(std::shared_ptr<const ScanFileStats> stats);
    // The statistics as the scan made them; null when there are none.
    std::shared_ptr<const ScanFileStats> Stats() const;

    // A file of the scan left the disk; its type counts one file and
    // `bytes` less (the bytes the tree counted it with).
    void ForgetFile(const std::string& path, uint64_t bytes);
    // Every file at or below `folder` left the disk.
    void ForgetFolder(const std::string& folder);
    bool IsGone(std::string_view path) const;

    // The largest files still there, largest first.
    std::vector<LargestFiles::Entry> Largest() const;
    // The types with the files and bytes still there, most bytes first.
    std::vector<FileTypeTally::Row> Types() const;
    // Grows with every change, so a reader can tell a new state from the last.
    uint64_t Serial() const;

  private:
    bool IsGoneLocked(std::string_view path) const;

    mutable std::mutex m_mutex;
    std::shared_ptr<const ScanFileStats> m_stats;
    std::unordered_set<std::string> m_goneFiles;
    // What left of each type, by extension.
    std::unordered_map<std::string, FileTypeTally::Row> m_goneByType;
    std::vector<std::string> m_goneFolders;
    uint64_t m_serial = 0;
};

}  // namespace quarn
