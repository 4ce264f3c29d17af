// Pictures of the Dupmatch pane and the File Filter dialog, drawn by the
// widgets themselves (QWidget::grab), for a person to look at.
//
//   screenshot_dupmatch TREE OUTPUT-FOLDER
//
// Writes dupmatch-pane.png (after a scan of TREE), dupmatch-verified.png
// (after its contents were verified), file-filter-dialog.png (the dialog
// with a filter typed in) and dupmatch-filtered.png (the pane after that
// filter ran). Built and run by tools/screenshot_dupmatch.sh.

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <cstdio>

#include "controls/DiskChanges.h"
#include "controls/EngineSignals.h"
#include "duplicates/TwinScanner.h"
#include "duplicates/ui/TwinListModel.h"
#include "duplicates/ui/TwinListView.h"
#include "filter/ui/CFileFilterDlg.h"
#include "pipeline/ScanRequest.h"

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

// Lets the pane replay the rows and paint them.
void Settle(quarn::CTwinListView& pane) {
    pane.Model()->ApplyPendingChanges();
    QElapsedTimer wait;
    wait.start();
    while (wait.elapsed() < 200) {
        QApplication::processEvents();
    }
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s TREE OUTPUT-FOLDER\n", argv[0]);
        return 2;
    }
    const std::string tree = argv[1];
    const QString output = QString::fromLocal8Bit(argv[2]);

    quarn::EngineSignals events;
    quarn::DiskChanges changes;
    quarn::TwinScanner list;
    list.SetObserver({events.ProgressCallback(), events.IdleCallback()});
    quarn::CTwinListView pane(list, events, changes);
    pane.setWindowTitle(QStringLiteral("Dupmatch"));
    pane.resize(960, 330);
    pane.show();

    list.Scan(quarn::ScanRequestFromSettings(quarn::ScanRequest::Source::Folder, tree));
    list.WaitForWorkers();
    Settle(pane);
    pane.setCurrentIndex(pane.Model()->index(1, 0));
    Settle(pane);
    bool ok = Save(pane, output, QStringLiteral("dupmatch-pane.png"));

    list.StartVerify();
    list.WaitForWorkers();
    pane.resize(1180, 360);
    Settle(pane);
    pane.setCurrentIndex(pane.Model()->index(11, 0));
    Settle(pane);
    std::printf("status: %s\n", list.GetStatus().c_str());
    ok = Save(pane, output, QStringLiteral("dupmatch-verified.png")) && ok;

    quarn::CFileFilterDlg dialog(&pane);
    dialog.m_criteria.m_strSearch = "img";
    dialog.m_criteria.m_bSizeRange = true;
    dialog.m_criteria.m_strMinKB = "100";
    // The dialog is modal: it is drawn and executed once it shows.
    QTimer::singleShot(0, &dialog, [&] {
        Settle(pane);
        ok = Save(dialog, output, QStringLiteral("file-filter-dialog.png")) && ok;
        dialog.findChild<QPushButton*>(QStringLiteral("1"))->click();
    });
    dialog.OpenOn(list);
    list.WaitForWorkers();
    Settle(pane);
    std::printf("status: %s\n", list.GetStatus().c_str());
    ok = Save(pane, output, QStringLiteral("dupmatch-filtered.png")) && ok;
    return ok ? 0 : 1;
}
