// The main window's commands as the user reaches them: the actions with
// their keys, the menus, the tool bar and the window-wide keys without a
// command of their own.

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QMenuBar>
#include <QShortcut>
#include <QSplitter>
#include <QToolBar>

#include "app/MainApp.h"
#include "app/MainFrame.h"
#include "app/TwinCommands.h"
#include "controls/AppIcons.h"
#include "foldersize/ui/TreemapView.h"
#include "settings/Settings.h"

namespace quarn {

void CMainFrame::CreateActions() {
    // The window's keys belong to their commands, so the menus show them
    // beside the commands' texts.
    m_actScan = new QAction(tr("&Scan Folder"), this);
    m_actScan->setShortcuts({QKeySequence(Qt::Key_Enter), QKeySequence(Qt::Key_Return)});
    connect(m_actScan, &QAction::triggered, this, &CMainFrame::OnScan);

    m_actExportScan = new QAction(tr("Export Scan..."), this);
    connect(m_actExportScan, &QAction::triggered, this, &CMainFrame::OnExportScan);

    m_actExit = new QAction(tr("&Exit"), this);
    m_actExit->setStatusTip(tr("Beenden"));
    m_actExit->setToolTip(tr("Beenden"));
    connect(m_actExit, &QAction::triggered, this, &QWidget::close);

    m_modeGroup = new QActionGroup(this);
    m_modeGroup->setExclusive(true);
    m_actDirmass = new QAction(DirmassModeIcon(), tr("&Dirmass"), m_modeGroup);
    m_actDupmatch = new QAction(DupmatchModeIcon(), tr("&Dupmatch"), m_modeGroup);
    for (QAction* mode : {m_actDirmass, m_actDupmatch}) {
        mode->setCheckable(true);
        mode->setIconVisibleInMenu(false);  // the check mark says it in the menu
    }
    connect(m_actDirmass, &QAction::triggered, this, &CMainFrame::OnModeDirmass);
    connect(m_actDupmatch, &QAction::triggered, this, &CMainFrame::OnModeDupmatch);

    m_actFileFilter = new QAction(FileFilterIcon(), tr("File Filter"), this);
    m_actFileFilter->setShortcut(QKeySequence(Qt::Key_F));  // disabled in Dirmass, and so is F
    m_actFileFilter->setIconVisibleInMenu(false);
    connect(m_actFileFilter, &QAction::triggered, this, &CMainFrame::OnFileFilter);

    // What a twin is, for the scans to come: the one that shows now keeps
    // its list.
    m_twinKindGroup = new QActionGroup(this);
    m_twinKindGroup->setExclusive(true);
    m_actTwinsByName = new QAction(tr("Twins by Name"), m_twinKindGroup);
    m_actTwinsByName->setStatusTip(
        tr("Twins are files of the same name; applies to the next scan"));
    m_actTwinsByContent = new QAction(tr("Twins by Content"), m_twinKindGroup);
    m_actTwinsByContent->setStatusTip(
        tr("Twins are files of the same content, whatever their names; applies to the next scan"));
    for (QAction* kind : {m_actTwinsByName, m_actTwinsByContent}) {
        kind->setCheckable(true);
        connect(kind, &QAction::triggered, this,
                [this, kind] { OnTwinsBy(kind == m_actTwinsByContent); });
    }
    RefreshTwinKind();

    m_actSelectAll = new QAction(tr("Select All"), this);
    m_actSelectAll->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_A));
    connect(m_actSelectAll, &QAction::triggered, this, &CMainFrame::OnSelectAll);

    m_actAllocatedSize = new QAction(tr("Allocated Size"), this);
    m_actAllocatedSize->setCheckable(true);
    m_actAllocatedSize->setChecked(ReadSetting(kAllocatedSize, false));
    connect(m_actAllocatedSize, &QAction::triggered, this, &CMainFrame::OnAllocatedSize);

    m_actSettings = new QAction(SettingsIcon(), tr("General &Settings"), this);
    m_actSettings->setIconVisibleInMenu(false);
    connect(m_actSettings, &QAction::triggered, this, &CMainFrame::OnSettings);

    m_actAbout = new QAction(AboutIcon(), tr("&About..."), this);
    m_actAbout->setIconVisibleInMenu(false);
    m_actAbout->setToolTip(tr("Info"));
    m_actAbout->setStatusTip(tr("Info"));
    connect(m_actAbout, &QAction::triggered, this, [this] { CMainApp::OnAppAbout(this); });

    m_actLargestFiles = new QAction(tr("&Largest Files"), this);
    connect(m_actLargestFiles, &QAction::triggered, this, &CMainFrame::OnLargestFiles);
    m_actFileTypes = new QAction(tr("File &Types"), this);
    connect(m_actFileTypes, &QAction::triggered, this, &CMainFrame::OnFileTypes);
    m_actTreemap = new QAction(tr("T&reemap"), this);
    m_actTreemap->setCheckable(true);
    m_actTreemap->setChecked(m_treemap->isVisibleTo(m_folderSplitter));
    connect(m_actTreemap, &QAction::triggered, this, &CMainFrame::OnShowTreemap);
}

