// The folder tree model's twin folders: which item a mark belongs to, and
// its image.

#include "controls/AppIcons.h"
#include "foldersize/ui/FolderTreeModel.h"

namespace quarn {

std::optional<TwinFolderMarks::Mark> FolderTreeModel::TwinMarkOf(NodeHandle item) const {
    if (m_twinMarks == nullptr || m_twinMarks->Empty() ||
        m_store.GetItemKind(item) != NodeKind::Folder) {
        return std::nullopt;
    }
    const std::optional<std::string> path = m_store.GetItemPath(item);
    return path ? m_twinMarks->Find(*path) : std::nullopt;
}

QIcon FolderTreeModel::TwinIcon() const {
    // Beyond the kinds' keys, which count from 0.
    constexpr int kTwinKey = -1;
    auto cached = m_icons.constFind(kTwinKey);
    if (cached != m_icons.constEnd()) {
        return *cached;
    }
    return *m_icons.insert(kTwinKey, QIcon(TwinFolderItemImage()));
}

}  // namespace quarn
