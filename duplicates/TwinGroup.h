#pragma once
// The one-file group that the duplicate scan fills for every file it meets,
// and the twin test that decides whether a file joins a group.
//
// A file is a twin of a group when its name equals the group's name byte for
// byte (case-sensitive, no locale) and, unless the compare flags switch it
// off, its size and its last-write time equal those of the group's first
// file. The groups kept by the tree are stored compactly (BinBaum.h); this
// class is the candidate handed to BinBaum::Insert and carries the flags in
// force for a scan.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FindRecord.h"

namespace quarn {

// Bits of TwinGroup::m_nCompare.
inline constexpr uint8_t kCompareIgnoreSize = 2;
inline constexpr uint8_t kCompareIgnoreTime = 4;

// The fields of a file that the twin test reads.
struct TwinKey {
    std::string_view name;
    uint64_t size = 0;
    uint64_t lastWriteTime = 0;
};

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

    // Makes this the one-file group of `record` found at `path`.
    void Assign(const FindRecord& record, std::string path);

    // The full 64-bit size of file i (0 <= i < FileCount()).
    uint64_t GetSize(size_t i) const { return m_files[i].FileSize(); }
    size_t FileCount() const { return m_files.size(); }
    TwinKey KeyOf(size_t i) const;

    // True when the first file of `candidate` is a twin of this group's first
    // file; it has then been appended with AddTwin.
    bool IsTwin(const TwinGroup& candidate);
    // Appends the first file of `candidate` (record and path).
    void AddTwin(const TwinGroup& candidate);

    std::string m_strName;             // the group's name (its first file's)
    std::vector<FindRecord> m_files;   // in order of joining
    std::vector<std::string> m_paths;  // parallel to m_files
    int m_nIcon = -1;                  // -1: not looked up yet
    uint8_t m_nCompare = 0;            // kCompareIgnoreSize | kCompareIgnoreTime
};

}  // namespace quarn
