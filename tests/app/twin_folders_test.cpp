// Twin folders after a content search: their rows in Dupmatch, their marks
// in Dirmass (image, tool tip, Copies column, Show Twin, treemap outlines),
// and Move to Trash, which takes a copy only as the search saw it and takes
// its marks with it.

#include <QAction>
#include <QMenu>
#include <QPushButton>
#include <QTest>

#include <cstdio>
#include <memory>

#include "app/MainFrame.h"
#include "app/ScanMode.h"
#include "controls/DiskChanges.h"
#include "controls/PathCombo.h"
#include "controls/ShellOperations.h"
#include "duplicates/ui/TwinListModel.h"
#include "duplicates/ui/TwinListView.h"
#include "foldersize/SizeText.h"
#include "foldersize/ui/FolderSizeView.h"
#include "foldersize/ui/FolderTreeModel.h"
#include "foldersize/ui/TreemapView.h"
#include "tests/support/TempTree.h"
#include "tests/support/TestFiles.h"

using namespace quarn;

class TwinFoldersTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TempTree> m_tree;
    std::unique_ptr<test::ScopedEnv> m_ini, m_data, m_cache;
    QStringList m_menu;  // the last menu's items; "(off)" marks a disabled one
    QString m_pick;
    QStringList m_errors, m_opened;
    int m_announced = 0;
    const int kCopies = FolderTreeModel::kCopiesColumn;

    void Settings(const std::string& more) {
        test::WriteText(m_tree->Path("quarn.ini"),
                        "[SETTINGS]\nShellRun=0\nHashCache=0\nRelativToDriveSpace=0\n" + more);
    }
    std::string Scanned(const std::string& relative) const {
        return m_tree->Path("scan/" + relative);
    }
    static QString Text(const std::string& path) { return QString::fromStdString(path); }

    std::unique_ptr<CMainFrame> MakeFrame() {
        auto frame = std::make_unique<CMainFrame>(std::vector<std::string>{"quarn"});
        frame->resize(900, 700);
        frame->show();
        connect(frame->Changes(), &DiskChanges::pathsRemoved, this, [this] { ++m_announced; });
        return frame;
    }

    // Scans `folder` in the current mode; the marks follow the twin engine's news.
    static void Scan(CMainFrame& frame, const std::string& folder) {
        frame.PathCombo()->AddPath(folder);
        frame.ScanButton()->click();
        frame.FolderScan().Wait();
        frame.TwinScan().WaitForWorkers();
        frame.FolderView()->Model().ApplyChanges();
        frame.TwinList()->Model()->ApplyPendingChanges();
    }

    static QModelIndex IndexOf(CMainFrame& frame, const std::string& path, int column = 0) {
        const FolderSizeTree& tree = frame.FolderScan().Tree();
        return frame.FolderView()->Model().IndexOf(tree.FindFolderItem(path), column);
    }

    void FolderMenu(CMainFrame& frame, const std::string& path) {
        CFolderSizeView& view = *frame.FolderView();
        const QModelIndex index = IndexOf(frame, path);
        view.scrollTo(index);
        view.OnContextMenu(view.visualRect(index).center());
    }

    static QString ListText(CMainFrame& frame, int row, int column) {
        const TwinListModel& model = *frame.TwinList()->Model();
        return model.data(model.index(row, column)).toString();
    }

  private Q_SLOTS:
    void init() {
        m_tree = std::make_unique<test::TempTree>();
        m_tree->MakeFolder("xdg");
        m_ini = std::make_unique<test::ScopedEnv>("QUARN_INI", m_tree->Path("quarn.ini"));
        m_data = std::make_unique<test::ScopedEnv>("XDG_DATA_HOME", m_tree->Path("xdg"));
        m_cache = std::make_unique<test::ScopedEnv>("XDG_CACHE_HOME", m_tree->Path("cache"));
        // Two copies of a folder, and two files that are nobody's copies.
        for (const char* copy : {"scan/2023", "scan/backup/2023"}) {
            test::WriteText(m_tree->Path(std::string(copy) + "/beach.jpg"), std::string(3000, 'b'));
            test::WriteText(m_tree->Path(std::string(copy) + "/pier.jpg"), std::string(4000, 'p'));
        }
        test::WriteText(m_tree->Path("scan/notes/a.txt"), std::string(900, 'n'));
        test::WriteText(m_tree->Path("scan/notes/b.txt"), std::string(800, 'm'));
        m_menu.clear();
        m_pick.clear();
        m_errors.clear();
        m_opened.clear();
        m_announced = 0;
        ShellHooks().pickMenuAction = [this](QMenu* menu, const QPoint&) -> QAction* {
            m_menu.clear();
            QAction* chosen = nullptr;
            for (QAction* action : menu->actions()) {
                m_menu << (action->isSeparator() ? QStringLiteral("-")
                           : action->isEnabled() ? action->text()
                                                 : action->text() + QStringLiteral("(off)"));
                chosen = action->text() == m_pick ? action : chosen;
            }
            return chosen;
        };
        ShellHooks().confirm = [](QWidget*, const QString&, const QString&) { return true; };
        ShellHooks().showError = [this](QWidget*, const QString&, const QString& text) {
            m_errors << text;
        };
        ShellHooks().openUrl = [this](const QUrl& url) {
            m_opened << url.toLocalFile();
            return true;
        };
    }

    void cleanup() {
        ShellHooks() = ShellOperationHooks();
        m_cache.reset();
        m_data.reset();
        m_ini.reset();
        m_tree.reset();
    }

    void aCombinedScanListsAndMarksBothCopies() {
        Settings("TwinMode=0\nTwinsByContent=1\n");
        auto frame = MakeFrame();
        Scan(*frame, m_tree->Path("scan"));

        // Dupmatch: the folders first, each with its file count.
        for (int row : {0, 1}) {
            QCOMPARE(ListText(*frame, row, TwinListModel::kContentColumn),
                     QStringLiteral("folder, 2 files"));
        }
        QCOMPARE(ListText(*frame, 1, TwinListModel::kPathColumn), Text(Scanned("backup/2023")));
        QVERIFY(frame->TwinList()->ReplacementPlan({0, 1}).empty());  // never linked
        // Open Folder on a folder row opens the folder itself.
        m_pick = QStringLiteral("Open Folder");
        CTwinListView& list = *frame->TwinList();
        frame->OnModeDupmatch();
        const QPoint row = list.visualRect(list.Model()->index(1, 1)).center();
        list.OnContextMenu(row, list.viewport()->mapToGlobal(row));
        QCOMPARE(m_opened, QStringList{Text(Scanned("backup/2023"))});
        frame->OnModeDirmass();

        // Dirmass: both copies marked, with what removing the other frees.
        CFolderSizeView& view = *frame->FolderView();
        QTRY_VERIFY(!view.TwinMarks().Empty());
        const QModelIndex first = IndexOf(*frame, Scanned("2023"));
        const QModelIndex second = IndexOf(*frame, Scanned("backup/2023"));
        const QModelIndex plain = IndexOf(*frame, Scanned("notes"));
        QCOMPARE(first.data(Qt::ToolTipRole).toString(), "copy of " + Text(Scanned("backup/2023")));
        QCOMPARE(second.data(Qt::ToolTipRole).toString(), "copy of " + Text(Scanned("2023")));
        QVERIFY(!plain.data(Qt::ToolTipRole).isValid());
        const qint64 marked = first.data(Qt::DecorationRole).value<QIcon>().cacheKey();
        QCOMPARE(second.data(Qt::DecorationRole).value<QIcon>().cacheKey(), marked);
        QVERIFY(plain.data(Qt::DecorationRole).value<QIcon>().cacheKey() != marked);
        QVERIFY(!view.isColumnHidden(kCopies));
        QCOMPARE(first.siblingAtColumn(kCopies).data().toString(), Text(FormatSize(7000)));
        QCOMPARE(second.siblingAtColumn(kCopies).data().toString(), Text(FormatSize(7000)));
        QCOMPARE(plain.siblingAtColumn(kCopies).data().toString(), QString());
        QCOMPARE(view.Model().index(0, kCopies).data().toString(), QString());  // the root

        // Show Twin goes to the other copy and back; off where there is none.
        m_pick = QStringLiteral("Show Twin");
        FolderMenu(*frame, Scanned("2023"));
        QCOMPARE(m_menu.mid(0, 3), (QStringList{"Explore", "Show Twin", "-"}));
        QCOMPARE(view.currentIndex(), second);
        FolderMenu(*frame, Scanned("backup/2023"));
        QCOMPARE(view.currentIndex(), first);
        FolderMenu(*frame, Scanned("notes"));
        QVERIFY(m_menu.contains(QStringLiteral("Show Twin(off)")));

        // The treemap outlines both.
        TreemapView& map = *frame->Treemap();
        QTRY_COMPARE(map.TwinOutlines().size(), size_t(2));
        const QRect outline = map.TwinOutlines().front();
        QCOMPARE(map.grab().toImage().pixelColor(outline.left(), outline.center().y()),
                 TreemapView::TwinOutlineColour());
    }

    void aChangedCopyStaysAndATrashedOneTakesTheMarks() {
        Settings("TwinMode=0\nTwinsByContent=1\n");
        auto frame = MakeFrame();
        Scan(*frame, m_tree->Path("scan"));
        CFolderSizeView& view = *frame->FolderView();
        QTRY_VERIFY(!view.TwinMarks().Empty());

        // More inside than the search saw: refused, told, nothing announced.
        test::WriteText(Scanned("backup/2023/new.jpg"), "new");
        frame->TwinList()->MoveRowsToTrash({1});
        QCOMPARE(m_errors.size(), 1);
        QVERIFY(m_errors[0].startsWith("This folder was not moved to the trash:"));
        QVERIFY(m_errors[0].contains("holds entries the search did not see"));
        QVERIFY(test::PathExists(Scanned("backup/2023/pier.jpg")));
        QCOMPARE(m_announced, 0);

        // As the search saw it again: it goes, and Dirmass follows.
        std::remove(Scanned("backup/2023/new.jpg").c_str());
        frame->TwinList()->MoveRowsToTrash({1});
        QCOMPARE(m_errors.size(), 1);
        QVERIFY(!test::PathExists(Scanned("backup/2023")));
        QCOMPARE(m_announced, 1);
        view.Model().ApplyChanges();
        QCOMPARE(view.Model().rowCount(IndexOf(*frame, Scanned("backup"))), 0);
        QCOMPARE(IndexOf(*frame, Scanned("backup"), 1).data().toString(), Text(FormatSize(0)));
        QVERIFY(view.TwinMarks().Empty());
        QVERIFY(view.isColumnHidden(kCopies));
        QVERIFY(!IndexOf(*frame, Scanned("2023")).data(Qt::ToolTipRole).isValid());
        QTRY_VERIFY(frame->Treemap()->TwinOutlines().empty());
        FolderMenu(*frame, Scanned("2023"));
        QVERIFY(!m_menu.join('|').contains("Show Twin"));
    }

    void aChangeInsideACopyDropsItsMark() {
        Settings("TwinMode=0\nTwinsByContent=1\n");
        for (const char* name : {"/beach.jpg", "/pier.jpg"}) {
            test::WriteText(Scanned("old/2023") + name, test::ReadText(Scanned("2023") + name));
        }
        auto frame = MakeFrame();
        Scan(*frame, m_tree->Path("scan"));
        CFolderSizeView& view = *frame->FolderView();
        QTRY_VERIFY(!view.TwinMarks().Empty());
        QCOMPARE(IndexOf(*frame, Scanned("2023"), kCopies).data().toString(),
                 Text(FormatSize(14000)));

        // Something arrived in one copy: the two others are still a pair.
        test::WriteText(Scanned("backup/2023/new.jpg"), "new");
        frame->Changes()->AnnounceChanged(Scanned("backup/2023"));
        QVERIFY(!view.TwinMarks().Find(Scanned("backup/2023")));
        QCOMPARE(IndexOf(*frame, Scanned("2023"), kCopies).data().toString(),
                 Text(FormatSize(7000)));
        // A file of another left: the last one has no twin.
        std::remove(Scanned("old/2023/pier.jpg").c_str());
        frame->Changes()->AnnounceRemoved({RemovedPath{Scanned("old/2023/pier.jpg"), false, 4000}});
        QVERIFY(view.TwinMarks().Empty());
    }

    void withoutAContentSearchNothingIsMarked() {
        Settings("TwinMode=0\nTwinsByContent=0\n");
        auto frame = MakeFrame();
        Scan(*frame, m_tree->Path("scan"));
        QVERIFY(IndexOf(*frame, Scanned("backup/2023")).isValid());
        QVERIFY(frame->FolderView()->isColumnHidden(kCopies));
        FolderMenu(*frame, Scanned("2023"));
        QCOMPARE(m_menu.join('|'),
                 QStringLiteral("Explore|-|Copy to...|Move to...|Delete|-|Refresh|Properties"));
    }

    void aTwinOutsideTheTreeIsShownInDupmatch() {
        // Scanned apart: the tree holds one copy, the twin search both.
        Settings("TwinMode=1\nTwinsByContent=1\n");
        auto frame = MakeFrame();
        Scan(*frame, Scanned("backup"));
        frame->OnModeDupmatch();
        Scan(*frame, m_tree->Path("scan"));
        frame->OnModeDirmass();
        CFolderSizeView& view = *frame->FolderView();
        QTRY_VERIFY(!view.TwinMarks().Empty());
        QVERIFY(!view.isColumnHidden(kCopies));

        m_pick = QStringLiteral("Show Twin");
        FolderMenu(*frame, Scanned("backup/2023"));
        QCOMPARE(ScanMode, kScanModeDupmatch);
        const QModelIndexList selected = frame->TwinList()->selectionModel()->selectedRows();
        QCOMPARE(selected.size(), 1);
        QCOMPARE(selected[0].row(), 0);
        QCOMPARE(ListText(*frame, 0, TwinListModel::kPathColumn), Text(Scanned("2023")));

        // A new Dirmass scan drops the marks of the earlier search.
        frame->OnModeDirmass();
        Scan(*frame, Scanned("backup"));
        QVERIFY(view.TwinMarks().Empty());
        QVERIFY(view.isColumnHidden(kCopies));
    }
};

QTEST_MAIN(TwinFoldersTest)
#include "twin_folders_test.moc"
