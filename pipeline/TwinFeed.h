#pragma once
// What a folder scan's walk also fills in a combined scan (TwinMode off, and
// every import): the twin list. The folder scan calls, in this order:
//   BeginFeed      on the thread that starts the scan, before its walk: the
//                  last twins are forgotten, and nothing else may work on
//                  them until EndFeed;
//   FeedSink       on the walking thread: the sink its walk fans out to;
//   DiscardFeed    on the walking thread, when the imported file turned out
//                  damaged: everything fed is forgotten (a part of a tree
//                  would pass for the whole), `reason` for the status;
//   EndFeed        on the walking thread, once after the walk (also after a
//                  cancel): the list is rebuilt and the feed is over.

#include <string>

#include "pipeline/ScanRequest.h"
#include "platform/FolderWalker.h"

namespace quarn {

class TwinFeed {
  public:
    virtual ~TwinFeed() = default;
    virtual void BeginFeed(const ScanRequest& request) = 0;
    virtual WalkSink& FeedSink() = 0;
    virtual void DiscardFeed(const std::string& reason) = 0;
    virtual void EndFeed() = 0;
};

}  // namespace quarn
