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

ExactTime ExactTimeOf(const FindRecord& record) {
    if (FileTimeHolds(record.mtimeSeconds)) {
        return ExactTimeOfFileTime(record.ftLastWriteTime);
    }
    return ExactTime{record.mtimeSeconds, record.mtimeNanoseconds / 100};
}

TwinKey TwinKeyOf(const FindRecord& record) {
    TwinKey key{record.Name(), record.FileSize(), record.ftLastWriteTime};
    if (!FileTimeHolds(record.mtimeSeconds)) {
        key.beyondFileTime = true;
        key.exact = ExactTime{record.mtimeSeconds, record.mtimeNanoseconds / 100};
    }
    return key;
}

bool IsTwinUnder(uint8_t compare, const TwinKey& first, const TwinKey& candidate) {
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

void TwinGroup::Assign(const FindRecord& record, std::string path) {
    m_strName.assign(record.Name());
    m_files.assign(1, record);
    m_paths.assign(1, std::move(path));
}

}  // namespace quarn
