#include "foldersize/LooseFiles.h"

#include <set>
#include <utility>

#include "platform/ByteSum.h"
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
    EntryStatus status;
    while (listing.NextName(entry)) {
        // A name that vanished since the listing is no file to act on.
        if (DirectoryListing::StatEntry(listing.Handle(), entry, true, status) != 0 ||
            status.IsDirectory()) {
            continue;
        }
        std::string path = folder;
        AppendPathComponent(path, entry.name);
        files.paths.push_back(std::move(path));
        FileIdentity identity;
        identity.dev = status.device;
        identity.ino = status.inode;
        identity.size = status.size;
        identity.mtime = FileTimeFromUnix(status.mtimeSeconds, long(status.mtimeNanoseconds));
        files.identities.push_back(identity);
        if (status.linkCount > 1 && !linked.emplace(status.device, status.inode).second) {
            continue;  // another name of a file already counted
        }
        AddBytes(files.bytes, allocatedSizes ? status.allocatedSize : status.size);
    }
    // A listing that broke off would act on part of what the item sums.
    files.error = listing.ReadError();
    return files;
}

}  // namespace quarn
