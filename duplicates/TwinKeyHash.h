#pragma once
// Hashing for the twin index: a 64-bit finaliser, and the hash of a twin key
// over the fields that the compare flags make part of the twin test, so that
// twins always share a hash.

#include <cstdint>

#include "duplicates/TwinGroup.h"

namespace quarn {

// Mixes all bits of `h` into all bits of the result (a murmur3 finaliser).
inline uint64_t MixHash(uint64_t h) {
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ULL;
    h ^= h >> 33;
    return h;
}

// The hash of the name and, unless `compare` ignores them, the size and time.
uint32_t HashTwinKey(const TwinKey& key, uint8_t compare);

}  // namespace quarn
