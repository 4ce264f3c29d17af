#pragma once
// What the twin test compares besides the names, as the settings CmpSize and
// CmpDate say: the bits of TwinGroup::m_nCompare. Names are always compared.

#include <cstdint>

namespace quarn {

inline constexpr uint8_t kCompareIgnoreSize = 2;
inline constexpr uint8_t kCompareIgnoreTime = 4;

// 0, plus kCompareIgnoreSize when CmpSize reads off, plus kCompareIgnoreTime
// when CmpDate reads off; read from the settings at the moment of the call.
uint8_t TwinCompareFromSettings();

}  // namespace quarn
