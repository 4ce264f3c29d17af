// Draws the Settings dialog and the About box offscreen into PNG files.
//
//   screenshot_settings_about OUTPUT-FOLDER
#include <QApplication>
#include <QDir>

#include "controls/InfoDialog.h"
#include "settings/ui/SettingsDlg.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2) {
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));

    quarn::SettingsDlg settings;
    settings.show();  // loads the settings into the boxes
    QApplication::processEvents();
    bool ok = settings.grab().save(out.filePath(QStringLiteral("settings-dialog.png")));

    quarn::CInfoDialog about;
    about.show();
    QApplication::processEvents();
    ok = about.grab().save(out.filePath(QStringLiteral("about-box.png"))) && ok;
    return ok ? 0 : 1;
}
