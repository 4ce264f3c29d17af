#include "history/EarlierTree.h"

#include "foldersize/FolderTreeBuilder.h"
#include "platform/ImportReader.h"

namespace quarn {

EarlierTree::EarlierTree() : m_tree(std::make_unique<FolderSizeTree>()) {}

EarlierTree::~EarlierTree() = default;

bool EarlierTree::Read(const std::string& file, bool allocatedSizes, std::string& error,
                       const std::function<bool()>& keepGoing) {
    m_total = 0;
    m_rootPath.clear();
    // Built by the tree's own builder, so both sides count alike.
    m_tree->Reset(WalkOptions{}, allocatedSizes);
    {
        FolderTreeBuilder builder(*m_tree, FolderTreeStore::RootPlace::Folder,
                                  [&](const std::string&) { return !keepGoing || keepGoing(); });
        const ImportOutcome outcome = ReadImportFile(file, builder, error);
        builder.Commit();
        if (!outcome.Ok()) {
            if (error.empty()) {
                error = outcome.Describe();  // "stopped"
            }
            m_tree->Reset(WalkOptions{}, allocatedSizes);
            return false;
        }
    }
    m_rootPath = m_tree->GetRootPath();
    m_total = m_tree->GetFigures().total;
    return true;
}

}  // namespace quarn
