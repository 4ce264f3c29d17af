#pragma once
// The loose files of a folder as the folder tree counts them (every entry
// that is not a folder), listed again when the user acts on a files item:
// their paths and identities, so that the action reaches exactly these
// files, and the figures to compare with the files item (the number of
// names, and the bytes with each inode once).
//
// Any thread; no state.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Trash.h"

namespace quarn {

struct LooseFiles {
    std::vector<std::string> paths;
    std::vector<FileIdentity> identities;  // at the moment of the listing
    uint64_t bytes = 0;                    // apparent or allocated, each inode once
    int error = 0;                         // errno when the folder could not be listed

    size_t Count() const { return paths.size(); }
};

LooseFiles ListLooseFiles(const std::string& folder, bool allocatedSizes);

}  // namespace quarn
