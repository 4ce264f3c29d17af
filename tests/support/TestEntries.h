#pragma once
// Entries for tests that feed sinks and indexes without walking a tree.

#include <cstdint>
#include <string>

#include "platform/FileEntry.h"

namespace quarn::test {

// Gives `entry` the last-write time that FileTimeFromUnix turns into `fileTime`.
void SetFileTime(EntryStatus& entry, uint64_t fileTime);

// A regular file (mode 0644) of `size` bytes, last written at `fileTime`
// (a FILETIME), on no known device.
OwnedFileEntry RegularFileEntry(std::string name, uint64_t size, uint64_t fileTime = 1000);

}  // namespace quarn::test
