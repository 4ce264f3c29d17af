#include "duplicates/TwinKeyHash.h"

#include <cstring>

#include "settings/TwinCompare.h"

namespace quarn {

uint32_t HashTwinKey(const TwinKey& key, uint8_t compare) {
    if ((compare & kCompareContent) != 0) {
        const uint64_t h = MixHash(0x9e3779b97f4a7c15ULL ^ key.size);
        return uint32_t(h >> 32) ^ uint32_t(h);
    }
    uint64_t h = 0x9e3779b97f4a7c15ULL ^ key.name.size();
    const char* p = key.name.data();
    size_t n = key.name.size();
    while (n >= 8) {
        uint64_t word;
        std::memcpy(&word, p, 8);
        h = MixHash(h ^ word);
        p += 8;
        n -= 8;
    }
    uint64_t tail = 0;
    std::memcpy(&tail, p, n);
    h = MixHash(h ^ tail);
    if ((compare & kCompareIgnoreSize) == 0) {
        h = MixHash(h ^ key.size);
    }
    if ((compare & kCompareIgnoreTime) == 0) {
        h = key.beyondFileTime ? MixHash(h ^ MixHash(uint64_t(key.exact.seconds)) ^ key.exact.ticks)
                               : MixHash(h ^ key.lastWriteTime);
    }
    return uint32_t(h >> 32) ^ uint32_t(h);
}

}  // namespace quarn
