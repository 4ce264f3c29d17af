#pragma once
// The hash of what a kept scan holds: the bytes of its export after the
// first line, which is the metadata (program version and the time of the
// scan). Two scans of an unchanged tree write the same bytes there (the walk
// keeps each folder's listing order), so the second is not kept again; a
// scan that would write other bytes is another scan.
//
// Fed the export in pieces as they are written, cut anywhere. One thread.

#include <xxhash.h>

#include <cstddef>
#include <cstdint>

namespace quarn {

class ExportContentHash {
  public:
    ExportContentHash();
    ~ExportContentHash();
    ExportContentHash(const ExportContentHash&) = delete;
    ExportContentHash& operator=(const ExportContentHash&) = delete;

    void Add(const char* bytes, size_t size);
    uint64_t Digest() const;

  private:
    XXH3_state_t* m_state;
    bool m_pastMetadata = false;
};

}  // namespace quarn
