#pragma once
// The application object: makes the main frame from the command line, gives
// it its size and shows it; opens the About box.
//
// UI thread only; one per process.

#include <QApplication>

#include <memory>
#include <string>
#include <vector>

namespace quarn {

class CMainFrame;

class CMainApp : public QApplication {
    Q_OBJECT
  public:
    static constexpr int kFrameWidth = 650;
    static constexpr int kFrameHeight = 600;

    // `argc`/`argv` must outlive the application (Qt keeps them).
    CMainApp(int& argc, char** argv);
    ~CMainApp() override;

    // Makes the frame from the command line (as the arguments came, raw
    // bytes), sizes it to 650 x 600 and shows it. False when it could not.
    bool InitInstance(const std::vector<std::string>& arguments);

    CMainFrame* MainFrame() const { return m_pMainWnd.get(); }

    // The About box, modal.
    static void OnAppAbout(QWidget* parent);

  private:
    std::unique_ptr<CMainFrame> m_pMainWnd;
};

}  // namespace quarn
