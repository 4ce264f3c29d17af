#pragma once
// An earlier scan, read from its export (plain, zstd or gzip) into a folder
// tree of its own: the same compact tree a scan builds, so that holding the
// earlier scan costs what showing it would. Sizes are counted as the
// folder-size tree counts them (each inode once per folder, the measure
// asked for), so an unchanged tree compares as unchanged.
//
// Read on one thread; afterwards only read, from any.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "foldersize/FolderSizeTree.h"

namespace quarn {

class EarlierTree {
  public:
    EarlierTree();
    ~EarlierTree();

    // Reads `file`; false with `error` (why it could not be read, or where
    // it is damaged, as an import says it). `keepGoing`, when given, is
    // asked once per folder; false stops the read (error "stopped").
    bool Read(const std::string& file, bool allocatedSizes, std::string& error,
              const std::function<bool()>& keepGoing = {});

    const FolderSizeTree& Tree() const { return *m_tree; }
    uint64_t Total() const { return m_total; }
    // The root's path as the earlier scan walked it.
    const std::string& RootPath() const { return m_rootPath; }

  private:
    std::unique_ptr<FolderSizeTree> m_tree;
    uint64_t m_total = 0;
    std::string m_rootPath;
};

}  // namespace quarn
