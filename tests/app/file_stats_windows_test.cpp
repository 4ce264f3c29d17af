// View > Largest Files and View > File Types after a scan: what the windows
// list, a type's files, the trash from the list, and a new scan's lists.

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QTest>
#include <QTreeView>

#include <filesystem>
#include <memory>
#include <string>

#include "app/FileTypesDialog.h"
#include "app/FileTypesModel.h"
#include "app/LargestFilesDialog.h"
#include "app/LargestFilesList.h"
#include "app/LargestFilesModel.h"
#include "app/MainFrame.h"
#include "controls/ShellItemMenu.h"
#include "controls/ShellOperations.h"
#include "tests/support/TempTree.h"

using namespace quarn;

class FileStatsWindowsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TempTree> m_tree;
    std::unique_ptr<test::ScopedEnv> m_ini;
    std::unique_ptr<test::ScopedEnv> m_data;

    std::unique_ptr<CMainFrame> ScannedFrame() {
        auto frame = std::make_unique<CMainFrame>(
            std::vector<std::string>{"quarn", "/Dirmass", m_tree->Path("scan")});
        frame->resize(650, 500);
        frame->show();
        frame->FolderView().WaitForScan();
        return frame;
    }

    static QString Cell(QAbstractItemModel* model, int row, int column) {
        return model->index(row, column).data().toString();
    }

  private Q_SLOTS:
    void init() {
        m_tree = std::make_unique<test::TempTree>();
        m_tree->MakeFolder("xdg");
        m_ini = std::make_unique<test::ScopedEnv>("QUARN_INI", m_tree->Path("quarn.ini"));
        m_data = std::make_unique<test::ScopedEnv>("XDG_DATA_HOME", m_tree->Path("xdg"));
        m_tree->MakeFile("scan/b/photo.JPG", 5000);
        m_tree->MakeFile("scan/a/one.txt", 100);
        m_tree->MakeFile("scan/b/two.txt", 100);
        m_tree->MakeFile("scan/b/small.txt", 10);
        m_tree->MakeFile("scan/README", 0);
    }

    void cleanup() {
        ShellHooks() = ShellOperationHooks();
        m_data.reset();
        m_ini.reset();
        m_tree.reset();
    }

    void largestFilesListEveryFileBySizeThenPath() {
        auto frame = ScannedFrame();
        frame->LargestFilesAction()->trigger();
        LargestFilesDialog* dialog = frame->LargestFiles();
        QVERIFY(dialog != nullptr && dialog->isVisible());
        QCOMPARE(dialog->parentWidget(), frame.get());
        QAbstractItemModel* shown = dialog->List()->model();
        QTRY_COMPARE(shown->rowCount(), 5);
        QCOMPARE(Cell(shown, 0, LargestFilesModel::kNameColumn), QStringLiteral("photo.JPG"));
        QCOMPARE(Cell(shown, 0, LargestFilesModel::kSizeColumn), QStringLiteral("4.883 KB"));
        // Equal sizes: by path, so a/ before b/.
        QCOMPARE(Cell(shown, 1, LargestFilesModel::kFolderColumn),
                 QString::fromStdString(m_tree->Path("scan/a")));
        QCOMPARE(Cell(shown, 2, LargestFilesModel::kNameColumn), QStringLiteral("two.txt"));
        QVERIFY(!Cell(shown, 0, LargestFilesModel::kModifiedColumn).isEmpty());
        // A click on the header sorts by name, the sizes' order comes back.
        dialog->List()->sortByColumn(LargestFilesModel::kNameColumn, Qt::AscendingOrder);
        QCOMPARE(Cell(shown, 0, LargestFilesModel::kNameColumn), QStringLiteral("README"));
    }

    void aChosenTypeListsItsFilesOnly() {
        auto frame = ScannedFrame();
        frame->FileTypesAction()->trigger();
        FileTypesDialog* dialog = frame->FileTypes();
        QAbstractItemModel* types = dialog->Types()->model();
        QTRY_COMPARE(types->rowCount(), 3);
        QCOMPARE(Cell(types, 0, FileTypesModel::kTypeColumn), QStringLiteral(".jpg"));
        QCOMPARE(Cell(types, 1, FileTypesModel::kTypeColumn), QStringLiteral(".txt"));
        QCOMPARE(Cell(types, 1, FileTypesModel::kFilesColumn), QStringLiteral("3"));
        QCOMPARE(Cell(types, 1, FileTypesModel::kShareColumn), QStringLiteral("4.0 %"));
        QCOMPARE(Cell(types, 2, FileTypesModel::kTypeColumn), QStringLiteral("no extension"));

        dialog->Types()->setCurrentIndex(types->index(1, 0));
        QAbstractItemModel* files = dialog->Files()->model();
        QCOMPARE(files->rowCount(), 3);
        for (int row = 0; row < 3; ++row) {
            QVERIFY(Cell(files, row, LargestFilesModel::kNameColumn).endsWith(".txt"));
        }
        dialog->Types()->setCurrentIndex(types->index(2, 0));
        QCOMPARE(files->rowCount(), 1);
        QCOMPARE(Cell(files, 0, LargestFilesModel::kNameColumn), QStringLiteral("README"));
    }

    void aTrashedFileLeavesTheListAndANewScanIsShown() {
        auto frame = ScannedFrame();
        frame->LargestFilesAction()->trigger();
        LargestFilesList* list = frame->LargestFiles()->List();
        QTRY_COMPARE(list->model()->rowCount(), 5);
        ShellHooks().confirm = [](QWidget*, const QString&, const QString&) { return true; };
        ShellHooks().pickMenuAction = [](QMenu* menu, const QPoint&) -> QAction* {
            for (QAction* action : menu->actions()) {
                if (action->data().toInt() == kCmdMoveToTrash) {
                    return action;
                }
            }
            return nullptr;
        };
        const QRect first = list->visualRect(list->model()->index(0, 0));
        QContextMenuEvent click(QContextMenuEvent::Mouse, first.center(),
                                list->viewport()->mapToGlobal(first.center()));
        QApplication::sendEvent(list->viewport(), &click);
        QVERIFY(!std::filesystem::exists(m_tree->Path("scan/b/photo.JPG")));
        QCOMPARE(list->model()->rowCount(), 4);
        QCOMPARE(Cell(list->model(), 0, LargestFilesModel::kNameColumn), QStringLiteral("one.txt"));

        // The open window follows the next scan.
        m_tree->MakeFile("scan/c/big.iso", 90000);
        frame->OnScan();
        frame->FolderView().WaitForScan();
        QTRY_COMPARE(list->model()->rowCount(), 5);
        QCOMPARE(Cell(list->model(), 0, LargestFilesModel::kNameColumn), QStringLiteral("big.iso"));
    }
};

QTEST_MAIN(FileStatsWindowsTest)
#include "file_stats_windows_test.moc"
