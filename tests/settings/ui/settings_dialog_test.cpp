#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <filesystem>
#include <functional>
#include <memory>

#include "controls/DialogUnitScale.h"
#include "controls/ShellOperations.h"
#include "platform/DesktopEntries.h"
#include "platform/ProgramPath.h"
#include "settings/Settings.h"
#include "settings/ShellIntegration.h"
#include "settings/ui/SettingsDlg.h"
#include "tests/support/DesktopEntryProbe.h"
#include "tests/support/PrivateHome.h"
#include "tests/support/TestFiles.h"

using quarn::SettingsDlg;
using quarn::test::PrivateHome;
using quarn::test::ReadText;

namespace {

// The "key=value" lines of the INI file, in file order.
QStringList IniLines(const std::string& path) {
    QStringList lines;
    for (const QString& line : QString::fromStdString(ReadText(path)).split(QLatin1Char('\n'))) {
        if (line.contains(QLatin1Char('='))) {
            lines << line.trimmed();
        }
    }
    return lines;
}

// Shows the dialog modally and lets `act` work on it while it runs; a check
// that fails inside `act` still gets the dialog closed.
int RunDialog(SettingsDlg& dialog, const std::function<void()>& act) {
    QTimer::singleShot(0, &dialog, act);
    QTimer::singleShot(0, &dialog, [&dialog] {
        if (dialog.isVisible()) {
            dialog.reject();
        }
    });
    return dialog.exec();
}

}  // namespace

class SettingsDialogTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<PrivateHome> m_tree;

    std::string Ini() const { return m_tree->Path("quarn.ini"); }
    std::string Entry() const { return m_tree->Path("data/applications/Dirmass.desktop"); }

  private Q_SLOTS:
    void init() {
        m_tree = std::make_unique<PrivateHome>();
        m_tree->Point("QUARN_INI", "quarn.ini");
        m_tree->Point("XDG_DATA_HOME", "data");
        m_tree->Point("XDG_DATA_DIRS", "none");
        m_tree->Point("PATH", "bin");
    }

    void cleanup() {
        quarn::ShellHooks() = quarn::ShellOperationHooks();
        m_tree.reset();
    }

    void layoutFollowsTheTemplate() {
        SettingsDlg dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Settings"));
        const quarn::DialogUnitScale du(dialog.font());
        QCOMPARE(dialog.size(), du.Size(220, 299));

        const struct {
            int id;
            const char* caption;
            QRect rect;
        } boxes[] = {
            {1000, "Scan Mode: Dirmass && Dupmatch", du.Rect(12, 18, 168, 11)},
            {1001, "Shell Integration", du.Rect(12, 30, 114, 12)},
            {1002, "Sort by Size", du.Rect(12, 72, 54, 10)},
            {1003, "% Relativ to Drive Space", du.Rect(12, 84, 121, 11)},
            {1004, "File Name", du.Rect(12, 120, 114, 12)},
            {1005, "File Size", du.Rect(12, 132, 114, 12)},
            {1006, "Modified Date", du.Rect(12, 144, 114, 12)},
        };
        for (const auto& box : boxes) {
            auto* check = dialog.findChild<QCheckBox*>(QString::number(box.id));
            QVERIFY2(check, box.caption);
            QCOMPARE(check, dialog.CheckBox(box.id));
            QCOMPARE(check->text(), QString::fromLatin1(box.caption));
            QCOMPARE(check->geometry(), box.rect);
        }
        QStringList groups;
        for (QGroupBox* group : dialog.findChildren<QGroupBox*>()) {
            groups << group->title();
        }
        QCOMPARE(groups, (QStringList{QStringLiteral("General"), QStringLiteral("Dirmass"),
                                      QStringLiteral("Dupmatch: Properties of equal Files"),
                                      QStringLiteral("Scope"), QStringLiteral("Twins")}));
        auto* ok = dialog.findChild<QPushButton*>(QStringLiteral("1"));
        auto* cancel = dialog.findChild<QPushButton*>(QStringLiteral("2"));
        QVERIFY(ok && cancel);
        QVERIFY(ok->isDefault());
        QCOMPARE(ok->geometry(), du.Rect(108, 282, 50, 14));
        QCOMPARE(cancel->text(), QStringLiteral("Cancel"));
    }

    void freshStartShowsDefaultsAndOkWritesAllSevenKeys() {
        SettingsDlg dialog;
        QList<bool> shown;
        RunDialog(dialog, [&] {
            for (int id = 1000; id <= 1006; ++id) {
                shown << dialog.CheckBox(id)->isChecked();
            }
            QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("1")), Qt::LeftButton);
        });
        QCOMPARE(shown, (QList<bool>{false, true, true, true, true, true, true}));
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(IniLines(Ini()),
                 (QStringList{"TwinMode=1", "SortBySize=1", "RelativToDriveSpace=1", "CmpName=1",
                              "CmpDate=1", "CmpSize=1", "ShellRun=1", "Exclude=", "OneFileSystem=0",
                              "TwinsByContent=0", "HashCache=1", "ReferenceFolders="}));
        // ShellRun on: the folder entry now starts this very program.
        QCOMPARE(quarn::test::DesktopEntryValue(Entry(), "Exec"),
                 std::optional<std::string>(quarn::QuoteExecArgument(quarn::ExecutableRealPath()) +
                                            " %f"));
    }

    void boxesCarryTheSettingsBothWays() {
        SettingsDlg dialog;
        RunDialog(dialog, [&] {
            // The name box cannot be changed, by mouse or by key.
            QCheckBox* name = dialog.CheckBox(1004);
            QVERIFY(!name->isEnabled());
            QTest::mouseClick(name, Qt::LeftButton);
            QTest::keyClick(name, Qt::Key_Space);
            QVERIFY(name->isChecked());

            QTest::mouseClick(dialog.CheckBox(1000), Qt::LeftButton);  // combined scan on
            QTest::mouseClick(dialog.CheckBox(1003), Qt::LeftButton);  // relative off
            QTest::mouseClick(dialog.CheckBox(1006), Qt::LeftButton);  // date off
            QTest::mouseClick(dialog.CheckBox(1001), Qt::LeftButton);  // shell off
            dialog.accept();
        });
        QVERIFY(!quarn::ReadSetting(quarn::kTwinMode));
        QVERIFY(!quarn::ReadSetting(quarn::kRelativToDriveSpace));
        QVERIFY(!quarn::ReadSetting(quarn::kCmpDate));
        QVERIFY(!quarn::ReadSetting(quarn::kShellRun));
        QVERIFY(quarn::ReadSetting(quarn::kSortBySize));
        QVERIFY(quarn::ReadSetting(quarn::kCmpSize));
        QVERIFY(IniLines(Ini()).contains(QStringLiteral("CmpName=1")));
        QVERIFY(IniLines(Ini()).contains(QStringLiteral("TwinMode=0")));

        // Shown again, it reads the file anew.
        QList<bool> shown;
        RunDialog(dialog, [&] {
            for (int id = 1000; id <= 1006; ++id) {
                shown << dialog.CheckBox(id)->isChecked();
            }
            dialog.reject();
        });
        QCOMPARE(shown, (QList<bool>{true, false, true, false, true, true, false}));
        QCOMPARE(dialog.m_bCombinedScan, 1);
        QCOMPARE(dialog.m_bCmpName, 1);
    }

    void scopeFieldsCarryTheSettingsBothWays() {
        SettingsDlg dialog;
        RunDialog(dialog, [&] {
            QVERIFY(dialog.ExcludeEdit()->text().isEmpty());
            QVERIFY(!dialog.CheckBox(SettingsDlg::kIdOneFileSystem)->isChecked());
            QTest::keyClicks(dialog.ExcludeEdit(), QStringLiteral(" build/;*.tmp "));
            QTest::mouseClick(dialog.CheckBox(SettingsDlg::kIdOneFileSystem), Qt::LeftButton);
            dialog.accept();
        });
        QCOMPARE(quarn::ReadSettingText(quarn::kExclude), std::string("build/;*.tmp"));
        QVERIFY(quarn::ReadSetting(quarn::kOneFileSystem, false));
        QString shown;
        RunDialog(dialog, [&] {
            shown = dialog.ExcludeEdit()->text();
            QVERIFY(dialog.CheckBox(SettingsDlg::kIdOneFileSystem)->isChecked());
            dialog.reject();
        });
        QCOMPARE(shown, QStringLiteral("build/;*.tmp"));
    }

    void twinsGroupCarriesTheSettingsBothWays() {
        QStringList chosen = {QStringLiteral("/data/archive"), QStringLiteral("/srv/photos"),
                              QString()};
        int asked = 0;
        quarn::ShellHooks().browse = [&](QWidget*, const QString&) {
            ++asked;
            return chosen.isEmpty() ? std::string() : chosen.takeFirst().toStdString();
        };
        SettingsDlg dialog;
        RunDialog(dialog, [&] {
            // Defaults: twins by name, hashes kept, no reference folder.
            QVERIFY(!dialog.CheckBox(SettingsDlg::kIdTwinsByContent)->isChecked());
            QVERIFY(dialog.CheckBox(SettingsDlg::kIdHashCache)->isChecked());
            QVERIFY(dialog.ReferenceEdit()->text().isEmpty());
            auto* add =
                dialog.findChild<QPushButton*>(QString::number(SettingsDlg::kIdAddReference));
            QVERIFY(add != nullptr);
            QVERIFY(!add->isDefault());
            // Chosen folders are appended with ";", each once; a cancelled
            // picker changes nothing.
            QTest::mouseClick(add, Qt::LeftButton);
            QCOMPARE(dialog.ReferenceEdit()->text(), QStringLiteral("/data/archive"));
            QTest::keyClicks(dialog.ReferenceEdit(), QStringLiteral(";"));
            QTest::mouseClick(add, Qt::LeftButton);
            QCOMPARE(dialog.ReferenceEdit()->text(), QStringLiteral("/data/archive;/srv/photos"));
            chosen = {QStringLiteral("/srv/photos"), QString()};
            QTest::mouseClick(add, Qt::LeftButton);
            QTest::mouseClick(add, Qt::LeftButton);
            QCOMPARE(dialog.ReferenceEdit()->text(), QStringLiteral("/data/archive;/srv/photos"));
            QCOMPARE(asked, 4);

            QTest::mouseClick(dialog.CheckBox(SettingsDlg::kIdTwinsByContent), Qt::LeftButton);
            QTest::mouseClick(dialog.CheckBox(SettingsDlg::kIdHashCache), Qt::LeftButton);
            dialog.accept();
        });
        QVERIFY(quarn::ReadSetting(quarn::kTwinsByContent, false));
        QVERIFY(!quarn::ReadSetting(quarn::kHashCache, true));
        QCOMPARE(quarn::ReadSettingText(quarn::kReferenceFolders),
                 std::string("/data/archive;/srv/photos"));

        // Shown again, it reads them back; Cancel keeps them.
        quarn::WriteSettingText(quarn::kReferenceFolders, "/mnt/old");
        RunDialog(dialog, [&] {
            QVERIFY(dialog.CheckBox(SettingsDlg::kIdTwinsByContent)->isChecked());
            QVERIFY(!dialog.CheckBox(SettingsDlg::kIdHashCache)->isChecked());
            QCOMPARE(dialog.ReferenceEdit()->text(), QStringLiteral("/mnt/old"));
            dialog.ReferenceEdit()->clear();
            dialog.reject();
        });
        QCOMPARE(quarn::ReadSettingText(quarn::kReferenceFolders), std::string("/mnt/old"));
    }

    void cancelWritesNothing() {
        quarn::WriteSetting(quarn::kSortBySize, false);
        const std::string before = ReadText(Ini());
        SettingsDlg dialog;
        RunDialog(dialog, [&] {
            QVERIFY(!dialog.CheckBox(1002)->isChecked());
            QTest::mouseClick(dialog.CheckBox(1002), Qt::LeftButton);
            QTest::mouseClick(dialog.CheckBox(1000), Qt::LeftButton);
            QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("2")), Qt::LeftButton);
        });
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(ReadText(Ini()), before);
        QVERIFY(!std::filesystem::exists(Entry()));
    }

    void okFollowsTheShellBoxWithTheDesktopEntry() {
        // An entry from an earlier run goes when the box is cleared...
        QCOMPARE(quarn::RegisterShellVerb("/old/place/quarn"), 1);
        m_tree->MakeFile("data/applications/neighbour.desktop", 3);
        SettingsDlg dialog;
        RunDialog(dialog, [&] {
            dialog.CheckBox(1001)->setChecked(false);
            dialog.accept();
        });
        QVERIFY(!std::filesystem::exists(Entry()));
        QVERIFY(std::filesystem::exists(m_tree->Path("data/applications/neighbour.desktop")));

        // ... and comes back, pointing at this program, when it is ticked.
        RunDialog(dialog, [&] {
            QVERIFY(!dialog.CheckBox(1001)->isChecked());
            dialog.CheckBox(1001)->setChecked(true);
            dialog.accept();
        });
        const std::string exec =
            quarn::EscapeDesktopValue(quarn::QuoteExecArgument(quarn::ExecutableRealPath())) +
            " %f";
        QVERIFY(ReadText(Entry()).find("\nExec=" + exec + "\n") != std::string::npos);
        QVERIFY(ReadText(Entry()).find("\nMimeType=inode/directory;\n") != std::string::npos);
    }
};

QTEST_MAIN(SettingsDialogTest)
#include "settings_dialog_test.moc"
