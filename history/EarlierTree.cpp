#include "history/EarlierTree.h"

#include "foldersize/FolderTreeBuilder.h"
#include "history/FolderSizeWalk.h"
#include "platform/ImportReader.h"

namespace quarn {

bool EarlierTree::Read(const std::string& file, bool allocatedSizes, std::string& error,
                       const std::function<bool()>& keepGoing) {
    m_sizes.clear();
    m_total = 0;
    m_rootPath.clear();
    // Built by the tree's own builder, so both sides count alike; the tree
    // goes once its sizes are taken.
    FolderSizeTree tree;
    tree.Reset(WalkOptions{}, allocatedSizes);
    {
        FolderTreeBuilder builder(tree, FolderTreeStore::RootPlace::Folder,
                                  [&](const std::string&) { return !keepGoing || keepGoing(); });
        const ImportOutcome outcome = ReadImportFile(file, builder, error);
        builder.Commit();
        if (!outcome.Ok()) {
            if (error.empty()) {
                error = outcome.Describe();  // "stopped"
            }
            return false;
        }
    }
    m_rootPath = tree.GetRootPath();
    m_total = tree.GetFigures().total;
    VisitFolderSizes(tree, [&](const std::string& key, NodeHandle, std::optional<uint64_t> size) {
        m_sizes.emplace(key, size.value_or(0));
    });
    return true;
}

std::optional<uint64_t> EarlierTree::SizeOf(const std::string& key) const {
    const auto found = m_sizes.find(key);
    if (found == m_sizes.end()) {
        return std::nullopt;
    }
    return found->second;
}

}  // namespace quarn
