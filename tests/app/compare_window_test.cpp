// The window's scan history: every finished scan is kept, the dialog lists
// the kept scans of the shown folder, and a comparison adds the Change
// column, struck-through items for removed folders, the order by change and
// the treemap's growth colours, and ends with a new scan.

#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <cstdio>
#include <memory>

#include "app/MainFrame.h"
#include "controls/PathCombo.h"
#include "controls/ShellOperations.h"
#include "foldersize/ui/FolderSizeView.h"
#include "foldersize/ui/FolderTreeModel.h"
#include "history/ScanStore.h"
#include "history/ui/CompareDialog.h"
#include "tests/support/TempTree.h"
#include "tests/support/TestFiles.h"

using namespace quarn;

class CompareWindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TempTree> m_tree;
    std::unique_ptr<test::ScopedEnv> m_ini, m_data;
    QStringList m_errors;

    std::string Scanned(const std::string& relative) const {
        return m_tree->Path("scan/" + relative);
    }
    ScanStore Store() const { return ScanStore(m_tree->Path("xdg/quarn/scans")); }

    std::unique_ptr<CMainFrame> MakeFrame() {
        auto frame = std::make_unique<CMainFrame>(std::vector<std::string>{"quarn"});
        frame->resize(900, 700);
        frame->show();
        return frame;
    }
    static void Scan(CMainFrame& frame, const std::string& folder) {
        frame.PathCombo()->AddPath(folder);
        frame.ScanButton()->click();
        frame.FolderScan().Wait();
        frame.FolderView()->Model().ApplyChanges();
    }
    static void Compare(CMainFrame& frame, const std::string& file) {
        frame.CompareWith(file);
        QTRY_VERIFY_WITH_TIMEOUT(!frame.IsReadingEarlierScan(), 60000);
        frame.FolderView()->Model().ApplyChanges();
    }
    static NodeHandle Node(CMainFrame& frame, const std::string& path) {
        return frame.FolderScan().Tree().FindFolderItem(path);
    }
    static QString Cell(CMainFrame& frame, NodeHandle node, int column) {
        const FolderTreeModel& model = frame.FolderView()->Model();
        return model.data(model.IndexOf(node, column)).toString();
    }
    // The names of a node's rows as the model shows them.
    static QStringList Rows(CMainFrame& frame, NodeHandle node) {
        const FolderTreeModel& model = frame.FolderView()->Model();
        const QModelIndex parent = model.IndexOf(node);
        QStringList names;
        for (int row = 0; row < model.rowCount(parent); ++row) {
            names << model.data(model.index(row, 0, parent)).toString();
        }
        return names;
    }

  private Q_SLOTS:
    void init() {
        m_tree = std::make_unique<test::TempTree>();
        m_tree->MakeFolder("xdg");
        m_ini = std::make_unique<test::ScopedEnv>("QUARN_INI", m_tree->Path("quarn.ini"));
        m_data = std::make_unique<test::ScopedEnv>("XDG_DATA_HOME", m_tree->Path("xdg"));
        test::WriteText(
            m_tree->Path("quarn.ini"),
            "[SETTINGS]\nShellRun=0\nTwinMode=1\nSortBySize=1\nRelativToDriveSpace=0\n");
        m_tree->MakeFile("scan/a/big.bin", 3000);
        m_tree->MakeFile("scan/b/old/x.bin", 500);
        m_tree->MakeFile("scan/b/keep.txt", 0);
        m_tree->MakeFile("scan/c/small.bin", 100);
        m_tree->MakeFile("scan/e/same.bin", 50);
        m_errors.clear();
        ShellHooks().showError = [this](QWidget*, const QString&, const QString& text) {
            m_errors << text;
        };
    }
    void cleanup() {
        ShellHooks() = ShellOperationHooks();
        m_data.reset();
        m_ini.reset();
        m_tree.reset();
    }

    void everyScanIsKeptAndTheDialogListsThem() {
        auto frame = MakeFrame();
        Scan(*frame, m_tree->Path("scan"));
        QCOMPARE(Store().List(m_tree->Path("scan")).size(), size_t(1));
        Scan(*frame, m_tree->Path("scan"));
        QCOMPARE(Store().List(m_tree->Path("scan")).size(), size_t(1));  // the same tree again
        m_tree->MakeFile("scan/c/more.bin", 24);
        Scan(*frame, m_tree->Path("scan"));
        const std::vector<KeptScan> kept = Store().List(m_tree->Path("scan"));
        QCOMPARE(kept.size(), size_t(2));

        CompareDialog dialog(m_tree->Path("scan"), Store());
        QTreeWidget& list = *dialog.ScanList();
        QCOMPARE(list.topLevelItemCount(), 2);
        QCOMPARE(list.topLevelItem(0)->text(0), CompareDialog::DateText(kept[0].unixMillis));
        QCOMPARE(list.topLevelItem(0)->text(1), QStringLiteral("3.588 KB"));
        QCOMPARE(list.topLevelItem(0)->text(2), QStringLiteral("6"));
        QCOMPARE(list.topLevelItem(1)->text(2), QStringLiteral("5"));
        list.setCurrentItem(list.topLevelItem(1));
        QVERIFY(dialog.CompareButton()->isEnabled());
        dialog.CompareButton()->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.ChosenFile(), kept[1].file);

        CompareDialog none(m_tree->Path("elsewhere"), Store());
        QCOMPARE(none.ScanList()->topLevelItemCount(), 0);
        QVERIFY(!none.CompareButton()->isEnabled());
        QVERIFY(none.OtherFileButton()->isEnabled());
    }

    void aComparisonShowsChangesRemovedFoldersAndGrowth() {
        auto frame = MakeFrame();
        Scan(*frame, m_tree->Path("scan"));
        const std::string earlier = Store().List(m_tree->Path("scan")).front().file;
        m_tree->MakeFile("scan/a/big.bin", 5000);
        std::remove(Scanned("b/old/x.bin").c_str());
        std::remove(Scanned("b/old").c_str());
        m_tree->MakeFile("scan/c/small.bin", 3100);
        m_tree->MakeFile("scan/d/new.bin", 700);
        Scan(*frame, m_tree->Path("scan"));
        CFolderSizeView& view = *frame->FolderView();
        QVERIFY(view.isColumnHidden(FolderTreeModel::kChangeColumn));
        QVERIFY(!frame->OrderByChangeAction()->isEnabled());

        Compare(*frame, earlier);
        QVERIFY(view.IsComparing());
        QVERIFY(!view.isColumnHidden(FolderTreeModel::kChangeColumn));
        const int change = FolderTreeModel::kChangeColumn;
        QCOMPARE(Cell(*frame, Node(*frame, Scanned("a")), change),
                 QStringLiteral("+1.953 KB (+67%)"));
        QCOMPARE(Cell(*frame, Node(*frame, Scanned("d")), change), QStringLiteral("new"));
        QCOMPARE(Cell(*frame, Node(*frame, Scanned("c")), change),
                 QStringLiteral("+2.930 KB (+3000%)"));
        QCOMPARE(Cell(*frame, Node(*frame, Scanned("e")), change), QStringLiteral("0"));
        QCOMPARE(Cell(*frame, Node(*frame, Scanned("b")), change),
                 QStringLiteral("-0.488 KB (-100%)"));
        // The removed folder: an item of size 0 under its parent, struck through.
        QCOMPARE(Rows(*frame, Node(*frame, Scanned("b"))), QStringList{QStringLiteral("old")});
        const FolderTreeModel& model = view.Model();
        const QModelIndex old = model.index(0, 0, model.IndexOf(Node(*frame, Scanned("b"))));
        QVERIFY(model.data(old, Qt::FontRole).value<QFont>().strikeOut());
        QCOMPARE(model.data(old.siblingAtColumn(FolderTreeModel::kSizeColumn)).toString(),
                 QStringLiteral("0.000 KB"));
        QCOMPARE(model.data(old.siblingAtColumn(change)).toString(),
                 QStringLiteral("removed, -0.488 KB"));
        QVERIFY(frame->StatusText()->toolTip().contains(QStringLiteral("Removed folders:")));
        QVERIFY(frame->StatusText()->toolTip().contains(QString::fromStdString(Scanned("b/old"))));

        // The treemap: grown warm, shrunk cool, unchanged grey.
        const TreemapPainter::TileColour colour = view.GrowthTileColour();
        QVERIFY(colour);
        const QRgb grown = *colour(Node(*frame, Scanned("a")));
        const QRgb shrunk = *colour(Node(*frame, Scanned("b")));
        const QRgb same = *colour(Node(*frame, Scanned("e")));
        QVERIFY(qRed(grown) > qBlue(grown));
        QVERIFY(qBlue(shrunk) > qRed(shrunk));
        QVERIFY(qRed(same) == qGreen(same) && qGreen(same) == qBlue(same));

        // By change, grown most first; back to sizes.
        const NodeHandle root = frame->FolderScan().Tree().GetRootItem();
        QVERIFY(frame->OrderByChangeAction()->isEnabled());
        frame->OrderByChangeAction()->trigger();
        QCOMPARE(Rows(*frame, root), (QStringList{"c", "a", "d", "e", "b"}));
        frame->OrderByChangeAction()->trigger();
        QCOMPARE(Rows(*frame, root), (QStringList{"a", "c", "d", "e", "b"}));
        QVERIFY(!frame->OrderByChangeAction()->isChecked());

        // A new scan ends it: the column goes, and so does the removed item.
        Scan(*frame, m_tree->Path("scan"));
        QVERIFY(!view.IsComparing());
        QVERIFY(view.isColumnHidden(FolderTreeModel::kChangeColumn));
        QCOMPARE(Rows(*frame, Node(*frame, Scanned("b"))), QStringList{});
        QVERIFY(frame->StatusText()->toolTip().isEmpty());
    }

    void aDamagedEarlierFileIsToldAndNothingIsCompared() {
        auto frame = MakeFrame();
        Scan(*frame, m_tree->Path("scan"));
        const std::string kept = Store().List(m_tree->Path("scan")).front().file;
        const std::string text = test::ReadText(kept);
        test::WriteText(m_tree->Path("cut.json.zst"), text.substr(0, text.size() / 2));
        Compare(*frame, m_tree->Path("cut.json.zst"));
        QVERIFY(!frame->FolderView()->IsComparing());
        QCOMPARE(m_errors.size(), 1);
        QVERIFY2(m_errors[0].contains(QStringLiteral("truncated at byte ")),
                 qPrintable(m_errors[0]));
    }
};

QTEST_MAIN(CompareWindowTest)
#include "compare_window_test.moc"
