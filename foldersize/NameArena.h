#pragma once
// The names of a tree's items, each stored once, back to back, in blocks of
// 64 KB: a name costs its bytes and one length byte, with no allocation of
// its own. Names of up to 255 bytes (every entry name Linux allows) live in
// the blocks; a longer one (a scan root's path) gets a string of its own.
//
// A name is never changed or freed in place: a rename adds the new name and
// the old bytes stay until the whole arena goes. Not thread-safe by itself;
// the tree list guards it with its lock.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quarn {

class NameArena {
  public:
    using Ref = uint32_t;

    // Stores `name` and returns its reference. Throws std::length_error when
    // the arena cannot address more (2 GB of names).
    Ref Add(std::string_view name);
    // The name of a reference made by Add; valid until the arena goes.
    std::string_view Get(Ref ref) const;

  private:
    static constexpr size_t kBlockBytes = size_t(1) << 16;
    static constexpr size_t kMaxShortName = 255;
    // Long names are numbered with this bit set.
    static constexpr Ref kLongName = Ref(1) << 31;

    std::vector<std::unique_ptr<char[]>> m_blocks;
    size_t m_used = kBlockBytes;  // bytes used in the last block; full before the first
    std::vector<std::string> m_longNames;
};

}  // namespace quarn
