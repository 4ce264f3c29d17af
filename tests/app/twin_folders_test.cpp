// Twin folders in Dirmass after a content search: the marks on the tree's
// folders, the Copies column, Show Twin, the treemap's outlines, and the
// marks going with a folder that left the disk.

#include <QAction>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <memory>

#include "app/MainFrame.h"
#include "app/ScanMode.h"
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
    std::unique_ptr<test::ScopedEnv> m_ini;
    std::unique_ptr<test::ScopedEnv> m_data;
    std::unique_ptr<test::ScopedEnv> m_cache;
    QStringList m_menu;  // the last menu's items; "(off)" marks a disabled one
    QString m_pick;

    void Settings(const std::string& more) {
        test::WriteText(m_tree->Path("quarn.ini"),
                        "[SETTINGS]\nShellRun=0\nHashCache=0\nRelativToDriveSpace=0\n" + more);
    }

    std::string Scanned(const std::string& relative) const {
        return m_tree->Path("scan/" + relative);
    }

    static std::unique_ptr<CMainFrame> MakeFrame() {
        auto frame = std::make_unique<CMainFrame>(std::vector<std::string>{"quarn"});
        frame->resize(900, 700);
        frame->show();
        return frame;
    }

    // Scans `folder` in the current mode and waits for both engines and the
    // marks that follow the twin engine's news.
    static void Scan(CMainFrame& frame, const std::string& folder) {
        frame.PathCombo()->AddPath(folder);
        frame.ScanButton()->click();
        frame.FolderScan().Wait();
        frame.TwinScan().WaitForWorkers();
        frame.FolderView()->Model().ApplyChanges();
        QCoreApplication::processEvents();
    }

    static QModelIndex IndexOf(CMainFrame& frame, const std::string& path, int column = 0) {
        const FolderSizeTree& tree = frame.FolderScan().Tree();
        return frame.FolderView()->Model().IndexOf(tree.FindFolderItem(path), column);
    }

    void ContextMenu(CMainFrame& frame, const std::string& path) {
        CFolderSizeView& view = *frame.FolderView();
        const QModelIndex index = IndexOf(frame, path);
        view.scrollTo(index);
        view.OnContextMenu(view.visualRect(index).center());
    }

  private Q_SLOTS:
    void init() {
        m_tree = std::make_unique<test::TempTree>();
        m_tree->MakeFolder("xdg");
        m_ini = std::make_unique<test::ScopedEnv>("QUARN_INI", m_tree->Path("quarn.ini"));
        m_data = std::make_unique<test::ScopedEnv>("XDG_DATA_HOME", m_tree->Path("xdg"));
        m_cache = std::make_unique<test::ScopedEnv>("XDG_CACHE_HOME", m_tree->Path("cache"));
        // Two copies of a folder, and files that are no folder's copies.
        for (const char* copy : {"scan/2023", "scan/backup/2023"}) {
            test::WriteText(m_tree->Path(std::string(copy) + "/beach.jpg"), std::string(3000, 'b'));
            test::WriteText(m_tree->Path(std::string(copy) + "/pier.jpg"), std::string(4000, 'p'));
        }
        test::WriteText(m_tree->Path("scan/notes/a.txt"), std::string(900, 'n'));
        test::WriteText(m_tree->Path("scan/notes/b.txt"), std::string(800, 'm'));
        m_menu.clear();
        m_pick.clear();
        ShellHooks().pickMenuAction = [this](QMenu* menu, const QPoint&) -> QAction* {
            m_menu.clear();
            QAction* chosen = nullptr;
            for (QAction* action : menu->actions()) {
                m_menu << (action->isSeparator()
                               ? QStringLiteral("-")
                               : action->text() +
                                     (action->isEnabled() ? QString() : QStringLiteral("(off)")));
                if (action->text() == m_pick) {
                    chosen = action;
                }
            }
            return chosen;
        };
        ShellHooks().confirm = [](QWidget*, const QString&, const QString&) { return true; };
    }

    void cleanup() {
        ShellHooks() = ShellOperationHooks();
        m_cache.reset();
        m_data.reset();
        m_ini.reset();
        m_tree.reset();
    }

    void aCombinedContentScanMarksBothCopies() {
        Settings("TwinMode=0\nTwinsByContent=1\n");
        auto frame = MakeFrame();
        QSignalSpy pictures(frame->Treemap(), &TreemapView::pictureShown);
        Scan(*frame, m_tree->Path("scan"));
        CFolderSizeView& view = *frame->FolderView();
        const FolderTreeModel& model = view.Model();
        QTRY_VERIFY(!view.TwinMarks().Empty());

        const QModelIndex first = IndexOf(*frame, Scanned("2023"));
        const QModelIndex second = IndexOf(*frame, Scanned("backup/2023"));
        const QModelIndex plain = IndexOf(*frame, Scanned("notes"));
        QVERIFY(first.isValid() && second.isValid() && plain.isValid());
        QCOMPARE(first.data(Qt::ToolTipRole).toString(),
                 QStringLiteral("copy of ") + QString::fromStdString(Scanned("backup/2023")));
        QCOMPARE(second.data(Qt::ToolTipRole).toString(),
                 QStringLiteral("copy of ") + QString::fromStdString(Scanned("2023")));
        QVERIFY(!plain.data(Qt::ToolTipRole).isValid());
        // The marked folders carry an image of their own.
        const qint64 marked = first.data(Qt::DecorationRole).value<QIcon>().cacheKey();
        QCOMPARE(second.data(Qt::DecorationRole).value<QIcon>().cacheKey(), marked);
        QVERIFY(plain.data(Qt::DecorationRole).value<QIcon>().cacheKey() != marked);

        // Copies: what removing the other copy frees, on the marked folders only.
        const int copies = FolderTreeModel::kCopiesColumn;
        QVERIFY(!view.isColumnHidden(copies));
        QCOMPARE(model.headerData(copies, Qt::Horizontal).toString(), QStringLiteral("Copies"));
        const QString freed = QString::fromStdString(FormatSize(7000));
        QCOMPARE(first.siblingAtColumn(copies).data().toString(), freed);
        QCOMPARE(second.siblingAtColumn(copies).data().toString(), freed);
        QCOMPARE(plain.siblingAtColumn(copies).data().toString(), QString());
        QCOMPARE(model.index(0, copies).data().toString(), QString());  // the root

        // Show Twin goes from one copy to the other and back; it is there,
        // but off, on a folder without a twin.
        m_pick = QStringLiteral("Show Twin");
        ContextMenu(*frame, Scanned("2023"));
        QCOMPARE(m_menu.mid(0, 3), (QStringList{"Explore", "Show Twin", "-"}));
        QCOMPARE(view.currentIndex(), second);
        ContextMenu(*frame, Scanned("backup/2023"));
        QCOMPARE(view.currentIndex(), first);
        ContextMenu(*frame, Scanned("notes"));
        QVERIFY(m_menu.contains(QStringLiteral("Show Twin(off)")));
        QCOMPARE(view.currentIndex(), plain);

        // The treemap outlines both copies.
        TreemapView& map = *frame->Treemap();
        QTRY_COMPARE(map.TwinOutlines().size(), size_t(2));
        const QRect outline = map.TwinOutlines().front();
        const QImage shown = map.grab().toImage();
        QCOMPARE(shown.pixelColor(outline.left(), outline.center().y()),
                 TreemapView::TwinOutlineColour());
    }

    void marksGoWithAFolderTrashedInDupmatch() {
        Settings("TwinMode=0\nTwinsByContent=1\n");
        auto frame = MakeFrame();
        Scan(*frame, m_tree->Path("scan"));
        CFolderSizeView& view = *frame->FolderView();
        QTRY_VERIFY(!view.TwinMarks().Empty());
        const QModelIndex backup = IndexOf(*frame, Scanned("backup"));
        QCOMPARE(backup.siblingAtColumn(FolderTreeModel::kSizeColumn).data().toString(),
                 QString::fromStdString(FormatSize(7000)));

        // Dupmatch's second row is the copy below backup.
        CTwinListView& list = *frame->TwinList();
        QCOMPARE(list.Model()->data(list.Model()->index(1, TwinListModel::kPathColumn)).toString(),
                 QString::fromStdString(Scanned("backup/2023")));
        list.MoveRowsToTrash({1});
        QVERIFY(!test::PathExists(Scanned("backup/2023")));

        // The tree dropped the folder, its totals followed, and no mark is left.
        view.Model().ApplyChanges();
        QVERIFY(view.TwinMarks().Empty());
        QVERIFY(view.isColumnHidden(FolderTreeModel::kCopiesColumn));
        QCOMPARE(IndexOf(*frame, Scanned("backup")).siblingAtColumn(1).data().toString(),
                 QString::fromStdString(FormatSize(0)));
        QVERIFY(!IndexOf(*frame, Scanned("2023")).data(Qt::ToolTipRole).isValid());
        QTRY_VERIFY(frame->Treemap()->TwinOutlines().empty());
        ContextMenu(*frame, Scanned("2023"));
        QVERIFY(!m_menu.join(QLatin1Char('|')).contains(QStringLiteral("Show Twin")));
    }

    void withoutAContentSearchNothingIsMarked() {
        Settings("TwinMode=0\nTwinsByContent=0\n");
        auto frame = MakeFrame();
        Scan(*frame, m_tree->Path("scan"));
        CFolderSizeView& view = *frame->FolderView();
        QVERIFY(IndexOf(*frame, Scanned("backup/2023")).isValid());
        QVERIFY(view.TwinMarks().Empty());
        QVERIFY(view.isColumnHidden(FolderTreeModel::kCopiesColumn));
        ContextMenu(*frame, Scanned("2023"));
        QCOMPARE(m_menu.join(QLatin1Char('|')),
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
        QVERIFY(!view.isColumnHidden(FolderTreeModel::kCopiesColumn));

        m_pick = QStringLiteral("Show Twin");
        ContextMenu(*frame, Scanned("backup/2023"));
        QCOMPARE(ScanMode, kScanModeDupmatch);
        CTwinListView& list = *frame->TwinList();
        const QModelIndexList selected = list.selectionModel()->selectedRows();
        QCOMPARE(selected.size(), 1);
        QCOMPARE(selected[0].siblingAtColumn(TwinListModel::kPathColumn).data().toString(),
                 QString::fromStdString(Scanned("2023")));

        // A new Dirmass scan drops the marks of the earlier search.
        frame->OnModeDirmass();
        Scan(*frame, Scanned("backup"));
        QVERIFY(view.TwinMarks().Empty());
        QVERIFY(view.isColumnHidden(FolderTreeModel::kCopiesColumn));
    }
};

QTEST_MAIN(TwinFoldersTest)
#include "twin_folders_test.moc"
