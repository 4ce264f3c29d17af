#pragma once
// What a folder-size walk feeds in a combined scan: every file it meets, and
// one rebuild when the walk has ended. The twin-file list implements it.

#include <string>

#include "platform/FindRecord.h"
#include "platform/PathRules.h"

namespace quarn {

class TwinSink {
  public:
    virtual ~TwinSink() = default;
    // Called on the walking thread for every entry that is not a folder.
    // `path` is the file's full path (folder, separator, name).
    virtual void AddFile(const std::string& path, const FindRecord& record) = 0;
    // The same file, given as the folder the walk is in (already normalised)
    // and the record: a sink that keeps its current folder once saves
    // splitting a full path per file.
    virtual void AddFileInFolder(const std::string& folderPath, const FindRecord& record) {
        std::string path = folderPath;
        AppendPathComponent(path, record.Name());
        AddFile(path, record);
    }
    // Called once on the walking thread after the walk has ended (also after
    // a cancel), before the folder scan clears its busy flag.
    virtual void RebuildList() = 0;
    // Called on the walking thread, before RebuildList, when what was fed
    // came from an imported file that turned out damaged: everything fed is
    // to be forgotten, since a part of a tree would pass for the whole.
    // `reason` says why, for the sink's status.
    virtual void DiscardFeed(const std::string& reason) { (void)reason; }
    // A folder scan calls BeginFeed when it starts (on the starting thread)
    // and EndFeed on its worker after its RebuildList, whatever happened
    // between: a cancelled walk still feeds for a while, and the sink must
    // know when it is done.
    virtual void BeginFeed() {}
    virtual void EndFeed() {}
};

}  // namespace quarn
