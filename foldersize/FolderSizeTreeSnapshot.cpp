#include "foldersize/FolderSizeTree.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>

#include "foldersize/SizeText.h"
#include "platform/ByteSum.h"
#include "platform/PathRules.h"

namespace quarn {

TreemapTree FolderSizeTree::TreemapSnapshot() const {
    using Kind = TreemapTree::Kind;
    TreemapTree tree;
    // The largest files by the item of their folder, found before the lock
    // is taken (FindFolderItem takes it itself), once per folder.
    // A running scan has none yet (the finished scan's belong to another tree).
    const bool haveStats = m_fileStats.Stats() != nullptr;
    const std::vector<LargestFiles::Entry> largest =
        haveStats ? m_fileStats.Largest() : std::vector<LargestFiles::Entry>();
    std::unordered_map<NodeHandle, std::vector<size_t>> filesOfFolder;
    if (haveStats) {
        for (const FileTypeTally::Row& row : m_fileStats.Types()) {
            if (tree.paletteTypes.size() == TreemapTree::kPaletteSize) {
                break;
            }
            tree.paletteTypes.push_back(row.ext);
        }
        std::unordered_map<std::string_view, NodeHandle> folderItems;
        for (size_t i = 0; i < largest.size(); ++i) {
            const std::string_view folder = FolderOfPath(largest[i].path);
            if (folder.empty()) {
                continue;
            }
            auto [found, added] = folderItems.try_emplace(folder, kNoNode);
            if (added) {
                found->second = FindFolderItem(std::string(folder));
            }
            if (found->second != kNoNode) {
                filesOfFolder[found->second].push_back(i);
            }
        }
    }
    auto colourOf = [&](std::string_view path) {
        const std::string ext = FileTypeTally::ExtensionOf(NameOfPath(path));
        auto it = std::find(tree.paletteTypes.begin(), tree.paletteTypes.end(), ext);
        return it == tree.paletteTypes.end() ? TreemapTree::kGrey
                                             : int(it - tree.paletteTypes.begin());
    };

    std::lock_guard lock(StoreMutex());
    if (m_hScanRoot == kNoNode || !IsLiveItemLocked(m_hScanRoot)) {
        return tree;
    }
    tree.rootPath = m_strRootPath;
    tree.AddRoot(GetItemSizeLocked(m_hScanRoot).value_or(0), m_hScanRoot,
                 GetItemNameLocked(m_hScanRoot));
    // Breadth first over the nodes as they are added, so that each node's
    // children are added together.
    for (uint32_t at = 0; at < tree.Size(); ++at) {
        const TreemapTree::Node node = tree.At(at);  // a copy: adding moves nodes
        if (node.kind == Kind::File || node.kind == Kind::Rest) {
            continue;
        }
        const int childCount = node.kind == Kind::Folder ? GetChildCountLocked(node.item) : 0;
        for (int row = 0; row < childCount; ++row) {
            const NodeHandle child = GetChildItemLocked(node.item, row);
            if (!IsLiveItemLocked(child)) {
                continue;
            }
            const bool filesItem = IsFilesItemLocked(child);
            tree.AddChild(at, filesItem ? Kind::FilesItem : Kind::Folder,
                          GetItemSizeLocked(child).value_or(0), child,
                          filesItem ? FilesItemText(GetItemFileCountLocked(child))
                                    : GetItemNameLocked(child));
        }
        if (childCount > 0) {
            continue;
        }
        // This node holds its folder's own files.
        const NodeHandle folder =
            node.kind == Kind::FilesItem ? GetParentItemLocked(node.item) : node.item;
        auto files = filesOfFolder.find(folder);
        if (files == filesOfFolder.end()) {
            continue;
        }
        uint64_t known = 0;
        for (size_t i : files->second) {
            tree.AddChild(at, Kind::File, largest[i].bytes, node.item, largest[i].path,
                          colourOf(largest[i].path));
            AddBytes(known, largest[i].bytes);
        }
        if (node.bytes > known) {
            tree.AddChild(at, Kind::Rest, node.bytes - known, node.item, {});
        }
    }
    return tree;
}

}  // namespace quarn
