// The folder tree model: always consistent with what it has announced, and
// after applying the journal a true mirror of the store, also while a worker
// changes the store.

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <random>
#include <thread>

#include "foldersize/TreeListCtrl.h"
#include "foldersize/ui/FolderTreeModel.h"

using quarn::CFolderTreeModel;
using quarn::CTreeListCtrl;
using quarn::HTREEITEM;
using quarn::TVI_NULL;
using quarn::TVI_ROOT;

namespace {

void MakeColumns(CTreeListCtrl& store) {
    store.InsertColumn(0, "Name", quarn::kAlignLeft, 260);
    store.InsertColumn(1, "Size", quarn::kAlignLeft, 100);
    store.InsertColumn(2, "%", quarn::kAlignCentre, 100);
    store.SetPercentColumn(2);
}

// Every level of the model lists the store's children in the store's order.
bool Mirrors(const CFolderTreeModel& model, const CTreeListCtrl& store, QString& why) {
    std::vector<std::pair<QModelIndex, HTREEITEM>> pending{{QModelIndex(), TVI_ROOT}};
    while (!pending.empty()) {
        const auto [index, handle] = pending.back();
        pending.pop_back();
        const int rows = model.rowCount(index);
        if (rows != store.GetChildCount(handle)) {
            why = QStringLiteral("row count %1 vs %2 under %3")
                      .arg(rows)
                      .arg(store.GetChildCount(handle))
                      .arg(QString::fromStdString(store.GetItemText(handle)));
            return false;
        }
        for (int row = 0; row < rows; ++row) {
            const QModelIndex child = model.index(row, 0, index);
            const HTREEITEM expected = store.GetChildItem(handle, row);
            if (model.HandleOf(child) != expected) {
                why = QStringLiteral("row %1 holds another item").arg(row);
                return false;
            }
            if (child.data().toString().toStdString() != store.GetItemText(expected)) {
                why = QStringLiteral("text of row %1").arg(row);
                return false;
            }
            pending.emplace_back(child, expected);
        }
    }
    return true;
}

#define VERIFY_MIRRORS(model, store)                           \
    do {                                                       \
        QString why;                                           \
        QVERIFY2(Mirrors(model, store, why), qPrintable(why)); \
    } while (false)

}  // namespace

class FolderTreeModelTest : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void followsEveryKindOfChange() {
        CTreeListCtrl store;
        MakeColumns(store);
        CFolderTreeModel model(store);
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(model.columnCount(), 3);
        QCOMPARE(model.headerData(2, Qt::Horizontal).toString(), QStringLiteral("%"));
        QCOMPARE(model.headerData(2, Qt::Horizontal, Qt::TextAlignmentRole).toInt(),
                 int(Qt::AlignCenter));

        const HTREEITEM root = store.InsertItem("/data", quarn::kImageFolder);
        const HTREEITEM a = store.InsertItem("alpha", quarn::kImageFolder, root);
        const HTREEITEM b = store.InsertItem("beta", quarn::kImageFolder, root);
        const HTREEITEM files = store.InsertItem("[2 files]", quarn::kImageFilesItem, root);
        const HTREEITEM deep = store.InsertItem("deep", quarn::kImageFolder, a);
        // Nothing shows before the journal is applied.
        QCOMPARE(model.rowCount(), 0);
        model.ApplyChanges();
        VERIFY_MIRRORS(model, store);

        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        store.SetItemText(b, 1, "1.000 MB");
        store.SetItemPercent(b, 50);
        store.SetItemPercent(a, 10);
        store.SetItemPercent(files, 40);
        model.ApplyChanges();
        QVERIFY(!changed.isEmpty());
        const QModelIndex bIndex = model.IndexOf(b);
        QCOMPARE(model.index(bIndex.row(), 1, bIndex.parent()).data().toString(),
                 QStringLiteral("1.000 MB"));
        QCOMPARE(bIndex.data(CFolderTreeModel::kPercentRole).toInt(), 50);
        QCOMPARE(model.index(bIndex.row(), 2, bIndex.parent()).data().toString(),
                 QStringLiteral("50%"));
        QCOMPARE(model.IndexOf(deep).data(CFolderTreeModel::kPercentRole).toInt(), -1);
        QVERIFY(!model.IndexOf(files).data(Qt::DecorationRole).value<QIcon>().isNull());

