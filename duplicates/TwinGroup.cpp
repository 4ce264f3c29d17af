#include "duplicates/TwinGroup.h"

#include "platform/FileTime.h"
#include "settings/Settings.h"

namespace quarn {

namespace {

// The last second whose FILETIME still fits 64 bits.
constexpr int64_t kLastFileTimeSecond =
    int64_t(UINT64_MAX / kFileTimeTicksPerSecond) - kFileTimeEpochOffsetSeconds - 1;

}  // namespace

bool FileTimeHolds(int64_t seconds) {
    return seconds >= -kFileTimeEpochOffsetSeconds && seconds <= kLastFileTimeSecond;
}

ExactTime ExactTimeOfFileTime(uint64_t fileTime) {
    return ExactTime{UnixSecondsFromFileTime(fileTime),
                     uint32_t(fileTime % kFileTimeTicksPerSecond)};
}

TwinKey TwinKeyOf(const FileEntry& entry) {
    TwinKey key{
        entry.name, entry.size,
        entry.hasTime ? FileTimeFromUnix(entry.mtimeSeconds, long(entry.mtimeNanoseconds)) : 0};
    if (entry.hasTime && !FileTimeHolds(entry.mtimeSeconds)) {
        key.beyondFileTime = true;
        key.exact = ExactTime{entry.mtimeSeconds, entry.mtimeNanoseconds / 100};
    }
    return key;
}

bool IsTwinUnder(uint8_t compare, const TwinKey& first, const TwinKey& candidate) {
    if ((compare & kCompareContent) != 0) {
        return first.size == candidate.size;  // the content search decides
    }
    // Byte order, case-sensitive: "A.TXT" and "a.txt" are never twins.
    if (first.name != candidate.name) {
        return false;
    }
    if ((compare & kCompareIgnoreSize) == 0 && first.size != candidate.size) {
        return false;
    }
    if ((compare & kCompareIgnoreTime) == 0) {
        // Years 1000 and 1500 share the FILETIME 0; the real times decide.
        if (first.beyondFileTime != candidate.beyondFileTime) {
            return false;
        }
        if (first.beyondFileTime ? first.exact != candidate.exact
                                 : first.lastWriteTime != candidate.lastWriteTime) {
            return false;
        }
    }
    return true;
}

TwinGroup::TwinGroup() {
    SetCompareFlags();
}

void TwinGroup::SetCompareFlags() {
    m_nCompare = TwinCompareFromSettings();
}

void TwinGroup::Assign(const FileEntry& entry, std::string path) {
    m_strName.assign(entry.name);
    m_files.assign(1, OwnedFileEntry(entry));
    m_paths.assign(1, std::move(path));
}

}  // namespace quarn
