// The Dirmass pane's comparison with an earlier scan: the Change column, a
// node per removed folder, the order by change and the growth colours.

#include "foldersize/ui/FolderSizeView.h"
#include "foldersize/ui/FolderTreeModel.h"
#include "foldersize/ui/GrowthColour.h"

namespace quarn {

namespace {

std::string LastName(const std::string& key) {
    const size_t slash = key.rfind('/');
    return slash == std::string::npos ? key : key.substr(slash + 1);
}

}  // namespace

void CFolderSizeView::ShowComparison(std::shared_ptr<const FolderComparison> comparison,
                                     std::string earlierFile) {
    EndComparison();
    if (comparison == nullptr) {
        return;
    }
    FolderSizeTree& tree = m_scanner.Tree();
    m_comparison.comparison = std::move(comparison);
    m_comparison.earlierFile = std::move(earlierFile);
    for (const RemovedFolder& removed : m_comparison.comparison->Removed()) {
        const NodeHandle node =
            tree.InsertItem(LastName(removed.key), NodeKind::Folder, removed.parent);
        if (node != kNoNode) {
            tree.SetItemSize(node, 0);
            m_comparison.removedNodes.emplace(node, &removed);
        }
    }
    Model().SetComparison(&m_comparison);
    ShowChanges();
    setColumnHidden(FolderTreeModel::kChangeColumn, false);
    Q_EMIT comparisonChanged();
}

void CFolderSizeView::EndComparison() {
    if (m_comparison.comparison == nullptr) {
        return;
    }
    if (m_orderByChange) {
        SetOrderByChange(false);
    }
    FolderSizeTree& tree = m_scanner.Tree();
    for (const auto& [node, removed] : m_comparison.removedNodes) {
        tree.DeleteItem(node);
    }
    Model().SetComparison(nullptr);
    m_comparison = ShownComparison();
    ShowChanges();
    setColumnHidden(FolderTreeModel::kChangeColumn, true);
    Q_EMIT comparisonChanged();
}

void CFolderSizeView::SetOrderByChange(bool byChange) {
    if (m_comparison.comparison == nullptr || m_scanner.IsScanRunning()) {
        return;
    }
    m_orderByChange = byChange;
    FolderSizeTree& tree = m_scanner.Tree();
    std::unordered_map<NodeHandle, int64_t> keys;
    for (const auto& [node, change] : m_comparison.comparison->Changes()) {
        // Off again: by size, as the scan ordered them.
        const int64_t size =
            int64_t(std::min<uint64_t>(tree.GetItemSize(node).value_or(0), uint64_t(INT64_MAX)));
        keys.emplace(node, byChange ? change.change : size);
    }
    for (const auto& [node, removed] : m_comparison.removedNodes) {
        keys.emplace(node, byChange ? -int64_t(std::min<uint64_t>(removed->size, INT64_MAX)) : 0);
    }
    tree.SortChildrenByKeys(std::move(keys));
    ShowChanges();
}

TreemapPainter::TileColour CFolderSizeView::GrowthTileColour() const {
    if (m_comparison.comparison == nullptr) {
        return {};
    }
    return [comparison = m_comparison.comparison](uint64_t item) -> std::optional<QRgb> {
        const std::optional<FolderChange> change = comparison->ChangeOf(item);
        if (!change) {
            return std::nullopt;
        }
        return GrowthColour(change->change, change->earlierSize, change->isNew);
    };
}

}  // namespace quarn
