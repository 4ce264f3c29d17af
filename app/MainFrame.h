#pragma once
// The main window: menus, tool bar with the path box and the "scan" button,
// a status bar with the status text and, beside it, a summary of the scan
// (StatusSummaryField), and the two panes of which the current mode shows
// one (the folder tree in Dirmass, the twin list in Dupmatch).
//
// The frame keeps no scan state of its own: the busy flags of the two
// engines are the whole state; Scan starts or cancels, closing cancels both.
// The title, the check marks, the enabling and the status text follow the
// mode and the engines' news (EngineSignals): the engines only publish
// snapshots, nobody calls into the window per file, and no timer polls.
//
// UI thread only. The frame owns both engines (TwinScanner, FolderScanner)
// as members; the panes that show them are deleted before them, and the
// engines' destructors cancel and join their jobs.

#include <QMainWindow>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "duplicates/TwinScanner.h"
#include "foldersize/FolderScanner.h"
#include "history/FolderComparison.h"

class QAction;
class QActionGroup;
class QLabel;
class QMenu;
class QPushButton;
class QSplitter;
class QToolBar;

namespace quarn {

class CFileFilterDlg;
class CFolderSizeView;
class DiskChanges;
class EngineSignals;
class FileTypesDialog;
class LargestFilesDialog;
class TreemapView;
class CPathCombo;
class StatusSummaryField;
class UserMessageBox;
class CTwinListView;
class TwinCommands;

class CMainFrame : public QMainWindow {
    Q_OBJECT
  public:
    // Layout numbers of the tool bar (its own coordinates).
    static constexpr int kPathBoxLeft = 250;
    static constexpr int kPathBoxTop = 6;
    static constexpr int kScanButtonFromRight = 80;
    static constexpr int kScanButtonTop = 8;
    static constexpr int kScanButtonWidth = 70;
    static constexpr int kScanButtonHeight = 21;

    // `arguments`: the program name, then the command line's arguments. The
    // mode and an optional folder come from them; a folder is added to the
    // path box and scanned at once. Applies the shell integration.
    explicit CMainFrame(const std::vector<std::string>& arguments, QWidget* parent = nullptr);
    ~CMainFrame() override;

    // --- Commands ----------------------------------------------------------
    // Cancels when either pane is busy; otherwise starts the scan that the
    // mode and the setting TwinMode ask for, on the path box's folder (a
    // typed folder first has to prove to be one; else the status says why).
    void OnScan();
    void OnModeDirmass();
    void OnModeDupmatch();
    void OnSettings();
    // Options > Allocated Size: writes the setting and scans the folder
    // pane's folder anew, so that the tree counts the way the check says.
    void OnAllocatedSize(bool checked);
    // A new folder scan of the folder the tree shows (Refresh on its root),
    // replacing a running scan.
    void RescanFolderPane();
    // File > "Export Scan...": walks the folder of the last Dirmass scan
    // again (the tree keeps no files) and writes it to a chosen file, with
    // progress and Cancel.
    void OnExportScan();
    void OnFileFilter();
    // Dupmatch: selects every row; in both modes the twin list gets the focus.
    void OnSelectAll();
    // View > Largest Files, View > File Types: the last folder scan's, in
    // windows of their own that follow every later scan.
    void OnLargestFiles();
    // View > Treemap: shows or closes the treemap below the folder tree and
    // remembers it (ShowTreemap).
    void OnShowTreemap(bool checked);
    void OnFileTypes();
    // Tools > Twins by Name / Twins by Content: writes TwinsByContent, which
    // the next scan reads.
    void OnTwinsBy(bool content);

    // What the engines' news and a mode change refresh: title, check marks,
    // enabling, and the current mode's status text in the status bar.
    void RefreshCommands();
    void RefreshStatus();
    // The second field: the current mode's scan summary.
    void RefreshSummary();

