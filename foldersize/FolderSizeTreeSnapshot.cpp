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

    {
        std::lock_guard lock(StoreMutex());
        if (m_hScanRoot == kNoNode || !IsLiveItemLocked(m_hScanRoot)) {
            return tree;
        }
        tree.rootPath = m_strRootPath;
        tree.AddRoot(GetItemSizeLocked(m_hScanRoot).value_or(0), m_hScanRoot,
                     GetItemNameLocked(m_hScanRoot));
    }
    // Breadth first over the nodes as they are added, so that each node's
    // children are added together. The store's lock is held in slices, each
    // only long enough to copy out the children of some nodes: the interface
    // thread, which reads the store too, never waits for a whole big tree.
    // A node read in a later slice may have changed meanwhile; the layout
    // goes by the children's own bytes, so the picture stays whole.
    struct StagedChild {
        NodeHandle item;
        uint64_t bytes;
        int64_t fileCount;  // a files item's; -1 for a folder
        uint32_t nameOffset;
        uint32_t nameLength;
    };
    struct StagedNode {
        size_t firstChild;
        size_t endChild;
        int childCount;     // in the store, live or not
        NodeHandle folder;  // whose own files the node holds (childCount 0)
    };
    constexpr size_t kChildrenPerSlice = 8192;
    std::vector<StagedChild> staged;
    std::vector<StagedNode> nodes;
    std::string names;
    for (uint32_t at = 0; at < tree.Size();) {
        staged.clear();
        nodes.clear();
        names.clear();
        uint32_t end = at;
        {
            std::lock_guard lock(StoreMutex());
            for (; end < tree.Size() && staged.size() < kChildrenPerSlice; ++end) {
                const TreemapTree::Node& node = tree.At(end);
                StagedNode out{staged.size(), staged.size(), 0, kNoNode};
                if (node.kind == Kind::Folder || node.kind == Kind::FilesItem) {
                    const bool live = IsLiveItemLocked(node.item);
                    out.childCount =
                        node.kind == Kind::Folder && live ? GetChildCountLocked(node.item) : 0;
                    for (int row = 0; row < out.childCount; ++row) {
                        const NodeHandle child = GetChildItemLocked(node.item, row);
                        if (!IsLiveItemLocked(child)) {
                            continue;
                        }
                        const bool filesItem = IsFilesItemLocked(child);
                        const std::string_view name =
                            filesItem ? std::string_view() : GetItemNameViewLocked(child);
                        staged.push_back(StagedChild{child, GetItemSizeLocked(child).value_or(0),
                                                     filesItem ? GetItemFileCountLocked(child) : -1,
                                                     uint32_t(names.size()),
                                                     uint32_t(name.size())});
                        names.append(name);
                    }
                    out.endChild = staged.size();
                    if (out.childCount == 0 && live) {
                        out.folder = node.kind == Kind::FilesItem ? GetParentItemLocked(node.item)
                                                                  : node.item;
                    }
                }
                nodes.push_back(out);
            }
        }
        for (uint32_t i = 0; i < nodes.size(); ++i) {
            const uint32_t parent = at + i;
            const StagedNode& staging = nodes[i];
            for (size_t c = staging.firstChild; c < staging.endChild; ++c) {
                const StagedChild& child = staged[c];
                if (child.fileCount >= 0) {
                    tree.AddChild(parent, Kind::FilesItem, child.bytes, child.item,
                                  FilesItemText(child.fileCount));
                } else {
                    tree.AddChild(
                        parent, Kind::Folder, child.bytes, child.item,
                        std::string_view(names).substr(child.nameOffset, child.nameLength));
                }
            }
            if (staging.childCount > 0 || staging.folder == kNoNode) {
                continue;
            }
            // This node holds its folder's own files.
            auto files = filesOfFolder.find(staging.folder);
            if (files == filesOfFolder.end()) {
                continue;
            }
            const uint64_t nodeBytes = tree.At(parent).bytes;
            uint64_t known = 0;
            for (size_t f : files->second) {
                tree.AddChild(parent, Kind::File, largest[f].bytes, tree.At(parent).item,
                              largest[f].path, colourOf(largest[f].path));
                AddBytes(known, largest[f].bytes);
            }
            if (nodeBytes > known) {
                tree.AddChild(parent, Kind::Rest, nodeBytes - known, tree.At(parent).item, {});
            }
        }
        at = end;
    }
    return tree;
}

}  // namespace quarn
