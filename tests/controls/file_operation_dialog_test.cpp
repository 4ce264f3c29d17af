// Copy to, Move to and Delete as the panes call them: the answers they get,
// the questions asked on the user-interface thread, and what stays on disk.

#include <QApplication>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <filesystem>
#include <memory>

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

namespace {}  // namespace

class FileOperationDialogTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<PrivateHome> m_tree;
    QStringList m_errors;

  private Q_SLOTS:
    void init() {
        m_tree = std::make_unique<PrivateHome>();
        m_tree->Point("XDG_DATA_HOME", "share");
        m_errors.clear();
        ShellHooks() = {};
        ShellHooks().showError = [this](QWidget*, const QString&, const QString& text) {
            m_errors << text;
        };
    }

    void cleanup() {
        ShellHooks() = {};
        m_tree.reset();
    }

    void copyAndMoveIntoAnswerTrueOnlyWhenComplete() {
        QWidget window;
        WriteText(m_tree->Path("src/folder/a.txt"), "new a");
        WriteText(m_tree->Path("src/folder/sub/b.txt"), "new b");
        m_tree->MakeFolder("dst");

        QVERIFY(CopyInto(&window, m_tree->Path("src/folder"), m_tree->Path("dst")));
        QCOMPARE(ReadText(m_tree->Path("dst/folder/sub/b.txt")), std::string("new b"));
        QVERIFY(PathExists(m_tree->Path("src/folder/a.txt")));

        // Overwriting is asked on the user-interface thread, with the worker waiting.
        WriteText(m_tree->Path("dst/folder/a.txt"), "old a");
        int questions = 0;
        ShellHooks().askOverwrite = [&](QWidget*, const std::string& target, const std::string&) {
            ++questions;
            [&] { QCOMPARE(QThread::currentThread(), qApp->thread()); }();
            return fs::path(target).filename() == "a.txt" ? ConflictAnswer::Skip
                                                          : ConflictAnswer::Overwrite;
        };
        QVERIFY(CopyInto(&window, m_tree->Path("src/folder"), m_tree->Path("dst")));
        QCOMPARE(questions, 2);  // a.txt and sub/b.txt
        QCOMPARE(ReadText(m_tree->Path("dst/folder/a.txt")), std::string("old a"));

        // A move that skipped a file leaves the source folder: not complete.
        m_tree->MakeFolder("dst2");
        WriteText(m_tree->Path("dst2/folder/a.txt"), "old a");
        QVERIFY(!MoveInto(&window, m_tree->Path("src/folder"), m_tree->Path("dst2")));
        QVERIFY(PathExists(m_tree->Path("src/folder/a.txt")));
        QCOMPARE(ReadText(m_tree->Path("dst2/folder/sub/b.txt")), std::string("new b"));

        // A whole move answers true and the source is gone.
        ShellHooks().askOverwrite = [](QWidget*, const std::string&, const std::string&) {
            return ConflictAnswer::OverwriteAll;
        };
        QVERIFY(MoveInto(&window, m_tree->Path("src/folder"), m_tree->Path("dst2")));
        QVERIFY(!PathExists(m_tree->Path("src/folder")));
        QCOMPARE(ReadText(m_tree->Path("dst2/folder/a.txt")), std::string("new a"));
        QVERIFY(m_errors.isEmpty());
    }

    void cancelAndFailureAnswerFalse() {
        QWidget window;
        WriteText(m_tree->Path("src/f/one.txt"), "new one");
        WriteText(m_tree->Path("dst/f/one.txt"), "old one");

        // The user cancels in the progress dialog while a question is open.
        ShellHooks().askOverwrite = [](QWidget* owner, const std::string&, const std::string&) {
            auto* progress = owner != nullptr ? owner->findChild<QProgressDialog*>() : nullptr;
            QPushButton* button =
                progress != nullptr ? progress->findChild<QPushButton*>() : nullptr;
            if (button != nullptr) {
                button->click();
            }
            return ConflictAnswer::Overwrite;
        };
        QVERIFY(!CopyInto(&window, m_tree->Path("src/f"), m_tree->Path("dst")));
        QCOMPARE(ReadText(m_tree->Path("dst/f/one.txt")), std::string("old one"));
        QVERIFY(m_errors.isEmpty());  // a cancel is no error

        ShellHooks().askOverwrite = [](QWidget*, const std::string&, const std::string&) {
            return ConflictAnswer::Cancel;
        };
        QVERIFY(!MoveInto(&window, m_tree->Path("src/f"), m_tree->Path("dst")));
        QVERIFY(PathExists(m_tree->Path("src/f/one.txt")));

        // Into itself: refused with a message.
        QVERIFY(!MoveInto(&window, m_tree->Path("src"), m_tree->Path("src/f")));
        QVERIFY(!CopyInto(&window, m_tree->Path("src"), m_tree->Path("src")));
        QCOMPARE(m_errors.size(), 2);
        QVERIFY(PathExists(m_tree->Path("src/f/one.txt")));
    }

    void questionsAndProgressBelongToTheMainWindow() {
        // A Copy to started from a pane inside the window, as the panes do.
        QWidget window;
        QWidget* pane = new QWidget(&window);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        WriteText(m_tree->Path("src/folder/a.txt"), "new a");
        WriteText(m_tree->Path("dst/folder/a.txt"), "old a");

        QWidget* questionParent = nullptr;
        Qt::WindowModality questionModality = Qt::NonModal;
        QString questionTitle;
        QWidget* progressParent = nullptr;
        Qt::WindowModality progressModality = Qt::NonModal;
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr) {
                return;
            }
            answer.stop();
            questionParent = box->parentWidget();
            questionModality = box->windowModality();
            questionTitle = box->windowTitle();
            if (auto* progress = window.findChild<QProgressDialog*>()) {
                progressParent = progress->parentWidget();
                progressModality = progress->windowModality();
            }
            for (QAbstractButton* button : box->buttons()) {
                if (button->text() == QStringLiteral("Skip")) {
                    button->click();
                }
            }
        });
        answer.start(10);
        QVERIFY(CopyInto(pane, m_tree->Path("src/folder"), m_tree->Path("dst")));
        QCOMPARE(questionTitle, QStringLiteral("Replace"));
        QCOMPARE(questionParent, &window);
        QCOMPARE(questionModality, Qt::WindowModal);
        QCOMPARE(progressParent, &window);
        QCOMPARE(progressModality, Qt::WindowModal);
        QCOMPARE(ReadText(m_tree->Path("dst/folder/a.txt")), std::string("old a"));
    }

    void trashAsksAndNeverDeletesPermanently() {
        QWidget window;
        m_tree->MakeFolder("victim/inside");
        m_tree->MakeFile("victim/inside/x.bin", 10);
        QString asked;
        bool answer = false;
        ShellHooks().confirm = [&](QWidget*, const QString&, const QString& text) {
            asked = text;
            return answer;
        };
        QVERIFY(!TrashWithConfirmation(&window, m_tree->Path("victim")));
        QVERIFY(asked.contains(QStringLiteral("victim")));
        QVERIFY(PathExists(m_tree->Path("victim/inside/x.bin")));

        answer = true;  // the data folder does not exist yet: it is made
        QVERIFY(!PathExists(m_tree->Path("share")));
        QVERIFY(TrashWithConfirmation(&window, m_tree->Path("victim")));
        QVERIFY(!PathExists(m_tree->Path("victim")));
        QVERIFY(PathExists(m_tree->Path("share/Trash/files/victim/inside/x.bin")));

        // With the trash blocked (a file where its folder belongs) the
        // answer is false and the folder stays where it was.
        m_tree->MakeFile("blocked/Trash", 1);
        ScopedEnv blocked("XDG_DATA_HOME", m_tree->Path("blocked"));
        m_tree->MakeFile("keep/k.txt", 2);
        QVERIFY(!TrashWithConfirmation(&window, m_tree->Path("keep")));
        QCOMPARE(m_errors.size(), 1);
        QVERIFY(PathExists(m_tree->Path("keep/k.txt")));

        // The identity taken when the item was shown is checked.
        std::optional<FileIdentity> shown = IdentityOf(m_tree->Path("keep/k.txt"));
        m_tree->MakeFile("keep/k.txt", 20);
        QVERIFY(!TrashWithConfirmation(&window, m_tree->Path("keep/k.txt"), shown));
        QVERIFY(PathExists(m_tree->Path("keep/k.txt")));
    }

    void trashOfAVanishedPathAsksNothing() {
        bool asked = false;
        ShellHooks().confirm = [&](QWidget*, const QString&, const QString&) {
            asked = true;
            return true;
        };
        QVERIFY(!TrashWithConfirmation(nullptr, m_tree->Path("never-there")));
        QVERIFY(!asked);
        QCOMPARE(m_errors.size(), 1);
    }

    void browseUsesThePicker() {
        QString title;
        ShellHooks().browse = [&](QWidget*, const QString& t) {
            title = t;
            return std::string("/chosen");
        };
        QCOMPARE(BrowseForFolder(nullptr), std::string("/chosen"));
        QCOMPARE(title, QStringLiteral("Select a directory..."));
        ShellHooks().browse = [](QWidget*, const QString&) { return std::string(); };
        QCOMPARE(BrowseForFolder(nullptr), std::string());
    }

    // Last: it ends the application's event loops, as closing the window does.
    void programEndingDuringACopyStopsItWithoutHanging() {
        QWidget window;
        WriteText(m_tree->Path("src/folder/a.txt"), "new a");
        WriteText(m_tree->Path("src/folder/b.txt"), "new b");
        WriteText(m_tree->Path("dst/folder/a.txt"), "old a");
        WriteText(m_tree->Path("dst/folder/b.txt"), "old b");
        int questions = 0;
        ShellHooks().askOverwrite = [&](QWidget*, const std::string&, const std::string&) {
            ++questions;
            return ConflictAnswer::Overwrite;
        };
        // The last window has closed: no event loop runs any more, yet the
        // copy's question must still be answered and the copy must stop.
        QCoreApplication::exit(0);
        QVERIFY(!CopyInto(&window, m_tree->Path("src/folder"), m_tree->Path("dst")));
        QVERIFY(questions <= 1);
        // Stopped after at most the first replacement.
        QVERIFY(ReadText(m_tree->Path("dst/folder/a.txt")) == "old a" ||
                ReadText(m_tree->Path("dst/folder/b.txt")) == "old b");

        // Let later event loops run again.
        QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
        QCoreApplication::exec();
    }
};

QTEST_MAIN(FileOperationDialogTest)
#include "file_operation_dialog_test.moc"
