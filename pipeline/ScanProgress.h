#pragma once
// What a running or finished job tells the panes and the report: one
// snapshot, published by the job on its own thread and read whole by anyone.

#include <chrono>
#include <cstdint>
#include <string>

namespace quarn {

// The kinds of work a runner does; a pane shows different things for each.
enum class JobKind : uint8_t { None, Scan, Refresh, Export, Verify, Search, Replace };

struct ScanProgress {
    JobKind job = JobKind::None;  // the latest job, also once it has ended
    bool running = false;         // a job (or one it superseded) has not ended yet
    // The pane's status text now: the folder or file in hand while a walk
    // runs, then the job's closing text.
    std::string status;
    int64_t files = 0;    // files the walk has met so far
    int64_t folders = 0;  // folders it has entered, the walked folder not counted
    // From the job's start to the snapshot (to its end once it has ended).
    std::chrono::nanoseconds elapsed{0};
    // Grows with every snapshot, so a reader can tell a new one from the last.
    uint64_t serial = 0;
};

}  // namespace quarn