void CMainFrame::CreateMenus() {
    QMenu* file = menuBar()->addMenu(tr("&File"));
    file->addAction(m_actScan);
    file->addAction(m_actExportScan);
    file->addSeparator();
    file->addAction(m_actCompare);
    file->addAction(m_actEndCompare);
    file->addSeparator();
    file->addAction(m_actExit);
    QMenu* view = menuBar()->addMenu(tr("&View"));
    view->addAction(m_actLargestFiles);
    view->addAction(m_actFileTypes);
    view->addSeparator();
    view->addAction(m_actTreemap);
    view->addAction(m_actOrderByChange);
    QMenu* tools = menuBar()->addMenu(tr("&Tools"));
    tools->addAction(m_actDirmass);
    tools->addAction(m_actDupmatch);
    tools->addSeparator();
    tools->addAction(m_actTwinsByName);
    tools->addAction(m_actTwinsByContent);
    // The file may have changed behind the window's back (or the Settings
    // dialog changed it).
    connect(tools, &QMenu::aboutToShow, this, &CMainFrame::RefreshTwinKind);
    // The twin list's commands, here so that their keys can be seen.
    tools->addSeparator();
    tools->addAction(m_actFileFilter);
    tools->addAction(m_actSelectAll);
    m_twinCommands->AddToMenu(tools);
    QMenu* options = menuBar()->addMenu(tr("&Options"));
    options->addAction(m_actSettings);
    options->addAction(m_actAllocatedSize);
    // The file may have changed behind the window's back.
    connect(options, &QMenu::aboutToShow, this,
            [this] { m_actAllocatedSize->setChecked(ReadSetting(kAllocatedSize, false)); });
    QMenu* help = menuBar()->addMenu(tr("&Help"));
    help->addAction(m_actAbout);
    // Opening a menu refreshes its check marks and enabling first.
    for (QMenu* menu : {file, view, tools, options, help}) {
        connect(menu, &QMenu::aboutToShow, this, &CMainFrame::RefreshCommands);
    }
}

void CMainFrame::RefreshTwinKind() {
    const bool content = ReadSetting(kTwinsByContent, false);
    m_actTwinsByContent->setChecked(content);
    m_actTwinsByName->setChecked(!content);
}

void CMainFrame::OnTwinsBy(bool content) {
    if (!WriteSetting(kTwinsByContent, content)) {
        RefreshTwinKind();
        ShowStatus(tr("The setting could not be written"));
        return;
    }
    ShowStatus(content ? tr("Twins by content from the next scan on")
                       : tr("Twins by name from the next scan on"));
}

void CMainFrame::CreateToolBar() {
    m_toolBar = new QToolBar(tr("Tool bar"), this);
    m_toolBar->setObjectName(QStringLiteral("ToolBar"));
    m_toolBar->setMovable(false);
    m_toolBar->setFloatable(false);
    m_toolBar->setContextMenuPolicy(Qt::PreventContextMenu);
    m_toolBar->setIconSize(QSize(kToolBarImageSize, kToolBarImageSize));
    m_toolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    m_toolBar->addAction(m_actDirmass);
    m_toolBar->addAction(m_actDupmatch);
    m_toolBar->addSeparator();
    m_toolBar->addAction(m_actFileFilter);
    m_twinCommands->AddToToolBar(m_toolBar);
    m_toolBar->addSeparator();
    m_toolBar->addAction(m_actSettings);
    m_toolBar->addSeparator();
    m_toolBar->addAction(m_actAbout);
    // Room for the path box and the button below their top offsets.
    m_toolBar->setFixedHeight(std::max(m_toolBar->sizeHint().height(), 36));
    m_toolBar->installEventFilter(this);
    addToolBar(Qt::TopToolBarArea, m_toolBar);
}

void CMainFrame::CreateAccelerators() {
    // Window-wide keys without a command of their own (Enter, F and Ctrl+A
    // belong to their actions). Text fields still get their own editing
    // keys: they claim those before a window shortcut sees them.
    auto add = [this](const QKeySequence& keys, auto handler) {
        auto* shortcut = new QShortcut(keys, this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, handler);
    };
    // Copy, cut, paste, undo and pane switching have no command here: the
    // keys are taken and nothing happens.
    const QKeySequence inert[] = {
        QKeySequence(Qt::CTRL | Qt::Key_C), QKeySequence(Qt::CTRL | Qt::Key_Insert),
        QKeySequence(Qt::CTRL | Qt::Key_X), QKeySequence(Qt::SHIFT | Qt::Key_Delete),
        QKeySequence(Qt::CTRL | Qt::Key_V), QKeySequence(Qt::SHIFT | Qt::Key_Insert),
        QKeySequence(Qt::CTRL | Qt::Key_Z), QKeySequence(Qt::ALT | Qt::Key_Backspace),
        QKeySequence(Qt::Key_F6),           QKeySequence(Qt::SHIFT | Qt::Key_F6),
    };
    for (const QKeySequence& keys : inert) {
        add(keys, [] {});
    }
}

}  // namespace quarn
