#pragma once
// The twin index's walk order: ids sorted by their names in unsigned byte
// order, equal names with the later id first.
//
// Sorting by a comparison would read two names per comparison; instead the
// ids are sorted by their names four bytes at a time, as 64-bit keys (the
// next four bytes above the inverted id), and only runs that still agree are
// sorted again four bytes further. Each pass reads a name once.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string_view>
#include <vector>

namespace quarn {

// Bytes offset..offset+3 of a name as a big-endian number, zeros past its
// end. Names hold no zero byte, so comparing these chunk by chunk is the
// unsigned byte order with a shorter name first.
inline uint32_t NameChunk(std::string_view name, size_t offset) {
    uint32_t chunk = 0;
    for (size_t i = 0; i < 4; ++i) {
        unsigned char byte =
            offset + i < name.size() ? static_cast<unsigned char>(name[offset + i]) : 0;
        chunk = (chunk << 8) | byte;
    }
    return chunk;
}

// Sorts `count` keys whose low halves are inverted ids, by nameOf(id).
template <class NameOf>
void SortKeysByName(uint64_t* keys, size_t count, const NameOf& nameOf) {
    struct Range {
        size_t begin, end, offset;
    };
    std::vector<Range> pending{{0, count, 0}};
    while (!pending.empty()) {
        Range range = pending.back();
        pending.pop_back();
        for (size_t i = range.begin; i < range.end; ++i) {
            const uint32_t id = ~uint32_t(keys[i]);
            keys[i] = (uint64_t(NameChunk(nameOf(id), range.offset)) << 32) | uint32_t(keys[i]);
        }
        std::sort(keys + range.begin, keys + range.end);
        size_t run = range.begin;
        while (run < range.end) {
            size_t runEnd = run + 1;
            uint32_t chunk = uint32_t(keys[run] >> 32);
            while (runEnd < range.end && uint32_t(keys[runEnd] >> 32) == chunk) {
                ++runEnd;
            }
            // A chunk ending in a zero byte means the names ended: equal.
            if (runEnd - run > 1 && (chunk & 0xff) != 0) {
                pending.push_back(Range{run, runEnd, range.offset + 4});
            }
            run = runEnd;
        }
    }
}

// The ids 0..count-1 in the order of nameOf(id), in a buffer from malloc (at
// least one slot) that the caller frees. The sort keys are made in the same
// buffer, which is shrunk to the 32-bit ids once they are in order. Throws
// std::bad_alloc.
template <class NameOf>
uint32_t* OrderIdsByName(size_t count, const NameOf& nameOf) {
    auto* keys = static_cast<uint64_t*>(std::malloc(std::max<size_t>(count, 1) * sizeof(uint64_t)));
    if (keys == nullptr) {
        throw std::bad_alloc();
    }
    // Low half: the id inverted, so equal names sort the later id first.
    for (size_t id = 0; id < count; ++id) {
        keys[id] = ~uint32_t(id);
    }
    SortKeysByName(keys, count, nameOf);
    // Compact to 32-bit ids in place (writes never overtake reads).
    uint32_t* order = reinterpret_cast<uint32_t*>(keys);
    for (size_t i = 0; i < count; ++i) {
        uint32_t id = ~uint32_t(keys[i]);
        order[i] = id;
    }
    void* shrunk = std::realloc(keys, std::max<size_t>(count, 1) * sizeof(uint32_t));
    return static_cast<uint32_t*>(shrunk != nullptr ? shrunk : keys);
}

}  // namespace quarn
