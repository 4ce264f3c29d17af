#pragma once
// The one-file group that the duplicate scan fills for every file it meets,
// and the twin test that decides whether a file joins a group.
//
// A file is a twin of a group when its name equals the group's name byte for
// byte (case-sensitive, no locale) and, unless the compare flags switch it
// off, its size and its last-write time equal those of the group's first
// file. Times are compared as the file system keeps them, to 100 ns: a
// FILETIME cannot hold a time before 1601 or after 60056, so such a time is
// compared by its seconds and 100 ns ticks instead. Only regular files are
// twins; the tree keeps other entries as groups of their own (BinBaum.h).
// The groups kept by the tree are stored compactly; this class is the
// candidate handed to BinBaum::Insert and carries the flags in force for a
// scan.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FileEntry.h"
#include "settings/TwinCompare.h"

namespace quarn {

// A last-write time as the file system keeps it, cut to 100 ns.
struct ExactTime {
    int64_t seconds = 0;  // since 1970-01-01 UTC, may be negative
    uint32_t ticks = 0;   // 100 ns units within the second, below 10,000,000

    bool operator==(const ExactTime&) const = default;
};

// True when a FILETIME holds this time exactly (1601 up to year 60056).
bool FileTimeHolds(int64_t seconds);
// The exact time of a FILETIME that holds it.
ExactTime ExactTimeOfFileTime(uint64_t fileTime);

// The fields of a file that the twin test reads.
struct TwinKey {
    TwinKey() = default;
    TwinKey(std::string_view fileName, uint64_t fileSize, uint64_t fileTime)
        : name(fileName), size(fileSize), lastWriteTime(fileTime) {}

    std::string_view name;
    uint64_t size = 0;
    uint64_t lastWriteTime = 0;  // FILETIME
    // Set when lastWriteTime cannot hold the real time; `exact` decides then.
    bool beyondFileTime = false;
    ExactTime exact;
};

// The key of an entry as the listing gave it; its FILETIME is made here.
TwinKey TwinKeyOf(const FileEntry& entry);

// True when `candidate` is a twin of a group whose first file is `first`,
// under the compare flags `compare`.
bool IsTwinUnder(uint8_t compare, const TwinKey& first, const TwinKey& candidate);

class TwinGroup {
  public:
    // Reads the flags from the settings at once (CmpSize, CmpDate).
    TwinGroup();

    // m_nCompare = 0, plus kCompareIgnoreSize when CmpSize reads off, plus
    // kCompareIgnoreTime when CmpDate reads off; read at the moment of the call.
    void SetCompareFlags();

    // Makes this the one-file group of `entry` found at `path`.
    void Assign(const FileEntry& entry, std::string path);

    // The full 64-bit size of file i (0 <= i < FileCount()).
    uint64_t GetSize(size_t i) const { return m_files[i].size; }
    size_t FileCount() const { return m_files.size(); }
    TwinKey KeyOf(size_t i) const { return TwinKeyOf(m_files[i]); }

    std::string m_strName;                // the group's name (its first file's)
    std::vector<OwnedFileEntry> m_files;  // in order of joining
    std::vector<std::string> m_paths;     // parallel to m_files
    uint8_t m_nCompare = 0;               // kCompareIgnoreSize | kCompareIgnoreTime
};

}  // namespace quarn
