// The twin list after a search by content: reference files as the Content
// column shows them, and copies replaced by hard links from the list, with
// its question, its menu entries and its message.

#include <sys/stat.h>
#include <QAction>
#include <QContextMenuEvent>
#include <QMenu>
#include <QSet>
#include <QSignalSpy>
#include <QtTest>
#include <memory>

#include "controls/DiskChanges.h"
#include "controls/EngineSignals.h"
#include "controls/ShellOperations.h"
#include "duplicates/TwinScanner.h"
#include "duplicates/ui/TwinListModel.h"
#include "duplicates/ui/TwinListView.h"
#include "foldersize/SizeText.h"
#include "settings/Settings.h"
#include "tests/support/PrivateHome.h"
#include "tests/support/ScanRequests.h"
#include "tests/support/TempTree.h"
#include "tests/support/TestFiles.h"

using quarn::CTwinListView;
using quarn::ReplaceMethod;
using quarn::ShellHooks;
using quarn::TwinListModel;
using quarn::TwinScanner;
using quarn::test::PrivateHome;
using quarn::test::TempTree;

namespace {

constexpr const char* kHardLinks = "Replace Copies with Hard Links...";
constexpr const char* kClones = "Replace Copies with Clones...";

using quarn::test::SeededBytes;

ino_t Inode(const std::string& path) {
    struct stat status {};
    ::lstat(path.c_str(), &status);
    return status.st_ino;
}

}  // namespace

class TwinListReplaceTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<PrivateHome> m_home;
    std::unique_ptr<TempTree> m_tree;
    std::unique_ptr<TwinScanner> m_list;
    std::unique_ptr<quarn::EngineSignals> m_events;
    std::unique_ptr<quarn::DiskChanges> m_changes;
    std::unique_ptr<CTwinListView> m_pane;
    QStringList m_questions;
    QList<bool> m_answers;  // in turn; yes when none is left
    QStringList m_errors;
    // The row menu's entries as "text" or "text (disabled)", and the one to pick.
    QStringList m_menu;
    QString m_pick;

    std::string Path(const std::string& relative) const { return m_tree->Path(relative); }

    // Two sets of renamed copies: three photos alike, and two more alike
    // with a third in the reference folder "archive", outside the root.
    void MakePhotos() {
        m_tree = std::make_unique<TempTree>();
        const std::string beach = SeededBytes(30000, 1);
        const std::string sunset = SeededBytes(20000, 2);
        m_tree->MakeFolder("root/camera");
        m_tree->MakeFolder("root/album/2026");
        m_tree->MakeFolder("archive");
        quarn::test::WriteText(Path("root/camera/IMG_0001.jpg"), beach);
        quarn::test::WriteText(Path("root/album/beach.jpg"), beach);
        quarn::test::WriteText(Path("root/album/2026/beach copy.jpg"), beach);
        quarn::test::WriteText(Path("root/camera/IMG_0002.jpg"), sunset);
        quarn::test::WriteText(Path("root/album/sunset.jpg"), sunset);
        quarn::test::WriteText(Path("archive/IMG_0002.jpg"), sunset);
        quarn::test::WriteText(Path("root/notes.txt"), SeededBytes(30000, 3));
        for (const char* file :
             {"root/camera/IMG_0001.jpg", "root/album/beach.jpg", "root/album/2026/beach copy.jpg",
              "root/camera/IMG_0002.jpg", "root/album/sunset.jpg", "archive/IMG_0002.jpg"}) {
            m_tree->SetModified(file, 1600000000);
        }
        m_tree->SetModified("root/camera/IMG_0001.jpg", 1500000000);  // the oldest: kept
    }

    // The pane over a finished scan of "root" with the settings in force.
    void ScanRoot() {
        m_pane.reset();
        m_list = std::make_unique<TwinScanner>();
        m_events = std::make_unique<quarn::EngineSignals>();
        m_changes = std::make_unique<quarn::DiskChanges>();
        m_list->SetObserver(
            TwinScanner::Observer{m_events->ProgressCallback(), m_events->IdleCallback()});
        m_pane = std::make_unique<CTwinListView>(*m_list, *m_events, *m_changes);
        m_pane->resize(900, 400);
        m_pane->show();
        m_list->Scan(quarn::test::FolderRequest(Path("root")));
        m_pane->Model()->ApplyPendingChanges();
    }

    void SearchByContent() {
        quarn::WriteSetting(quarn::kTwinsByContent, true);
        quarn::WriteSettingText(quarn::kReferenceFolders, Path("archive"));
        ScanRoot();
    }

    QString Text(int row, int column) const {
        const TwinListModel& model = *m_pane->Model();
        return model.data(model.index(row, column)).toString();
    }

    int RowOf(const std::string& relative) const {
        const QString path = QString::fromStdString(Path(relative));
        for (int row = 0; row < m_pane->Model()->rowCount(); ++row) {
            if (Text(row, TwinListModel::kPathColumn) == path) {
                return row;
            }
        }
        return -1;
    }

    QString Content(const std::string& relative) const {
        return Text(RowOf(relative), TwinListModel::kContentColumn);
    }

    void RightClick(int row) {
        const QPoint at = m_pane->visualRect(m_pane->Model()->index(row, 1)).center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, m_pane->viewport()->mapToGlobal(at));
        QApplication::sendEvent(m_pane->viewport(), &event);
    }

  private Q_SLOTS:
    void init() {
        m_home = std::make_unique<PrivateHome>();
        m_home->Point("QUARN_INI", "quarn.ini");
        m_home->Point("XDG_CACHE_HOME", "cache");
        quarn::WriteSetting(quarn::kHashCache, false);
        m_questions.clear();
        m_answers.clear();
        m_errors.clear();
        m_menu.clear();
        m_pick.clear();
        ShellHooks().confirm = [this](QWidget*, const QString&, const QString& text) {
            m_questions << text;
            return m_answers.isEmpty() ? true : m_answers.takeFirst();
        };
        ShellHooks().showError = [this](QWidget*, const QString&, const QString& text) {
            m_errors << text;
        };
        ShellHooks().pickMenuAction = [this](QMenu* menu, const QPoint&) -> QAction* {
            QAction* chosen = nullptr;
            for (QAction* action : menu->actions()) {
                if (action->text() == QLatin1String(kHardLinks) ||
                    action->text() == QLatin1String(kClones)) {
                    m_menu << action->text() + (action->isEnabled() ? "" : " (disabled)");
                }
                if (action->text() == m_pick) {
                    chosen = action;
                }
            }
            return chosen;
        };
    }

    void cleanup() {
        m_pane.reset();
        m_list.reset();
        ShellHooks() = quarn::ShellOperationHooks();
        m_tree.reset();
        m_home.reset();
    }

    void referenceFilesSayItAndSelectCopiesPassesThemBy() {
        MakePhotos();
        SearchByContent();
        QCOMPARE(m_pane->Model()->rowCount(), 6);
        QCOMPARE(Content("archive/IMG_0002.jpg"), QStringLiteral("identical, reference"));
        for (const char* file :
             {"root/camera/IMG_0001.jpg", "root/album/beach.jpg", "root/album/2026/beach copy.jpg",
              "root/camera/IMG_0002.jpg", "root/album/sunset.jpg"}) {
            QCOMPARE(Content(file), QStringLiteral("identical"));
        }
        // Renamed copies are twins: the File column shows each file's own name.
        QCOMPARE(Text(RowOf("root/album/2026/beach copy.jpg"), TwinListModel::kFileColumn),
                 QStringLiteral("beach copy.jpg"));
        // The column is wide enough for the longest verdict.
        const QFontMetrics metrics(m_pane->font());
        QVERIFY(m_pane->columnWidth(TwinListModel::kContentColumn) >
                metrics.horizontalAdvance(QStringLiteral("identical, reference")));

        // Every rule keeps the reference file of its set.
        for (TwinScanner::KeepRule rule :
             {TwinScanner::KeepRule::Oldest, TwinScanner::KeepRule::Newest,
              TwinScanner::KeepRule::FirstPath}) {
            QCOMPARE(m_pane->SelectCopies(rule), 4);
            QSet<int> selected;
            for (const QModelIndex& index : m_pane->selectionModel()->selectedRows()) {
                selected << index.row();
            }
            QVERIFY(!selected.contains(RowOf("archive/IMG_0002.jpg")));
            QVERIFY(selected.contains(RowOf("root/camera/IMG_0002.jpg")));
            QVERIFY(selected.contains(RowOf("root/album/sunset.jpg")));
        }
    }

    void acceptedReplacementMakesTheCopiesHardLinksOfTheKeptFiles() {
        MakePhotos();
        SearchByContent();
        QCOMPARE(m_pane->SelectCopies(TwinScanner::KeepRule::Oldest), 4);
        QVERIFY(m_pane->MayReplaceSelectedCopies());

        QSignalSpy replaced(m_pane.get(), &CTwinListView::copiesReplaced);
        QSignalSpy repainted(m_pane->Model(), &TwinListModel::dataChanged);
        QStringList announced;
        connect(m_changes.get(), &quarn::DiskChanges::folderChanged, this,
                [&announced](const std::string& folder) {
                    announced << QString::fromStdString(folder);
                });
        QVERIFY(m_pane->ReplaceSelectedCopies(ReplaceMethod::HardLink));
        QCOMPARE(m_questions.size(), 1);
        QVERIFY2(m_questions[0].startsWith(
                     QStringLiteral("Replace 4 copies with hard links? This frees at most ") +
                     QString::fromStdString(quarn::FormatSize(2 * 30000 + 2 * 20000)) + "."),
                 qPrintable(m_questions[0]));
        QVERIFY(m_questions[0].contains(QStringLiteral(
            "Hard links share one owner, permissions and modification time: those of the file "
            "kept.")));
        QVERIFY(
            m_questions[0].contains(QStringLiteral("Files in reference folders are never "
                                                   "replaced.")));
        QVERIFY(replaced.wait());

        // On disk: one inode per set, the reference file's for the second.
        const ino_t beach = Inode(Path("root/camera/IMG_0001.jpg"));
        QCOMPARE(Inode(Path("root/album/beach.jpg")), beach);
        QCOMPARE(Inode(Path("root/album/2026/beach copy.jpg")), beach);
        const ino_t sunset = Inode(Path("archive/IMG_0002.jpg"));
        QCOMPARE(Inode(Path("root/camera/IMG_0002.jpg")), sunset);
        QCOMPARE(Inode(Path("root/album/sunset.jpg")), sunset);
        QCOMPARE(quarn::test::ReadText(Path("root/album/beach.jpg")), SeededBytes(30000, 1));

        // The rows stay and say so; the list was repainted to show it.
        QCOMPARE(m_pane->Model()->rowCount(), 6);
        for (const char* copy : {"root/album/beach.jpg", "root/album/2026/beach copy.jpg",
                                 "root/camera/IMG_0002.jpg", "root/album/sunset.jpg"}) {
            QCOMPARE(Content(copy), QStringLiteral("hard link"));
        }
        QCOMPARE(Content("root/camera/IMG_0001.jpg"), QStringLiteral("identical"));
        QCOMPARE(Content("archive/IMG_0002.jpg"), QStringLiteral("identical, reference"));
        QVERIFY(!repainted.isEmpty());
        QVERIFY(QString::fromStdString(m_list->GetStatus())
                    .startsWith(QStringLiteral("Replaced 4 copies with hard links")));
        QVERIFY(m_errors.isEmpty());

        // Each folder of a replaced copy is announced once.
        announced.sort();
        QCOMPARE(announced, (QStringList{QString::fromStdString(Path("root/album")),
                                         QString::fromStdString(Path("root/album/2026")),
                                         QString::fromStdString(Path("root/camera"))}));
        // Nothing is left to replace.
        m_pane->selectAllRows();
        QVERIFY(!m_pane->MayReplaceSelectedCopies());
    }

    void aDeclinedQuestionChangesNothing() {
        MakePhotos();
        SearchByContent();
        m_pane->SelectCopies(TwinScanner::KeepRule::Oldest);
        const std::string status = m_list->GetStatus();
        int announced = 0;
        connect(m_changes.get(), &quarn::DiskChanges::folderChanged, this,
                [&announced] { ++announced; });
        m_answers = {false};
        QVERIFY(!m_pane->ReplaceSelectedCopies(ReplaceMethod::Clone));
        QCOMPARE(m_questions.size(), 1);
        QVERIFY(m_questions[0].startsWith(QStringLiteral("Replace 4 copies with clones?")));
        QVERIFY(m_questions[0].contains(QStringLiteral(
            "Each copy keeps its name, owner and permissions; only file systems that can clone "
            "(such as btrfs and XFS) take part.")));
        QVERIFY(!m_list->IsWorking());
        QVERIFY(m_list->LastReplacement().results.empty());
        QCOMPARE(m_list->GetStatus(), status);
        QVERIFY(Inode(Path("root/album/beach.jpg")) != Inode(Path("root/camera/IMG_0001.jpg")));
        QCOMPARE(Content("root/album/beach.jpg"), QStringLiteral("identical"));
        QCOMPARE(announced, 0);
    }

    void theRowMenuOffersReplacingOnlyForCopiesWithVerdicts() {
        // Twins by name, not verified: no verdicts, nothing to offer.
        MakePhotos();
        m_tree->MakeFolder("root/other");
        quarn::test::WriteText(Path("root/other/notes.txt"), SeededBytes(30000, 3));
        m_tree->SetModified("root/notes.txt", 1600000000);
        m_tree->SetModified("root/other/notes.txt", 1600000000);
        ScanRoot();
        QCOMPARE(m_pane->Model()->rowCount(), 2);
        m_pane->selectAllRows();
        QVERIFY(!m_pane->MayReplaceSelectedCopies());
        RightClick(0);
        QCOMPARE(m_menu, (QStringList{QString(kHardLinks) + " (disabled)",
                                      QString(kClones) + " (disabled)"}));

        // By content: the kept file alone offers nothing, a copy does, and
        // the entry acts on the clicked row when it is not selected.
        SearchByContent();
        m_pane->clearSelection();
        m_menu.clear();
        RightClick(RowOf("archive/IMG_0002.jpg"));
        QCOMPARE(m_menu, (QStringList{QString(kHardLinks) + " (disabled)",
                                      QString(kClones) + " (disabled)"}));
        m_menu.clear();
        m_pick = QLatin1String(kHardLinks);
        m_answers = {false};
        RightClick(RowOf("root/album/sunset.jpg"));
        QCOMPARE(m_menu, (QStringList{QString(kHardLinks), QString(kClones)}));
        QCOMPARE(m_questions.size(), 1);
        QVERIFY(m_questions[0].startsWith(QStringLiteral("Replace 1 copy with a hard link?")));
        QVERIFY(!m_list->IsWorking());
    }

    void copiesThatChangedAreSkippedAndToldInOneMessage() {
        m_tree = std::make_unique<TempTree>();
        m_tree->MakeFolder("root");
        const std::string bytes = SeededBytes(4000, 4);
        auto name = [](int i) { return "root/copy" + std::to_string(100 + i) + ".bin"; };
        for (int i = 0; i < 24; ++i) {
            quarn::test::WriteText(Path(name(i)), bytes);
        }
        SearchByContent();
        QCOMPARE(m_pane->Model()->rowCount(), 24);
        // After the search, 22 copies get other bytes of the same size.
        for (int i = 2; i < 24; ++i) {
            quarn::test::WriteText(Path(name(i)), SeededBytes(4000, 5));
        }
        m_pane->SelectCopies(TwinScanner::KeepRule::FirstPath);
        QSignalSpy replaced(m_pane.get(), &CTwinListView::copiesReplaced);
        QVERIFY(m_pane->ReplaceSelectedCopies(ReplaceMethod::HardLink));
        QVERIFY(replaced.wait());
        QCOMPARE(Inode(Path(name(1))), Inode(Path(name(0))));
        QCOMPARE(quarn::test::ReadText(Path(name(5))), SeededBytes(4000, 5));

        QCOMPARE(m_errors.size(), 1);
        const QStringList lines = m_errors[0].split(QLatin1Char('\n'));
        QCOMPARE(lines.first(), QStringLiteral("22 of 23 copies were not replaced:"));
        QCOMPARE(lines.size(), 1 + 20 + 1);
        QVERIFY2(lines[1].startsWith(QString::fromStdString(Path(name(2))) + ": "),
                 qPrintable(lines[1]));
        QVERIFY(lines[1].size() > int(Path(name(2)).size()) + 2);  // a reason follows
        QCOMPARE(lines.last(), QStringLiteral("and 2 more"));
    }
};

QTEST_MAIN(TwinListReplaceTest)
#include "TwinListReplace_test.moc"
