#include "tests/support/TestEntries.h"

#include <utility>

#include "platform/FileTime.h"

namespace quarn::test {

void SetFileTime(EntryStatus& entry, uint64_t fileTime) {
    entry.mtimeSeconds = UnixSecondsFromFileTime(fileTime);
    entry.mtimeNanoseconds = uint32_t(fileTime % kFileTimeTicksPerSecond) * 100;
}

OwnedFileEntry RegularFileEntry(std::string name, uint64_t size, uint64_t fileTime) {
    OwnedFileEntry entry;
    entry.name = std::move(name);
    entry.mode = kRegularFileType | 0644;
    entry.size = size;
    SetFileTime(entry, fileTime);
    return entry;
}

}  // namespace quarn::test
