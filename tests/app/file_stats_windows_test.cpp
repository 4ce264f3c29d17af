// View > Largest Files and View > File Types after a scan: what the windows
// list, a type's files, the trash from the list (the other window and the
// folder tree follow), and a new scan's lists.

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
#include "duplicates/ui/TwinListModel.h"
#include "duplicates/ui/TwinListView.h"
#include "foldersize/SizeText.h"
#include "foldersize/TreemapTree.h"
#include "foldersize/ui/FolderSizeView.h"
#include "settings/Settings.h"
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
        frame->FolderScan().Wait();
        return frame;
    }

    // The view row of a type ("no extension", ".bin"), -1 when it is not listed.
    static int RowOfType(QAbstractItemModel* model, const QString& type) {
        for (int row = 0; row < model->rowCount(); ++row) {
            if (Cell(model, row, FileTypesModel::kTypeColumn) == type) {
                return row;
            }
        }
        return -1;
    }

    static QString Cell(QAbstractItemModel* model, int row, int column) {
        return model->index(row, column).data().toString();
    }

    static void PickMoveToTrash() {
        ShellHooks().confirm = [](QWidget*, const QString&, const QString&) { return true; };
        ShellHooks().pickMenuAction = [](QMenu* menu, const QPoint&) -> QAction* {
            for (QAction* action : menu->actions()) {
                if (action->data().toInt() == kCmdMoveToTrash) {
                    return action;
                }
            }
            return nullptr;
        };
    }

    // Right-clicks the row the list shows first; PickMoveToTrash answers.
    static void TrashFirstRow(LargestFilesList* list) {
        const QRect first = list->visualRect(list->model()->index(0, 0));
        QContextMenuEvent click(QContextMenuEvent::Mouse, first.center(),
                                list->viewport()->mapToGlobal(first.center()));
        QApplication::sendEvent(list->viewport(), &click);
    }

    // The sizes the tree of `view` gives the folders `relative` to the tree.
    std::vector<std::optional<uint64_t>> FolderSizes(const FolderSizeTree& view,
                                                     const std::vector<std::string>& relative) {
        std::vector<std::optional<uint64_t>> sizes;
        for (const std::string& folder : relative) {
            const std::string path = m_tree->Path(folder);
            const NodeHandle item = view.FindFolderItem(path);
            const bool found = item != kNoNode && view.GetItemPath(item) == path;
            sizes.push_back(found ? view.GetItemSize(item) : std::nullopt);
        }
        return sizes;
    }

    // The tree of the frame against a fresh scan of the folder, on every
    // folder of `relative`, and the totals.
    void CompareWithFreshScan(CMainFrame& frame, const std::vector<std::string>& relative) {
        FolderScanner fresh;
        fresh.RunScan(frame.FolderScan().LastRequest());
        const FolderSizeTree& shown = frame.FolderScan().Tree();
        QCOMPARE(FolderSizes(shown, relative), FolderSizes(fresh.Tree(), relative));
        QCOMPARE(shown.GetFigures().total, fresh.Tree().GetFigures().total);
        QCOMPARE(shown.GetFigures().files, fresh.Tree().GetFigures().files);
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
        PickMoveToTrash();
        TrashFirstRow(list);
        QVERIFY(!std::filesystem::exists(m_tree->Path("scan/b/photo.JPG")));
        QCOMPARE(list->model()->rowCount(), 4);
        QCOMPARE(Cell(list->model(), 0, LargestFilesModel::kNameColumn), QStringLiteral("one.txt"));

        // The open window follows the next scan, once the tree has followed
        // the trash (a Scan pressed while that refresh runs cancels it).
        frame->FolderScan().Wait();
        m_tree->MakeFile("scan/c/big.iso", 90000);
        frame->OnScan();
        frame->FolderScan().Wait();
        QTRY_COMPARE(list->model()->rowCount(), 5);
        QCOMPARE(Cell(list->model(), 0, LargestFilesModel::kNameColumn), QStringLiteral("big.iso"));
    }

    // A file trashed from either window: the other window forgets it at
    // once, and the tree's folders read what a fresh scan finds, for a file
    // deep in the tree (its folder is refreshed in place, a hard link beside
    // it) and for one in the scanned folder itself (a new scan).
    void aTrashedFileLeavesTheOtherWindowAndTheTreeFollows() {
        m_tree->MakeFile("scan/b/deep/big.bin", 70000);
        m_tree->MakeFile("scan/b/deep/linked.dat", 30000);
        std::filesystem::create_hard_link(m_tree->Path("scan/b/deep/linked.dat"),
                                          m_tree->Path("scan/b/kept.dat"));
        m_tree->MakeFile("scan/top.bin", 20000);
        const std::vector<std::string> folders = {"scan", "scan/a", "scan/b", "scan/b/deep"};
        auto frame = ScannedFrame();
        frame->LargestFilesAction()->trigger();
        frame->FileTypesAction()->trigger();
        LargestFilesList* largest = frame->LargestFiles()->List();
        FileTypesDialog* types = frame->FileTypes();
        QTRY_COMPARE(largest->model()->rowCount(), 8);
        QAbstractItemModel* typeRows = types->Types()->model();
        QCOMPARE(Cell(typeRows, 0, FileTypesModel::kTypeColumn), QStringLiteral(".bin"));
        types->Types()->setCurrentIndex(typeRows->index(0, 0));
        QAbstractItemModel* binFiles = types->Files()->model();
        QCOMPARE(binFiles->rowCount(), 2);

        // The treemap shows the file until it goes, then leaves it out.
        const std::string big = m_tree->Path("scan/b/deep/big.bin");
        auto mapHasFile = [&frame](const std::string& path) {
            const TreemapTree map = frame->FolderScan().Tree().TreemapSnapshot();
            for (uint32_t node = 0; node < map.Size(); ++node) {
                if (map.At(node).kind == TreemapTree::Kind::File && map.Name(node) == path) {
                    return true;
                }
            }
            return false;
        };
        QVERIFY(mapHasFile(big));

        PickMoveToTrash();
        QCOMPARE(Cell(largest->model(), 0, LargestFilesModel::kNameColumn),
                 QStringLiteral("big.bin"));
        TrashFirstRow(largest);
        QVERIFY(!std::filesystem::exists(big));
        QVERIFY(!mapHasFile(big));
        QCOMPARE(binFiles->rowCount(), 1);
        QCOMPARE(Cell(binFiles, 0, LargestFilesModel::kNameColumn), QStringLiteral("top.bin"));
        // The type counts it no more: .bin keeps top.bin's 20000 bytes and
        // falls below .dat's 30000 (kept.dat, a second name, adds none).
        const int bin = RowOfType(typeRows, QStringLiteral(".bin"));
        QCOMPARE(bin, 1);
        QCOMPARE(Cell(typeRows, bin, FileTypesModel::kFilesColumn), QStringLiteral("1"));
        QCOMPARE(Cell(typeRows, bin, FileTypesModel::kSizeColumn),
                 QString::fromStdString(FormatSize(20000)));
        QCOMPARE(Cell(typeRows, 0, FileTypesModel::kTypeColumn), QStringLiteral(".dat"));
        // Choosing the type again does not bring the file back.
        types->Types()->setCurrentIndex(typeRows->index(0, 0));
        types->Types()->setCurrentIndex(typeRows->index(bin, 0));
        QCOMPARE(binFiles->rowCount(), 1);
        frame->FolderScan().Wait();
        CompareWithFreshScan(*frame, folders);
        if (QTest::currentTestFailed()) {
            return;
        }

        // From the other window, a file of the scanned folder itself.
        TrashFirstRow(types->Files());
        QVERIFY(!std::filesystem::exists(m_tree->Path("scan/top.bin")));
        QCOMPARE(largest->model()->rowCount(), 6);
        for (int row = 0; row < 6; ++row) {
            QVERIFY(!Cell(largest->model(), row, LargestFilesModel::kNameColumn).endsWith(".bin"));
        }
        frame->FolderScan().Wait();
        CompareWithFreshScan(*frame, folders);
        QTRY_COMPARE(largest->model()->rowCount(), 6);  // the new scan's list
    }

    // A file trashed from the twin list (a combined scan filled it) leaves
    // the tree's sizes, the treemap, Largest Files and File Types: every
    // pane follows the one announcement of what left the disk.
    void aFileTrashedFromTheTwinListLeavesEveryOtherPane() {
        QVERIFY(WriteSetting(kTwinMode, false));  // one walk fills both panes
        for (const char* file : {"scan/a/dup.bin", "scan/b/deep/dup.bin"}) {
            m_tree->MakeFile(file, 60000);
            m_tree->SetModified(file, 1700000000);
        }
        const std::vector<std::string> folders = {"scan", "scan/a", "scan/b", "scan/b/deep"};
        auto frame = ScannedFrame();
        frame->LargestFilesAction()->trigger();
        frame->FileTypesAction()->trigger();
        LargestFilesList* largest = frame->LargestFiles()->List();
        QAbstractItemModel* typeRows = frame->FileTypes()->Types()->model();
        QTRY_COMPARE(largest->model()->rowCount(), 7);
        QCOMPARE(Cell(typeRows, 0, FileTypesModel::kTypeColumn), QStringLiteral(".bin"));
        QCOMPARE(Cell(typeRows, 0, FileTypesModel::kFilesColumn), QStringLiteral("2"));

        CTwinListView* twins = frame->TwinList();
        frame->TwinScan().WaitForWorkers();
        twins->Model()->ApplyPendingChanges();
        QCOMPARE(twins->Model()->rowCount(), 2);
        const std::string gone = m_tree->Path("scan/b/deep/dup.bin");
        int row = 0;
        while (twins->Model()->index(row, TwinListModel::kPathColumn).data().toString() !=
               QString::fromStdString(gone)) {
            QVERIFY(++row < 2);
        }
        ShellHooks().confirm = [](QWidget*, const QString&, const QString&) { return true; };
        twins->MoveRowsToTrash({row});
        QVERIFY(!std::filesystem::exists(gone));

        // The twin list lost the group; the tree, after following, reads
        // what a fresh scan finds.
        QTRY_COMPARE(twins->Model()->rowCount(), 0);
        QTRY_VERIFY(!frame->FolderScan().IsScanRunning() &&
                    frame->FolderView()->PendingRefreshes() == 0);
        frame->FolderScan().Wait();
        CompareWithFreshScan(*frame, folders);
        const TreemapTree map = frame->FolderScan().Tree().TreemapSnapshot();
        for (uint32_t node = 0; node < map.Size(); ++node) {
            QVERIFY(map.Name(node) != gone);
        }
        QTRY_COMPARE(largest->model()->rowCount(), 6);
        for (int listed = 0; listed < 6; ++listed) {
            QVERIFY(!(Cell(largest->model(), listed, LargestFilesModel::kNameColumn) ==
                          QStringLiteral("dup.bin") &&
                      Cell(largest->model(), listed, LargestFilesModel::kFolderColumn)
                          .endsWith(QStringLiteral("deep"))));
        }
        const int bin = RowOfType(typeRows, QStringLiteral(".bin"));
        QVERIFY(bin >= 0);
        QCOMPARE(Cell(typeRows, bin, FileTypesModel::kFilesColumn), QStringLiteral("1"));
        QCOMPARE(Cell(typeRows, bin, FileTypesModel::kSizeColumn),
                 QString::fromStdString(FormatSize(60000)));
    }
};

QTEST_MAIN(FileStatsWindowsTest)
#include "file_stats_windows_test.moc"
