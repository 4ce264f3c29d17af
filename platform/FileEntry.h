#pragma once
// One entry of a folder listing as the walk hands it to its sinks: the whole
// status its one stat gave, so that nobody stats an entry a second time, and
// its name. Times and sizes stay in the file system's own units; a FILETIME
// is made (FileTime.h) only where an output or a twin key needs one.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quarn {

// The file-type bits of `EntryStatus::mode` (as in <sys/stat.h>).
inline constexpr uint32_t kFileTypeMask = 0170000;
inline constexpr uint32_t kDirectoryType = 0040000;
inline constexpr uint32_t kRegularFileType = 0100000;
inline constexpr uint32_t kSymlinkType = 0120000;

// Longest entry name Linux allows (NAME_MAX).
inline constexpr size_t kMaxEntryName = 255;

// Everything of an entry but its name. A folder that was listed but never
// opened has only the folder type in `mode` and the listed inode, and no time.
struct EntryStatus {
    uint64_t size = 0;           // st_size; 0 for a folder
    uint64_t allocatedSize = 0;  // st_blocks * 512
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t mtimeSeconds = 0;  // last write, since 1970 UTC, as the file system keeps it
    uint32_t mtimeNanoseconds = 0;
    // The last change of the inode (st_ctim), which nobody can set back: with
    // the last write it tells whether kept content hashes still hold. Zero
    // when unknown (imports).
    int64_t ctimeSeconds = 0;
    uint32_t ctimeNanoseconds = 0;
    uint32_t linkCount = 0;
    uint32_t mode = 0;  // st_mode: type and permission bits
    // False when the entry came without a last-write time (an import that
    // names none): its FILETIME is then 0, not that of 1970.
    bool hasTime = true;

    bool IsDirectory() const { return (mode & kFileTypeMask) == kDirectoryType; }
    // A plain file: not a folder, link, fifo, socket or device.
    bool IsRegularFile() const { return (mode & kFileTypeMask) == kRegularFileType; }
    // A symbolic link, which the walk never follows.
    bool IsSymlink() const { return (mode & kFileTypeMask) == kSymlinkType; }
};

// An entry as the walk hands it on. The name points into the listing that
// holds it and is valid only during the sink's call: whoever keeps an entry
// keeps an OwnedFileEntry.
struct FileEntry : EntryStatus {
    std::string_view name;
};

// An entry that owns its name, for those who keep entries beyond the call
// that handed them over. It converts to a FileEntry that borrows its name,
// as a std::string converts to a std::string_view.
struct OwnedFileEntry : EntryStatus {
    OwnedFileEntry() = default;
    explicit OwnedFileEntry(const FileEntry& entry) : EntryStatus(entry), name(entry.name) {}

    operator FileEntry() const {
        FileEntry entry;
        static_cast<EntryStatus&>(entry) = *this;
        entry.name = name;
        return entry;
    }

    std::string name;
};

}  // namespace quarn
