// Twins by content in the main window: the Tools menu's choice of what a
// twin is, and its Replace Copies commands.

#include <sys/stat.h>
#include <QAction>
#include <QActionGroup>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <cstdio>
#include <memory>

#include "app/MainFrame.h"
#include "app/TwinCommands.h"
#include "controls/PathCombo.h"
#include "controls/ShellOperations.h"
#include "duplicates/ui/TwinListModel.h"
#include "duplicates/ui/TwinListView.h"
#include "settings/Settings.h"
#include "tests/support/TempTree.h"
#include "tests/support/TestFiles.h"

using namespace quarn;

namespace {

ino_t Inode(const std::string& path) {
    struct stat status {};
    ::lstat(path.c_str(), &status);
    return status.st_ino;
}

}  // namespace

class ContentTwinsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TempTree> m_tree;
    std::unique_ptr<test::ScopedEnv> m_ini;
    std::unique_ptr<test::ScopedEnv> m_data;
    std::unique_ptr<test::ScopedEnv> m_cache;
    QStringList m_questions;

    std::unique_ptr<CMainFrame> MakeFrame() {
        auto frame = std::make_unique<CMainFrame>(std::vector<std::string>{"quarn", "/dupmatch"});
        frame->resize(800, 500);
        frame->show();
        return frame;
    }

    // Opens the Tools menu as far as its refresh goes.
    static void ShowTools(CMainFrame& frame) {
        QMenu* tools = frame.menuBar()->actions()[2]->menu();
        Q_EMIT tools->aboutToShow();
    }

    void Scan(CMainFrame& frame) {
        frame.ScanButton()->click();
        frame.TwinScan().WaitForWorkers();
        frame.TwinList()->Model()->ApplyPendingChanges();
    }

  private Q_SLOTS:
    void init() {
        m_tree = std::make_unique<test::TempTree>();
        m_tree->MakeFolder("xdg");
        m_ini = std::make_unique<test::ScopedEnv>("QUARN_INI", m_tree->Path("quarn.ini"));
        m_data = std::make_unique<test::ScopedEnv>("XDG_DATA_HOME", m_tree->Path("xdg"));
        m_cache = std::make_unique<test::ScopedEnv>("XDG_CACHE_HOME", m_tree->Path("cache"));
        test::WriteText(m_tree->Path("quarn.ini"),
                        "[SETTINGS]\nTwinMode=1\nShellRun=0\nHashCache=0\n");
        // Two renamed copies, and a file of other bytes.
        m_tree->MakeFolder("scan/a");
        m_tree->MakeFolder("scan/b");
        test::WriteText(m_tree->Path("scan/a/IMG_0001.jpg"), std::string(5000, 'p'));
        test::WriteText(m_tree->Path("scan/b/holiday.jpg"), std::string(5000, 'p'));
        test::WriteText(m_tree->Path("scan/b/other.jpg"), std::string(5000, 'o'));
        m_questions.clear();
        ShellHooks().confirm = [this](QWidget*, const QString&, const QString& text) {
            m_questions << text;
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

    void theTwinKindIsASettingForTheNextScan() {
        auto frame = MakeFrame();
        QAction* byName = frame->TwinsByNameAction();
        QAction* byContent = frame->TwinsByContentAction();
        QVERIFY(byName->actionGroup() != nullptr && byName->actionGroup()->isExclusive());
        QCOMPARE(byContent->actionGroup(), byName->actionGroup());
        QVERIFY(byName->isChecked());  // a missing key is twins by name
        QVERIFY(byContent->statusTip().endsWith(QStringLiteral("applies to the next scan")));

        byContent->trigger();
        QVERIFY(ReadSetting(kTwinsByContent, false));
        QVERIFY(byContent->isChecked() && !byName->isChecked());

        // The menu follows the file when it opens (the Settings dialog, or
        // another window, may have changed it).
        QVERIFY(WriteSetting(kTwinsByContent, false));
        ShowTools(*frame);
        QVERIFY(byName->isChecked() && !byContent->isChecked());
        byName->trigger();
        QVERIFY(!ReadSetting(kTwinsByContent, true));
    }

    void replaceCopiesFollowsVerdictsAndTheSelection() {
        auto frame = MakeFrame();
        frame->PathCombo()->AddPath(m_tree->Path("scan"));
        TwinCommands& twins = *frame->Twins();

        // By name the renamed copies are no twins, and there are no verdicts.
        Scan(*frame);
        frame->TwinList()->selectAllRows();
        ShowTools(*frame);
        QVERIFY(!twins.ReplaceLinksAction()->isEnabled());
        QVERIFY(!twins.ReplaceClonesAction()->isEnabled());

        frame->TwinsByContentAction()->trigger();
        Scan(*frame);
        QVERIFY(frame->TwinScan().ByContent());
        QCOMPARE(frame->TwinList()->model()->rowCount(), 2);
        // Nothing selected: nothing to replace.
        frame->TwinList()->clearSelection();
        ShowTools(*frame);
        QVERIFY(!twins.ReplaceLinksAction()->isEnabled());

        twins.SelectCopiesAction()->trigger();
        ShowTools(*frame);
        QVERIFY(twins.ReplaceLinksAction()->isEnabled());
        QVERIFY(twins.ReplaceClonesAction()->isEnabled());
        // Not in Dirmass.
        frame->OnModeDirmass();
        QVERIFY(!twins.ReplaceLinksAction()->isEnabled());
        frame->OnModeDupmatch();
        QVERIFY(twins.ReplaceLinksAction()->isEnabled());

        QSignalSpy replaced(frame->TwinList(), &CTwinListView::copiesReplaced);
        twins.ReplaceLinksAction()->trigger();
        QCOMPARE(m_questions.size(), 1);
        QVERIFY(m_questions[0].startsWith(QStringLiteral("Replace 1 copy with a hard link?")));
        QVERIFY(replaced.wait());
        QCOMPARE(Inode(m_tree->Path("scan/b/holiday.jpg")),
                 Inode(m_tree->Path("scan/a/IMG_0001.jpg")));
        // The engine's closing status is the window's.
        QTRY_VERIFY(frame->StatusText()->text().startsWith(
            QStringLiteral("Replaced 1 copy with hard links")));
        // The copy is a hard link now: nothing is left to replace.
        QCOMPARE(frame->TwinList()->Model()->data(
                     frame->TwinList()->Model()->index(1, TwinListModel::kContentColumn)),
                 QVariant(QStringLiteral("hard link")));
        frame->TwinList()->selectAllRows();
        ShowTools(*frame);
        QVERIFY(!twins.ReplaceLinksAction()->isEnabled());
    }
};

QTEST_MAIN(ContentTwinsTest)
#include "content_twins_test.moc"