        // A reorder keeps persistent indexes (the view's selection) on their items.
        const QPersistentModelIndex held(model.IndexOf(a));
        store.SortChildrenByPercent(root);
        model.ApplyChanges();
        VERIFY_MIRRORS(model, store);
        QCOMPARE(model.HandleOf(held), a);
        QCOMPARE(held.row(), 2);
        store.SortTopLevel(false);
        model.ApplyChanges();
        VERIFY_MIRRORS(model, store);
        QCOMPARE(model.HandleOf(model.index(0, 0, model.IndexOf(root))), files);  // "[" < "a"

        QSignalSpy expand(&model, &CFolderTreeModel::expandRequested);
        QSignalSpy mark(&model, &CFolderTreeModel::markedColumnChanged);
        store.Expand(a);
        store.SetMarkedColumn(1);
        model.ApplyChanges();
        QCOMPARE(expand.count(), 1);
        QCOMPARE(expand.at(0).at(0).value<QModelIndex>(), model.IndexOf(a));
        QCOMPARE(mark.count(), 1);
        QCOMPARE(mark.at(0).at(0).toInt(), 1);

        // Deleting an item takes its subtree; its data and old handles read neutral.
        store.DeleteItem(a);
        model.ApplyChanges();
        VERIFY_MIRRORS(model, store);
        QVERIFY(!model.IndexOf(a).isValid());
        QVERIFY(!model.IndexOf(deep).isValid());
        QVERIFY(!held.isValid());

        // A new scan: everything goes, new items come in the same batch.
        store.DeleteAllItems();
        const HTREEITEM again = store.InsertItem("/other", quarn::kImageFolder);
        store.InsertItem("x", quarn::kImageFolder, again);
        model.ApplyChanges();
        VERIFY_MIRRORS(model, store);
        QVERIFY(!model.IndexOf(root).isValid());
    }

    void mirrorsTheStoreAlreadyFilledWhenMade() {
        CTreeListCtrl store;
        MakeColumns(store);
        const HTREEITEM root = store.InsertItem("/r", 1);
        for (int i = 0; i < 5; ++i) {
            store.InsertItem("c" + std::to_string(i), 1, root);
        }
        CFolderTreeModel model(store);
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        VERIFY_MIRRORS(model, store);
        // Changes made after attaching are applied once, not twice.
        store.InsertItem("late", 1, root);
        model.ApplyChanges();
        VERIFY_MIRRORS(model, store);
    }

    void refreshesByItselfInFewBatches() {
        CTreeListCtrl store;
        MakeColumns(store);
        CFolderTreeModel model(store);
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        std::thread worker([&store] {
            const HTREEITEM root = store.InsertItem("/big", 1);
            for (int i = 0; i < 10000; ++i) {
                store.InsertItem("f" + std::to_string(i), 1, root);
            }
        });
        worker.join();
        // No call from the test: the store's poster brings the refresh.
        QTRY_COMPARE(model.rowCount(), 1);
        QTRY_COMPARE(model.rowCount(model.index(0, 0)), 10000);
        // One announcement for the root and one per slice of its children,
        // not one per item.
        QVERIFY(inserted.count() <= 2 + int(10000 / CFolderTreeModel::kSliceChanges));
    }

    void staysConsistentWhileAWorkerChangesTheStore() {
        CTreeListCtrl store;
        MakeColumns(store);
        CFolderTreeModel model(store);
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        std::atomic<bool> done{false};
        std::thread worker([&store, &done] {
            std::mt19937 random(7);
            std::vector<HTREEITEM> items;
            for (int round = 0; round < 4; ++round) {
                store.DeleteAllItems();
                items.assign(1, store.InsertItem("/root", 1));
                for (int step = 0; step < 3000; ++step) {
                    const HTREEITEM parent = items[random() % items.size()];
                    switch (random() % 8) {
                        case 0:
                            store.SortChildrenByPercent(parent);
                            break;
                        case 1:
                            if (items.size() > 10 && parent != items.front()) {
                                store.DeleteItem(parent);
                            }
                            break;
                        case 2:
                            store.SetItemPercent(parent, int(random() % 101));
                            break;
                        case 3:
                            store.SortTopLevel(random() % 2 == 0);
                            break;
                        default:
                            items.push_back(
                                store.InsertItem("n" + std::to_string(step), 1, parent));
                            break;
                    }
                }
            }
            done = true;
        });
        // Half the time the model's own sliced refresh runs, half the time
        // everything is applied at once.
        for (int turn = 0; !done; ++turn) {
            if (turn % 2 == 0) {
                model.ApplyChanges();
            }
            QCoreApplication::processEvents();
        }
        worker.join();
        model.ApplyChanges();
        VERIFY_MIRRORS(model, store);
    }
};

QTEST_MAIN(FolderTreeModelTest)
#include "folder_tree_model_test.moc"
