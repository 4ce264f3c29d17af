#include "app/MainApp.h"

#include "app/MainFrame.h"
#include "controls/AppIcons.h"
#include "controls/InfoDialog.h"

namespace quarn {

CMainApp::CMainApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("Quarn"));
    setWindowIcon(ProgramIcon());
    // Closing the frame ends the program; workers stop at their next folder
    // and the frame's members join them.
    setQuitOnLastWindowClosed(true);
}

CMainApp::~CMainApp() = default;

bool CMainApp::InitInstance(const std::vector<std::string>& arguments) {
    m_pMainWnd = std::make_unique<CMainFrame>(arguments);
    m_pMainWnd->resize(kFrameWidth, kFrameHeight);
    m_pMainWnd->show();
    return true;
}

void CMainApp::OnAppAbout(QWidget* parent) {
    CInfoDialog dialog(parent);
    dialog.exec();
}

}  // namespace quarn
