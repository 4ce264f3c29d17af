#pragma once
// The N largest files of a walk, kept in a bounded heap while the walk runs.
// Order: more bytes first; equal sizes by path in unsigned byte order. The
// heap holds exactly the first N files of that order among those offered.
//
// A file that does not enter costs a comparison of its size (and, on a tie
// with the smallest file kept, a comparison of its path, made in a reused
// buffer); a file's path is stored only when it enters.
//
// Not thread-safe: one walk fills it on one thread; readers take a copy of
// Sorted() once the walk is over.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pipeline/ScanRequest.h"

namespace quarn {

class LargestFiles {
  public:
    struct Entry {
        std::string path;
        uint64_t bytes = 0;
        int64_t mtimeSeconds = 0;  // last write, seconds since 1970 (UTC)
    };

    // Keeps at most `capacity` files; 0 keeps none.
    explicit LargestFiles(size_t capacity = kDefaultLargestFiles);

    // Offers the file `name` of the folder `folderPath` (joined as the walk
    // joins paths).
    void Add(std::string_view folderPath, std::string_view name, uint64_t bytes,
             int64_t mtimeSeconds);

    // The files kept, largest first, equal sizes by path.
    std::vector<Entry> Sorted() const;
    size_t Size() const { return m_heap.size(); }
    size_t Capacity() const { return m_capacity; }

  private:
    // True when `a` comes after `b` in the order above: the heap keeps the
    // entry that comes last on top, ready to be pushed out.
    static bool ComesBefore(const Entry& a, const Entry& b);

    size_t m_capacity;
    std::vector<Entry> m_heap;
    std::string m_scratch;  // the path of a file whose size ties, reused
};

}  // namespace quarn
