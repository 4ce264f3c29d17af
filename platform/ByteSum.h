#pragma once
// Sums of byte counts that stop at the largest count instead of wrapping.
// One size fits 63 bits (the walk's st_size, an import's checked "asize"),
// but three of them already overflow 64: a wrapped total would read smaller
// than one of its own parts. A sum at kSaturatedBytes means "at least this
// much", and stays there: what a removal takes off it is unknown, so
// ReplaceBytes leaves it as it is (a new scan counts anew).
//
// Every engine adds sizes through these; plain functions, any thread.

#include <algorithm>
#include <cstdint>

namespace quarn {

inline constexpr uint64_t kSaturatedBytes = UINT64_MAX;

constexpr uint64_t SaturatingAdd(uint64_t a, uint64_t b) {
    uint64_t sum = 0;
    return __builtin_add_overflow(a, b, &sum) ? kSaturatedBytes : sum;
}

constexpr void AddBytes(uint64_t& sum, uint64_t bytes) {
    sum = SaturatingAdd(sum, bytes);
}

constexpr uint64_t SaturatingMultiply(uint64_t a, uint64_t b) {
    uint64_t product = 0;
    return __builtin_mul_overflow(a, b, &product) ? kSaturatedBytes : product;
}

// `part` taken off `total`, never below 0; a saturated total stays saturated.
constexpr uint64_t SubtractBytes(uint64_t total, uint64_t part) {
    if (total == kSaturatedBytes) {
        return kSaturatedBytes;
    }
    return total - std::min(total, part);
}

// `total` after `removed` bytes left it and `added` bytes joined it.
constexpr uint64_t ReplaceBytes(uint64_t total, uint64_t removed, uint64_t added) {
    if (total == kSaturatedBytes) {
        return kSaturatedBytes;
    }
    return SaturatingAdd(SubtractBytes(total, removed), added);
}

}  // namespace quarn
