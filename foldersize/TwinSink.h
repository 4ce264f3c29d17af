#pragma once
// What a folder-size walk feeds in a combined scan: every file it meets, and
// one rebuild when the walk has ended. The twin-file list implements it.

#include <string>

#include "platform/FindRecord.h"

namespace quarn {

class TwinSink {
  public:
    virtual ~TwinSink() = default;
    // Called on the walking thread for every entry that is not a folder.
    // `path` is the file's full path (folder, separator, name).
    virtual void AddFile(const std::string& path, const FindRecord& record) = 0;
    // Called once on the walking thread after the walk has ended (also after
    // a cancel), before the folder scan clears its busy flag.
    virtual void RebuildList() = 0;
};

}  // namespace quarn