    // --- Parts, for the application and the tests --------------------------
    FolderScanner& FolderScan() { return m_folderScanner; }
    TwinScanner& TwinScan() { return m_twinScanner; }
    CFolderSizeView* FolderView() const { return m_folderView; }
    CTwinListView* TwinList() const { return m_twinList; }
    DiskChanges* Changes() const { return m_diskChanges; }
    CPathCombo* PathCombo() const { return m_pathCombo; }
    QPushButton* ScanButton() const { return m_scanButton; }
    QToolBar* ToolBar() const { return m_toolBar; }
    QWidget* PaneArea() const { return m_paneArea; }
    QLabel* StatusText() const { return m_statusText; }
    StatusSummaryField* SummaryField() const { return m_summaryField; }
    QAction* ScanAction() const { return m_actScan; }
    QAction* DirmassAction() const { return m_actDirmass; }
    QAction* DupmatchAction() const { return m_actDupmatch; }
    QAction* FileFilterAction() const { return m_actFileFilter; }
    QAction* SelectAllAction() const { return m_actSelectAll; }
    QAction* TwinsByNameAction() const { return m_actTwinsByName; }
    QAction* TwinsByContentAction() const { return m_actTwinsByContent; }
    QAction* SettingsAction() const { return m_actSettings; }
    QAction* AllocatedSizeAction() const { return m_actAllocatedSize; }
    QAction* AboutAction() const { return m_actAbout; }
    QAction* LargestFilesAction() const { return m_actLargestFiles; }
    QAction* FileTypesAction() const { return m_actFileTypes; }
    QAction* TreemapAction() const { return m_actTreemap; }
    TreemapView* Treemap() const { return m_treemap; }
    LargestFilesDialog* LargestFiles() const { return m_largestFiles; }
    FileTypesDialog* FileTypes() const { return m_fileTypes; }
    QAction* ExitAction() const { return m_actExit; }
    TwinCommands* Twins() const { return m_twinCommands; }
    QAction* ExportScanAction() const { return m_actExportScan; }
    QAction* CompareAction() const { return m_actCompare; }
    QAction* EndCompareAction() const { return m_actEndCompare; }
    QAction* OrderByChangeAction() const { return m_actOrderByChange; }

    // --- The comparison with an earlier scan (MainFrameCompare.cpp) ---------
    // File > "Compare with Earlier Scan...": the dialog of the shown folder's
    // kept scans and any export file, then CompareWith the one chosen.
    void OnCompare();
    // Reads `file` on a thread of its own and, when the tree shown is still
    // the one it was compared with, shows the comparison in the folder pane
    // and the treemap; a file that cannot be read is said in a message.
    void CompareWith(const std::string& file);
    // True while an earlier scan is being read (tests wait for it).
    bool IsReadingEarlierScan() const { return m_earlierReading; }

  protected:
    // No menu of bars to hide: hiding the tool bar would take the path box
    // and the Scan button with it.
    QMenu* createPopupMenu() override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void CreateActions();
    void CreateMenus();
    void CreateToolBar();
    void CreateAccelerators();
    // The twin kind's check marks follow the setting.
    void RefreshTwinKind();
    void SetMode(int mode);
    // Starts the scan of the path box's folder (nothing runs when called).
    void StartScanOfPathBox();
    // The folder pane's scan of `path` (with the twin list, when TwinMode
    // is off).
    void StartFolderScan(const std::string& path);
    // Shows the tree of an export file (several: each a tree of its own
    // under one root) in the Dirmass pane, read on the pane's worker as a
    // scan is.
    void StartImport(const std::vector<std::string>& files);
    // A folder chosen in the picker is scanned at once, replacing a running scan.
    void OnFolderBrowsed(bool chosen);
    // Places the shown pane, the path box and the Scan button.
    void OnSize();
    void ShowStatus(const QString& text);
    // Shows the file statistics anew in the open windows, when they changed.
    void RefreshFileStats();
    // Twin folders: the folder pane marks what the twin engine's content
    // search found, once it has ended (MainFrameTwinFolders.cpp).
    void ConnectTwinFolders();
    void FollowTwinFolders();
    // A new twin search is coming: its folders will be new marks.
    void ForgetTwinFolders();
    // Show Twin's copy outside the folder tree: its row in Dupmatch.
    void ShowTwinInDupmatch(const std::string& path);
    // The scan the folder pane shows, with what the settings say now (a
    // combined scan when TwinMode is off).
    ScanRequest FolderScanRequest(ScanRequest::Source source, const std::string& root) const;
    void CreateCompareActions();
    // The read of CompareWith has ended (the interface thread, posted by the
    // reader): joins the reader, then shows what it left in m_earlierRead.
    Q_INVOKABLE void ShowEarlierScan();
    // The treemap's colours, the order check and the status tool tip follow
    // the folder pane's comparison.
    void FollowComparison();
    // Every finished scan of a folder is kept; a failure is said once.
    void KeepScans();
    // The failure the engine's thread left in m_keepFailure, in the status bar.
    Q_INVOKABLE void ShowKeepFailure();

