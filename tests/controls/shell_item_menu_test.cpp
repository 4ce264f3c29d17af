// The file context menu: its items, what each returns, and that Move to
// Trash only removes the file that was shown.

#include <sys/stat.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QMimeDatabase>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <memory>

#include "controls/PropertiesDialog.h"
#include "controls/ShellItemMenu.h"
#include "controls/ShellOperations.h"
#include "tests/support/PrivateHome.h"
#include "tests/support/TestFiles.h"

using namespace quarn;
using quarn::test::PathExists;
using quarn::test::PrivateHome;
using quarn::test::ReadText;
namespace fs = std::filesystem;

namespace {

QAction* ActionWithId(QMenu* menu, int id) {
    for (QAction* action : menu->actions()) {
        if (action->menu() != nullptr) {
            if (QAction* inner = ActionWithId(action->menu(), id)) {
                return inner;
            }
        } else if (!action->isSeparator() && action->data().toInt() == id) {
            return action;
        }
    }
    return nullptr;
}

}  // namespace

class ShellItemMenuTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<PrivateHome> m_tree;
    QStringList m_errors;
    int m_confirmations = 0;
    bool m_answer = true;

    // Shows the menu for `path` and picks the item with `id` (0: dismiss).
    int Choose(const std::string& path, int id) {
        CShellItemMenu menu;
        menu.SetPath(path);
        ShellHooks().pickMenuAction = [&](QMenu* shown, const QPoint&) -> QAction* {
            return id == 0 ? nullptr : ActionWithId(shown, id);
        };
        return menu.ShowMenu(nullptr, QPoint(10, 10));
    }

  private Q_SLOTS:
    void initTestCase() {
        QMimeDatabase().mimeTypeForName(
            QStringLiteral("text/plain"));  // load it before the env changes
    }

    void init() {
        m_tree = std::make_unique<PrivateHome>();
        m_tree->MakeFolder("share/applications");
        m_tree->MakeFolder("config");
        m_tree->Point("XDG_DATA_HOME", "share");
        m_tree->Point("XDG_DATA_DIRS", "none");
        m_tree->Point("XDG_CONFIG_HOME", "config");
        m_tree->Point("XDG_CONFIG_DIRS", "none");
        m_errors.clear();
        m_confirmations = 0;
        m_answer = true;
        ShellHooks() = {};
        ShellHooks().showError = [this](QWidget*, const QString&, const QString& text) {
            m_errors << text;
        };
        ShellHooks().confirm = [this](QWidget*, const QString&, const QString&) {
            ++m_confirmations;
            return m_answer;
        };
        ShellHooks().openUrl = [](const QUrl&) {
            qFatal("a test opened a URL for real");
            return false;
        };
    }

    void cleanup() {
        ShellHooks() = {};
        m_tree.reset();
    }

    void menuReadsOpenFolderThenSeparatorThenCommands() {
        m_tree->MakeFile("dir/a.txt", 3);
        CShellItemMenu menu;
        menu.SetPath(m_tree->Path("dir/a.txt"));
        QMenu* built = menu.BuildMenu();
        QList<QAction*> actions = built->actions();
        QVERIFY(actions.size() >= 7);
        QCOMPARE(actions[0]->text(), QStringLiteral("Open Folder"));
        QCOMPARE(actions[0]->data().toInt(), kCmdOpenFolder);
        QVERIFY(actions[1]->isSeparator());
        QStringList rest;
        for (int i = 2; i < actions.size(); ++i) {
            rest << actions[i]->text();
            QVERIFY(actions[i]->isEnabled());
        }
        QCOMPARE(rest,
                 QStringList({"Open", "Open With...", "Copy Path", "Move to Trash", "Properties"}));

        // For a path that is gone, only what needs no file stays enabled.
        CShellItemMenu gone;
        gone.SetPath(m_tree->Path("dir/none.txt"));
        QMenu* goneMenu = gone.BuildMenu();
        QVERIFY(ActionWithId(goneMenu, kCmdOpenFolder)->isEnabled());
        QVERIFY(ActionWithId(goneMenu, kCmdCopyPath)->isEnabled());
        QVERIFY(!ActionWithId(goneMenu, kCmdOpen)->isEnabled());
        QVERIFY(!ActionWithId(goneMenu, kCmdMoveToTrash)->isEnabled());
        QVERIFY(!ActionWithId(goneMenu, kCmdProperties)->isEnabled());
    }

    void resultsOfOpenFolderDismissOpenAndCopyPath() {
        m_tree->MakeFile("dir/a b.txt", 3);
        std::string path = m_tree->Path("dir/a b.txt");
        QList<QUrl> opened;
        ShellHooks().openUrl = [&](const QUrl& url) {
            opened << url;
            return true;
        };
        QCOMPARE(Choose(path, kCmdOpenFolder), kCmdOpenFolder);
        QVERIFY(opened.isEmpty());  // the caller opens the folder, not the menu
        QCOMPARE(Choose(path, 0), 0);
        QVERIFY(opened.isEmpty());

        QCOMPARE(Choose(path, kCmdOpen), kCmdOpen);
        QCOMPARE(opened, QList<QUrl>{QUrl::fromLocalFile(QString::fromStdString(path))});
        ShellHooks().openUrl = [](const QUrl&) { return false; };
        QCOMPARE(Choose(path, kCmdOpen), 0);
        QCOMPARE(m_errors.size(), 1);

        QCOMPARE(Choose(path, kCmdCopyPath), kCmdCopyPath);
        QCOMPARE(QApplication::clipboard()->text(), QString::fromStdString(path));
        QCOMPARE(m_confirmations, 0);
        QVERIFY(PathExists(path));
    }

    void moveToTrashOnlyTheFileThatWasShown() {
        m_tree->MakeFile("dir/doomed.txt", 4);
        m_tree->MakeFile("dir/neighbour.txt", 4);
        std::string path = m_tree->Path("dir/doomed.txt");
        std::string trash = m_tree->Path("share/Trash");

        m_answer = false;  // declined: nothing moves
        QCOMPARE(Choose(path, kCmdMoveToTrash), 0);
        QCOMPARE(m_confirmations, 1);
        QVERIFY(PathExists(path));

        m_answer = true;
        QCOMPARE(Choose(path, kCmdMoveToTrash), kCmdMoveToTrash);
        QVERIFY(!PathExists(path));
        QVERIFY(PathExists(trash + "/files/doomed.txt"));
        QVERIFY(PathExists(trash + "/info/doomed.txt.trashinfo"));
        QVERIFY(PathExists(m_tree->Path("dir/neighbour.txt")));
        QVERIFY(m_errors.isEmpty());

        // The file at the path is replaced while the menu is open: refused.
        m_tree->MakeFile("dir/doomed.txt", 4);
        CShellItemMenu menu;
        menu.SetPath(path);
        menu.BuildMenu();
        fs::remove(path);
        m_tree->MakeFile("dir/other.txt", 9);
        fs::rename(m_tree->Path("dir/other.txt"), path);
        QCOMPARE(menu.CarryOut(nullptr, kCmdMoveToTrash), 0);
        QCOMPARE(fs::file_size(path), 9u);
        QCOMPARE(m_errors.size(), 1);
        QVERIFY(!PathExists(trash + "/files/doomed 2.txt"));

        // Vanished meanwhile: fails with a message, nothing else is touched.
        CShellItemMenu late;
        late.SetPath(path);
        late.BuildMenu();
        fs::remove(path);
        QCOMPARE(late.CarryOut(nullptr, kCmdMoveToTrash), 0);
        QCOMPARE(m_errors.size(), 2);
        QVERIFY(PathExists(m_tree->Path("dir/neighbour.txt")));
    }

    void openWithStartsTheListedProgramWithTheExactBytes() {
        // A handler that writes the argument it got next to itself.
        std::string script = m_tree->Path("bin/echo-arg");
        m_tree->MakeFolder("bin");
        std::ofstream(script) << "#!/bin/sh\nprintf '%s' \"$1\" > \"$0.out\"\n";
        ::chmod(script.c_str(), 0755);
        std::ofstream(m_tree->Path("share/applications/quarn-echo.desktop"))
            << "[Desktop Entry]\nType=Application\nName=Echo & Test\nExec=" << script
            << " %f\nMimeType=text/plain;\n";
        std::ofstream(m_tree->Path("share/applications/quarn-term.desktop"))
            << "[Desktop Entry]\nType=Application\nName=Terminal Tool\nExec=" << script
            << " %f\nTerminal=true\nMimeType=text/plain;\n";

        // A name that is not valid UTF-8 must reach the program unchanged.
        std::string name = "odd \xff\xfe name.txt";
        m_tree->MakeFile("dir/" + name, 5);
        std::string path = m_tree->Path("dir/" + name);

        CShellItemMenu menu;
        menu.SetPath(path);
        QMenu* built = menu.BuildMenu();
        QCOMPARE(int(menu.Handlers().size()), 1);  // the terminal program is left out
        QCOMPARE(menu.Handlers()[0].id, std::string("quarn-echo.desktop"));
        QAction* entry = ActionWithId(built, kCmdOpenWithFirst);
        QVERIFY(entry != nullptr);
        QCOMPARE(entry->text(), QStringLiteral("Echo && Test"));

        QCOMPARE(menu.CarryOut(nullptr, kCmdOpenWithFirst), kCmdOpenWithFirst);
        QTRY_VERIFY_WITH_TIMEOUT(PathExists(script + ".out") && ReadText(script + ".out") == path,
                                 10000);
        QVERIFY(m_errors.isEmpty());

        // A handler that cannot be started is reported and returns 0.
        fs::remove(script);
        QCOMPARE(menu.CarryOut(nullptr, kCmdOpenWithFirst), 0);
        QCOMPARE(m_errors.size(), 1);
        QCOMPARE(menu.CarryOut(nullptr, kCmdOpenWithFirst + 1), 0);  // no such entry
    }

    void propertiesOpensTheDialog() {
        m_tree->MakeFile("dir/p.txt", 10);
        QWidget owner;
        CShellItemMenu menu;
        menu.SetPath(m_tree->Path("dir/p.txt"));
        ShellHooks().pickMenuAction = [](QMenu* shown, const QPoint&) {
            return ActionWithId(shown, kCmdProperties);
        };
        QCOMPARE(menu.ShowMenu(&owner, QPoint(1, 1)), kCmdProperties);
        auto* dialog = owner.findChild<PropertiesDialog*>();
        QVERIFY(dialog != nullptr);
        QCOMPARE(dialog->FieldText(QStringLiteral("path")),
                 QString::fromStdString(m_tree->Path("dir/p.txt")));
        dialog->close();
    }
};

QTEST_MAIN(ShellItemMenuTest)
#include "shell_item_menu_test.moc"
