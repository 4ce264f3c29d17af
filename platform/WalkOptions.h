#pragma once
// How a walk of a folder tree runs. Choices of what a walk leaves out
// (name patterns, other file systems) belong here too, beside the thread
// count. A folder left out must be decided alike where a worker claims it
// ahead and where the walking thread meets it (FolderWalker.cpp:
// ClaimNextSubfolder and Descend), or one thread and eight would differ; a
// folder judged by its device is decided where it is opened (OpenBelow,
// beside the check for virtual file systems).

#include <cstdint>
#include <optional>
#include <string>

#include "platform/ExcludeRules.h"

namespace quarn {

// The threads a walk lists with when not told otherwise: the number of
// online processors, at least 4, since a cold disk serves several requests
// at once even on a machine with few processors.
unsigned DefaultWalkThreads();

struct WalkOptions {
    WalkOptions() = default;
    explicit WalkOptions(unsigned threadCount) : threads(threadCount) {}

    // Threads that open, list and stat folders, the calling thread counted:
    // 1 walks on the calling thread alone; 0 means DefaultWalkThreads().
    unsigned threads = 0;
    // Entries that match are neither handed on nor entered (the sink hears
    // of them through EntryExcluded).
    ExcludeRules exclude;
    // A folder on another device than the root's is not entered.
    bool oneFileSystem = false;
    // For a walk of part of a scanned tree (a refresh): the device of the
    // scan's root, which oneFileSystem keeps to, and the walked folder's path
    // below that root, which exclude patterns with a "/" are matched from.
    std::optional<uint64_t> rootDevice;
    std::string rootRelativePath;
};

}  // namespace quarn
