// A picture of a comparison in the window: the tree with its Change column
// and a removed folder, and the treemap coloured by growth, drawn by the
// window itself (QWidget::grab), for a person to look at.
//
//   screenshot_compare FOLDER OUTPUT-FOLDER
//
// FOLDER must have a kept scan older than the one the window makes now.
// Writes compare.png. Built and run by tools/screenshot_compare.sh.

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QHeaderView>
#include <cstdio>

#include "app/MainFrame.h"
#include "foldersize/FolderScanner.h"
#include "foldersize/ui/FolderSizeView.h"
#include "foldersize/ui/FolderTreeModel.h"
#include "history/ScanStore.h"

namespace {

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
    const std::string folder = argv[1];
    quarn::CMainFrame frame({"quarn", "/Dirmass", folder});
    frame.resize(1000, 720);
    frame.show();
    frame.FolderScan().Wait();
    Settle(600);
    const std::vector<quarn::KeptScan> kept = quarn::ScanStore().List(folder);
    if (kept.size() < 2) {
        std::fprintf(stderr, "no earlier kept scan of %s\n", folder.c_str());
        return 1;
    }
    frame.CompareWith(kept[1].file);
    while (frame.IsReadingEarlierScan()) {
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    }
    frame.OrderByChangeAction()->trigger();
    Settle(300);
    quarn::CFolderSizeView& view = *frame.FolderView();
    view.Model().ApplyChanges();
    view.expandToDepth(1);
    view.header()->resizeSection(quarn::FolderTreeModel::kNameColumn, 330);
    Settle(1500);  // the treemap's picture arrives
    const QString path =
        QDir(QString::fromLocal8Bit(argv[2])).filePath(QStringLiteral("compare.png"));
    if (!frame.grab().save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return 1;
    }
    std::printf("wrote %s\n", qPrintable(path));
    return 0;
}
