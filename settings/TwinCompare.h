#pragma once
// What the twin test compares besides the names, as the settings CmpSize and
// CmpDate say: the bits of TwinGroup::m_nCompare. Names are always compared,
// unless a search by content asks for twins whatever their names.

#include <cstdint>

namespace quarn {

inline constexpr uint8_t kCompareIgnoreSize = 2;
inline constexpr uint8_t kCompareIgnoreTime = 4;
// Twins by content (TwinsByContent): regular files of equal size, whatever
// their names and times, are candidates; a content search then splits them
// into sets of identical bytes. Empty files are never candidates.
inline constexpr uint8_t kCompareContent = 8;

// 0, plus kCompareIgnoreSize when CmpSize reads off, plus kCompareIgnoreTime
// when CmpDate reads off; read from the settings at the moment of the call.
uint8_t TwinCompareFromSettings();

}  // namespace quarn
