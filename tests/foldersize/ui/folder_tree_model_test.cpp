// The folder tree model: always consistent with what it has announced, and
// after applying the journal a true mirror of the store, also while a worker
// changes the store.

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <random>
#include <thread>

#include "foldersize/FolderScanner.h"
#include "foldersize/FolderTreeStore.h"
#include "foldersize/ui/FolderTreeModel.h"
#include "settings/Settings.h"
#include "tests/support/FolderTreeText.h"
#include "tests/support/ScanRequests.h"
#include "tests/support/TempTree.h"

using quarn::FolderTreeModel;
using quarn::FolderTreeStore;
using quarn::kNoNode;
using quarn::kTopLevel;
using quarn::NodeHandle;

namespace {

// Every level of the model lists the store's children in the store's order.
bool Mirrors(const FolderTreeModel& model, const FolderTreeStore& store, QString& why) {
    std::vector<std::pair<QModelIndex, NodeHandle>> pending{{QModelIndex(), kTopLevel}};
    while (!pending.empty()) {
        const auto [index, handle] = pending.back();
        pending.pop_back();
        const int rows = model.rowCount(index);
        if (rows != store.GetChildCount(handle)) {
            why = QStringLiteral("row count %1 vs %2 under %3")
                      .arg(rows)
                      .arg(store.GetChildCount(handle))
                      .arg(QString::fromStdString(quarn::test::ItemText(store, handle)));
            return false;
        }
        for (int row = 0; row < rows; ++row) {
            const QModelIndex child = model.index(row, 0, index);
            const NodeHandle expected = store.GetChildItem(handle, row);
            if (model.HandleOf(child) != expected) {
                why = QStringLiteral("row %1 holds another item").arg(row);
                return false;
            }
            if (child.data().toString().toStdString() != quarn::test::ItemText(store, expected)) {
                why = QStringLiteral("text of row %1").arg(row);
                return false;
            }
            pending.emplace_back(child, expected);
        }
    }
    return true;
}

// While a worker changes the store: every row the model shows is the
// store's item at that row under that parent (or an item deleted but not
// yet taken out), with the store's text. The worker cannot reorder rows
// behind the model's back, since sorts wait for the model.
bool RowsAreTheStores(const FolderTreeModel& model, const FolderTreeStore& store, QString& why) {
    std::vector<QModelIndex> pending{QModelIndex()};
    while (!pending.empty()) {
        const QModelIndex parent = pending.back();
        pending.pop_back();
        const NodeHandle parentItem = parent.isValid() ? model.HandleOf(parent) : kTopLevel;
        for (int row = 0; row < model.rowCount(parent); ++row) {
            const QModelIndex child = model.index(row, 0, parent);
            const NodeHandle item = model.HandleOf(child);
            if (model.parent(child) != parent) {
                why = QStringLiteral("row %1 has another parent").arg(row);
                return false;
            }
            const NodeHandle storeParent = store.GetParentItem(item);
            const int storeRow = store.GetRowOfItem(item);
            const std::string text = quarn::test::ItemText(store, item);
            // Still live after the reads: it was live during them.
            if (store.IsLiveItem(item)) {
                if (storeParent != parentItem || storeRow != row ||
                    child.data().toString().toStdString() != text) {
                    why = QStringLiteral("row %1 is not the store's").arg(row);
                    return false;
                }
            }
            pending.push_back(child);
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
        FolderTreeStore store;
        FolderTreeModel model(store);
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(model.columnCount(), 5);
        QCOMPARE(model.headerData(FolderTreeModel::kChangeColumn, Qt::Horizontal).toString(),
                 QStringLiteral("Change"));
        QCOMPARE(model.headerData(2, Qt::Horizontal).toString(), QStringLiteral("%"));
        QCOMPARE(model.headerData(2, Qt::Horizontal, Qt::TextAlignmentRole).toInt(),
                 int(Qt::AlignCenter));

        const NodeHandle root = store.InsertItem("/data", quarn::NodeKind::Folder);
        const NodeHandle a = store.InsertItem("alpha", quarn::NodeKind::Folder, root);
        const NodeHandle b = store.InsertItem("beta", quarn::NodeKind::Folder, root);
        const NodeHandle files = store.InsertFilesItem(root, 2, 400);
        const NodeHandle deep = store.InsertItem("deep", quarn::NodeKind::Folder, a);
        // Nothing shows before the journal is applied.
        QCOMPARE(model.rowCount(), 0);
        model.ApplyChanges();
        VERIFY_MIRRORS(model, store);

        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        QSignalSpy layout(&model, &QAbstractItemModel::layoutChanged);
        store.SetItemSize(b, 500);
        store.SetItemSize(a, 100);
        model.ApplyChanges();
        QVERIFY(!changed.isEmpty());
        const QModelIndex bIndex = model.IndexOf(b);
        QCOMPARE(model.index(bIndex.row(), 1, bIndex.parent()).data().toString(),
                 QStringLiteral("0.488 KB"));
        QCOMPARE(bIndex.data(FolderTreeModel::kPercentRole).toInt(), -1);
        // Every percentage changes with the base: one layout change, not a
        // signal per item.
        store.SetPercentBase(1000);
        model.ApplyChanges();
        QCOMPARE(layout.count(), 1);
        QCOMPARE(bIndex.data(FolderTreeModel::kPercentRole).toInt(), 50);
        QCOMPARE(model.index(bIndex.row(), 2, bIndex.parent()).data().toString(),
                 QStringLiteral("50%"));
        QCOMPARE(model.IndexOf(deep).data(FolderTreeModel::kPercentRole).toInt(), -1);
        QVERIFY(!model.IndexOf(files).data(Qt::DecorationRole).value<QIcon>().isNull());

        // A reorder keeps persistent indexes (the view's selection) on their
        // items; the store's order changes only when the model applies it.
        const QPersistentModelIndex held(model.IndexOf(a));
        store.SortChildrenByPercent(root);
        QCOMPARE(model.HandleOf(model.index(0, 0, model.IndexOf(root))), a);
        model.ApplyChanges();
        VERIFY_MIRRORS(model, store);
        QCOMPARE(model.HandleOf(held), a);
        QCOMPARE(held.row(), 2);
        store.SortTopLevel(false);
        model.ApplyChanges();
        VERIFY_MIRRORS(model, store);
        QCOMPARE(model.HandleOf(model.index(0, 0, model.IndexOf(root))), files);  // "[" < "a"

        QSignalSpy expand(&model, &FolderTreeModel::expandRequested);
        store.Expand(a);
        model.ApplyChanges();
        QCOMPARE(expand.count(), 1);
        QCOMPARE(expand.at(0).at(0).value<QModelIndex>(), model.IndexOf(a));

        // Deleting an item takes its subtree; the rows go when the model
        // applies it, and old handles read neutral.
        store.DeleteItem(a);
        QCOMPARE(model.rowCount(model.IndexOf(root)), 3);
        model.ApplyChanges();
        VERIFY_MIRRORS(model, store);
        QVERIFY(!model.IndexOf(a).isValid());
        QVERIFY(!model.IndexOf(deep).isValid());
        QVERIFY(!held.isValid());

        // A new scan: everything goes, new items come in the same batch. Until
        // the model resets, its rows still read as they were.
        const QModelIndex filesIndex = model.IndexOf(files);
        QSignalSpy replaced(&model, &FolderTreeModel::treeReplaced);
        store.DeleteAllItems();
        const NodeHandle again = store.InsertItem("/other", quarn::NodeKind::Folder);
        store.InsertItem("x", quarn::NodeKind::Folder, again);
        QCOMPARE(filesIndex.data().toString(), QStringLiteral("[2 files]"));
        QCOMPARE(model.rowCount(), 1);
        model.ApplyChanges();
        VERIFY_MIRRORS(model, store);
        QVERIFY(!model.IndexOf(root).isValid());
        QCOMPARE(model.data(model.index(0, 0)).toString(), QStringLiteral("/other"));
        QCOMPARE(replaced.count(), 1);  // a new tree: the view clears its sort mark
    }

    void mirrorsTheStoreAlreadyFilledWhenMade() {
        FolderTreeStore store;
        const NodeHandle root = store.InsertItem("/r", quarn::NodeKind::Folder);
        for (int i = 0; i < 5; ++i) {
            store.InsertItem("c" + std::to_string(i), quarn::NodeKind::Folder, root);
        }
        FolderTreeModel model(store);
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        VERIFY_MIRRORS(model, store);
        // Changes made after attaching are applied once, not twice.
        store.InsertItem("late", quarn::NodeKind::Folder, root);
        model.ApplyChanges();
        VERIFY_MIRRORS(model, store);
    }

    void refreshesByItselfInFewBatches() {
        FolderTreeStore store;
        FolderTreeModel model(store);
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        std::thread worker([&store] {
            const NodeHandle root = store.InsertItem("/big", quarn::NodeKind::Folder);
            for (int i = 0; i < 10000; ++i) {
                store.InsertItem("f" + std::to_string(i), quarn::NodeKind::Folder, root);
            }
        });
        worker.join();
        // No call from the test: the store's poster brings the refresh.
        QTRY_COMPARE(model.rowCount(), 1);
        QTRY_COMPARE(model.rowCount(model.index(0, 0)), 10000);
        // One announcement for the root and one per slice of its children,
        // not one per item.
        QVERIFY(inserted.count() <= 2 + int(10000 / FolderTreeModel::kSliceChanges));
    }

    void followsARealScanAndEndsAsTheStore() {
        // A scan's worker fills the store while the model refreshes itself:
        // the tester checks every announcement, and the end shows the sorted
        // tree with the store's sizes.
        quarn::test::TempTree tree;
        quarn::test::ScopedEnv ini("QUARN_INI", tree.Path("quarn.ini"));
        quarn::WriteSetting(quarn::kSortBySize, true);
        quarn::WriteSetting(quarn::kRelativToDriveSpace, false);
        for (int i = 0; i < 40; ++i) {
            const std::string folder = "scan/f" + std::to_string(i);
            tree.MakeFile(folder + "/a/x.bin", uint64_t(1000 * (i + 1) * (i + 1)));
            tree.MakeFile(folder + "/b/y.bin", 7);
            tree.MakeFile(folder + "/loose.bin", uint64_t(i));
        }
        quarn::FolderScanner scanner;
        quarn::FolderSizeTree& view = scanner.Tree();
        FolderTreeModel model(view);
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy expand(&model, &FolderTreeModel::expandRequested);
        for (int scan = 0; scan < 2; ++scan) {
            scanner.StartScan(quarn::test::FolderRequest(tree.Path("scan")));
            QString why;
            while (scanner.IsScanRunning() && why.isEmpty()) {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
                RowsAreTheStores(model, view, why);
            }
            scanner.Wait();
            QVERIFY2(why.isEmpty(), qPrintable(why));
            // The worker's last notification is on its way: let it arrive.
            QCoreApplication::processEvents();
            QTRY_VERIFY(!model.IsRefreshing());
            VERIFY_MIRRORS(model, view);
        }
        QVERIFY(!expand.isEmpty());
        const QModelIndex root = model.index(0, 0);
        QCOMPARE(model.rowCount(root), 40);
        // Largest first, the files items last in every folder below the root.
        QCOMPARE(model.index(0, 0, root).data().toString(), QStringLiteral("f39"));
        const QModelIndex f39 = model.index(0, 0, root);
        QCOMPARE(model.index(2, 0, f39).data().toString(), QStringLiteral("[1 file ]"));
        QCOMPARE(model.index(0, 1, f39).data().toString(), QStringLiteral("1.526 MB"));
    }

    void staysConsistentWhileAWorkerChangesTheStore() {
        FolderTreeStore store;
        FolderTreeModel model(store);
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        std::atomic<bool> done{false};
        std::thread worker([&store, &done] {
            std::mt19937 random(7);
            std::vector<NodeHandle> items;
            for (int round = 0; round < 4; ++round) {
                store.DeleteAllItems();
                items.assign(1, store.InsertItem("/root", quarn::NodeKind::Folder));
                for (int step = 0; step < 3000; ++step) {
                    const NodeHandle parent = items[random() % items.size()];
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
                            store.SetItemSize(parent, random() % 101);
                            store.SetPercentBase(100);
                            break;
                        case 3:
                            store.SortTopLevel(random() % 2 == 0);
                            break;
                        default:
                            items.push_back(store.InsertItem("n" + std::to_string(step),
                                                             quarn::NodeKind::Folder, parent));
                            break;
                    }
                }
            }
            done = true;
        });
        // Half the time the model's own sliced refresh runs, half the time
        // everything is applied at once. Whenever the view could look, its
        // rows are the store's rows.
        QString why;
        for (int turn = 0; !done && why.isEmpty(); ++turn) {
            if (turn % 2 == 0) {
                model.ApplyChanges();
            }
            QCoreApplication::processEvents();
            RowsAreTheStores(model, store, why);
        }
        worker.join();
        QVERIFY2(why.isEmpty(), qPrintable(why));
        model.ApplyChanges();
        VERIFY_MIRRORS(model, store);
    }
};

QTEST_MAIN(FolderTreeModelTest)
#include "folder_tree_model_test.moc"
