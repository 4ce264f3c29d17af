#pragma once
// The texts of the columns after the first of one tree-list item, packed
// into one compact text: a size text such as "117.738 MB" fits inside it,
// so a store of a million items makes no allocation for them.
//
// Not thread-safe by itself; the tree list guards it with its lock.

#include <cstddef>
#include <string>
#include <string_view>

#include "foldersize/CompactText.h"

namespace quarn {

class ColumnTexts {
  public:
    // Number of stored entries (entry 0 is column 1). Missing entries in
    // between are stored empty.
    size_t Count() const;
    // The text of entry `index`, empty when there is none.
    std::string_view Get(size_t index) const;
    // Stores `text` as entry `index`, growing the list with empty entries.
    void Set(size_t index, std::string_view text);
    bool Empty() const { return m_packed.empty(); }

  private:
    // Each entry: its length as a 4-byte little-endian number, then its bytes.
    CompactText m_packed;
};

}  // namespace quarn
