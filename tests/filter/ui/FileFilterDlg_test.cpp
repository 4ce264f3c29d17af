// The File Filter dialog: its controls as the user meets them, the fields it
// keeps between openings, and the searches it starts on a scanned list.

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QTimer>
#include <QtTest>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "duplicates/TwinScanner.h"
#include "filter/ui/CFileFilterDlg.h"
#include "tests/support/PrivateHome.h"
#include "tests/support/ScanRequests.h"
#include "tests/support/TempTree.h"
#include "tests/support/TwinRowTexts.h"

using quarn::CFileFilterDlg;
using quarn::TwinScanner;
using quarn::test::PrivateHome;
using quarn::test::TempTree;

namespace {

template <typename T>
T* Control(QWidget& dialog, int id) {
    return dialog.findChild<T*>(QString::number(id));
}

std::set<std::string> FileTexts(const TwinScanner& list) {
    const std::vector<std::string> names =
        quarn::test::TwinColumnTexts(list, quarn::test::kFileText);
    return std::set<std::string>(names.begin(), names.end());
}

// Opens the dialog modally on `list`; `whileOpen` runs once it shows and
// the dialog is closed after it, unless it closed itself.
void WhileOpenOn(CFileFilterDlg& dialog, TwinScanner& list,
                 const std::function<void()>& whileOpen) {
    QTimer::singleShot(0, &dialog, [&] {
        whileOpen();
        if (dialog.isVisible()) {
            dialog.reject();
        }
    });
    dialog.OpenOn(list);
}

}  // namespace

class FileFilterDlgTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<PrivateHome> m_settings;
    std::unique_ptr<TempTree> m_tree;

  private Q_SLOTS:
    void initTestCase() {
        m_settings = std::make_unique<PrivateHome>();
        m_settings->Point("QUARN_INI", "quarn.ini");
        // Two twins whose name holds "Abc", a pair of other twins, and a
        // single file whose name holds "abc".
        m_tree = std::make_unique<TempTree>();
        for (const char* file :
             {"one/xAbcX.txt", "two/xAbcX.txt", "one/other.txt", "two/deeper/other.txt"}) {
            m_tree->MakeFile(file, 2048);
            m_tree->SetModified(file, 1700000000);
        }
        m_tree->MakeFile("three/abc_single.dat", 100);
    }

    void cleanupTestCase() {
        m_tree.reset();
        m_settings.reset();
    }

    void controlsAsTheUserSeesThem() {
        CFileFilterDlg dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));

        QCOMPARE(dialog.windowTitle(), QStringLiteral("File Filter"));
        QVERIFY(dialog.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QCOMPARE(dialog.size(), dialog.MapDialogRect(0, 0, 280, 125).size());

        auto* search = Control<QLineEdit>(dialog, 1001);
        auto* sizeRange = Control<QCheckBox>(dialog, 1007);
        auto* minKB = Control<QLineEdit>(dialog, 1008);
        auto* maxKB = Control<QLineEdit>(dialog, 1009);
        auto* execute = Control<QPushButton>(dialog, 1);
        auto* twinsOnly = Control<QCheckBox>(dialog, 1000);
        auto* executeStay = Control<QPushButton>(dialog, 1021);
        auto* cancel = Control<QPushButton>(dialog, 2);
        for (QWidget* control : std::initializer_list<QWidget*>{
                 search, sizeRange, minKB, maxKB, execute, twinsOnly, executeStay, cancel}) {
            QVERIFY(control != nullptr);
        }
        QCOMPARE(sizeRange->text(), QStringLiteral("Size between (in KB) ..."));
        QCOMPARE(
            twinsOnly->text(),
            QStringLiteral("Only TwinFiles (see Definition for TwinFiles in Settings Dialog)"));
        QCOMPARE(execute->text(), QStringLiteral("Execute"));
        QCOMPARE(executeStay->text(), QStringLiteral("Execute"));
        QCOMPARE(cancel->text(), QStringLiteral("Cancel"));
        QVERIFY(execute->isDefault());
        QVERIFY(!executeStay->isVisible());

        QSet<QString> groups;
        for (auto* group : dialog.findChildren<QGroupBox*>()) {
            groups << group->title();
        }
        QCOMPARE(groups, (QSet<QString>{QStringLiteral("Define Filter"),
                                        QStringLiteral("Search options")}));
        QSet<QString> labels;
        for (auto* label : dialog.findChildren<QLabel*>()) {
            labels << label->text();
        }
        QVERIFY(labels.contains(QStringLiteral("String in Filename")));
        QVERIFY(labels.contains(QStringLiteral("and")));

        // First opening: empty texts, twins only on, the bounds off.
        QVERIFY(search->text().isEmpty());
        QVERIFY(!sizeRange->isChecked());
        QVERIFY(twinsOnly->isChecked());
        QVERIFY(!minKB->isEnabled());
        QVERIFY(!maxKB->isEnabled());

        // Everything lies inside the dialog and no caption is cut off.
        for (QWidget* control : dialog.findChildren<QWidget*>()) {
            if (control->isWindow() || control->parentWidget() != &dialog) {
                continue;
            }
            QVERIFY2(dialog.rect().contains(control->geometry()),
                     qPrintable(control->objectName()));
        }
        for (QWidget* control :
             std::initializer_list<QWidget*>{sizeRange, twinsOnly, execute, cancel}) {
            QVERIFY2(control->sizeHint().width() <= control->width(),
                     qPrintable(control->objectName()));
        }

        // Tab goes through the controls in the dialog's order.
        const QStringList expected = {"1001", "1007", "1008", "1009", "1", "1000", "1021", "2"};
        QStringList chain;
        QWidget* widget = search;
        do {
            if (expected.contains(widget->objectName()) && !chain.contains(widget->objectName())) {
                chain << widget->objectName();
            }
            widget = widget->nextInFocusChain();
        } while (widget != search);
        QCOMPARE(chain, expected);
    }

    void sizeRangeEditsFollowTheCheckBox() {
        CFileFilterDlg dialog;
        dialog.show();
        auto* sizeRange = Control<QCheckBox>(dialog, 1007);
        auto* minKB = Control<QLineEdit>(dialog, 1008);
        auto* maxKB = Control<QLineEdit>(dialog, 1009);

        QTest::mouseClick(sizeRange, Qt::LeftButton);
        QVERIFY(minKB->isEnabled() && maxKB->isEnabled());
        QTest::keyClicks(minKB, "12a-3 ");
        QCOMPARE(minKB->text(), QStringLiteral("123"));
        QTest::mouseClick(sizeRange, Qt::LeftButton);
        QVERIFY(!minKB->isEnabled() && !maxKB->isEnabled());

        // An opening with the range on enables them from the start.
        dialog.hide();
        dialog.m_criteria.m_bSizeRange = true;
        dialog.show();
        QVERIFY(minKB->isEnabled() && maxKB->isEnabled());
    }

    void fieldsSurviveCancelAndReopening() {
        CFileFilterDlg dialog;
        dialog.show();
        QTest::keyClicks(Control<QLineEdit>(dialog, 1001), "first");
        QTest::mouseClick(Control<QCheckBox>(dialog, 1007), Qt::LeftButton);
        QTest::keyClicks(Control<QLineEdit>(dialog, 1009), "40");
        QTest::mouseClick(Control<QPushButton>(dialog, 1), Qt::LeftButton);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.m_criteria.m_strSearch, std::string("first"));
        QVERIFY(dialog.m_criteria.m_bSizeRange);
        QCOMPARE(dialog.m_criteria.m_strMaxKB, std::string("40"));

        // Typed, then cancelled: the fields keep the last Execute's values.
        dialog.show();
        QCOMPARE(Control<QLineEdit>(dialog, 1001)->text(), QStringLiteral("first"));
        QTest::keyClicks(Control<QLineEdit>(dialog, 1001), "second");
        QTest::mouseClick(Control<QCheckBox>(dialog, 1000), Qt::LeftButton);
        QTest::mouseClick(Control<QPushButton>(dialog, 2), Qt::LeftButton);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(dialog.m_criteria.m_strSearch, std::string("first"));
        QVERIFY(dialog.m_criteria.m_bTwinsOnly);

        dialog.show();
        QCOMPARE(Control<QLineEdit>(dialog, 1001)->text(), QStringLiteral("first"));
        QVERIFY(Control<QCheckBox>(dialog, 1000)->isChecked());
        QVERIFY(Control<QCheckBox>(dialog, 1007)->isChecked());
        QCOMPARE(Control<QLineEdit>(dialog, 1009)->text(), QStringLiteral("40"));
    }

    void executeSearchesTheScannedList() {
        TwinScanner list;
        list.Scan(quarn::test::FolderRequest(m_tree->Root()));
        QCOMPARE(list.Rows().GetItemCount(), 4);

        CFileFilterDlg dialog;
        bool closedByEnter = false;
        WhileOpenOn(dialog, list, [&] {
            // Enter in the text runs the default button, the visible Execute.
            QTest::keyClicks(Control<QLineEdit>(dialog, 1001), "ABC");
            QTest::keyClick(Control<QLineEdit>(dialog, 1001), Qt::Key_Return);
            closedByEnter = !dialog.isVisible();
        });
        QVERIFY(closedByEnter);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.List(), &list);
        list.WaitForWorkers();
        // The name as stored, not lowered; the single abc file is no twin.
        QCOMPARE(list.Rows().GetItemCount(), 2);
        QCOMPARE(FileTexts(list), (std::set<std::string>{"xAbcX.txt"}));
        QCOMPARE(list.GetStatus(), std::string("FileFind - Objects found 2 - ready"));

        // The hidden Execute searches and leaves the dialog open.
        bool stayedOpen = false;
        WhileOpenOn(dialog, list, [&] {
            QTest::mouseClick(Control<QCheckBox>(dialog, 1000), Qt::LeftButton);
            Control<QPushButton>(dialog, 1021)->click();
            stayedOpen = dialog.isVisible();
            list.WaitForWorkers();
        });
        QVERIFY(stayedOpen);
        QCOMPARE(FileTexts(list), (std::set<std::string>{"xAbcX.txt", "abc_single.dat"}));
        QCOMPARE(list.GetStatus(), std::string("FileFind - Objects found 3 - ready"));
        QVERIFY(!dialog.m_criteria.m_bTwinsOnly);
    }

    void searchesNeverOverlapOnOneList() {
        std::mutex messagesMutex;
        std::vector<std::string> messages;
        TwinScanner list([&](const std::string& text) {
            std::lock_guard lock(messagesMutex);
            messages.push_back(text);
        });
        // While set, a verification waits at its first snapshot.
        std::atomic<bool> holdVerification{false};
        list.SetObserver(TwinScanner::Observer{
            [&] {
                while (holdVerification.load() && list.Progress().job == quarn::JobKind::Verify) {
                    std::this_thread::yield();
                }
            },
            {}});
        list.Scan(quarn::test::FolderRequest(m_tree->Root()));

        CFileFilterDlg dialog;
        dialog.m_criteria.m_bTwinsOnly = false;
        WhileOpenOn(dialog, list, [&] {
            auto* search = Control<QLineEdit>(dialog, 1001);
            auto* executeStay = Control<QPushButton>(dialog, 1021);

            // A search while a verification holds the list is refused and
            // changes nothing.
            holdVerification = true;
            QVERIFY(list.StartVerify());
            search->setText(QStringLiteral("other"));
            executeStay->click();
            holdVerification = false;
            list.WaitForWorkers();
            QCOMPARE(messages, std::vector<std::string>{"App is busy.."});
            QCOMPARE(list.Rows().GetItemCount(), 4);

            // Searches started one after another while the last still runs:
            // the list ends with exactly the last search's rows, none twice.
            for (int i = 0; i < 20; ++i) {
                search->setText(i % 2 == 0 ? QStringLiteral("abc") : QStringLiteral("other"));
                executeStay->click();
            }
        });
        list.WaitForWorkers();
        QCOMPARE(list.Rows().GetItemCount(), 2);
        QCOMPARE(FileTexts(list), (std::set<std::string>{"other.txt"}));
        QCOMPARE(list.GetStatus(), std::string("FileFind - Objects found 2 - ready"));
        QCOMPARE(messages.size(), size_t(1));
    }
};

QTEST_MAIN(FileFilterDlgTest)
#include "FileFilterDlg_test.moc"
