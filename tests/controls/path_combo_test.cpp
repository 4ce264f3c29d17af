// The path box: volumes, the browse entry, added paths, the picker and
// typed folders.

#include <sys/stat.h>

#include <QAbstractItemView>
#include <QCompleter>
#include <QDir>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include "controls/PathCombo.h"
#include "platform/FileSystems.h"
#include "tests/support/TempTree.h"

using quarn::CPathCombo;

class PathComboTest : public QObject {
    Q_OBJECT

  private:
    int BrowseIndex(const CPathCombo& box) {
        for (int i = 0; i < box.count(); ++i) {
            if (box.IsBrowseEntry(i)) {
                return i;
            }
        }
        return -1;
    }

    // Opens the list and closes it on `index`, as a click on that item does.
    void CloseListOn(CPathCombo& box, int index) {
        box.showPopup();
        box.hidePopup();
        box.setCurrentIndex(index);
    }

  private Q_SLOTS:
    void listsVolumesThenTheBrowseEntry() {
        CPathCombo box;
        const auto volumes = quarn::ListUserVolumes();
        QCOMPARE(box.count(), int(volumes.size()) + 1);
        for (int i = 0; i < int(volumes.size()); ++i) {
            QCOMPARE(box.itemData(i, CPathCombo::kPathRole).toByteArray().toStdString(),
                     volumes[size_t(i)].mountPoint);
            QCOMPARE(box.itemData(i).toInt(), i);
        }
        const int browse = box.count() - 1;
        QCOMPARE(box.itemText(browse), QStringLiteral("Durchsuchen..."));
        QCOMPARE(box.itemData(browse).toInt(), CPathCombo::kBrowseEntryData);
        QVERIFY(box.IsBrowseEntry(browse));
        QVERIFY(!box.HasTypedText());
        if (!volumes.empty()) {
            QCOMPARE(box.currentIndex(), 0);
            QCOMPARE(box.SelectedPath().value(), volumes.front().mountPoint);
        }
    }

    void addPathAppendsSelectsAndMendsQuotes() {
        CPathCombo box;
        const int before = box.count();
        QCOMPARE(box.AddPath("/srv/data"), before);
        QCOMPARE(box.currentIndex(), before);
        QCOMPARE(box.SelectedPath().value(), std::string("/srv/data"));
        QCOMPARE(box.itemData(before).toInt(), before);
        // The same path may stand twice; nothing is removed.
        box.AddPath("/srv/data");
        QCOMPARE(box.count(), before + 2);
        // A quoted argument that ended in a separator reaches us with a quote.
        box.AddPath("/srv/with space\"");
        QCOMPARE(box.SelectedPath().value(), std::string("/srv/with space/"));
        // Raw bytes survive, whatever the display makes of them.
        box.AddPath("/srv/caf\xe9");
        QCOMPARE(box.SelectedPath().value(), std::string("/srv/caf\xe9"));
    }

    void browseEntryIsNeverAPath() {
        CPathCombo box;
        box.setCurrentIndex(BrowseIndex(box));
        QVERIFY(!box.SelectedPath().has_value());
        // The 124th item carries 123 as its data and is still a path.
        while (box.count() <= CPathCombo::kBrowseEntryData) {
            box.AddPath("/p" + std::to_string(box.count()));
        }
        const int lookalike = CPathCombo::kBrowseEntryData;
        QCOMPARE(box.itemData(lookalike).toInt(), CPathCombo::kBrowseEntryData);
        QVERIFY(!box.IsBrowseEntry(lookalike));
        int picks = 0;
        box.SetFolderPicker([&picks](QWidget*) {
            ++picks;
            return std::string();
        });
        CloseListOn(box, lookalike);
        // A picker the close only queued would open here.
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        QCOMPARE(picks, 0);
        QCOMPARE(box.currentIndex(), lookalike);
    }

    void closingOnTheBrowseEntryOpensThePicker() {
        CPathCombo box;
        std::string answer = "/home/someone/Music";
        int picks = 0;
        box.SetFolderPicker([&](QWidget*) {
            ++picks;
            return answer;
        });
        QSignalSpy finished(&box, &CPathCombo::browseFinished);
        const int countBefore = box.count();

        CloseListOn(box, BrowseIndex(box));
        QVERIFY(finished.wait(30000));
        QCOMPARE(finished.takeLast().at(0).toBool(), true);
        QCOMPARE(picks, 1);
        QCOMPARE(box.count(), countBefore + 1);
        QCOMPARE(box.currentIndex(), countBefore);
        QCOMPARE(box.SelectedPath().value(), answer);

        // Choosing the same folder again appends it again.
        CloseListOn(box, BrowseIndex(box));
        QVERIFY(finished.wait(30000));
        QCOMPARE(box.count(), countBefore + 2);

        // A cancelled picker selects item 0.
        answer.clear();
        CloseListOn(box, BrowseIndex(box));
        QVERIFY(finished.wait(30000));
        QCOMPARE(finished.takeLast().at(0).toBool(), false);
        QCOMPARE(picks, 3);
        QCOMPARE(box.count(), countBefore + 2);
        QCOMPARE(box.currentIndex(), 0);
    }

