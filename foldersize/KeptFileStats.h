#pragma once
// The largest files and the file types of the last folder scan, as every
// window shows them: the statistics the scan made, less the files that left
// the disk since (trashed, deleted or moved from any pane). One set of gone
// files for every reader, cleared when a new scan brings statistics of its
// own. While a scan runs the windows go on showing the finished scan's
// statistics, and what leaves the disk meanwhile still leaves them.
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
    // A new scan's statistics (null: none kept); the gone files are
    // forgotten with the old ones.
    void Replace(std::shared_ptr<const ScanFileStats> stats);
    // A scan starts: Stats() is null until it replaces them, Shown() keeps
    // the finished scan's.
    void ScanStarted();
    // The statistics as the scan made them; null when there are none or a
    // scan is running.
    std::shared_ptr<const ScanFileStats> Stats() const;
    // What the windows show: Stats(), or while a scan runs the finished
    // scan's.
    std::shared_ptr<const ScanFileStats> Shown() const;

    // A file of the scan left the disk; its type counts one file and
    // `bytes` less (the bytes the tree counted it with).
    void ForgetFile(const std::string& path, uint64_t bytes);
    // Every file at or below `folder` left the disk.
    void ForgetFolder(const std::string& folder);
    bool IsGone(std::string_view path) const;

    // The largest files of Shown() still there, largest first.
    std::vector<LargestFiles::Entry> Largest() const;
    // The types of Shown() with the files and bytes still there, most bytes
    // first.
    std::vector<FileTypeTally::Row> Types() const;
    // Grows with every change, so a reader can tell a new state from the last.
    uint64_t Serial() const;

  private:
    bool IsGoneLocked(std::string_view path) const;

    mutable std::mutex m_mutex;
    std::shared_ptr<const ScanFileStats> m_stats;
    bool m_scanRunning = false;
    std::unordered_set<std::string> m_goneFiles;
    // What left of each type, by extension.
    std::unordered_map<std::string, FileTypeTally::Row> m_goneByType;
    std::vector<std::string> m_goneFolders;
    uint64_t m_serial = 0;
};

}  // namespace quarn
