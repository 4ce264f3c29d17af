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

// Longest entry name Linux allows (NAME_MAX), without the terminator.
inline constexpr size_t kMaxEntryName = 255;

struct FindRecord {
    uint32_t dwFileAttributes = 0;
    uint64_t ftLastWriteTime = 0;  // 100 ns units since 1601-01-01 UTC
    uint32_t nFileSizeHigh = 0;
    uint32_t nFileSizeLow = 0;
    char cFileName[kMaxEntryName + 1] = {};

    bool IsDirectory() const { return (dwFileAttributes & kAttributeDirectory) != 0; }
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
