// The main window's comparison with an earlier scan: keeping every finished
// scan, the dialog that picks the earlier one, its read on a thread of its
// own, and the panes following the comparison.

#include <QAction>
#include <QLabel>
#include <QStatusBar>

#include "app/MainFrame.h"
#include "controls/FileNameText.h"
#include "controls/ShellOperations.h"
#include "foldersize/SizeText.h"
#include "foldersize/ui/FolderSizeView.h"
#include "foldersize/ui/TreemapView.h"
#include "history/ChangeText.h"
#include "history/EarlierTree.h"
#include "history/KeptScanWriter.h"
#include "history/ui/CompareDialog.h"

#ifndef QUARN_VERSION
#error "QUARN_VERSION must name the program's version"
#endif

namespace quarn {

namespace {

// So many removed folders the status tool tip names; the rest it counts.
constexpr size_t kRemovedInToolTip = 25;
constexpr int kKeepFailureMs = 15000;

}  // namespace

void CMainFrame::KeepScans() {
    m_folderScanner.SetScanKeeper(KeptScanMaker(QUARN_VERSION, [this](const KeepOutcome& outcome) {
        if (outcome.kind != ScanStore::Kept::Failed) {
            return;
        }
        // The engine's thread: the window hears it on its own.
        {
            std::lock_guard lock(m_keepFailureLock);
            m_keepFailure = outcome.error;
        }
        QMetaObject::invokeMethod(this, "ShowKeepFailure", Qt::QueuedConnection);
    }));
}

void CMainFrame::ShowKeepFailure() {
    QString shown;
    {
        std::lock_guard lock(m_keepFailureLock);
        shown = FileNameText(m_keepFailure);
    }
    if (!shown.isEmpty()) {
        shown[0] = shown[0].toUpper();
        statusBar()->showMessage(shown, kKeepFailureMs);
    }
}

void CMainFrame::CreateCompareActions() {
    m_actCompare = new QAction(tr("Compare with Earlier Scan..."), this);
    m_actCompare->setStatusTip(tr("Show what changed since a kept scan or an export"));
    connect(m_actCompare, &QAction::triggered, this, &CMainFrame::OnCompare);
    m_actEndCompare = new QAction(tr("End Comparison"), this);
    connect(m_actEndCompare, &QAction::triggered, this, [this] { m_folderView->EndComparison(); });
    m_actOrderByChange = new QAction(tr("Order by Change"), this);
    m_actOrderByChange->setCheckable(true);
    m_actOrderByChange->setStatusTip(tr("While comparing, order each folder's items by change"));
    connect(m_actOrderByChange, &QAction::triggered, this,
            [this](bool checked) { m_folderView->SetOrderByChange(checked); });
    connect(m_folderView, &CFolderSizeView::comparisonChanged, this, &CMainFrame::FollowComparison);
}

void CMainFrame::OnCompare() {
    const std::string folder = m_folderScanner.Tree().GetRootPath();
    if (folder.empty() || m_folderScanner.IsScanRunning() || m_earlierReading) {
        return;
    }
    CompareDialog dialog(folder, ScanStore(), this);
    if (dialog.exec() != QDialog::Accepted || dialog.ChosenFile().empty()) {
        return;
    }
    CompareWith(dialog.ChosenFile());
}

void CMainFrame::CompareWith(const std::string& file) {
    if (m_folderScanner.IsScanRunning() || m_earlierReading) {
        return;
    }
    m_earlierReading = true;
    m_stopEarlierRead.store(false);
    ShowStatus(tr("Reading the earlier scan %1...").arg(FileNameText(file)));
    RefreshCommands();
    m_earlierRead = EarlierRead{file, m_folderScanner.Tree().GetRootItem(), nullptr, {}};
    const bool allocated = m_folderScanner.Tree().AreSizesAllocated();
    m_earlierReader = std::jthread([this, file, allocated] {
        EarlierTree earlier;
        if (earlier.Read(file, allocated, m_earlierRead.error,
                         [this] { return !m_stopEarlierRead.load(); })) {
            m_earlierRead.comparison =
                std::make_shared<FolderComparison>(m_folderScanner.Tree(), earlier);
        }
        QMetaObject::invokeMethod(this, "ShowEarlierScan", Qt::QueuedConnection);
    });
}

void CMainFrame::ShowEarlierScan() {
    m_earlierReading = false;
    if (m_earlierReader.joinable()) {
        m_earlierReader.join();
    }
    EarlierRead read = std::move(m_earlierRead);
    m_earlierRead = EarlierRead{};
    const QString file = FileNameText(read.file);
    m_nShownMode = -1;  // the scan's own status comes back
    RefreshStatus();
    RefreshCommands();
    if (read.comparison == nullptr) {
        ShowErrorMessage(this, tr("Compare with Earlier Scan"),
                         tr("%1 cannot be compared: %2").arg(file, FileNameText(read.error)));
        return;
    }
    // A scan that began meanwhile made another tree: the comparison is stale.
    if (m_folderScanner.IsScanRunning() || m_folderScanner.Tree().GetRootItem() != read.root) {
        ShowStatus(tr("The tree changed while the earlier scan was read; compare again"));
        return;
    }
    m_folderView->ShowComparison(std::move(read.comparison), read.file);
}

void CMainFrame::FollowComparison() {
    const bool comparing = m_folderView->IsComparing();
    m_treemap->SetTileColour(m_folderView->GrowthTileColour());
    m_actOrderByChange->setChecked(m_folderView->IsOrderedByChange());
    RefreshCommands();
    if (!comparing) {
        m_statusText->setToolTip(QString());
        return;
    }
    const FolderComparison& comparison = *m_folderView->Comparison().comparison;
    QString tip = tr("Compared with %1\nTotal change: %2")
                      .arg(FileNameText(m_folderView->Comparison().earlierFile),
                           QString::fromStdString(SignedSizeText(comparison.TotalChange())));
    const std::vector<RemovedFolder>& removed = comparison.Removed();
    if (!removed.empty()) {
        tip += tr("\nRemoved folders:");
        for (size_t i = 0; i < removed.size() && i < kRemovedInToolTip; ++i) {
            tip += QStringLiteral("\n") + QString::fromStdString(FormatSize(removed[i].size)) +
                   QStringLiteral("  ") + FileNameText(removed[i].path);
        }
        if (removed.size() > kRemovedInToolTip) {
            tip += tr("\nand %1 more").arg(removed.size() - kRemovedInToolTip);
        }
    }
    m_statusText->setToolTip(tip);
}

}  // namespace quarn
