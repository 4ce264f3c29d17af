// Pictures of the Largest Files and File Types windows after a folder scan,
// drawn by the widgets themselves (QWidget::grab), for a person to look at.
//
//   screenshot_file_stats FOLDER OUTPUT-FOLDER
//
// Writes largest-files.png and file-types.png (with the largest type chosen,
// so its files are listed below). Built and run by
// tools/screenshot_file_stats.sh.

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTreeView>
#include <cstdio>

#include "app/FileTypesDialog.h"
#include "app/LargestFilesDialog.h"
#include "app/MainFrame.h"
#include "foldersize/FolderScanner.h"

namespace {

bool Save(QWidget& widget, const QString& folder, const QString& name) {
    const QString path = QDir(folder).filePath(name);
    if (!widget.grab().save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("wrote %s\n", qPrintable(path));
    return true;
}

void Settle(int milliseconds) {
    QElapsedTimer wait;
    wait.start();
    while (wait.elapsed() < milliseconds) {
        QApplication::processEvents();
    }
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s FOLDER OUTPUT-FOLDER\n", argv[0]);
        return 2;
    }
    const QString output = QString::fromLocal8Bit(argv[2]);
    quarn::CMainFrame frame({"quarn", "/Dirmass", argv[1]});
    frame.resize(900, 650);
    frame.show();
    frame.FolderScan().Wait();
    Settle(600);  // the idle refresh hands the scan's lists to the windows

    frame.LargestFilesAction()->trigger();
    quarn::LargestFilesDialog* largest = frame.LargestFiles();
    largest->resize(900, 420);
    Settle(300);
    bool ok = Save(*largest, output, QStringLiteral("largest-files.png"));

    frame.FileTypesAction()->trigger();
    quarn::FileTypesDialog* types = frame.FileTypes();
    types->Types()->setCurrentIndex(types->Types()->model()->index(0, 0));
    Settle(300);
    ok = Save(*types, output, QStringLiteral("file-types.png")) && ok;
    return ok ? 0 : 1;
}
