#pragma once
// What the folder-size tests share: a settings file per test, hard links,
// the items of a finished scan by path, and the comparison of a tree that
// was changed after its scan with a fresh scan of the same folder.

#include <map>
#include <string>

#include "foldersize/FolderSizeView.h"
#include "tests/support/TempTree.h"

namespace quarn::test {

// Every test gets its own settings file, with the two scan settings chosen.
class ScanSettings {
  public:
    ScanSettings(bool sortBySize, bool relativeToDrive);

  private:
    TempTree m_folder;
    ScopedEnv m_ini;
};

// Makes `relative` another name of the file `existing` (both in `tree`).
void MakeHardLink(const TempTree& tree, const std::string& existing, const std::string& relative);

// The live items of a scan by their paths, files items under path +
// "|files"; every item must have a path.
std::map<std::string, NodeHandle> ItemsByPath(const CFolderSizeView& view);

// Expects `view` to show what a new scan of its folder shows now: the same
// items with the same sizes, files items and percentages, the same order of
// every folder's children, and the same total and counts (a network-style
// scan's status names them). The count of linked names is not compared: a
// file's link count on the disk changes with what became of its other
// names (deleted, or still in the trash), which the tree does not know.
void ExpectSameAsFreshScan(const CFolderSizeView& view);

}  // namespace quarn::test
