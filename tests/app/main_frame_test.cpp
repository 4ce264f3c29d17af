// The main window driven as a user drives it: command line, Scan and its
// cancel, the mode switch, File Filter, Ctrl+A, the layout numbers, the
// status bar and the menus.

#include <QAbstractItemView>
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QCompleter>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSplitter>
#include <QSplitterHandle>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QToolBar>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "app/CommandLine.h"
#include "app/MainFrame.h"
#include "app/ScanMode.h"
#include "app/StatusSummaryField.h"
#include "app/TwinCommands.h"
#include "controls/PathCombo.h"
#include "controls/ShellItemMenu.h"
#include "duplicates/ui/TwinListModel.h"
#include "duplicates/ui/TwinListView.h"
#include "filter/ui/CFileFilterDlg.h"
#include "foldersize/SizeText.h"
#include "foldersize/ui/FolderSizeView.h"
#include "foldersize/ui/FolderTreeModel.h"
#include "foldersize/ui/TreemapView.h"
#include "settings/Settings.h"
#include "settings/ui/SettingsDlg.h"
#include "tests/support/TempTree.h"

using namespace quarn;

namespace {

// The modal dialog that opens within `action`, closed again; null when none.
QString ModalOpenedBy(const std::function<void()>& action) {
    QString opened;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&opened] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            opened = QString::fromLatin1(modal->metaObject()->className());
            modal->close();
        }
    });
    closer.start(20);
    action();
    // A dialog the action only queued opens (and is closed) here.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    return opened;
}

}  // namespace

class MainFrameTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TempTree> m_tree;
    std::unique_ptr<test::ScopedEnv> m_ini;
    std::unique_ptr<test::ScopedEnv> m_data;

    void WriteSettings(const char* text) {
        std::FILE* ini = std::fopen(m_tree->Path("quarn.ini").c_str(), "w");
        std::fputs(text, ini);
        std::fclose(ini);
    }

    std::string Folder() const { return m_tree->Path("scan"); }

    std::unique_ptr<CMainFrame> MakeFrame(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "quarn");
        auto frame = std::make_unique<CMainFrame>(arguments);
        frame->resize(650, 600);
        frame->show();
        frame->activateWindow();
        if (!QTest::qWaitForWindowActive(frame.get())) {
            qWarning("frame not active");
        }
        return frame;
    }

    void WaitForScans(CMainFrame& frame) {
        frame.FolderScan().Wait();
        frame.TwinScan().WaitForWorkers();
        frame.FolderView()->Model().ApplyChanges();
    }

    int TwinRows(CMainFrame& frame) { return frame.TwinList()->model()->rowCount(); }

    // Starts a scan, then cancels it while it runs; true when the cancel
    // stopped it at once and counted one exception. Whether the cancel still
    // finds the small tree's walk running is up to the scheduler: a loaded
    // machine may let it end first (the press then starts another scan), so
    // a cancel that came too late is tried again. A cancel that counts
    // nothing fails every attempt.
    template <typename Start, typename Cancel, typename Busy, typename Count>
    bool CancelsARunningScan(CMainFrame& frame, Start start, Cancel cancel, Busy busy,
                             Count count) {
        const auto before = count();
        for (int attempt = 0; attempt < 20; ++attempt) {
            start();
            if (!busy()) {
                return false;
            }
            cancel();
            const bool stoppedAtOnce = !busy();
            WaitForScans(frame);
            if (count() != before) {
                return stoppedAtOnce && count() == before + 1;
            }
        }
        return false;
    }

    // Enough folders that a walk is still running when a second Enter comes.
    void MakeManyFolders() {
        for (int i = 0; i < 400; ++i) {
            m_tree->MakeFolder("scan/many/f" + std::to_string(i) + "/g");
        }
    }

  private Q_SLOTS:
    void init() {
        m_tree = std::make_unique<test::TempTree>();
        m_tree->MakeFolder("xdg");
        m_ini = std::make_unique<test::ScopedEnv>("QUARN_INI", m_tree->Path("quarn.ini"));
        m_data = std::make_unique<test::ScopedEnv>("XDG_DATA_HOME", m_tree->Path("xdg"));
        WriteSettings("[SETTINGS]\nTwinMode=1\nRelativToDriveSpace=0\nShellRun=0\n");
        m_tree->MakeFile("scan/a/twin.txt", 100);
        m_tree->MakeFile("scan/b/twin.txt", 100);
        m_tree->SetModified("scan/a/twin.txt", 1600000000);
        m_tree->SetModified("scan/b/twin.txt", 1600000000);
        m_tree->MakeFile("scan/b/single.txt", 10);
    }

    void cleanup() {
        m_data.reset();
        m_ini.reset();
        m_tree.reset();
    }

    void commandLineSwitchesAndFolder() {
        // Dirmass wins over dupmatch; the test is case-sensitive.
        QCOMPARE(ParseCommandLine({"quarn", "/dupmatch", "/Dirmass"}).scanMode, kScanModeDirmass);
        QCOMPARE(ParseCommandLine({"quarn", "/DUPMATCH"}).scanMode, kScanModeDirmass);
        QCOMPARE(ParseCommandLine({"quarn"}).scanMode, kScanModeDirmass);
        // A path begins with "/" here: it is the folder, not a switch.
        StartOptions options =
            ParseCommandLine({"quarn", "-platform", "offscreen", "/dupmatch", "/srv/a"});
        QCOMPARE(options.scanMode, kScanModeDupmatch);
        QCOMPARE(options.folder.value(), std::string("/srv/a"));
        // A line the program refuses (before any window) gives the plain window.
        options = ParseCommandLine({"quarn", "-v", "/dupmatch", "/srv/a"});
        QCOMPARE(options.scanMode, kScanModeDirmass);
        QVERIFY(!options.folder.has_value());
        QVERIFY(!ParseCommandLine({"quarn", "/Dirmass", "--x"}).folder.has_value());
        QCOMPARE(ParseCommandLine({"quarn", "--import", "-"}).importFile.value(), std::string("-"));
        // The folder verb passes the folder alone.
        options = ParseCommandLine({"quarn", "/home/me/Music/"});
        QCOMPARE(options.scanMode, kScanModeDirmass);
        QCOMPARE(options.folder.value(), std::string("/home/me/Music"));
    }

    void aFolderNamedLikeASwitchSetsNoMode() {
        StartOptions options = ParseCommandLine({"quarn", "/data/dupmatch_backup"});
        QCOMPARE(options.scanMode, kScanModeDirmass);
        QCOMPARE(options.folder.value(), std::string("/data/dupmatch_backup"));
        options = ParseCommandLine({"quarn", "/dupmatch", "/data/Dirmass_old"});
        QCOMPARE(options.scanMode, kScanModeDupmatch);
        QCOMPARE(options.folder.value(), std::string("/data/Dirmass_old"));
        options = ParseCommandLine({"quarn", "/data/Dirmass", "/dupmatch"});
        QCOMPARE(options.scanMode, kScanModeDupmatch);
        QCOMPARE(options.folder.value(), std::string("/data/Dirmass"));
    }

    void aRelativeFolderIsResolvedAsTheKernelDoesAndTitledSo() {
        // work/link -> scan/a: "link/.." is scan, not work.
        m_tree->MakeFolder("work");
        QVERIFY(::symlink(m_tree->Path("scan/a").c_str(), m_tree->Path("work/link").c_str()) == 0);
        char* real = ::realpath(Folder().c_str(), nullptr);
        QVERIFY(real != nullptr);
        const std::string scan = real;
        std::free(real);
        const QString saved = QDir::currentPath();
        QVERIFY(QDir::setCurrent(QString::fromStdString(m_tree->Path("work"))));
        auto restore = qScopeGuard([&saved] { QDir::setCurrent(saved); });
        QCOMPARE(ParseCommandLine({"quarn", "link/../"}).folder.value(), scan);

        auto frame = MakeFrame({"link/.."});
        QCOMPARE(frame->PathCombo()->SelectedPath().value(), scan);
        QTRY_COMPARE(frame->windowTitle(),
                     QStringLiteral("Dirmass - ") + QString::fromStdString(scan));
        WaitForScans(*frame);
        QCOMPARE(frame->FolderScan().GetExceptionCount(), int64_t(0));
    }

    void unreadableSettingsAreNamedInTheStatusBarAndTheDefaultsApply() {
        const std::string fifo = m_tree->Path("fifo.ini");
        QVERIFY(::mkfifo(fifo.c_str(), 0600) == 0);
        test::ScopedEnv ini("QUARN_INI", fifo);
        // Should a read wait for a writer after all, this one comes after a
        // while and lets the test end with a failure instead of hanging.
        std::mutex lock;
        std::condition_variable changed;
        bool done = false;
        std::atomic<bool> hadToWrite{false};
        std::thread watchdog([&] {
            std::unique_lock held(lock);
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
            if (changed.wait_until(held, deadline, [&] { return done; })) {
                return;
            }
            // Hung: offer a writer until the reader has opened its end.
            while (!changed.wait_for(held, std::chrono::milliseconds(20), [&] { return done; })) {
                const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
                if (fd >= 0) {
                    hadToWrite.store(true);
                    ::close(fd);
                }
            }
        });
        auto stop = qScopeGuard([&] {
            {
                std::lock_guard held(lock);
                done = true;
            }
            changed.notify_all();
            watchdog.join();
        });

        auto frame = MakeFrame({"/dupmatch", Folder()});
        const QString message = frame->statusBar()->currentMessage();
        QCOMPARE(message,
                 QStringLiteral("The settings file ") + QString::fromStdString(fifo) +
                     QStringLiteral(" cannot be read (not a regular file); the defaults apply"));
        // The defaults: a duplicate scan of its own, comparing size and time.
        WaitForScans(*frame);
        QTRY_COMPARE(TwinRows(*frame), 2);
        QVERIFY(!hadToWrite.load());
    }

    // An import fills both panes from one read: the Dupmatch mode lists the
    // twins of the file by its names, sizes and times, the Dirmass mode its
    // tree, both with "[imported FILE]". An export needs a folder of this
    // machine, so it is offered after a scan, not for a tree imported from
    // elsewhere, and no command acts on a file that is not here.
    void anImportFillsBothPanesAndOnlyAScanCanBeExported() {
        const std::string file = m_tree->Path("elsewhere.json");
        std::FILE* out = std::fopen(file.c_str(), "w");
        std::fputs(R"([1,2,{},[{"name":"/no/such/host/srv"},)"
                   R"({"name":"f","asize":2048,"mtime":5},{"name":"g","asize":7},)"
                   R"([{"name":"sub"},{"name":"f","asize":2048,"mtime":5},)"
                   R"({"name":"g","asize":8}]]])",
                   out);
        std::fclose(out);
        auto frame = MakeFrame({"/dupmatch", "--import", file});
        QCOMPARE(ScanMode, kScanModeDupmatch);
        WaitForScans(*frame);
        const QString imported = QStringLiteral(" [imported ") + QString::fromStdString(file) + "]";
        // The two "f" of one size and time are twins; the "g" differ in size.
        // The status counts the rows a walk adds, as after a scan.
        QTRY_COMPARE(TwinRows(*frame), 2);
        QCOMPARE(QString::fromStdString(frame->TwinScan().GetStatus()),
                 QStringLiteral("Twin Files: 1 [2.000 KB] of Files 4, Exceptions: 0") + imported);
        QCOMPARE(frame->FolderScan().Tree().GetFigures().total, uint64_t(4111));
        QCOMPARE(QString::fromStdString(frame->FolderScan().GetStatus()),
                 QStringLiteral("Ready") + imported);
        frame->RefreshCommands();
        QVERIFY(!frame->ExportScanAction()->isEnabled());

        CShellItemMenu menu;
        menu.SetPath("/no/such/host/srv/f");
        for (QAction* action : menu.BuildMenu()->actions()) {
            if (!action->isSeparator()) {
                QCOMPARE(action->isEnabled(), action->data().toInt() == kCmdCopyPath);
            }
        }

        // The imported tree is the Dirmass mode's; a scan there replaces it.
        frame->DirmassAction()->trigger();
        QCOMPARE(frame->FolderScan().Tree().GetFigures().total, uint64_t(4111));
        frame->PathCombo()->AddPath(Folder());
        QTest::keyClick(frame->PathCombo(), Qt::Key_Return);
        WaitForScans(*frame);
        frame->RefreshCommands();
        QVERIFY(frame->ExportScanAction()->isEnabled());
    }

    // A damaged file shows nothing in either pane: a part of a tree, or of
    // its twins, would pass for the whole.
    void aDamagedImportLeavesBothPanesEmpty() {
        const std::string file = m_tree->Path("cut.json");
        std::FILE* out = std::fopen(file.c_str(), "w");
        std::fputs(R"([1,2,{},[{"name":"/r"},{"name":"f","asize":1},)"
                   R"([{"name":"s"},{"name":"f","asize":1}],{"name":)",
                   out);
        std::fclose(out);
        auto frame = MakeFrame({"/dupmatch", "--import", file});
        WaitForScans(*frame);
        // The rows the feed added and its discard reach the view in order.
        frame->TwinList()->Model()->ApplyPendingChanges();
        QCOMPARE(TwinRows(*frame), 0);
        QCOMPARE(frame->FolderView()->Model().rowCount(), 0);
        const QString twinStatus = QString::fromStdString(frame->TwinScan().GetStatus());
        QVERIFY2(twinStatus.startsWith(QStringLiteral("Import failed: truncated at byte ")),
                 qPrintable(twinStatus));
        QVERIFY(twinStatus.endsWith(QStringLiteral(" [imported ") + QString::fromStdString(file) +
                                    "]"));
        QCOMPARE(QString::fromStdString(frame->FolderScan().GetStatus()), twinStatus);
    }

    void startsInDupmatchAndScansTheGivenFolder() {
        auto frame = MakeFrame({"/dupmatch", Folder()});
        QCOMPARE(ScanMode, kScanModeDupmatch);
        QVERIFY(frame->TwinList()->isVisible());
        QVERIFY(!frame->FolderView()->isVisible());
        QVERIFY(!frame->FolderView()->header()->isVisible());
        QCOMPARE(frame->PathCombo()->SelectedPath().value(), Folder());
        QCOMPARE(frame->PathCombo()->currentIndex(), frame->PathCombo()->count() - 1);
        QTRY_COMPARE(frame->windowTitle(),
                     QStringLiteral("Dupmatch - ") + QString::fromStdString(Folder()));
        WaitForScans(*frame);
        QTRY_COMPARE(TwinRows(*frame), 2);
        // TwinMode on: the duplicate scan ran alone; the folder tree stayed empty.
        QCOMPARE(frame->FolderView()->Model().rowCount(), 0);
        QVERIFY(frame->DupmatchAction()->isChecked());
        QVERIFY(frame->FileFilterAction()->isEnabled());
    }

    void bothSwitchesStartInDirmass() {
        auto frame = MakeFrame({"/dupmatch", "/Dirmass"});
        QCOMPARE(ScanMode, kScanModeDirmass);
        QVERIFY(frame->FolderView()->isVisible());
        QVERIFY(!frame->TwinList()->isVisible());
        // Nothing scanned: the first refresh gives the mode and an empty path.
        QTRY_COMPARE(frame->windowTitle(), QStringLiteral("Dirmass - "));
        QCOMPARE(frame->StatusText()->text(), QStringLiteral("Bereit"));
        QVERIFY(!frame->FolderScan().IsScanRunning());
    }

    void titleIsTheProgramsNameUntilTheFirstRefresh() {
        const CMainFrame frame({"quarn"});
        QCOMPARE(frame.windowTitle(), QStringLiteral("Quarn"));
    }

    void secondEnterCancelsAndCountsAnException() {
        MakeManyFolders();
        auto frame = MakeFrame({});
        frame->PathCombo()->AddPath(Folder());
        const int64_t before = frame->FolderScan().GetExceptionCount();
        const auto pressEnter = [&] { QTest::keyClick(frame.get(), Qt::Key_Return); };
        QVERIFY(CancelsARunningScan(
            *frame, pressEnter, pressEnter, [&] { return frame->FolderScan().IsBusy(); },
            [&] { return frame->FolderScan().GetExceptionCount(); }));
        QCOMPARE(frame->FolderScan().GetExceptionCount(), before + 1);
        // The next press starts a fresh scan that completes.
        QTest::keyClick(frame.get(), Qt::Key_Return);
        WaitForScans(*frame);
        QCOMPARE(frame->FolderScan().GetExceptionCount(), before + 1);
        QTRY_COMPARE(frame->StatusText()->text(),
                     QString::fromStdString(frame->FolderScan().GetStatus()));

        // TwinMode on: the Dirmass scan left the twin list alone.
        QCOMPARE(TwinRows(*frame), 0);

        // A duplicate scan started in Dupmatch is cancelled by Enter even
        // when Dirmass is shown by then.
        QVERIFY(CancelsARunningScan(
            *frame,
            [&] {
                frame->DupmatchAction()->trigger();
                QTest::keyClick(frame.get(), Qt::Key_Return);
            },
            [&] {
                frame->DirmassAction()->trigger();
                QTest::keyClick(frame.get(), Qt::Key_Enter);
            },
            [&] { return frame->TwinScan().IsBusy(); },
            [&] { return frame->TwinScan().ExceptionCount(); }));
    }

    void scanWithoutAPathSaysWhy() {
        auto frame = MakeFrame({});
        CPathCombo* box = frame->PathCombo();
        for (int i = 0; i < box->count(); ++i) {
            if (box->IsBrowseEntry(i)) {
                box->setCurrentIndex(i);
            }
        }
        frame->ScanButton()->click();
        QVERIFY(!frame->FolderScan().IsScanRunning());
        QVERIFY(!frame->FolderScan().IsBusy());
        QVERIFY(frame->StatusText()->text().contains(QStringLiteral("No folder selected")));
    }

    void modeSwitchKeepsBothPanes() {
        WriteSettings("[SETTINGS]\nTwinMode=0\nRelativToDriveSpace=0\nShellRun=0\n");
        auto frame = MakeFrame({"/Dirmass", Folder()});
        WaitForScans(*frame);
        // One walk filled both panes.
        const QModelIndex root = frame->FolderView()->Model().index(0, 0);
        QVERIFY(root.isValid());
        const int folderRows = frame->FolderView()->Model().rowCount(root);
        QVERIFY(folderRows > 0);
        QTRY_COMPARE(TwinRows(*frame), 2);
        QTRY_COMPARE(frame->windowTitle(),
                     QStringLiteral("Dirmass - ") + QString::fromStdString(Folder()));
        QVERIFY(!frame->FileFilterAction()->isEnabled());

        frame->DupmatchAction()->trigger();
        QVERIFY(frame->TwinList()->isVisible());
        QVERIFY(!frame->FolderView()->isVisible());
        QVERIFY(frame->FileFilterAction()->isEnabled());
        QCOMPARE(TwinRows(*frame), 2);

        frame->DirmassAction()->trigger();
        QVERIFY(frame->FolderView()->isVisible());
        QCOMPARE(frame->FolderView()->Model().rowCount(root), folderRows);
        QCOMPARE(TwinRows(*frame), 2);
        QVERIFY(frame->DirmassAction()->isChecked());
        QVERIFY(!frame->DupmatchAction()->isChecked());
    }

    void titleAndStatusFollowACombinedScanInBothModes() {
        WriteSettings("[SETTINGS]\nTwinMode=0\nRelativToDriveSpace=0\nShellRun=0\n");
        m_tree->MakeFile("other/c/twin.txt", 7);
        m_tree->MakeFile("other/d/twin.txt", 7);
        m_tree->SetModified("other/c/twin.txt", 1600000000);
        m_tree->SetModified("other/d/twin.txt", 1600000000);
        const QString folder = QString::fromStdString(Folder());
        auto frame = MakeFrame({"/dupmatch", Folder()});
        WaitForScans(*frame);
        // Dupmatch: the scanned folder and the twin list's final summary,
        // the one a duplicate scan of that folder writes.
        QTRY_COMPARE(frame->windowTitle(), QStringLiteral("Dupmatch - ") + folder);
        QTRY_COMPARE(frame->StatusText()->text(),
                     QStringLiteral("Twin Files: 1 [0.098 KB] of Files 3, Exceptions: 0"));
        frame->DirmassAction()->trigger();
        QCOMPARE(frame->windowTitle(), QStringLiteral("Dirmass - ") + folder);
        QCOMPARE(frame->StatusText()->text(),
                 QString::fromStdString(frame->FolderScan().GetStatus()));

        // The next combined scan, started in Dirmass, moves both.
        const QString other = QString::fromStdString(m_tree->Path("other"));
        frame->PathCombo()->AddPath(m_tree->Path("other"));
        QTest::keyClick(frame.get(), Qt::Key_Return);
        WaitForScans(*frame);
        QTRY_COMPARE(frame->windowTitle(), QStringLiteral("Dirmass - ") + other);
        QTRY_COMPARE(frame->StatusText()->text(),
                     QString::fromStdString(frame->FolderScan().GetStatus()));
        frame->DupmatchAction()->trigger();
        QCOMPARE(frame->windowTitle(), QStringLiteral("Dupmatch - ") + other);
        QCOMPARE(frame->StatusText()->text(),
                 QStringLiteral("Twin Files: 1 [0.007 KB] of Files 2, Exceptions: 0"));
    }

    void summaryFieldCountsEachPanesScan() {
        auto frame = MakeFrame({"/Dirmass", Folder()});
        const QRegularExpression finished(
            QStringLiteral("^3 files, 2 folders in \\d+\\.\\d\\d s$"));
        WaitForScans(*frame);
        QTRY_VERIFY(finished.match(frame->SummaryField()->text()).hasMatch());
        QVERIFY(frame->SummaryField()->isVisible());
        // The twin list has not been scanned: nothing to tell in Dupmatch.
        frame->DupmatchAction()->trigger();
        QCOMPARE(frame->SummaryField()->text(), QString());
        QVERIFY(!frame->SummaryField()->isVisible());
        // Its own scan counts the same tree the same way.
        QTest::keyClick(frame.get(), Qt::Key_Return);
        WaitForScans(*frame);
        QTRY_VERIFY(finished.match(frame->SummaryField()->text()).hasMatch());
        // A prompt on the status bar leaves the summary in place.
        frame->statusBar()->showMessage(QStringLiteral("Info"));
        QVERIFY(frame->SummaryField()->isVisible());
        frame->statusBar()->clearMessage();

        // A bigger tree, counted anew.
        MakeManyFolders();
        frame->DirmassAction()->trigger();
        QTest::keyClick(frame.get(), Qt::Key_Return);
        WaitForScans(*frame);
        // a, b, many, and 400 folders with one folder each.
        QTRY_VERIFY2(QRegularExpression(QStringLiteral("^3 files, 803 folders in "))
                         .match(frame->SummaryField()->text())
                         .hasMatch(),
                     qPrintable(frame->SummaryField()->text()));
    }

    void anUnreadableFolderIsMarkedExplainedAndCounted() {
        if (test::RunningAsRoot()) {
            QSKIP("chmod does not keep root out");
        }
        m_tree->MakeFile("scan/closed/secret", 50);
        ::chmod(m_tree->Path("scan/closed").c_str(), 0);
        const auto reopen =
            qScopeGuard([this] { ::chmod(m_tree->Path("scan/closed").c_str(), 0755); });
        auto frame = MakeFrame({"/Dirmass", Folder()});
        WaitForScans(*frame);
        FolderTreeModel& model = frame->FolderView()->Model();
        const QModelIndex root = model.index(0, 0);
        QModelIndex closed, open;
        for (int row = 0; row < model.rowCount(root); ++row) {
            const QModelIndex child = model.index(row, 0, root);
            if (child.data().toString() == QStringLiteral("closed")) {
                closed = child;
            } else if (child.data().toString() == QStringLiteral("a")) {
                open = child;
            }
        }
        QVERIFY(closed.isValid() && open.isValid());
        QCOMPARE(closed.data(Qt::ToolTipRole).toString(),
                 QString::fromLocal8Bit(std::strerror(EACCES)));
        QVERIFY(open.data(Qt::ToolTipRole).isNull());
        const QIcon mark = closed.data(Qt::DecorationRole).value<QIcon>();
        const QIcon plain = open.data(Qt::DecorationRole).value<QIcon>();
        QVERIFY(!mark.isNull());
        QVERIFY(mark.pixmap(16).toImage() != plain.pixmap(16).toImage());
        // Counted beside the status, which stays the scan's own.
        QTRY_COMPARE(frame->SummaryField()->PartText(StatusSummaryField::kUnreadable),
                     QStringLiteral("1 folder unreadable"));
        QVERIFY(frame->SummaryField()->text().contains(QStringLiteral("1 folder unreadable")));
        QVERIFY(!frame->StatusText()->text().contains(QStringLiteral("unreadable")));

        // Deleted from the tree: the count goes with it.
        QVERIFY(frame->FolderScan().RemoveFolderItem(model.HandleOf(closed)));
        QTRY_VERIFY(frame->SummaryField()->PartText(StatusSummaryField::kUnreadable).isEmpty());
    }

    // The treemap below the tree: drawn after a scan, hovering names a
    // folder and its size, a click selects it in the tree, a double-click
    // zooms into it and the band above zooms out; View > Treemap closes it
    // and remembers that.
    void treemapFollowsTheScanAndLeadsToTheTree() {
        m_tree->MakeFile("scan/b/sub/deep.bin", 200000);
        auto frame = MakeFrame({"/Dirmass", Folder()});
        frame->resize(900, 800);
        WaitForScans(*frame);
        TreemapView* map = frame->Treemap();
        QVERIFY(map->isVisible());
        QTRY_VERIFY(map->HasPicture());
        FolderScanner& scanner = frame->FolderScan();
        const FolderSizeTree& view = scanner.Tree();
        const NodeHandle folderB = view.FindFolderItem(m_tree->Path("scan/b"));
        QTRY_VERIFY(map->PointOfItem(folderB).has_value());
        const QPoint point = *map->PointOfItem(folderB);

        QTest::mouseMove(map, point);
        const QString expected = QString::fromStdString(m_tree->Path("scan/b")) +
                                 QStringLiteral("  ") +
                                 QString::fromStdString(FormatSize(*view.GetItemSize(folderB)));
        QTRY_COMPARE(frame->StatusText()->text(), expected);
        // Leaving the map gives the scan's status back.
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(map, &leave);
        QCOMPARE(frame->StatusText()->text(), QString::fromStdString(scanner.GetStatus()));

        QTest::mouseClick(map, Qt::LeftButton, {}, point);
        QCOMPARE(frame->FolderView()->Model().HandleOf(frame->FolderView()->currentIndex()),
                 folderB);

        const NodeHandle root = map->ZoomedItem();
        QTest::mouseDClick(map, Qt::LeftButton, {}, point);
        QTRY_COMPARE(map->ZoomedItem(), folderB);
        QVERIFY(map->BandHeight() > 0);
        // Zoomed, the map shows folder b's subfolder where the whole tree was.
        QTRY_VERIFY(map->PointOfItem(view.FindFolderItem(m_tree->Path("scan/b/sub"))).has_value());
        QTest::mouseClick(map, Qt::LeftButton, {}, QPoint(5, map->BandHeight() / 2));
        QTRY_COMPARE(map->ZoomedItem(), root);
        QCOMPARE(map->BandHeight(), 0);

        // Dragged shut, it is closed as by the View item; the item opens it
        // again with room of its own.
        auto* splitter = qobject_cast<QSplitter*>(map->parentWidget());
        QVERIFY(splitter != nullptr);
        QSplitterHandle* handle = splitter->handle(1);
        const QPoint grip(handle->width() / 2, handle->height() / 2);
        auto drag = [handle](QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
            QMouseEvent event(type, at, handle->mapToGlobal(at), Qt::LeftButton, buttons, {});
            QApplication::sendEvent(handle, &event);
        };
        drag(QEvent::MouseButtonPress, grip, Qt::LeftButton);
        drag(QEvent::MouseMove, grip + QPoint(0, 2000), Qt::LeftButton);
        drag(QEvent::MouseButtonRelease, grip + QPoint(0, 2000), Qt::NoButton);
        QCOMPARE(splitter->sizes().value(1), 0);
        QVERIFY(!frame->TreemapAction()->isChecked());
        QVERIFY(!ReadSetting(kShowTreemap, true));
        frame->TreemapAction()->trigger();
        QVERIFY(ReadSetting(kShowTreemap, false));
        QTRY_VERIFY(map->height() > 100);

        frame->TreemapAction()->trigger();
        QVERIFY(!map->isVisible());
        QVERIFY(!ReadSetting(kShowTreemap, true));
        // Closed, it stays closed in the next window.
        frame.reset();
        auto next = MakeFrame({});
        QVERIFY(!next->Treemap()->isVisible());
        QVERIFY(!next->TreemapAction()->isChecked());
    }

    void allocatedSizeCountsTheDiskAndRefreshOnTheRootScansAnew() {
        WriteSettings("[SETTINGS]\nTwinMode=0\nRelativToDriveSpace=0\nShellRun=0\n");
        m_tree->MakeSparseFile("scan/holes/sparse.img", uint64_t(2) << 30);
        auto frame = MakeFrame({"/Dirmass", Folder()});
        WaitForScans(*frame);
        const FolderSizeTree& view = frame->FolderScan().Tree();
        QVERIFY(view.GetFigures().total > (uint64_t(2) << 30));

        // Checked: written, and the tree on screen is counted anew at once.
        frame->AllocatedSizeAction()->trigger();
        QVERIFY(frame->AllocatedSizeAction()->isChecked());
        QVERIFY(ReadSetting(kAllocatedSize, false));
        WaitForScans(*frame);
        QVERIFY(view.AreSizesAllocated());
        QVERIFY(view.GetFigures().total < (uint64_t(1) << 20));
        QTRY_COMPARE(TwinRows(*frame), 2);  // the combined scan fed the twin list anew, once

        // Refresh on the scan root is a new scan of the shown folder.
        m_tree->MakeFile("scan/later/new.txt", 5000);
        frame->FolderView()->setFocus();
        frame->FolderView()->setCurrentIndex(frame->FolderView()->Model().index(0, 0));
        QTest::keyClick(frame->FolderView(), Qt::Key_F5);
        WaitForScans(*frame);
        QCOMPARE(view.GetFigures().files, 5);
        QTRY_COMPARE(TwinRows(*frame), 2);
        frame->AllocatedSizeAction()->trigger();
        WaitForScans(*frame);
        QVERIFY(!view.AreSizesAllocated());
        QVERIFY(view.GetFigures().total > (uint64_t(2) << 30));
    }

    void aTypedFolderIsScannedAndAMissingOneRefused() {
        auto frame = MakeFrame({});
        CPathCombo* box = frame->PathCombo();
        const int items = box->count();
        box->lineEdit()->setFocus();
        box->lineEdit()->selectAll();
        QTest::keyClicks(box->lineEdit(), QString::fromStdString(m_tree->Path("nowhere")));
        QTest::keyClick(box->lineEdit(), Qt::Key_Return);
        QVERIFY(!frame->FolderScan().IsScanRunning());
        QCOMPARE(frame->StatusText()->text(),
                 QStringLiteral("Cannot scan \"%1\": no such folder")
                     .arg(QString::fromStdString(m_tree->Path("nowhere"))));
        QCOMPARE(box->count(), items);
        QCOMPARE(frame->FolderScan().GetScanPath(), std::string());

        // Mended and entered again: added to the box and scanned, once (a
        // second start would have cancelled the first and counted it).
        const int64_t exceptions = frame->FolderScan().GetExceptionCount();
        box->lineEdit()->selectAll();
        QTest::keyClicks(box->lineEdit(), QString::fromStdString(Folder()));
        if (QWidget* list = box->completer()->popup(); list->isVisible()) {
            QTest::keyClick(list, Qt::Key_Return);
        } else {
            QTest::keyClick(box->lineEdit(), Qt::Key_Return);
        }
        WaitForScans(*frame);
        QCOMPARE(frame->FolderScan().GetScanPath(), Folder());
        QCOMPARE(frame->FolderScan().GetExceptionCount(), exceptions);
        QCOMPARE(box->count(), items + 1);
        QCOMPARE(box->SelectedPath().value(), Folder());
        QTRY_COMPARE(frame->windowTitle(),
                     QStringLiteral("Dirmass - ") + QString::fromStdString(Folder()));

        // With the completion list open, Enter scans the typed folder once.
        box->lineEdit()->selectAll();
        QTest::keyClicks(box->lineEdit(), QString::fromStdString(m_tree->Path("scan/b")));
        box->completer()->complete();
        QTRY_VERIFY(box->completer()->popup()->isVisible());
        QTest::keyClick(box->completer()->popup(), Qt::Key_Return);
        WaitForScans(*frame);
        QCOMPARE(frame->FolderScan().GetScanPath(), m_tree->Path("scan/b"));
        QCOMPARE(frame->FolderScan().GetExceptionCount(), exceptions);
    }

    void aFolderChosenInThePickerIsScannedAtOnce() {
        MakeManyFolders();
        auto frame = MakeFrame({});
        CPathCombo* box = frame->PathCombo();
        std::string answer = m_tree->Path("scan");
        box->SetFolderPicker([&answer](QWidget*) { return answer; });
        QSignalSpy browsed(box, &CPathCombo::browseFinished);
        auto chooseBrowseEntry = [box] {
            for (int i = 0; i < box->count(); ++i) {
                if (box->IsBrowseEntry(i)) {
                    box->showPopup();
                    box->hidePopup();
                    box->setCurrentIndex(i);
                }
            }
        };
        chooseBrowseEntry();
        QVERIFY(browsed.wait(30000));
        QCOMPARE(frame->FolderScan().GetScanPath(), answer);

        // Chosen while that scan runs: it gives way to the new folder.
        answer = m_tree->Path("scan/b");
        chooseBrowseEntry();
        QVERIFY(browsed.wait(30000));
        QCOMPARE(frame->FolderScan().GetScanPath(), answer);
        WaitForScans(*frame);
        QCOMPARE(frame->FolderScan().Tree().GetRootPath(), answer);

        // A cancelled picker scans nothing.
        const int64_t files = frame->FolderScan().Tree().GetFigures().files;
        answer.clear();
        chooseBrowseEntry();
        QVERIFY(browsed.wait(30000));
        QVERIFY(!frame->FolderScan().IsScanRunning());
        QCOMPARE(frame->FolderScan().Tree().GetFigures().files, files);
    }

    void fileFilterOnlyInDupmatch() {
        auto frame = MakeFrame({});
        QVERIFY(!frame->FileFilterAction()->isEnabled());
        QCOMPARE(ModalOpenedBy([&] { QTest::keyClick(frame.get(), Qt::Key_F); }), QString());
        frame->DupmatchAction()->trigger();
        QVERIFY(frame->FileFilterAction()->isEnabled());
        QCOMPARE(ModalOpenedBy([&] { QTest::keyClick(frame.get(), Qt::Key_F); }),
                 QStringLiteral("quarn::CFileFilterDlg"));
    }

    void keysTypedIntoTheFileFilterReachItsFields() {
        auto frame = MakeFrame({"/dupmatch", Folder()});
        WaitForScans(*frame);
        QTRY_COMPARE(TwinRows(*frame), 2);
        // Anything the dialog's Execute left running is done before the frame goes.
        auto waitForSearch = qScopeGuard([&frame] { frame->TwinScan().WaitForWorkers(); });
        QString typed;
        bool nested = false;
        bool scanned = false;
        QTimer typist;
        QObject::connect(&typist, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<CFileFilterDlg*>(QApplication::activeModalWidget());
            if (dialog == nullptr) {
                return;
            }
            typist.stop();
            auto* search = dialog->findChild<QLineEdit*>(QStringLiteral("1001"));
            QTest::keyClicks(search, QStringLiteral("fF"));
            QTest::keyClick(search, Qt::Key_F);
            typed = search->text();
            // A second File Filter would stack another modal loop on this one.
            nested = QApplication::activeModalWidget() != dialog;
            // Enter presses the dialog's default button, not the window's Scan.
            QTest::keyClick(search, Qt::Key_Return);
            scanned = frame->FolderScan().IsBusy() || frame->TwinScan().IsBusy();
            if (dialog->isVisible()) {
                dialog->reject();
            }
        });
        typist.start(20);
        QTest::keyClick(frame.get(), Qt::Key_F);
        QCOMPARE(typed, QStringLiteral("fFf"));
        QVERIFY(!nested);
        QVERIFY(!scanned);
        auto* dialog = frame->findChild<CFileFilterDlg*>();
        QVERIFY(dialog != nullptr);
        QVERIFY(!dialog->isVisible());
        QCOMPARE(dialog->m_criteria.m_strSearch, std::string("fFf"));
    }

    void settingsAndAboutOpenTheirDialogs() {
        auto frame = MakeFrame({});
        QCOMPARE(ModalOpenedBy([&] { frame->SettingsAction()->trigger(); }),
                 QStringLiteral("quarn::SettingsDlg"));
        QCOMPARE(ModalOpenedBy([&] { frame->AboutAction()->trigger(); }),
                 QStringLiteral("quarn::CInfoDialog"));
    }

    void settingsBoxForBothModesMakesTheNextScanOneWalk() {
        auto frame = MakeFrame({"/dupmatch"});
        frame->PathCombo()->AddPath(Folder());
        // The user checks "Scan Mode: Dirmass & Dupmatch" and presses OK.
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [&answer] {
            if (auto* dialog = qobject_cast<SettingsDlg*>(QApplication::activeModalWidget())) {
                answer.stop();
                dialog->CheckBox(1000)->setChecked(true);
                dialog->accept();
            }
        });
        answer.start(20);
        frame->SettingsAction()->trigger();
        QVERIFY(!ReadSetting(kTwinMode));

        // One Scan in the Dupmatch mode walks once and fills both panes.
        frame->ScanButton()->click();
        WaitForScans(*frame);
        const QModelIndex root = frame->FolderView()->Model().index(0, 0);
        QVERIFY(root.isValid());
        QVERIFY(frame->FolderView()->Model().rowCount(root) > 0);
        QTRY_COMPARE(TwinRows(*frame), 2);
    }

    void ctrlASelectsEveryTwinRowOnlyInDupmatch() {
        auto frame = MakeFrame({"/dupmatch", Folder()});
        WaitForScans(*frame);
        QTRY_COMPARE(TwinRows(*frame), 2);
        frame->DirmassAction()->trigger();
        QTest::keyClick(frame.get(), Qt::Key_A, Qt::ControlModifier);
        QVERIFY(!frame->TwinList()->selectionModel()->hasSelection());

        frame->DupmatchAction()->trigger();
        frame->FolderView()->setFocus();
        QTest::keyClick(frame.get(), Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(frame->TwinList()->selectionModel()->selectedRows().size(), 2);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(frame->TwinList()));
    }

    void layoutNumbersFollowTheWindowSize() {
        auto frame = MakeFrame({});
        for (const QSize size : {QSize(650, 600), QSize(900, 500)}) {
            frame->resize(size);
            // The resize event places the bar's parts.
            QTRY_COMPARE_WITH_TIMEOUT(frame->size(), size, 30000);
            QCoreApplication::sendPostedEvents();
            const QRect bar = frame->ToolBar()->rect();
            const QRect box = frame->PathCombo()->geometry();
            QCOMPARE(box.x(), bar.x() + 250);
            QCOMPARE(box.y(), bar.y() + 6);
            QCOMPARE(box.x() + box.width(), bar.x() + bar.width() - 80);
            QCOMPARE(frame->ScanButton()->geometry(),
                     QRect(bar.x() + bar.width() - 80, bar.y() + 8, 70, 21));
            QCOMPARE(frame->ScanButton()->text(), QStringLiteral("scan"));
            // The pane (the tree and its treemap) fills the space between the
            // tool bar and the status bar.
            const QRect toolBar = frame->ToolBar()->geometry();
            QWidget* folderPane = frame->FolderView()->parentWidget();
            QVERIFY(folderPane->isAncestorOf(frame->Treemap()));
            const QRect pane(folderPane->mapTo(frame.get(), QPoint(0, 0)), folderPane->size());
            QCOMPARE(pane.y(), toolBar.y() + toolBar.height());
            QCOMPARE(pane.y() + pane.height(), frame->statusBar()->geometry().y());
            QCOMPARE(pane.width(), frame->width());
        }
        frame->DupmatchAction()->trigger();
        QCOMPARE(frame->TwinList()->geometry(), frame->PaneArea()->rect());
    }

    void menusToolBarAndPrompts() {
        auto frame = MakeFrame({});
        QStringList titles;
        for (QAction* menu : frame->menuBar()->actions()) {
            titles << menu->text();
        }
        QCOMPARE(titles, QStringList({"&File", "&View", "&Tools", "&Options", "&Help"}));
        auto entries = [](QMenu* menu) {
            QStringList texts;
            for (QAction* action : menu->actions()) {
                texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
            }
            return texts;
        };
        const QList<QAction*> menus = frame->menuBar()->actions();
        QCOMPARE(entries(menus[0]->menu()),
                 QStringList({"&Scan Folder", "Export Scan...", "-", "Compare with Earlier Scan...",
                              "End Comparison", "-", "&Exit"}));
        QCOMPARE(entries(menus[1]->menu()), QStringList({"&Largest Files", "File &Types", "-",
                                                         "T&reemap", "Order by Change"}));
        QCOMPARE(
            entries(menus[2]->menu()),
            QStringList({"&Dirmass", "&Dupmatch", "-", "Twins by Name", "Twins by Content", "-",
                         "File Filter", "Select All", "-", "&Verify Contents", "Select &Copies",
                         "&Keep in Each Set", "-", "Replace Copies with Hard Links...",
                         "Replace Copies with Clones..."}));
        // The keys stand beside the texts, which stay as they are.
        QCOMPARE(frame->ScanAction()->shortcut().toString(QKeySequence::NativeText),
                 QStringLiteral("Enter"));
        QCOMPARE(frame->FileFilterAction()->shortcut(), QKeySequence(Qt::Key_F));
        QCOMPARE(frame->SelectAllAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_A));
        QCOMPARE(entries(menus[3]->menu()), QStringList({"General &Settings", "Allocated Size"}));
        QVERIFY(frame->AllocatedSizeAction()->isCheckable());
        QVERIFY(!frame->AllocatedSizeAction()->isChecked());  // a missing key is off
        QCOMPARE(entries(menus[4]->menu()), QStringList({"&About..."}));

        QList<QAction*> tools = frame->ToolBar()->actions();
        QStringList order;
        for (QAction* action : tools) {
            order << (action->isSeparator() ? QStringLiteral("-") : action->text());
        }
        QCOMPARE(order,
                 QStringList({"&Dirmass", "&Dupmatch", "-", "File Filter", "&Verify Contents", "-",
                              "General &Settings", "-", "&About..."}));
        QCOMPARE(frame->ToolBar()->iconSize(), QSize(26, 26));
        QVERIFY(frame->DirmassAction()->actionGroup()->isExclusive());
        QCOMPARE(frame->AboutAction()->toolTip(), QStringLiteral("Info"));
        QCOMPARE(frame->AboutAction()->statusTip(), QStringLiteral("Info"));
        QCOMPARE(frame->ExitAction()->statusTip(), QStringLiteral("Beenden"));
        QVERIFY(frame->ScanAction()->statusTip().isEmpty());
    }

    void rightClicksOnTheBarsOfferNoMenu() {
        // No menu could hide the tool bar, and with it the path box and Scan.
        auto frame = MakeFrame({});
        for (QWidget* bar :
             {static_cast<QWidget*>(frame->menuBar()), static_cast<QWidget*>(frame->ToolBar())}) {
            const QPoint inside(bar->width() - 5, bar->height() / 2);
            QContextMenuEvent click(QContextMenuEvent::Mouse, inside, bar->mapToGlobal(inside));
            QApplication::sendEvent(bar, &click);
            QCoreApplication::sendPostedEvents();
            QCoreApplication::processEvents();
            QCOMPARE(QApplication::activePopupWidget(), nullptr);
        }
        QVERIFY(frame->ToolBar()->isVisible());
    }

    void pointingAtAboutShowsItsPrompt() {
        auto frame = MakeFrame({});
        QWidget* about = frame->ToolBar()->widgetForAction(frame->AboutAction());
        QVERIFY(about != nullptr);
        QTest::mouseMove(about);
        QTRY_COMPARE(frame->statusBar()->currentMessage(), QStringLiteral("Info"));
        QWidget* dirmass = frame->ToolBar()->widgetForAction(frame->DirmassAction());
        QTest::mouseMove(dirmass);
        QTRY_COMPARE(frame->statusBar()->currentMessage(), QString());
        // Without a prompt the status field shows its own text again.
        QVERIFY(frame->StatusText()->isVisible());
        QCOMPARE(frame->StatusText()->text(), QStringLiteral("Bereit"));
    }

    void verifyContentsAndSelectCopiesActOnTheTwinList() {
        // The twins of init() hold the same bytes; a third twin differs.
        m_tree->MakeFile("scan/c/twin.txt", 100);
        {
            std::FILE* other = std::fopen(m_tree->Path("scan/c/twin.txt").c_str(), "w");
            std::fputs(std::string(100, 'x').c_str(), other);
            std::fclose(other);
        }
        m_tree->SetModified("scan/c/twin.txt", 1600000000);
        auto frame = MakeFrame({"/dupmatch", Folder()});
        WaitForScans(*frame);
        TwinCommands& twins = *frame->Twins();
        frame->RefreshCommands();
        QVERIFY(twins.VerifyAction()->isEnabled());
        twins.VerifyAction()->trigger();
        frame->TwinScan().WaitForWorkers();
        QVERIFY(frame->TwinScan().ShowsVerdicts());
        QTRY_COMPARE(TwinRows(*frame), 3);
        QTRY_VERIFY(frame->StatusText()->text().startsWith(
            QStringLiteral("Verified: 1 identical copies [0.098 KB] beyond the first of each set, "
                           "1 unique")));

        // Keep the newest: the other identical twin is selected, nothing else.
        twins.KeepGroup()->actions()[1]->trigger();
        QCOMPARE(twins.Keep(), TwinScanner::KeepRule::Newest);
        twins.SelectCopiesAction()->trigger();
        QCOMPARE(frame->TwinList()->selectionModel()->selectedRows().size(), 1);
        QVERIFY(frame->StatusText()->text().startsWith(QStringLiteral("Selected 1 copies")));

        // Not in Dirmass.
        frame->OnModeDirmass();
        QVERIFY(!twins.VerifyAction()->isEnabled());
        QVERIFY(!twins.SelectCopiesAction()->isEnabled());
    }

    void closingDuringAScanEndsQuietly() {
        MakeManyFolders();
        auto frame = MakeFrame({});
        frame->PathCombo()->AddPath(Folder());
        frame->OnScan();
        frame->close();
        QVERIFY(!frame->FolderScan().IsBusy());
        // The members join the worker; no message, no hang.
        frame.reset();
    }
};

QTEST_MAIN(MainFrameTest)
#include "main_frame_test.moc"
