#pragma once
// A walk sink that hashes what a scan found (every folder's and file's path,
// kind, sizes, time, inode and link count, every unreadable or left-out
// entry), but not when it ran nor in which order the folders were listed:
// two scans of an unchanged tree hash alike, so the second is not kept
// again. Each entry is hashed on its own and the hashes are added up.
//
// The walking thread only.

#include <cstdint>
#include <string>

#include "platform/FolderWalker.h"

namespace quarn {

class TreeContentHash final : public WalkSink {
  public:
    bool EnterFolder(const std::string& path, const FileEntry* entry) override;
    void AddFile(const std::string& folderPath, const FileEntry& file) override;
    void LeaveFolder(const std::string&) override {}
    void FolderUnreadable(const std::string& path, int errorNumber) override;
    void EntryExcluded(const std::string& folderPath, const FileEntry& entry,
                       ExclusionReason reason) override;
    void EntrySkipped(const std::string& folderPath, std::string_view name,
                      int errorNumber) override;

    uint64_t Digest() const { return m_sum; }

  private:
    // Adds the hash of one entry: its tag, folder, name and numbers.
    void Entry(char tag, std::string_view folder, std::string_view name, const EntryStatus* status,
               uint64_t extra);

    uint64_t m_sum = 0;
    // The folder of the last entry and the hash of its path.
    std::string m_folder;
    uint64_t m_folderSeed = 0;
    bool m_folderKnown = false;
};

}  // namespace quarn
