// The path box: volumes, the browse entry, added paths and the picker.

#include <QSignalSpy>
#include <QTest>

#include "controls/PathCombo.h"
#include "platform/FileSystems.h"

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
        QVERIFY(!box.isEditable());
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
        QTest::qWait(20);
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
        QVERIFY(finished.wait(1000));
        QCOMPARE(picks, 1);
        QCOMPARE(box.count(), countBefore + 1);
        QCOMPARE(box.currentIndex(), countBefore);
        QCOMPARE(box.SelectedPath().value(), answer);

        // Choosing the same folder again appends it again.
        CloseListOn(box, BrowseIndex(box));
        QVERIFY(finished.wait(1000));
        QCOMPARE(box.count(), countBefore + 2);

        // A cancelled picker selects item 0.
        answer.clear();
        CloseListOn(box, BrowseIndex(box));
        QVERIFY(finished.wait(1000));
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
        QTest::qWait(20);
        QVERIFY(box.IsBrowseEntry(box.currentIndex()));
        QCOMPARE(picks, 0);
        QVERIFY(!box.SelectedPath().has_value());
    }
};

QTEST_MAIN(PathComboTest)
#include "path_combo_test.moc"
