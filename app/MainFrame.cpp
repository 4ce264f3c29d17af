#include "app/MainFrame.h"

#include <unistd.h>
#include <QCloseEvent>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QThread>
#include <QTimer>
#include <QToolBar>

#include "app/CommandLine.h"
#include "app/FileTypesDialog.h"
#include "app/LargestFilesDialog.h"
#include "app/LargestFilesList.h"
#include "app/ScanMode.h"
#include "app/ScanSummary.h"
#include "app/StatusSummaryField.h"
#include "app/TwinCommands.h"
#include "app/UserMessageBox.h"
#include "controls/AppIcons.h"
#include "controls/DiskChanges.h"
#include "controls/EngineSignals.h"
#include "controls/FileNameText.h"
#include "controls/PathCombo.h"
#include "duplicates/ui/TwinListView.h"
#include "filter/ui/CFileFilterDlg.h"
#include "foldersize/ui/FolderSizeView.h"
#include "foldersize/ui/FolderTreeModel.h"
#include "foldersize/ui/TreemapView.h"
#include "platform/PathRules.h"
#include "settings/ScanScope.h"
#include "settings/Settings.h"
#include "settings/ShellIntegration.h"
#include "settings/ui/SettingsDlg.h"

namespace quarn {

namespace {

constexpr int kSettingsWarningMs = 30000;
// How the folder pane is shared when the treemap opens: the tree above it
// gets a little more, the map room of its own.
constexpr int kTreeShare = 550;
constexpr int kTreemapShare = 450;

}  // namespace

CMainFrame::CMainFrame(const std::vector<std::string>& arguments, QWidget* parent)
    : QMainWindow(parent),
      m_messageBox(std::make_unique<UserMessageBox>(this)),
      m_twinScanner(m_messageBox->Presenter()),
      m_folderScanner(m_messageBox->Presenter()) {
    ApplyShellIntegration();

    setWindowTitle(QStringLiteral("Quarn"));
    setWindowIcon(ProgramIcon());
    const StartOptions options = ParseCommandLine(arguments);
    ScanMode = options.scanMode;

    const UserMessagePresenter presenter = m_messageBox->Presenter();
    m_diskChanges = new DiskChanges(this);
    m_folderEvents = new EngineSignals(this);
    m_twinEvents = new EngineSignals(this);
    m_folderScanner.SetObserver(FolderScanner::Observer{m_folderEvents->ProgressCallback(),
                                                        m_folderEvents->IdleCallback(),
                                                        m_folderEvents->ChangedCallback()});
    m_twinScanner.SetObserver(
        TwinScanner::Observer{m_twinEvents->ProgressCallback(), m_twinEvents->IdleCallback()});
    m_folderScanner.SetTwinFeed(&m_twinScanner);
    for (EngineSignals* events : {m_folderEvents, m_twinEvents}) {
        connect(events, &EngineSignals::progressed, this, [this] {
            RefreshStatus();
            RefreshSummary();
        });
        connect(events, &EngineSignals::idle, this, [this] {
            RefreshStatus();
            RefreshSummary();
            RefreshCommands();
        });
    }
    connect(m_folderEvents, &EngineSignals::idle, this, &CMainFrame::RefreshFileStats);
    connect(m_folderEvents, &EngineSignals::changed, this, &CMainFrame::RefreshFileStats);

    m_paneArea = new QWidget(this);
    m_paneArea->installEventFilter(this);
    setCentralWidget(m_paneArea);
    m_folderSplitter = new QSplitter(Qt::Vertical, m_paneArea);
    m_folderView = new CFolderSizeView(m_folderScanner, *m_folderEvents, *m_diskChanges, presenter,
                                       m_folderSplitter);
    m_treemap = new TreemapView(m_folderScanner, *m_folderEvents, m_folderSplitter);
    m_folderSplitter->setStretchFactor(0, 3);
    m_folderSplitter->setStretchFactor(1, 2);
    // The map gets room of its own from the start, not the tree's leftovers.
    m_folderSplitter->setSizes({kTreeShare, kTreemapShare});
    // Dragging the map shut closes it as the View item does, remembered.
    connect(m_folderSplitter, &QSplitter::splitterMoved, this, [this] {
        if (m_folderSplitter->sizes().value(1) == 0 && m_actTreemap->isChecked()) {
            m_actTreemap->setChecked(false);
            OnShowTreemap(false);
        }
    });
    m_treemap->setVisible(ReadSetting(kShowTreemap, true));
    connect(m_treemap, &TreemapView::hovered, this, [this](const QString& text) {
        if (!text.isEmpty()) {
            ShowStatus(text);
            return;
        }
        // The pointer left the map: the scan's own status comes back.
        m_nShownMode = -1;
        RefreshStatus();
    });
    connect(m_treemap, &TreemapView::itemClicked, this, [this](NodeHandle item) {
        const QModelIndex index = m_folderView->Model().IndexOf(item);
        if (index.isValid()) {
            m_folderView->setCurrentIndex(index);
            m_folderView->scrollTo(index);
        }
    });
    connect(m_folderView->selectionModel(), &QItemSelectionModel::currentChanged, m_treemap,
            [this](const QModelIndex& current) {
                m_treemap->SetSelectedItem(m_folderView->Model().HandleOf(current));
            });
    m_twinList = new CTwinListView(m_twinScanner, *m_twinEvents, *m_diskChanges, m_paneArea);
    m_fileFilter = new CFileFilterDlg(this);
    m_twinList->SetFileFilterDialog(m_fileFilter);
    connect(m_folderView, &CFolderSizeView::statusMessage, this, &CMainFrame::ShowStatus);
    connect(m_twinList, &CTwinListView::statusMessage, this, &CMainFrame::ShowStatus);
    m_twinCommands = new TwinCommands(*m_twinList, this);
    connect(m_folderView, &CFolderSizeView::rescanRequested, this, &CMainFrame::RescanFolderPane);
    // The file windows show what left the disk at once: the folder pane has
    // followed the announcement (it was connected first).
    connect(m_diskChanges, &DiskChanges::pathsRemoved, this, &CMainFrame::RefreshFileStats);
    ConnectTwinFolders();

    CreateActions();
    // Check marks and enabling hold from the start; the title waits for
    // the first refresh.
    m_actDirmass->setChecked(ScanMode == kScanModeDirmass);
    m_actDupmatch->setChecked(ScanMode == kScanModeDupmatch);
    m_actFileFilter->setEnabled(ScanMode == kScanModeDupmatch);
    m_twinCommands->Refresh(ScanMode == kScanModeDupmatch);
    CreateMenus();
    CreateToolBar();
    CreateAccelerators();

    m_statusText = new QLabel(this);
    m_statusText->setTextFormat(Qt::PlainText);
    m_statusText->setMinimumWidth(1);  // long paths must not widen the window
    statusBar()->addWidget(m_statusText, 1);
    // Permanent: it stays beside a menu prompt, which hides the status text.
    m_summaryField = new StatusSummaryField(this);
    statusBar()->addPermanentWidget(m_summaryField);
    m_summaryField->hide();
    statusBar()->setSizeGripEnabled(true);
    ShowStatus(tr("Bereit"));
    // Settings that cannot be read give way to the defaults; the user hears
    // it once, above the status for a while, without losing the scan's.
    if (const std::optional<std::string> warning = UnreadableSettingsWarning()) {
        QString text = FileNameText(*warning);
        text[0] = text[0].toUpper();
        statusBar()->showMessage(text, kSettingsWarningMs);
    }

    m_pathCombo = new CPathCombo(m_toolBar);
    connect(m_pathCombo, &CPathCombo::browseFinished, this, &CMainFrame::OnFolderBrowsed);
    connect(m_pathCombo, &CPathCombo::enterPressed, this, &CMainFrame::OnScan);
    m_scanButton = new QPushButton(QStringLiteral("scan"), m_toolBar);
    m_scanButton->setFont(m_folderView->font());
    m_scanButton->setFocusPolicy(Qt::TabFocus);
    connect(m_scanButton, &QPushButton::clicked, this, &CMainFrame::OnScan);

    OnSize();
    // The title names the mode from the first idle moment on; until then it
    // is the program's name.
    QTimer::singleShot(0, this, &CMainFrame::RefreshCommands);
    if (options.importFile) {
        StartImport(*options.importFile);
    } else if (options.folder) {
        m_pathCombo->AddPath(*options.folder);
        OnScan();
    }
}

CMainFrame::~CMainFrame() {
    // Workers that wait for a message box must not wait for a closing window.
    m_messageBox->Shutdown();
    m_folderScanner.Cancel();
    m_twinScanner.Cancel();
    // The views read the engines: they go before the members do (the
    // treemap's worker takes its pictures from the folder tree).
    delete m_treemap;
    m_treemap = nullptr;
    delete m_folderView;
    m_folderView = nullptr;
    delete m_twinList;
    m_twinList = nullptr;
    delete m_fileFilter;
    m_fileFilter = nullptr;
}

void CMainFrame::OnShowTreemap(bool checked) {
    if (!WriteSetting(kShowTreemap, checked)) {
        m_actTreemap->setChecked(!checked);
        return;
    }
    m_treemap->setVisible(checked);
    const QList<int> sizes = m_folderSplitter->sizes();
    if (checked && sizes.value(1) == 0) {
        // Shut by dragging: it opens with its first share of the pane again.
        const int total = sizes.value(0);
        m_folderSplitter->setSizes({total * kTreeShare / (kTreeShare + kTreemapShare),
                                    total * kTreemapShare / (kTreeShare + kTreemapShare)});
    }
}

void CMainFrame::OnScan() {
    // Either pane busy: this press cancels, and that is all it does.
    if (m_folderScanner.IsBusy() || m_twinScanner.IsBusy()) {
        m_folderScanner.Cancel();
        m_twinScanner.Cancel();
        return;
    }
    StartScanOfPathBox();
}

void CMainFrame::StartScanOfPathBox() {
    std::optional<std::string> path;
    if (m_pathCombo->HasTypedText()) {
        std::string error;
        path = m_pathCombo->AcceptTypedFolder(error);
        if (!path) {
            ShowStatus(QString::fromStdString(error));
            return;
        }
    } else {
        path = m_pathCombo->SelectedPath();
    }
    if (!path || path->empty()) {
        ShowStatus(tr("No folder selected: choose one in the path box first"));
        return;
    }
    const bool twinMode = ReadSetting(kTwinMode);
    if (ScanMode == kScanModeDupmatch && twinMode) {
        ForgetTwinFolders();
        m_twinList->StartScan(ScanRequestFromSettings(ScanRequest::Source::Folder, *path));
        RefreshCommands();
        RefreshSummary();
    } else {
        StartFolderScan(*path);
    }
}

ScanRequest CMainFrame::FolderScanRequest(ScanRequest::Source source,
                                          const std::string& root) const {
    ScanRequest request = ScanRequestFromSettings(source, root);
    // An import fills both panes (standard input cannot be read twice); a
    // scan does when TwinMode is off.
    request.feedTwins = source == ScanRequest::Source::ImportFile || !ReadSetting(kTwinMode);
    return request;
}

void CMainFrame::StartFolderScan(const std::string& path) {
    const ScanRequest request = FolderScanRequest(ScanRequest::Source::Folder, path);
    if (request.feedTwins) {
        ForgetTwinFolders();
    }
    m_folderView->StartScan(request);
    RefreshCommands();
    RefreshSummary();
}

void CMainFrame::RescanFolderPane() {
    const ScanRequest last = m_folderScanner.LastRequest();
    if (last.root.empty()) {
        return;  // nothing shown yet
    }
    if (m_folderScanner.IsBusy() || m_twinScanner.IsBusy()) {
        m_folderScanner.Cancel();
        m_twinScanner.Cancel();
    }
    if (last.IsImport()) {
        StartImport(last.root);  // an imported tree is read again
    } else {
        StartFolderScan(last.root);
    }
}

void CMainFrame::OnAllocatedSize(bool checked) {
    if (!WriteSetting(kAllocatedSize, checked)) {
        m_actAllocatedSize->setChecked(!checked);
        ShowStatus(tr("The setting could not be written"));
        return;
    }
    // The tree on screen counts the other way: show it counted anew.
    RescanFolderPane();
}

void CMainFrame::StartImport(const std::string& file) {
    ForgetTwinFolders();  // the import fills the twin list too
    m_folderView->StartScan(FolderScanRequest(ScanRequest::Source::ImportFile, file));
    RefreshCommands();
    RefreshSummary();
}

void CMainFrame::OnExportScan() {
    const FolderSizeTree& tree = m_folderScanner.Tree();
    const std::string folder = tree.GetRootPath();
    if (folder.empty() || m_folderScanner.IsScanRunning()) {
        return;
    }
    const QString suggested =
        QDir::home().filePath(QFileInfo(FileNameText(folder)).fileName() + QStringLiteral(".json"));
    const QString file = QFileDialog::getSaveFileName(this, tr("Export Scan"), suggested,
                                                      tr("Scan exports (*.json);;All files (*)"));
    if (file.isEmpty()) {
        return;
    }
    // The tree keeps no files: its folder is walked again, with its scope.
    ScanRequest request;
    request.root = folder;
    request.walk = tree.GetScope();
    if (!m_folderScanner.StartExport(request, FileNameBytes(file), QUARN_VERSION)) {
        return;
    }
    QProgressDialog progress(tr("Exporting %1").arg(FileNameText(folder)), tr("Cancel"), 0, 0,
                             this);
    progress.setWindowTitle(tr("Export Scan"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(300);
    QEventLoop exporting;
    connect(m_folderEvents, &EngineSignals::progressed, &progress, [this, &progress, &folder] {
        const ScanProgress now = m_folderScanner.Progress();
        progress.setLabelText(tr("Exporting %1\n%2 files, %3 folders")
                                  .arg(FileNameText(folder))
                                  .arg(now.files)
                                  .arg(now.folders));
    });
    connect(m_folderEvents, &EngineSignals::idle, &exporting, &QEventLoop::quit);
    connect(&progress, &QProgressDialog::canceled, this, [this] { m_folderScanner.Cancel(); });
    if (m_folderScanner.IsScanRunning()) {
        exporting.exec();
    }
    progress.reset();
    const FolderScanner::ExportOutcome outcome = m_folderScanner.LastExport();
    ShowStatus(outcome.written
                   ? tr("Exported %1 files to %2").arg(outcome.files).arg(file)
                   : tr("Export not written: %1").arg(QString::fromStdString(outcome.error)));
}

void CMainFrame::OnFolderBrowsed(bool chosen) {
    if (!chosen) {
        return;
    }
    if (m_folderScanner.IsBusy() || m_twinScanner.IsBusy()) {
        m_folderScanner.Cancel();
        m_twinScanner.Cancel();
    }
    StartScanOfPathBox();
}

void CMainFrame::SetMode(int mode) {
    ScanMode = mode;
    OnSize();
    RefreshCommands();
    RefreshStatus();
    RefreshSummary();
}

void CMainFrame::OnModeDirmass() {
    SetMode(kScanModeDirmass);
}

void CMainFrame::OnModeDupmatch() {
    SetMode(kScanModeDupmatch);
}

void CMainFrame::OnSettings() {
    SettingsDlg dialog(this);
    dialog.exec();
}

void CMainFrame::OnFileFilter() {
    m_twinList->OnFileFilter();
}

void CMainFrame::OnSelectAll() {
    if (ScanMode == kScanModeDupmatch) {
        m_twinList->selectAllRows();
    }
    m_twinList->setFocus(Qt::ShortcutFocusReason);
}

void CMainFrame::OnLargestFiles() {
    if (m_largestFiles == nullptr) {
        m_largestFiles = new LargestFilesDialog(*m_diskChanges, this);
        m_largestFiles->Show(m_folderScanner.Tree().FileStats());
    }
    m_largestFiles->show();
    m_largestFiles->raise();
    m_largestFiles->activateWindow();
}

void CMainFrame::OnFileTypes() {
    if (m_fileTypes == nullptr) {
        m_fileTypes = new FileTypesDialog(*m_diskChanges, this);
        m_fileTypes->Show(m_folderScanner.Tree().FileStats());
    }
    m_fileTypes->show();
    m_fileTypes->raise();
    m_fileTypes->activateWindow();
}

void CMainFrame::RefreshFileStats() {
    const KeptFileStats& stats = m_folderScanner.Tree().FileStats();
    // While a scan runs the windows keep the finished scan's lists, less
    // what leaves the disk meanwhile, until the new one has its own.
    if (stats.Serial() == m_shownFileStatsSerial || stats.Shown() == nullptr) {
        return;
    }
    m_shownFileStatsSerial = stats.Serial();
    if (m_largestFiles != nullptr) {
        m_largestFiles->Show(stats);
    }
    if (m_fileTypes != nullptr) {
        m_fileTypes->Show(stats);
    }
}

void CMainFrame::RefreshCommands() {
    const bool dirmass = ScanMode == kScanModeDirmass;
    m_actDirmass->setChecked(dirmass);
    m_actDupmatch->setChecked(!dirmass);
    m_actFileFilter->setEnabled(!dirmass);
    m_twinCommands->Refresh(!dirmass);
    // The tree keeps no files: an export walks the folder again, so it must
    // be one of this machine.
    const std::string root = m_folderScanner.Tree().GetRootPath();
    m_actExportScan->setEnabled(!root.empty() && !m_folderScanner.IsScanRunning() &&
                                ::access(root.c_str(), R_OK | X_OK) == 0);
    const QString title =
        dirmass ? QStringLiteral("Dirmass - ") + FileNameText(m_folderScanner.GetScanPath())
                : QStringLiteral("Dupmatch - ") + FileNameText(m_twinScanner.ScanRoot());
    if (windowTitle() != title) {
        setWindowTitle(title);
    }
}

void CMainFrame::RefreshStatus() {
    const uint64_t serial = ScanMode == kScanModeDirmass ? m_folderScanner.Progress().serial
                                                         : m_twinScanner.Progress().serial;
    if (ScanMode == m_nShownMode && serial == m_nShownSerial) {
        return;
    }
    m_nShownMode = ScanMode;
    m_nShownSerial = serial;
    const std::string status =
        ScanMode == kScanModeDirmass ? m_folderScanner.GetStatus() : m_twinScanner.GetStatus();
    ShowStatus(status.empty() ? tr("Bereit") : QString::fromUtf8(status));
}

void CMainFrame::RefreshSummary() {
    auto summaryText = [](const auto& scan) {
        return scan.scanned
                   ? FormatScanSummary(scan.files, scan.folders,
                                       scan.running ? std::nullopt : std::optional(scan.seconds))
                   : std::string();
    };
    std::string text;
    std::string unreadable;
    const TwinScanner::Summary twinScan = m_twinScanner.LastScanSummary();
    if (ScanMode == kScanModeDirmass || twinScan.fed) {
        // A combined scan's counts are the folder walk's.
        text = summaryText(m_folderScanner.LastScanSummary());
    } else {
        text = summaryText(twinScan);
    }
    if (ScanMode == kScanModeDirmass) {
        // The folder tree's own count: the twin list reads no folder of its own.
        const FolderSizeTree::Figures figures = m_folderScanner.Tree().GetFigures();
        unreadable = FormatUnreadableSummary(figures.unreadableFolders, figures.skippedEntries);
    }
    m_summaryField->SetPart(StatusSummaryField::kScanCounts, QString::fromStdString(text));
    m_summaryField->SetPart(StatusSummaryField::kUnreadable, QString::fromStdString(unreadable));
}

void CMainFrame::ShowStatus(const QString& text) {
    m_statusText->setText(text);
}

void CMainFrame::OnSize() {
    if (m_paneArea == nullptr || m_toolBar == nullptr || m_pathCombo == nullptr) {
        return;
    }
    const QRect area = m_paneArea->rect();
    QWidget* shown = m_folderSplitter;
    QWidget* hidden = m_twinList;
    if (ScanMode == kScanModeDupmatch) {
        std::swap(shown, hidden);
    }
    hidden->hide();
    shown->setGeometry(area);
    shown->show();

    // Tool bar coordinates; right edges exclusive.
    const QRect bar = m_toolBar->rect();
    const int barRight = bar.x() + bar.width();
    const int boxLeft = bar.x() + kPathBoxLeft;
    const int boxRight = barRight - kScanButtonFromRight;
    m_pathCombo->setGeometry(boxLeft, bar.y() + kPathBoxTop, std::max(0, boxRight - boxLeft),
                             m_pathCombo->sizeHint().height());
    m_pathCombo->setVisible(boxRight > boxLeft);
    m_pathCombo->raise();
    m_scanButton->setGeometry(barRight - kScanButtonFromRight, bar.y() + kScanButtonTop,
                              kScanButtonWidth, kScanButtonHeight);
    m_scanButton->show();
    m_scanButton->raise();
    // The opened list may use the height of the pane area.
    const int itemHeight = std::max(1, m_pathCombo->sizeHint().height());
    m_pathCombo->setMaxVisibleItems(std::max(5, area.height() / itemHeight));
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize && (watched == m_paneArea || watched == m_toolBar)) {
        OnSize();
    }
    return QMainWindow::eventFilter(watched, event);
}

QMenu* CMainFrame::createPopupMenu() {
    return nullptr;
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    // Running walks end at their next folder; the window does not wait.
    m_folderScanner.Cancel();
    m_twinScanner.Cancel();
    QMainWindow::closeEvent(event);
}

}  // namespace quarn
