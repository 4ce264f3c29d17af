#pragma once
// One entry of a folder listing, as the scans carry every file: the fields a
// directory search reports, in the units the rest of the program expects.

#include <cstdint>
#include <cstring>
#include <string_view>

namespace quarn {

inline constexpr uint32_t kAttributeHidden = 0x02;
inline constexpr uint32_t kAttributeDirectory = 0x10;
inline constexpr uint32_t kAttributeNormal = 0x80;
inline constexpr uint32_t kAttributeLink = 0x400;  // a symbolic link, never followed

// The file-type bits of `FindRecord::mode` (as in <sys/stat.h>).
inline constexpr uint32_t kFileTypeMask = 0170000;
inline constexpr uint32_t kRegularFileType = 0100000;

// Longest entry name Linux allows (NAME_MAX), without the terminator.
inline constexpr size_t kMaxEntryName = 255;

struct FindRecord {
    uint32_t dwFileAttributes = 0;
    uint64_t ftLastWriteTime = 0;  // 100 ns units since 1601-01-01 UTC
    uint32_t nFileSizeHigh = 0;
    uint32_t nFileSizeLow = 0;
    char cFileName[kMaxEntryName + 1] = {};

    // The rest of the entry's status as the one stat gave it, so that hard
    // links, allocated sizes, exact times and the Properties dialog never
    // stat an entry a second time. A folder that the listing reported as a
    // folder without a stat has only the folder type in `mode`.
    uint64_t device = 0;
    uint64_t inode = 0;
    uint64_t allocatedSize = 0;  // st_blocks * 512
    uint32_t linkCount = 0;
    uint32_t mode = 0;  // st_mode: type and permission bits
    // The last-write time exactly as the file system keeps it; the FILETIME
    // above clamps what lies outside 1601..60056.
    int64_t mtimeSeconds = 0;
    uint32_t mtimeNanoseconds = 0;

    bool IsDirectory() const { return (dwFileAttributes & kAttributeDirectory) != 0; }
    // A plain file: not a folder, link, fifo, socket or device.
    bool IsRegularFile() const { return (mode & kFileTypeMask) == kRegularFileType; }
    uint64_t FileSize() const { return (uint64_t(nFileSizeHigh) << 32) | nFileSizeLow; }
    std::string_view Name() const { return std::string_view(cFileName); }

    void SetFileSize(uint64_t size) {
        nFileSizeHigh = uint32_t(size >> 32);
        nFileSizeLow = uint32_t(size & 0xffffffffu);
    }
    // Copies at most kMaxEntryName bytes; longer names cannot come from the OS.
    void SetName(std::string_view name) {
        size_t n = name.size() < kMaxEntryName ? name.size() : kMaxEntryName;
        std::memcpy(cFileName, name.data(), n);
        cFileName[n] = '\0';
    }
};

}  // namespace quarn
