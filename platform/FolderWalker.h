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
// Threading: a walk runs entirely on the calling thread and shares no state
// with other walks; the sink is called only from that thread.

#include <string>

#include "platform/FindRecord.h"

namespace quarn {

class WalkSink {
  public:
    virtual ~WalkSink() = default;

    // A folder is about to be listed: the root (entry null) or a subfolder
    // met in its parent's listing (entry = that listing's record). `path` is
    // the folder's full path with separators normalised (PathRules.h).
    // Returning false abandons the whole walk at once; no LeaveFolder calls
    // follow for the folders still open.
    virtual bool EnterFolder(const std::string& path, const FindRecord* entry) = 0;

    // An entry of the current folder that is not a folder (a regular file,
    // a link, a fifo, a socket or a device). `folderPath` is the current
    // folder's path. "." and ".." are never handed on.
    virtual void AddFile(const std::string& folderPath, const FindRecord& file) = 0;

    // Every entry of the folder has been handed on (also when it could not be
    // listed or was not listed because it is virtual).
    virtual void LeaveFolder(const std::string& path) = 0;
};

enum class WalkResult { Completed, Abandoned };

// Walks the tree below `root` (a link given as the root itself is followed).
WalkResult WalkFolderTree(const std::string& root, WalkSink& sink);

}  // namespace quarn
