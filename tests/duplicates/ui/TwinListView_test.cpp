// The Dupmatch pane as the user meets it: the rows of a scan, the columns,
// selection, and the file's context menu with Open Folder and Move to Trash.

#include <unistd.h>
#include <QAction>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSet>
#include <QSignalSpy>
#include <QtTest>
#include <atomic>
#include <filesystem>
#include <memory>
#include <thread>

#include "controls/DiskChanges.h"
#include "controls/EngineSignals.h"
#include "controls/ShellOperations.h"
#include "duplicates/TwinScanner.h"
#include "duplicates/ui/TwinListModel.h"
#include "duplicates/ui/TwinListView.h"
#include "filter/ui/CFileFilterDlg.h"
#include "tests/support/PrivateHome.h"
#include "tests/support/ScanRequests.h"
#include "tests/support/TempTree.h"
#include "tests/support/TestFiles.h"

using quarn::CTwinListView;
using quarn::DiskChanges;
using quarn::EngineSignals;
using quarn::ShellHooks;
using quarn::TwinListModel;
using quarn::TwinScanner;
using quarn::test::PrivateHome;
using quarn::test::TempTree;

namespace {

constexpr int64_t kScanTime = 1700000000;

QString Text(const TwinListModel& model, int row, int column) {
    return model.data(model.index(row, column)).toString();
}

QSet<QString> Paths(const TwinListModel& model) {
    QSet<QString> paths;
    for (int row = 0; row < model.rowCount(); ++row) {
        paths << Text(model, row, TwinListModel::kPathColumn);
    }
    return paths;
}

// What the context-menu hook saw and what it should pick.
struct MenuProbe {
    int shown = 0;
    QStringList items;  // "-" for a separator
    QString pick;       // the item to choose; empty = dismiss
};

}  // namespace

class TwinListViewTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<PrivateHome> m_home;
    std::unique_ptr<TempTree> m_tree;
    // The engine, its news and the announcements the pane follows; the
    // pane goes before them.
    std::unique_ptr<TwinScanner> m_list;
    std::unique_ptr<EngineSignals> m_events;
    std::unique_ptr<DiskChanges> m_changes;
    std::unique_ptr<CTwinListView> m_pane;
    // While set, a verification waits at its first snapshot.
    std::atomic<bool> m_holdVerification{false};
    MenuProbe m_probe;
    QStringList m_opened;
    QStringList m_errors;
    QStringList m_questions;
    QList<bool> m_answers;  // answers to the questions in turn; yes when none is left

    void MakePane(int width, int height) {
        m_pane.reset();
        m_list = std::make_unique<TwinScanner>();
        m_events = std::make_unique<EngineSignals>();
        m_changes = std::make_unique<DiskChanges>();
        const auto progressed = m_events->ProgressCallback();
        m_list->SetObserver(TwinScanner::Observer{[this, progressed] {
                                                      while (m_holdVerification.load() &&
                                                             m_list->Progress().job ==
                                                                 quarn::JobKind::Verify) {
                                                          std::this_thread::yield();
                                                      }
                                                      progressed();
                                                  },
                                                  m_events->IdleCallback()});
        m_pane = std::make_unique<CTwinListView>(*m_list, *m_events, *m_changes);
        m_pane->resize(width, height);
        m_pane->show();
    }

    void Scan() { m_list->Scan(quarn::test::FolderRequest(m_tree->Root())); }

    // The pane after a scan of one group of three twins and a single file.
    void ScanFreshTree() {
        m_pane.reset();
        m_list.reset();
        m_tree = std::make_unique<TempTree>();
        for (const char* file : {"a/dup.txt", "b/dup.txt", "c/sub/dup.txt"}) {
            m_tree->MakeFile(file, 2048);
            m_tree->SetModified(file, kScanTime);
        }
        m_tree->MakeFile("single.txt", 10);
        MakePane(700, 400);
        QVERIFY(QTest::qWaitForWindowExposed(m_pane.get()));
        Scan();
    }

    QPoint RowPoint(int row) const {
        return m_pane->visualRect(m_pane->Model()->index(row, 1)).center();
    }

    void RightClick(const QPoint& viewportPos) {
        QContextMenuEvent event(QContextMenuEvent::Mouse, viewportPos,
                                m_pane->viewport()->mapToGlobal(viewportPos));
        QApplication::sendEvent(m_pane->viewport(), &event);
    }

  private Q_SLOTS:
    void initTestCase() {
        m_home = std::make_unique<PrivateHome>();
        m_home->Point("QUARN_INI", "quarn.ini");
        m_home->MakeFolder("data");
        m_home->Point("XDG_DATA_HOME", "data");
    }

    void init() {
        m_probe = MenuProbe();
        m_opened.clear();
        m_errors.clear();
        ShellHooks().pickMenuAction = [this](QMenu* menu, const QPoint&) -> QAction* {
            ++m_probe.shown;
            QAction* chosen = nullptr;
            for (QAction* action : menu->actions()) {
                m_probe.items << (action->isSeparator() ? QStringLiteral("-") : action->text());
                if (!m_probe.pick.isEmpty() && action->text() == m_probe.pick) {
                    chosen = action;
                }
            }
            return chosen;
        };
        ShellHooks().openUrl = [this](const QUrl& url) {
            m_opened << url.toLocalFile();
            return true;
        };
        m_questions.clear();
        m_answers.clear();
        ShellHooks().confirm = [this](QWidget*, const QString&, const QString& text) {
            m_questions << text;
            return m_answers.isEmpty() ? true : m_answers.takeFirst();
        };
        ShellHooks().showError = [this](QWidget*, const QString&, const QString& text) {
            m_errors << text;
        };
    }

    void cleanup() {
        m_pane.reset();
        m_list.reset();
        ShellHooks() = quarn::ShellOperationHooks();
    }

    void cleanupTestCase() {
        m_tree.reset();
        m_home.reset();
    }

    void scanShowsEveryTwinAsARow() {
        ScanFreshTree();
        TwinListModel& model = *m_pane->Model();
        QTRY_COMPARE(model.rowCount(), 3);

        const QString root = QString::fromStdString(m_tree->Root());
        QCOMPARE(Paths(model), (QSet<QString>{root + "/a/dup.txt", root + "/b/dup.txt",
                                              root + "/c/sub/dup.txt"}));
        const QIcon first = model.data(model.index(0, 0), Qt::DecorationRole).value<QIcon>();
        QVERIFY(!first.isNull());
        for (int row = 0; row < 3; ++row) {
            QCOMPARE(Text(model, row, TwinListModel::kFileColumn), QStringLiteral("dup.txt"));
            QCOMPARE(Text(model, row, TwinListModel::kSizeColumn), QStringLiteral("2048 Bytes"));
            QVERIFY(Text(model, row, TwinListModel::kModifiedColumn).endsWith(' '));
            const QIcon icon = model.data(model.index(row, 0), Qt::DecorationRole).value<QIcon>();
            QCOMPARE(icon.cacheKey(), first.cacheKey());
        }

        // Headings, widths and alignments of the report.
        QHeaderView* heading = m_pane->header();
        const QStringList titles = {"File", "Path", "Size", "Modified"};
        const int widths[] = {100, 340, 75, 110};  // the report's own
        const QFontMetrics metrics(m_pane->font());
        for (int column = 0; column < 4; ++column) {
            QCOMPARE(model.headerData(column, Qt::Horizontal).toString(), titles[column]);
            // At least the report's widths; more with a font wider than its,
            // and never so narrow that a name, a size or a date is cut.
            QVERIFY(heading->sectionSize(column) >= widths[column]);
            if (column != TwinListModel::kPathColumn) {
                QVERIFY(heading->sectionSize(column) >
                        metrics.horizontalAdvance(Text(model, 0, column)));
            }
            const auto alignment =
                Qt::Alignment(model.data(model.index(0, column), Qt::TextAlignmentRole).toInt());
            QCOMPARE(bool(alignment & Qt::AlignRight), column >= 2);
        }
        QVERIFY(!m_pane->rootIsDecorated());

        // A click on a heading sorts nothing; a dragged divider resizes.
        const QStringList before = {Text(model, 0, 1), Text(model, 1, 1), Text(model, 2, 1)};
        QTest::mouseClick(heading->viewport(), Qt::LeftButton, {},
                          QPoint(heading->sectionViewportPosition(1) + 20, heading->height() / 2));
        QCOMPARE((QStringList{Text(model, 0, 1), Text(model, 1, 1), Text(model, 2, 1)}), before);
        heading->resizeSection(1, 500);
        QCOMPARE(heading->sectionSize(1), 500);
    }

    void ctrlASelectsEveryRow() {
        ScanFreshTree();
        QTRY_COMPARE(m_pane->Model()->rowCount(), 3);
        m_pane->setFocus();
        QTest::keyClick(m_pane.get(), Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(m_pane->selectionModel()->selectedRows().size(), 3);
        m_pane->clearSelection();
        m_pane->selectAllRows();
        QCOMPARE(m_pane->selectionModel()->selectedRows().size(), 3);
    }

    void contextMenuOnlyOnARow() {
        ScanFreshTree();
        QTRY_COMPARE(m_pane->Model()->rowCount(), 3);

        // Below the last row: nothing at all.
        const QRect last = m_pane->visualRect(m_pane->Model()->index(2, 0));
        RightClick(QPoint(20, last.bottom() + 30));
        QCOMPARE(m_probe.shown, 0);

        // On a row, dismissed: Open Folder comes first, then a separator.
        RightClick(RowPoint(1));
        QCOMPARE(m_probe.shown, 1);
        QVERIFY(m_probe.items.size() > 2);
        QCOMPARE(m_probe.items[0], QStringLiteral("Open Folder"));
        QCOMPARE(m_probe.items[1], QStringLiteral("-"));
        QVERIFY(m_opened.isEmpty());

        // Open Folder opens the folder of the row under the mouse, not of
        // the selected row.
        m_pane->selectionModel()->select(
            m_pane->Model()->index(0, 0),
            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        m_probe.pick = QStringLiteral("Open Folder");
        RightClick(RowPoint(2));
        const QString path = Text(*m_pane->Model(), 2, TwinListModel::kPathColumn);
        QCOMPARE(m_opened, QStringList{QFileInfo(path).absolutePath()});
    }

    void moveToTrashRechecksEachFile() {
        ScanFreshTree();
        TwinListModel& model = *m_pane->Model();
        QTRY_COMPARE(model.rowCount(), 3);
        const QSet<QString> before = Paths(model);
        const QString victim = Text(model, 1, TwinListModel::kPathColumn);

        m_probe.pick = QStringLiteral("Move to Trash");
        RightClick(RowPoint(1));
        QVERIFY(m_errors.isEmpty());
        QCOMPARE(m_questions.size(), 1);
        QCOMPARE(m_questions[0],
                 QStringLiteral("Do you really want to move \"dup.txt\" to the trash?"));
        QVERIFY(!QFileInfo::exists(victim));
        QCOMPARE(model.rowCount(), 2);
        QCOMPARE(Paths(model), QSet<QString>(before).subtract({victim}));
        const QString trashed = QString::fromStdString(m_home->Path("data/Trash/files/dup.txt"));
        QVERIFY(QFileInfo::exists(trashed));

        // A file rewritten since the scan is not what its row shows: it stays,
        // and so does its row.
        const QString changed = Text(model, 0, TwinListModel::kPathColumn);
        const std::string relative =
            std::filesystem::relative(changed.toStdString(), m_tree->Root()).string();
        m_tree->MakeFile(relative, 4096);
        RightClick(RowPoint(0));
        QCOMPARE(m_errors.size(), 1);
        QVERIFY(QFileInfo::exists(changed));
        QCOMPARE(model.rowCount(), 2);
        QVERIFY(Paths(model).contains(changed));

        // While a worker holds the list, Move to Trash is not offered.
        const QString last = Text(model, 1, TwinListModel::kPathColumn);
        QVERIFY(last != changed);
        m_holdVerification = true;
        QVERIFY(m_list->StartVerify());
        RightClick(RowPoint(1));
        m_holdVerification = false;
        m_list->WaitForWorkers();
        // The verification found the changed twin; the scan's rows come back.
        m_list->RebuildList();
        QTRY_COMPARE(model.rowCount(), 2);
        QVERIFY(QFileInfo::exists(last));
        QCOMPARE(m_errors.size(), 1);

        // Its only twin has changed: the last file with these bytes stays.
        RightClick(RowPoint(1));
        QVERIFY(QFileInfo::exists(last));
        QCOMPARE(m_errors.size(), 2);
        QVERIFY(m_errors[1].contains(QStringLiteral("no other file with the same content")));
        QCOMPARE(model.rowCount(), 2);
    }

    void selectedCopiesGoToTheTrashAfterOneQuestion() {
        m_pane.reset();
        m_list.reset();
        m_tree = std::make_unique<TempTree>();
        for (const auto& [file, text] :
             std::vector<std::pair<std::string, std::string>>{{"1/pair.txt", "first"},
                                                              {"2/pair.txt", "other"},
                                                              {"3/pair.txt", "first"},
                                                              {"4/pair.txt", "other"},
                                                              {"1/b.txt", "bb"},
                                                              {"2/b.txt", "bb"}}) {
            quarn::test::WriteText(m_tree->Path(file), text);
            m_tree->SetModified(file, kScanTime);
        }
        MakePane(900, 300);
        Scan();
        QVERIFY(m_list->StartVerify());
        m_list->WaitForWorkers();
        TwinListModel& model = *m_pane->Model();
        QTRY_COMPARE(model.rowCount(), 6);

        // The Content column, and a line above the first row of the second
        // group only.
        QCOMPARE(model.headerData(TwinListModel::kContentColumn, Qt::Horizontal).toString(),
                 QStringLiteral("Content"));
        for (int row = 0; row < 6; ++row) {
            QCOMPARE(Text(model, row, TwinListModel::kContentColumn), QStringLiteral("identical"));
            QCOMPARE(model.data(model.index(row, 0), TwinListModel::kGroupStartRole).toBool(),
                     row == 2);
        }

        QSignalSpy said(m_pane.get(), &CTwinListView::statusMessage);
        QCOMPARE(m_pane->SelectCopies(TwinScanner::KeepRule::FirstPath), 3);
        QCOMPARE(said.size(), 1);
        QCOMPARE(m_pane->selectionModel()->selectedRows().size(), 3);
        m_pane->setFocus();
        QTest::keyClick(m_pane.get(), Qt::Key_Delete);
        QCOMPARE(m_questions,
                 QStringList{"Do you really want to move these 3 files (0.012 KB) to the trash?"});
        QVERIFY(m_errors.isEmpty());
        QVERIFY(QFileInfo::exists(QString::fromStdString(m_tree->Path("1/pair.txt"))));
        QVERIFY(QFileInfo::exists(QString::fromStdString(m_tree->Path("2/pair.txt"))));
        QVERIFY(!QFileInfo::exists(QString::fromStdString(m_tree->Path("3/pair.txt"))));
        QVERIFY(!QFileInfo::exists(QString::fromStdString(m_tree->Path("4/pair.txt"))));
        // b.txt has no twin left; the two pair.txt left differ from each
        // other: unique, still twins by name.
        QVERIFY(QFileInfo::exists(QString::fromStdString(m_tree->Path("1/b.txt"))));
        QCOMPARE(model.rowCount(), 2);
        QCOMPARE(Text(model, 0, TwinListModel::kContentColumn), QStringLiteral("unique"));
        QCOMPARE(m_list->GetStatus(),
                 std::string("Verified: 0 identical copies [0.000 KB] beyond the first of each "
                             "set, 2 unique, 0 hard links, 0 changed, 0 unread"));
    }

    void aHardLinkIsTrashedOnlyAfterASecondQuestion() {
        m_pane.reset();
        m_list.reset();
        m_tree = std::make_unique<TempTree>();
        quarn::test::WriteText(m_tree->Path("a/h.txt"), "abc");
        m_tree->MakeFolder("b");
        QCOMPARE(::link(m_tree->Path("a/h.txt").c_str(), m_tree->Path("b/h.txt").c_str()), 0);
        quarn::test::WriteText(m_tree->Path("c/h.txt"), "abc");
        m_tree->SetModified("a/h.txt", kScanTime);
        m_tree->SetModified("c/h.txt", kScanTime);
        MakePane(900, 300);
        Scan();
        TwinListModel& model = *m_pane->Model();
        QTRY_COMPARE(model.rowCount(), 3);
        int link = -1;
        for (int row = 0; row < 3; ++row) {
            if (m_list->Index().FileIsExtraLink(m_list->Rows().GetRowSource(row)->file)) {
                link = row;
            }
        }
        QVERIFY(link >= 0);
        const QString path = Text(model, link, TwinListModel::kPathColumn);

        m_probe.pick = QStringLiteral("Move to Trash");
        m_answers = {true, false};
        RightClick(RowPoint(link));
        QCOMPARE(m_questions.size(), 2);
        QVERIFY(m_questions[1].contains(QStringLiteral("frees no space")));
        QVERIFY(QFileInfo::exists(path));

        m_questions.clear();
        m_answers = {true, true};
        RightClick(RowPoint(link));
        QCOMPARE(m_questions.size(), 2);
        QVERIFY(!QFileInfo::exists(path));
        QVERIFY(m_errors.isEmpty());
        QCOMPARE(model.rowCount(), 2);
    }

    void thePathColumnTakesTheSpareWidth() {
        ScanFreshTree();
        QHeaderView* heading = m_pane->header();
        auto others = [&] {
            int sum = 0;
            for (int column = 0; column < heading->count(); ++column) {
                sum += column == TwinListModel::kPathColumn ? 0 : heading->sectionSize(column);
            }
            return sum;
        };
        m_pane->resize(1500, 400);
        QTRY_COMPARE(heading->sectionSize(TwinListModel::kPathColumn),
                     m_pane->viewport()->width() - others());
        // Narrower than the columns: the Path column keeps its starting width.
        m_pane->resize(400, 400);
        QTRY_COMPARE(heading->sectionSize(TwinListModel::kPathColumn),
                     m_pane->InitialColumnWidth(TwinListModel::kPathColumn));
        // Once the user sized it, it stays as sized.
        heading->resizeSection(TwinListModel::kPathColumn, 200);
        m_pane->resize(1500, 400);
        // The widget takes its new width in the resize event that fits the column.
        QTRY_COMPARE_WITH_TIMEOUT(m_pane->width(), 1500, 30000);
        QCOMPARE(heading->sectionSize(TwinListModel::kPathColumn), 200);
    }

    void fileFilterOpensOnThisList() {
        ScanFreshTree();
        QTRY_COMPARE(m_pane->Model()->rowCount(), 3);
        quarn::CFileFilterDlg* seen = nullptr;
        QTimer::singleShot(0, this, [&] {
            seen = qobject_cast<quarn::CFileFilterDlg*>(QApplication::activeModalWidget());
            QVERIFY(seen != nullptr);
            seen->findChild<QLineEdit*>(QStringLiteral("1001"))->setText(QStringLiteral("sing"));
            seen->findChild<QCheckBox*>(QStringLiteral("1000"))->setChecked(false);
            seen->findChild<QPushButton*>(QStringLiteral("1"))->click();
        });
        m_pane->OnFileFilter();
        QVERIFY(seen != nullptr);
        QCOMPARE(seen->List(), m_list.get());
        m_list->WaitForWorkers();
        QTRY_COMPARE(m_pane->Model()->rowCount(), 1);
        QCOMPARE(Text(*m_pane->Model(), 0, TwinListModel::kFileColumn),
                 QStringLiteral("single.txt"));
        QCOMPARE(m_list->GetStatus(), std::string("FileFind - Objects found 1 - ready"));
    }
};

QTEST_MAIN(TwinListViewTest)
#include "TwinListView_test.moc"
