// Twin folders between the two modes: the twin engine finds them in its
// content search, the folder pane marks them, its treemap outlines them, and
// Show Twin reaches a copy the tree does not hold through the twin list.

#include <algorithm>

#include "app/MainFrame.h"
#include "app/ScanMode.h"
#include "controls/EngineSignals.h"
#include "duplicates/ui/TwinListView.h"
#include "foldersize/ui/FolderSizeView.h"
#include "foldersize/ui/TreemapView.h"

namespace quarn {

namespace {

bool SameSets(const std::vector<TwinFolderSet>& a, const std::vector<TwinFolderSet>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const TwinFolderSet& x, const TwinFolderSet& y) {
                          return x.bytes == y.bytes && x.files == y.files && x.folders == y.folders;
                      });
}

}  // namespace

void CMainFrame::ConnectTwinFolders() {
    connect(m_twinEvents, &EngineSignals::idle, this, &CMainFrame::FollowTwinFolders);
    connect(m_folderView, &CFolderSizeView::twinMarksChanged, m_treemap,
            [this] { m_treemap->SetTwinFolders(m_folderView->TwinMarks().Folders()); });
    connect(m_folderView, &CFolderSizeView::twinOutsideTree, this, &CMainFrame::ShowTwinInDupmatch);
}

void CMainFrame::ForgetTwinFolders() {
    m_markedTwinFolders.clear();
    m_folderView->SetTwinMarks({});
}

void CMainFrame::FollowTwinFolders() {
    // Between a scan's walk and its search, or while a search runs, the
    // engine's folders are not the search's yet.
    if (m_twinScanner.IsWorking()) {
        return;
    }
    // Only a new search makes marks: other jobs (a filter search, a
    // verification that finds the same) leave them as the disk's changes
    // left them.
    std::vector<TwinFolderSet> sets = m_twinScanner.TwinFolders();
    if (sets.empty() || SameSets(sets, m_markedTwinFolders)) {
        return;
    }
    TwinFolderMarks marks;
    for (const TwinFolderSet& set : sets) {
        marks.AddSet(set.bytes, set.folders);
    }
    m_markedTwinFolders = std::move(sets);
    m_folderView->SetTwinMarks(std::move(marks));
}

void CMainFrame::ShowTwinInDupmatch(const std::string& path) {
    OnModeDupmatch();
    if (m_twinList->ShowPath(path)) {
        m_twinList->setFocus(Qt::OtherFocusReason);
    }
}

}  // namespace quarn
