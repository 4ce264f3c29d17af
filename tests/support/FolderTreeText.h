#pragma once
// What the pane and the report show of a folder-tree node, for tests that
// compare texts: its name (or "[n files]") and its size text.

#include <optional>
#include <string>

#include "foldersize/FolderTreeStore.h"
#include "foldersize/SizeText.h"

namespace quarn::test {

inline std::string ItemText(const FolderTreeStore& store, NodeHandle item) {
    return store.IsFilesItem(item) ? FilesItemText(store.GetItemFileCount(item))
                                   : store.GetItemName(item);
}

inline std::string ItemSizeText(const FolderTreeStore& store, NodeHandle item) {
    const std::optional<uint64_t> size = store.GetItemSize(item);
    return size ? FormatSize(*size) : std::string();
}

}  // namespace quarn::test
