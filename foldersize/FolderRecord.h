#pragma once
// What the folder scan knows about one item it made: a folder's total or a
// files item's sum. Records are owned by the folder-size view and attached
// to their items as user data.

#include <cstdint>
#include <string>

#include "foldersize/CompactText.h"
#include "foldersize/TreeListCtrl.h"

namespace quarn {

struct FolderRecord {
    HTREEITEM m_hItem = TVI_NULL;
    // The item's own text when the record was made: the folder name, the
    // scan root's path, or "files" for a files item.
    CompactText m_strName;
    // Bytes: a folder's total (its files and all subfolders), or for a files
    // item the sum of its folder's own files.
    uint64_t m_nSize = 0;
    // A files item stands for its folder: its path is the folder's path.
    bool m_bFilesItem = false;
};

}  // namespace quarn
