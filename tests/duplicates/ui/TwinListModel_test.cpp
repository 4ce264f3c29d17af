// The model over the twin list's rows: its signals stay consistent while
// workers fill, filter and shrink the list, and changes arrive coalesced.

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QtTest>
#include <memory>

#include "duplicates/TwinScanner.h"
#include "duplicates/TwinTrash.h"
#include "duplicates/ui/MimeIconProvider.h"
#include "duplicates/ui/TwinListModel.h"
#include "filter/FileSearch.h"
#include "tests/support/PrivateHome.h"
#include "tests/support/ScanRequests.h"
#include "tests/support/TempTree.h"
#include "tests/support/TwinRowTexts.h"

using quarn::FilterCriteria;
using quarn::MimeIconProvider;
using quarn::TwinListModel;
using quarn::TwinScanner;
using quarn::TwinTrash;
using quarn::test::PrivateHome;
using quarn::test::TempTree;

namespace {

// Moves the file of `row` to the trash, with the re-checks.
bool Trash(TwinScanner& list, int row) {
    std::optional<quarn::RowSource> source = list.Rows().GetRowSource(row);
    return source &&
           TwinTrash::TrashFiles(list, {*source})[0].verdict == TwinTrash::Verdict::Trashed;
}

// Every row of the model reads what the engine holds for it.
bool ModelMatchesStore(const TwinListModel& model, const TwinScanner& list) {
    if (model.rowCount() != list.Rows().GetItemCount()) {
        return false;
    }
    for (int row = 0; row < model.rowCount(); ++row) {
        const QString path = model.data(model.index(row, TwinListModel::kPathColumn)).toString();
        if (path.toStdString() != quarn::test::TwinRowText(list, row, quarn::test::kPathText)) {
            return false;
        }
    }
    return true;
}

}  // namespace

class TwinListModelTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<PrivateHome> m_home;
    std::unique_ptr<TempTree> m_tree;
    int m_twinRows = 0;

  private Q_SLOTS:
    void initTestCase() {
        m_home = std::make_unique<PrivateHome>();
        m_home->Point("QUARN_INI", "quarn.ini");
        m_home->MakeFolder("data");
        m_home->Point("XDG_DATA_HOME", "data");  // the trash
        // 40 folders holding the same 15 names: 15 groups of 40 twins, plus
        // one file of its own per folder.
        m_tree = std::make_unique<TempTree>();
        for (int folder = 0; folder < 40; ++folder) {
            const std::string prefix = "f" + std::to_string(folder) + "/";
            for (int name = 0; name < 15; ++name) {
                const std::string file = prefix + "name" + std::to_string(name) + ".txt";
                m_tree->MakeFile(file, 100 + name);
                m_tree->SetModified(file, 1700000000);
            }
            m_tree->MakeFile(prefix + "own" + std::to_string(folder) + ".bin", 7);
        }
        m_twinRows = 40 * 15;
    }

    void cleanupTestCase() {
        m_tree.reset();
        m_home.reset();
    }

    void columnsHaveTheirTitlesAndAlignments() {
        TwinScanner list;
        TwinListModel model(list, nullptr);
        QCOMPARE(model.columnCount(), 5);
        const char* titles[] = {"File", "Path", "Size", "Modified", "Content"};
        for (int c = 0; c < 5; ++c) {
            QCOMPARE(model.headerData(c, Qt::Horizontal).toString(),
                     QString::fromLatin1(titles[c]));
            const bool right =
                c == TwinListModel::kSizeColumn || c == TwinListModel::kModifiedColumn;
            QCOMPARE(TwinListModel::ColumnAlignment(c) & Qt::AlignHorizontal_Mask,
                     right ? Qt::AlignRight : Qt::AlignLeft);
        }
        QCOMPARE(TwinListModel::ColumnTitle(5), QString());
        QCOMPARE(model.rowCount(), 0);
    }

    void staysConsistentWhileWorkersChangeTheRows() {
        TwinScanner list;
        MimeIconProvider icons;
        TwinListModel model(list, &icons);
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);

        // A scan on its own thread, replayed while it runs.
        list.StartScan(quarn::test::FolderRequest(m_tree->Root()));
        QTRY_VERIFY_WITH_TIMEOUT(!list.IsBusy(), 60000);
        list.WaitForWorkers();
        QTRY_VERIFY(ModelMatchesStore(model, list));
        QCOMPARE(model.rowCount(), m_twinRows);

        // A filter search rebuilds the rows.
        FilterCriteria criteria;
        criteria.m_strSearch = "NAME1";  // name1, name10 .. name14
        QVERIFY(quarn::StartFileSearch(list, criteria));
        list.WaitForWorkers();
        QTRY_VERIFY(ModelMatchesStore(model, list));
        QCOMPARE(model.rowCount(), 6 * 40);

        // Rows trashed one by one, at the start, the middle and the end.
        for (int row : {0, 100, model.rowCount() - 3}) {
            QVERIFY(Trash(list, row));
        }
        QTRY_VERIFY(ModelMatchesStore(model, list));
        QCOMPARE(model.rowCount(), 6 * 40 - 3);

        // The scan's rebuild shows every group again, minus the removed files.
        list.RebuildList();
        QTRY_VERIFY(ModelMatchesStore(model, list));
        QCOMPARE(model.rowCount(), m_twinRows - 3);

        list.Rows().DeleteAllItems();
        QTRY_COMPARE(model.rowCount(), 0);
    }

    void changesArriveCoalesced() {
        TwinScanner list;
        TwinListModel model(list, nullptr);
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
        QSignalSpy reset(&model, &QAbstractItemModel::modelReset);

        // A whole scan on this thread: hundreds of appends, then the rebuild.
        list.Scan(quarn::test::FolderRequest(m_tree->Root()));
        model.ApplyPendingChanges();
        QCOMPARE(model.ReplayCount(), 1);
        QCOMPARE(reset.size() + inserted.size(), 1);
        QVERIFY(ModelMatchesStore(model, list));

        // The announcement queued meanwhile schedules a replay that finds
        // nothing more to replay.
        QCoreApplication::sendPostedEvents(&model, QEvent::MetaCall);
        QVERIFY(model.ReplayPending());
        QTRY_VERIFY_WITH_TIMEOUT(!model.ReplayPending(), 30000);
        QCOMPARE(model.ReplayCount(), 1);

        // Two removals become two removal signals, rows keep their texts.
        const int before = model.rowCount();
        QVERIFY(Trash(list, 5));
        QVERIFY(Trash(list, 0));
        inserted.clear();
        reset.clear();
        QTRY_COMPARE(model.rowCount(), before - 2);
        QCOMPARE(removed.size(), 2);
        QCOMPARE(removed[0].at(1).toInt(), 5);
        QCOMPARE(removed[1].at(1).toInt(), 0);
        QCOMPARE(reset.size(), 0);
        QVERIFY(ModelMatchesStore(model, list));

        // Rows deleted and rebuilt twice before the view looks: one reset
        // with the final count.
        list.RebuildList();
        list.RebuildList();
        model.ApplyPendingChanges();
        QCOMPARE(reset.size(), 1);
        QCOMPARE(inserted.size(), 0);
        QVERIFY(ModelMatchesStore(model, list));
    }
};

QTEST_MAIN(TwinListModelTest)
#include "TwinListModel_test.moc"
