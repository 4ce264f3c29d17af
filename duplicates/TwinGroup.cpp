#include "duplicates/TwinGroup.h"

#include "settings/Settings.h"

namespace quarn {

bool IsTwinUnder(uint8_t compare, const TwinKey& first, const TwinKey& candidate) {
    // Byte order, case-sensitive: "A.TXT" and "a.txt" are never twins.
    if (first.name != candidate.name) {
        return false;
    }
    if ((compare & kCompareIgnoreSize) == 0 && first.size != candidate.size) {
        return false;
    }
    if ((compare & kCompareIgnoreTime) == 0 && first.lastWriteTime != candidate.lastWriteTime) {
        return false;
    }
    return true;
}

TwinGroup::TwinGroup() {
    SetCompareFlags();
}

void TwinGroup::SetCompareFlags() {
    uint8_t compare = 0;
    if (!ReadSetting(kCmpSize)) {
        compare |= kCompareIgnoreSize;
    }
    if (!ReadSetting(kCmpDate)) {
        compare |= kCompareIgnoreTime;
    }
    m_nCompare = compare;
}

void TwinGroup::Assign(const FindRecord& record, std::string path) {
    m_strName.assign(record.Name());
    m_files.assign(1, record);
    m_paths.assign(1, std::move(path));
    m_nIcon = -1;
}

TwinKey TwinGroup::KeyOf(size_t i) const {
    return TwinKey{m_files[i].Name(), m_files[i].FileSize(), m_files[i].ftLastWriteTime};
}

bool TwinGroup::IsTwin(const TwinGroup& candidate) {
    if (m_files.empty() || candidate.m_files.empty()) {
        return false;
    }
    TwinKey first{m_strName, GetSize(0), m_files[0].ftLastWriteTime};
    if (!IsTwinUnder(m_nCompare, first, candidate.KeyOf(0))) {
        return false;
    }
    AddTwin(candidate);
    return true;
}

void TwinGroup::AddTwin(const TwinGroup& candidate) {
    m_files.push_back(candidate.m_files.front());
    m_paths.push_back(candidate.m_paths.empty() ? std::string(candidate.m_files.front().Name())
                                                : candidate.m_paths.front());
}

}  // namespace quarn