    std::unique_ptr<UserMessageBox> m_messageBox;
    // The engines; declared so that the folder scanner, which feeds the twin
    // scanner in a combined scan, is destroyed (and joined) first.
    TwinScanner m_twinScanner;
    FolderScanner m_folderScanner;
    DiskChanges* m_diskChanges = nullptr;
    EngineSignals* m_folderEvents = nullptr;
    EngineSignals* m_twinEvents = nullptr;

    QToolBar* m_toolBar = nullptr;
    QLabel* m_statusText = nullptr;
    StatusSummaryField* m_summaryField = nullptr;
    QWidget* m_paneArea = nullptr;
    CTwinListView* m_twinList = nullptr;
    CFolderSizeView* m_folderView = nullptr;
    // The folder pane: the tree above its treemap, which the user may resize
    // or close.
    QSplitter* m_folderSplitter = nullptr;
    TreemapView* m_treemap = nullptr;
    CPathCombo* m_pathCombo = nullptr;
    CFileFilterDlg* m_fileFilter = nullptr;
    QPushButton* m_scanButton = nullptr;

    QAction* m_actScan = nullptr;
    QAction* m_actExit = nullptr;
    QAction* m_actExportScan = nullptr;
    QActionGroup* m_modeGroup = nullptr;
    QAction* m_actDirmass = nullptr;
    QAction* m_actDupmatch = nullptr;
    QAction* m_actFileFilter = nullptr;
    QAction* m_actSelectAll = nullptr;
    QActionGroup* m_twinKindGroup = nullptr;
    QAction* m_actTwinsByName = nullptr;
    QAction* m_actTwinsByContent = nullptr;
    QAction* m_actSettings = nullptr;
    QAction* m_actAllocatedSize = nullptr;
    QAction* m_actAbout = nullptr;
    QAction* m_actLargestFiles = nullptr;
    QAction* m_actFileTypes = nullptr;
    QAction* m_actTreemap = nullptr;               // View > Treemap, the setting ShowTreemap
    LargestFilesDialog* m_largestFiles = nullptr;  // made when first asked for
    FileTypesDialog* m_fileTypes = nullptr;
    uint64_t m_shownFileStatsSerial = ~uint64_t(0);  // what the windows show
    std::vector<TwinFolderSet> m_markedTwinFolders;  // the search the marks came from
    TwinCommands* m_twinCommands = nullptr;          // Verify Contents, Select Copies

    QAction* m_actCompare = nullptr;        // File > Compare with Earlier Scan...
    QAction* m_actEndCompare = nullptr;     // File > End Comparison
    QAction* m_actOrderByChange = nullptr;  // View > Order by Change

    // What the status bar shows now: the mode and the pane's status serial.
    int m_nShownMode = -1;
    uint64_t m_nShownSerial = 0;

    // Why keeping the last scan failed, from the engine's thread.
    std::mutex m_keepFailureLock;
    std::string m_keepFailure;

    // The read of an earlier scan; last, so that it ends before anything it
    // reads (the folder tree) goes. The reader fills in `comparison` or
    // `error`; the interface thread reads them only after joining it.
    struct EarlierRead {
        std::string file;
        NodeHandle root = kNoNode;  // the tree compared with
        std::shared_ptr<const FolderComparison> comparison;
        std::string error;
    };
    bool m_earlierReading = false;
    std::atomic<bool> m_stopEarlierRead{false};
    EarlierRead m_earlierRead;
    std::jthread m_earlierReader;
};

}  // namespace quarn
