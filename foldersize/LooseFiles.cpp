#include "foldersize/LooseFiles.h"

#include <set>
#include <utility>

#include "platform/DirectoryListing.h"
#include "platform/FileTime.h"
#include "platform/PathRules.h"

namespace quarn {

LooseFiles ListLooseFiles(const std::string& folder, bool allocatedSizes) {
    LooseFiles files;
    DirectoryListing listing = DirectoryListing::Open(folder);
    if (!listing.IsOpen()) {
        files.error = listing.OpenError();
        return files;
    }
    listing.SkipDotEntries();
    std::set<std::pair<uint64_t, uint64_t>> linked;
    ListedName entry;
    FindRecord record;
    while (listing.NextName(entry)) {
        // A name that vanished since the listing is no file to act on.
        if (DirectoryListing::StatEntry(listing.Handle(), entry, true, record) != 0 ||
            record.IsDirectory()) {
            continue;
        }
        std::string path = folder;
        AppendPathComponent(path, record.Name());
        files.paths.push_back(std::move(path));
        FileIdentity identity;
        identity.dev = record.device;
        identity.ino = record.inode;
        identity.size = record.FileSize();
        identity.mtime = FileTimeFromUnix(record.mtimeSeconds, long(record.mtimeNanoseconds));
        files.identities.push_back(identity);
        if (record.linkCount > 1 && !linked.emplace(record.device, record.inode).second) {
            continue;  // another name of a file already counted
        }
        files.bytes += allocatedSizes ? record.allocatedSize : record.FileSize();
    }
    // A listing that broke off would act on part of what the item sums.
    files.error = listing.ReadError();
    return files;
}

}  // namespace quarn
