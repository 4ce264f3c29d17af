// The file context menu: its items, what each returns, the programs "Open
// With..." offers and starts, and that Move to Trash only removes the file
// that was shown.

#include <sys/stat.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QMenu>
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
using quarn::test::ScopedEnv;
using quarn::test::WriteText;
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
    // The desktop (data, config, MIME database, trash) for the whole run:
    // the desktop's library reads the XDG variables once per process.
    std::unique_ptr<PrivateHome> m_desktop;
    std::unique_ptr<PrivateHome> m_tree;  // each test's own files
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
        m_desktop = std::make_unique<PrivateHome>();
        m_desktop->MakeFolder("share/applications");
        m_desktop->MakeFolder("config");
        m_desktop->Point("XDG_DATA_HOME", "share");
        m_desktop->Point("XDG_DATA_DIRS", "system");
        m_desktop->Point("XDG_CONFIG_HOME", "config");
        m_desktop->Point("XDG_CONFIG_DIRS", "none");
        // The part of the MIME database the tests need: a Python script is
        // a kind of plain text.
        WriteText(m_desktop->Path("system/mime/globs2"),
                  "50:text/x-python:*.py\n50:text/plain:*.txt\n");
        WriteText(m_desktop->Path("system/mime/subclasses"), "text/x-python text/plain\n");
        // Two programs, registered as the desktop's tools register them (the
        // entries and the MIME cache beside them); the terminal one is
        // started in a terminal by the desktop's library.
        m_desktop->MakeFolder("bin");
        const std::string script = Program();
        std::ofstream(script) << "#!/bin/sh\nprintf '%s' \"$1\" > \"$0.out\"\n";
        ::chmod(script.c_str(), 0755);
        std::ofstream(m_desktop->Path("share/applications/quarn-echo.desktop"))
            << "[Desktop Entry]\nType=Application\nName=Echo & Test\nExec=" << script
            << " %f\nMimeType=text/plain;\n";
        std::ofstream(m_desktop->Path("share/applications/quarn-term.desktop"))
            << "[Desktop Entry]\nType=Application\nName=Terminal Tool\nExec=" << script
            << " %f\nTerminal=true\nMimeType=text/x-python;\n";
        std::ofstream(m_desktop->Path("share/applications/mimeinfo.cache"))
            << "[MIME Cache]\ntext/plain=quarn-echo.desktop;\n"
               "text/x-python=quarn-term.desktop;\n";
    }

    void cleanupTestCase() { m_desktop.reset(); }

    std::string Program() const { return m_desktop->Path("bin/echo-arg"); }

    void init() {
        m_tree = std::make_unique<PrivateHome>();
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
        std::string trash = m_desktop->Path("share/Trash");

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

    void openWithOffersProgramsOfTheTypeAndOfItsParents() {
        m_tree->MakeFile("dir/tool.py", 5);
        m_tree->MakeFile("dir/notes.txt", 5);
        m_tree->MakeFolder("dir/sub");
        auto ids = [](const std::string& path) {
            CShellItemMenu menu;
            menu.SetPath(path);
            menu.BuildMenu();
            QStringList listed;
            for (const DesktopApplication& application : menu.Handlers()) {
                listed << QString::fromStdString(application.id);
            }
            return listed;
        };
        // The editor is registered for plain text only, and still offered
        // for a script, after the script's own program.
        QCOMPARE(ids(m_tree->Path("dir/tool.py")),
                 QStringList({"quarn-term.desktop", "quarn-echo.desktop"}));
        QCOMPARE(ids(m_tree->Path("dir/notes.txt")), QStringList({"quarn-echo.desktop"}));

        // Nothing registered for folders: the submenu says so.
        CShellItemMenu folder;
        folder.SetPath(m_tree->Path("dir/sub"));
        QMenu* built = folder.BuildMenu();
        QVERIFY(folder.Handlers().empty());
        QVERIFY(ActionWithId(built, kCmdOpenWithFirst) == nullptr);
    }

    void openWithStartsTheChosenProgramWithTheExactBytes() {
        const std::string script = Program();
        std::filesystem::remove(script + ".out");
        // A name that is not valid UTF-8 must reach the program unchanged.
        std::string name = "odd \xff\xfe name.txt";
        m_tree->MakeFile("dir/" + name, 5);
        std::string path = m_tree->Path("dir/" + name);

        CShellItemMenu menu;
        menu.SetPath(path);
        QMenu* built = menu.BuildMenu();
        QCOMPARE(int(menu.Handlers().size()), 1);
        QCOMPARE(menu.Handlers()[0].id, std::string("quarn-echo.desktop"));
        QAction* entry = ActionWithId(built, kCmdOpenWithFirst);
        QVERIFY(entry != nullptr);
        QCOMPARE(entry->text(), QStringLiteral("Echo && Test"));

        QCOMPARE(menu.CarryOut(nullptr, kCmdOpenWithFirst), kCmdOpenWithFirst);
        QTRY_VERIFY_WITH_TIMEOUT(PathExists(script + ".out") && ReadText(script + ".out") == path,
                                 30000);
        QVERIFY(m_errors.isEmpty());

        // A program the desktop cannot start is reported and returns 0: a
        // terminal program where no terminal can be found.
        m_tree->MakeFile("dir/tool.py", 5);
        CShellItemMenu scriptMenu;
        scriptMenu.SetPath(m_tree->Path("dir/tool.py"));
        scriptMenu.BuildMenu();
        QCOMPARE(scriptMenu.Handlers().front().id, std::string("quarn-term.desktop"));
        {
            ScopedEnv noTerminal("PATH", m_tree->Path("empty"));
            QCOMPARE(scriptMenu.CarryOut(nullptr, kCmdOpenWithFirst), 0);
        }
        QCOMPARE(m_errors.size(), 1);
        QVERIFY(m_errors[0].contains(QStringLiteral("Terminal Tool")));
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
