#pragma once
// How a walk of a folder tree runs. Choices of what a walk leaves out
// (name patterns, other file systems) belong here too, beside the thread
// count. A folder left out must be decided alike where a worker claims it
// ahead and where the walking thread meets it (FolderWalker.cpp:
// ClaimNextSubfolder and Descend), or one thread and eight would differ; a
// folder judged by its device is decided where it is opened (OpenBelow,
// beside the check for virtual file systems).

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/ExcludeRules.h"
#include "platform/WalkThreadClock.h"

namespace quarn {

// The threads a walk starts listing with when not told otherwise: the
// processors it may use. It adds threads while the listings wait for the
// device (WalkThreadGovernor.h), since a cold disk or a network share serves
// several requests at once even on a machine with few processors.
unsigned DefaultWalkThreads();

struct WalkOptions {
    WalkOptions() = default;
    explicit WalkOptions(unsigned threadCount) : threads(threadCount) {}

    // Threads that open, list and stat folders, the calling thread counted:
    // 1 walks on the calling thread alone; 0 starts with DefaultWalkThreads()
    // and follows the work.
    unsigned threads = 0;
    // For tests and benchmarks. The clock an adapting walk measures its
    // threads by (null: the system's), and where it tells how many threads
    // it has started so far (the calling thread counted).
    std::shared_ptr<WalkThreadClock> clock;
    std::shared_ptr<std::atomic<unsigned>> threadsUsed;
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
