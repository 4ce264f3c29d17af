#pragma once
// A sink that keeps a copy of a scan as it is walked (the kept scans of
// history/), made per scan by whoever the engine was given (SetScanKeeper).
// The engine tells it how the walk ended; only a complete walk is kept.
//
// The walking thread only, as every sink.

#include <functional>
#include <memory>

#include "pipeline/ScanRequest.h"
#include "platform/FolderWalker.h"

namespace quarn {

class ScanCopySink : public WalkSink {
  public:
    // After the last event. `complete`: the walk was neither cancelled nor
    // cut short, so the copy is the whole tree.
    virtual void WalkEnded(bool complete) = 0;
};

// Makes the sink for one scan, or null when this scan is not to be kept.
using ScanCopyMaker = std::function<std::unique_ptr<ScanCopySink>(const ScanRequest& request)>;

}  // namespace quarn
