#pragma once
// A walk of one folder's subtree into a private list, for a refresh that
// puts its result into the tree only once the walk has ended (a cancelled
// refresh changes nothing). Folders are listed in the order the walk enters
// them, the walked folder first, each with the place of its parent, its name
// and, once the walk has left it, its figures as FolderSums counts them.
// Linked files are entered into the scan's table (LinkedFiles); their names
// are kept with the places of their folders, and so are the folders that
// could not be read whole (FolderReadProblems).
//
// One walk, on the thread that walks.

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "foldersize/FolderReadProblems.h"
#include "foldersize/FolderSums.h"
#include "foldersize/LinkedFiles.h"
#include "platform/FolderWalker.h"

namespace quarn {

class SubtreeScan final : public WalkSink {
  public:
    static constexpr uint32_t kNoParent = 0xffffffffu;

    struct Folder {
        uint32_t parent = kNoParent;  // place of the parent in Folders()
        uint32_t nameOffset = 0;
        uint32_t nameLength = 0;
        bool left = false;  // the walk finished it: `sums` hold
        // A folder on another file system the walk did not enter (shown
        // marked, of size 0, and not counted as a folder of the scan).
        bool otherFileSystem = false;
        FolderSums::Folder sums;
    };

    // `keepGoing` is asked with every folder's path before it is listed;
    // false abandons the walk.
    SubtreeScan(bool allocatedSizes, LinkedFiles& links, std::mutex& linksMutex,
                std::function<bool(const std::string& path)> keepGoing);

    bool EnterFolder(const std::string& path, const FileEntry* entry) override;
    void AddFile(const std::string& folderPath, const FileEntry& file) override;
    void LeaveFolder(const std::string& path) override;
    void FolderUnreadable(const std::string& path, int errorNumber) override;
    void EntrySkipped(const std::string& folderPath, std::string_view name,
                      int errorNumber) override;
    void EntryExcluded(const std::string& folderPath, const FileEntry& entry,
                       ExclusionReason reason) override;

    const std::vector<Folder>& Folders() const { return m_folders; }
    std::string_view NameOf(const Folder& folder) const {
        return std::string_view(m_names).substr(folder.nameOffset, folder.nameLength);
    }
    // The names of linked files met; `folder` is a place in Folders().
    const std::vector<LinkedFiles::Name>& LinkedNames() const { return m_sums.Names(); }
    int64_t FileCount() const { return m_files; }
    // By place in Folders().
    const FolderReadProblems& ReadProblems() const { return m_problems; }

  private:
    FolderSums m_sums;
    FolderReadProblems m_problems;
    std::function<bool(const std::string&)> m_keepGoing;
    std::vector<Folder> m_folders;
    std::vector<uint32_t> m_open;  // places of the folders being walked
    std::string m_names;
    int64_t m_files = 0;
};

}  // namespace quarn
