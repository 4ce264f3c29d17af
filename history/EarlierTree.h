#pragma once
// An earlier scan, read from its export (plain, zstd or gzip) into what a
// comparison needs and nothing more: each folder's (and files item's) size
// by its path below the root (FolderSizeWalk.h). Sizes are counted as the
// folder-size tree counts them (each inode once per folder, the measure
// asked for), so an unchanged tree compares as unchanged.
//
// Plain data, read on one thread and then read from any.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>

namespace quarn {

class EarlierTree {
  public:
    // Reads `file`; false with `error` (why it could not be read, or where
    // it is damaged, as an import says it). `keepGoing`, when given, is
    // asked once per folder; false stops the read (error "stopped").
    bool Read(const std::string& file, bool allocatedSizes, std::string& error,
              const std::function<bool()>& keepGoing = {});

    std::optional<uint64_t> SizeOf(const std::string& key) const;
    uint64_t Total() const { return m_total; }
    // The root's path as the earlier scan walked it.
    const std::string& RootPath() const { return m_rootPath; }
    const std::unordered_map<std::string, uint64_t>& Sizes() const { return m_sizes; }

  private:
    std::unordered_map<std::string, uint64_t> m_sizes;
    uint64_t m_total = 0;
    std::string m_rootPath;
};

}  // namespace quarn