    void arrowKeysOnAClosedBoxDoNotOpenThePicker() {
        CPathCombo box;
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        int picks = 0;
        box.SetFolderPicker([&picks](QWidget*) {
            ++picks;
            return std::string("/x");
        });
        box.setFocus();
        for (int i = 0; i < box.count(); ++i) {
            QTest::keyClick(&box, Qt::Key_Down);
        }
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        QVERIFY(box.IsBrowseEntry(box.currentIndex()));
        QCOMPARE(picks, 0);
        QVERIFY(!box.SelectedPath().has_value());
    }

    void aTypedFolderIsTakenOnlyWhenItCanBeListed() {
        quarn::test::TempTree tree;
        tree.MakeFolder("music/with \"quote\"");
        tree.MakeFile("music/file.txt", 1);
        CPathCombo box;
        const int before = box.count();
        std::string error;

        box.lineEdit()->setText(QString::fromStdString(tree.Path("music")));
        QVERIFY(box.HasTypedText());
        QCOMPARE(box.AcceptTypedFolder(error).value(), tree.Path("music"));
        QCOMPARE(box.count(), before + 1);
        QCOMPARE(box.SelectedPath().value(), tree.Path("music"));
        QVERIFY(!box.HasTypedText());
        // The same folder again selects its item instead of adding one.
        box.setCurrentIndex(0);
        box.lineEdit()->setText(QString::fromStdString(tree.Path("music")));
        QVERIFY(box.AcceptTypedFolder(error).has_value());
        QCOMPARE(box.count(), before + 1);
        QCOMPARE(box.currentIndex(), before);
        QVERIFY(!box.HasTypedText());
        // Typed, a quote is part of the name (only the command line's
        // trailing quote is mended).
        const std::string quoted = tree.Path("music/with \"quote\"");
        box.lineEdit()->setText(QString::fromStdString(quoted));
        QCOMPARE(box.AcceptTypedFolder(error).value(), quoted);
        QCOMPARE(box.SelectedPath().value(), quoted);
        // "~" is the home folder; a relative path starts in the working folder.
        box.lineEdit()->setText(QStringLiteral("~"));
        QCOMPARE(box.AcceptTypedFolder(error).value(), QDir::homePath().toStdString());
        const QString working = QDir::currentPath();
        QVERIFY(QDir::setCurrent(QString::fromStdString(tree.Root())));
        box.lineEdit()->setText(QStringLiteral("music"));
        const std::optional<std::string> relative = box.AcceptTypedFolder(error);
        QDir::setCurrent(working);
        QCOMPARE(relative.value(), tree.Path("music"));

        // Refused, with the reason, and nothing changes: the text stays.
        const int count = box.count();
        const int current = box.currentIndex();
        auto refused = [&](const std::string& typed, const char* reason) {
            box.lineEdit()->setText(QString::fromStdString(typed));
            error.clear();
            QVERIFY(!box.AcceptTypedFolder(error).has_value());
            QCOMPARE(QString::fromStdString(error),
                     QStringLiteral("Cannot scan \"%1\": %2")
                         .arg(QString::fromStdString(typed), QLatin1String(reason)));
            QCOMPARE(box.count(), count);
            QCOMPARE(box.currentIndex(), current);
            QCOMPARE(box.lineEdit()->text(), QString::fromStdString(typed));
        };
        refused(tree.Path("nowhere"), "no such folder");
        refused(tree.Path("music/file.txt"), "not a folder");
        if (!quarn::test::RunningAsRoot()) {
            tree.MakeFolder("closed");
            ::chmod(tree.Path("closed").c_str(), 0);
            refused(tree.Path("closed"), "permission denied");
        }
    }

    void typingCompletesFolderNamesOnly() {
        quarn::test::TempTree tree;
        tree.MakeFolder("picks/alpha");
        tree.MakeFolder("picks/album");
        tree.MakeFile("picks/alpine.txt", 1);
        CPathCombo box;
        box.resize(400, box.sizeHint().height());
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        box.lineEdit()->setFocus();
        box.lineEdit()->clear();
        QTest::keyClicks(box.lineEdit(), QString::fromStdString(tree.Path("picks/al")));
        QCompleter* completer = box.completer();
        QVERIFY(completer != nullptr);
        // The file model lists folders in the background; the next key
        // (here: asking again) shows what it found.
        const QString prefix = completer->completionPrefix();
        QCOMPARE(prefix, QString::fromStdString(tree.Path("picks/al")));
        QTRY_VERIFY((completer->setCompletionPrefix(prefix), completer->completionCount() == 2));
        QStringList offered;
        for (int row = 0; completer->setCurrentRow(row); ++row) {
            offered << completer->currentCompletion();
        }
        offered.sort();
        QCOMPARE(offered, QStringList({QString::fromStdString(tree.Path("picks/album")),
                                       QString::fromStdString(tree.Path("picks/alpha"))}));

        // Enter with the list open asks for a scan of the typed folder.
        QSignalSpy entered(&box, &CPathCombo::enterPressed);
        completer->complete();
        QTRY_VERIFY(completer->popup()->isVisible());
        QTest::keyClick(completer->popup(), Qt::Key_Return);
        QCOMPARE(entered.count(), 1);
    }
};

QTEST_MAIN(PathComboTest)
#include "path_combo_test.moc"
