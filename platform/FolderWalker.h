#pragma once
// The one walk of a folder tree that every scan shares.
//
// A folder is listed, then its entries are handed on in the order the OS
// returned them: a file as it is met, a subfolder by descending into it at
// once, before the folder's remaining entries. The walk is iterative (a tree
// 100,000 levels deep needs no machine stack), opens every folder relative to
// its parent's handle (no PATH_MAX wall) and never follows a symbolic link.
// Folders on virtual kernel filesystems (proc, sysfs, ...) are met but not
// listed: they hold no disk bytes. A folder that cannot be listed is empty.
//
// Listing ahead: with more than one thread (WalkOptions), worker threads
// open, list and stat the folders the sink will meet next (the subfolders
// already met, nearest first) while the sink works. What they find waits in
// bounded buffers; the sink still sees exactly the events of a walk on one
// thread, in the same order. A folder is listed in pieces of a few thousand
// entries and handed on as it is read, so a folder of a million entries
// costs a few MB, not its whole listing. At most a bounded number of folder
// handles is open at any time (kMaxWalkHandles), however deep or wide the
// tree.
//
// Threading: WalkFolderTree calls the sink only on the calling thread, and
// returns only after every worker it started has ended and every handle it
// opened is closed (also when the sink abandons the walk or throws). Walks
// share no state with each other.

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/FileEntry.h"
#include "platform/WalkOptions.h"

namespace quarn {

// Why an entry was left out of the walk (WalkOptions).
enum class ExclusionReason { Pattern, OtherFileSystem };

class WalkSink {
  public:
    virtual ~WalkSink() = default;

    // A folder is about to be handed on: the root (entry null) or a
    // subfolder met in its parent's listing. `path` is the folder's full path
    // with separators normalised (PathRules.h). A subfolder's entry carries
    // the status of the folder itself as the walk found it when opening it
    // (device, inode, time, ...); when it could not be opened, only what the
    // listing said (name, folder type, inode). Entries are valid only during
    // the call (FileEntry.h).
    // Returning false abandons the whole walk at once; no further calls
    // follow, not even LeaveFolder for the folders still open.
    virtual bool EnterFolder(const std::string& path, const FileEntry* entry) = 0;

    // An entry of the current folder that is not a folder (a regular file,
    // a link, a fifo, a socket or a device). `folderPath` is the current
    // folder's path. "." and ".." are never handed on.
    virtual void AddFile(const std::string& folderPath, const FileEntry& file) = 0;

    // Every entry of the folder has been handed on (also when it could not be
    // listed or was not listed because it is virtual).
    virtual void LeaveFolder(const std::string& path) = 0;

    // The folder `path` (entered, not yet left) could not be opened, or its
    // listing broke off: `errorNumber` is the errno. The entries read before
    // a listing broke off have been handed on; LeaveFolder follows.
    virtual void FolderUnreadable(const std::string& path, int errorNumber) {
        (void)path;
        (void)errorNumber;
    }

    // An entry of the current folder left out by WalkOptions: a file or
    // folder matching an exclude pattern (never entered, not handed on), or
    // a folder on another file system (its entry holds the status of the
    // folder opened there, device included). `folderPath` is the current
    // folder's path.
    virtual void EntryExcluded(const std::string& folderPath, const FileEntry& entry,
                               ExclusionReason reason) {
        (void)folderPath;
        (void)entry;
        (void)reason;
    }

    // An entry of the current folder was listed but could not be stat'ed
    // (errorNumber ENOENT: it vanished in between); it is not handed on.
    virtual void EntrySkipped(const std::string& folderPath, std::string_view name,
                              int errorNumber) {
        (void)folderPath;
        (void)name;
        (void)errorNumber;
    }
};

enum class WalkResult { Completed, Abandoned };

// Folder handles a walk keeps open at most, beside one per thread in use.
inline constexpr size_t kMaxWalkHandles = 200;

// Walks the tree below `root` (a link given as the root itself is followed).
WalkResult WalkFolderTree(const std::string& root, WalkSink& sink, const WalkOptions& options = {});

}  // namespace quarn
