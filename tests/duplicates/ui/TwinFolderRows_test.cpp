// Twin folders in the Dupmatch pane: their rows above the twin files, what
// their menu opens, and Move to Trash, which takes a folder only as the
// search saw it and tells the other panes it went as a folder.

#include <QAction>
#include <QContextMenuEvent>
#include <QFileInfo>
#include <QMenu>
#include <QtTest>
#include <memory>

#include "controls/DiskChanges.h"
#include "controls/EngineSignals.h"
#include "controls/ShellOperations.h"
#include "duplicates/TwinScanner.h"
#include "duplicates/ui/TwinListModel.h"
#include "duplicates/ui/TwinListView.h"
#include "foldersize/SizeText.h"
#include "tests/support/PrivateHome.h"
#include "tests/support/ScanRequests.h"
#include "tests/support/TempTree.h"
#include "tests/support/TestFiles.h"

using namespace quarn;

namespace {

QString Text(const TwinListModel& model, int row, int column) {
    return model.data(model.index(row, column)).toString();
}

}  // namespace

class TwinFolderRowsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::PrivateHome> m_home;
    std::unique_ptr<test::TempTree> m_tree;
    std::unique_ptr<TwinScanner> m_twins;
    std::unique_ptr<EngineSignals> m_events;
    std::unique_ptr<DiskChanges> m_changes;
    std::unique_ptr<CTwinListView> m_pane;
    std::vector<std::vector<RemovedPath>> m_announced;
    QStringList m_errors;
    QStringList m_questions;
    QStringList m_opened;
    QString m_pick;  // the menu item to choose

    std::string Scanned(const std::string& relative) const {
        return m_tree->Path("scan/" + relative);
    }

    // Two copies of a photo folder, and a pair of renamed copies elsewhere.
    void ScanTree() {
        m_tree = std::make_unique<test::TempTree>();
        for (const char* copy : {"scan/2023", "scan/backup/2023"}) {
            test::WriteText(m_tree->Path(std::string(copy) + "/beach.jpg"), std::string(3000, 'b'));
            test::WriteText(m_tree->Path(std::string(copy) + "/pier.jpg"), std::string(4000, 'p'));
        }
        test::WriteText(m_tree->Path("scan/notes/a.txt"), std::string(500, 'n'));
        test::WriteText(m_tree->Path("scan/misc/a copy.txt"), std::string(500, 'n'));

        m_twins = std::make_unique<TwinScanner>();
        m_events = std::make_unique<EngineSignals>();
        m_changes = std::make_unique<DiskChanges>();
        m_twins->SetObserver(
            TwinScanner::Observer{m_events->ProgressCallback(), m_events->IdleCallback()});
        connect(
            m_changes.get(), &DiskChanges::pathsRemoved, this,
            [this](const std::vector<RemovedPath>& removed) { m_announced.push_back(removed); });
        m_pane = std::make_unique<CTwinListView>(*m_twins, *m_events, *m_changes);
        m_pane->resize(900, 300);
        m_pane->show();
        m_twins->Scan(test::FolderRequest(m_tree->Path("scan")));
        m_pane->Model()->ApplyPendingChanges();
    }

    void RightClick(int row) {
        const QPoint at = m_pane->visualRect(m_pane->Model()->index(row, 1)).center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, m_pane->viewport()->mapToGlobal(at));
        QApplication::sendEvent(m_pane->viewport(), &event);
    }

  private Q_SLOTS:
    void initTestCase() {
        m_home = std::make_unique<test::PrivateHome>();
        m_home->Point("QUARN_INI", "quarn.ini");
        test::WriteText(m_home->Path("quarn.ini"), "[SETTINGS]\nTwinsByContent=1\nHashCache=0\n");
        m_home->MakeFolder("data");
        m_home->Point("XDG_DATA_HOME", "data");
    }

    void init() {
        m_announced.clear();
        m_errors.clear();
        m_questions.clear();
        m_opened.clear();
        m_pick.clear();
        ShellHooks().confirm = [this](QWidget*, const QString&, const QString& text) {
            m_questions << text;
            return true;
        };
        ShellHooks().showError = [this](QWidget*, const QString&, const QString& text) {
            m_errors << text;
        };
        ShellHooks().openUrl = [this](const QUrl& url) {
            m_opened << url.toLocalFile();
            return true;
        };
        ShellHooks().pickMenuAction = [this](QMenu* menu, const QPoint&) -> QAction* {
            for (QAction* action : menu->actions()) {
                if (action->text() == m_pick) {
                    return action;
                }
            }
            return nullptr;
        };
    }

    void cleanup() {
        m_pane.reset();
        m_twins.reset();
        m_tree.reset();
        ShellHooks() = ShellOperationHooks();
    }

    void cleanupTestCase() { m_home.reset(); }

    void folderRowsLeadAndOpenThemselves() {
        ScanTree();
        const TwinListModel& model = *m_pane->Model();
        QCOMPARE(model.rowCount(), 4);
        const QString first = QString::fromStdString(Scanned("2023"));
        const QString second = QString::fromStdString(Scanned("backup/2023"));
        QCOMPARE(Text(model, 0, TwinListModel::kPathColumn), first);
        QCOMPARE(Text(model, 1, TwinListModel::kPathColumn), second);
        for (int row : {0, 1}) {
            QCOMPARE(Text(model, row, TwinListModel::kFileColumn), QStringLiteral("2023"));
            QCOMPARE(Text(model, row, TwinListModel::kContentColumn),
                     QStringLiteral("folder, 2 files"));
            QCOMPARE(Text(model, row, TwinListModel::kSizeColumn), QStringLiteral("7000 Bytes"));
            QVERIFY(!model.data(model.index(row, 0), Qt::DecorationRole).value<QIcon>().isNull());
        }
        // The twin files keep their texts.
        QCOMPARE(Text(model, 2, TwinListModel::kContentColumn), QStringLiteral("identical"));
        QCOMPARE(Text(model, 3, TwinListModel::kContentColumn), QStringLiteral("identical"));

        // Open Folder on a folder row opens that folder, not the one above it;
        // on a file row, the file's folder.
        m_pick = QStringLiteral("Open Folder");
        RightClick(1);
        RightClick(2);
        QCOMPARE(
            m_opened,
            (QStringList{second,
                         QFileInfo(Text(model, 2, TwinListModel::kPathColumn)).absolutePath()}));

        // Folders are never replaced by links: only the file rows plan any.
        QVERIFY(m_pane->ReplacementPlan({0, 1}).empty());
        QCOMPARE(m_pane->ReplacementPlan({0, 1, 2, 3}).size(), size_t(1));
    }

    void trashTakesOneCopyAndAnnouncesAFolder() {
        ScanTree();
        m_pane->selectionModel()->select(
            QItemSelection(m_pane->Model()->index(0, 0), m_pane->Model()->index(1, 0)),
            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        m_pane->setFocus();
        QTest::keyClick(m_pane.get(), Qt::Key_Delete);
        QCOMPARE(m_questions,
                 QStringList{
                     QStringLiteral("Do you really want to move these 2 folders (%1) to the trash?")
                         .arg(QString::fromStdString(FormatSize(14000)))});
        // The first goes; the second is then the last copy and stays.
        QVERIFY(!QFileInfo::exists(QString::fromStdString(Scanned("2023"))));
        QVERIFY(QFileInfo::exists(QString::fromStdString(Scanned("backup/2023/pier.jpg"))));
        QCOMPARE(m_errors.size(), 1);
        QVERIFY(m_errors[0].startsWith(QStringLiteral("1 of 2 folders were not moved")));
        QVERIFY(m_errors[0].contains(QStringLiteral("no other copy of the folder is left")));
        QCOMPARE(m_announced.size(), size_t(1));
        QCOMPARE(m_announced[0].size(), size_t(1));
        QCOMPARE(m_announced[0][0].path, Scanned("2023"));
        QVERIFY(m_announced[0][0].isFolder);
        // The pair of folders is gone from the list; the twin files stay.
        QCOMPARE(m_pane->Model()->rowCount(), 2);
        QCOMPARE(Text(*m_pane->Model(), 0, TwinListModel::kContentColumn),
                 QStringLiteral("identical"));
    }

    void aChangedFolderStaysWithTheReasonAndNothingIsAnnounced() {
        ScanTree();
        test::WriteText(Scanned("backup/2023/pier.jpg"), std::string(4000, 'P'));
        m_pick = QStringLiteral("Move to Trash");
        RightClick(1);
        QCOMPARE(m_questions.size(), 1);
        QCOMPARE(m_errors.size(), 1);
        QVERIFY(m_errors[0].startsWith(QStringLiteral("This folder was not moved to the trash:")));
        QVERIFY(m_errors[0].contains(QStringLiteral("its contents changed since the search")));
        QVERIFY(QFileInfo::exists(QString::fromStdString(Scanned("backup/2023/pier.jpg"))));
        QVERIFY(m_announced.empty());
        QCOMPARE(m_pane->Model()->rowCount(), 4);

        // So does a folder that holds more than the search saw.
        test::WriteText(Scanned("2023/new.jpg"), "new");
        RightClick(0);
        QCOMPARE(m_errors.size(), 2);
        QVERIFY(m_errors[1].contains(QStringLiteral("holds entries the search did not see")));
        QVERIFY(m_announced.empty());
    }
};

QTEST_MAIN(TwinFolderRowsTest)
#include "TwinFolderRows_test.moc"
