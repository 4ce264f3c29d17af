#include "settings/TwinCompare.h"

#include "settings/Settings.h"

namespace quarn {

uint8_t TwinCompareFromSettings() {
    uint8_t compare = 0;
    if (!ReadSetting(kCmpSize)) {
        compare |= kCompareIgnoreSize;
    }
    if (!ReadSetting(kCmpDate)) {
        compare |= kCompareIgnoreTime;
    }
    return compare;
}

}  // namespace quarn
