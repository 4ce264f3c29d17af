// The folder tree as the user sees it: the bar's pixels at the default
// column widths, the header that sorts and marks, and the context menu's
// Delete, Move to and Copy to on real folders.

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QTest>

#include <atomic>
#include <filesystem>
#include <map>
#include <thread>
#include <vector>

#include "controls/DiskChanges.h"
#include "controls/EngineSignals.h"
#include "controls/ShellOperations.h"
#include "foldersize/FolderScanner.h"
#include "foldersize/SizeText.h"
#include "foldersize/ui/FolderSizeView.h"
#include "foldersize/ui/FolderTreeModel.h"
#include "foldersize/ui/TreeListDelegate.h"
#include "foldersize/ui/TreeListHeader.h"
#include "tests/support/ScanRequests.h"
#include "tests/support/TempTree.h"

using namespace quarn;
namespace fs = std::filesystem;

namespace {

QColor PixelAt(const QImage& image, int x, int y) {
    return image.pixelColor(x, y);
}

// The child of `parent` whose name is `name`.
QModelIndex ChildNamed(const FolderTreeModel& model, const QModelIndex& parent,
                       const QString& name) {
    for (int row = 0; row < model.rowCount(parent); ++row) {
        const QModelIndex child = model.index(row, 0, parent);
        if (child.data().toString() == name) {
            return child;
        }
    }
    return {};
}

QStringList ChildNames(const FolderTreeModel& model, const QModelIndex& parent) {
    QStringList names;
    for (int row = 0; row < model.rowCount(parent); ++row) {
        names << model.index(row, 0, parent).data().toString();
    }
    return names;
}

// Every live item's size by path (files items under path + "|files").
std::map<std::string, uint64_t> SizesByPath(const FolderSizeTree& store) {
    std::map<std::string, uint64_t> sizes;
    std::vector<NodeHandle> pending{kTopLevel};
    while (!pending.empty()) {
        const NodeHandle parent = pending.back();
        pending.pop_back();
        for (int row = 0; row < store.GetChildCount(parent); ++row) {
            const NodeHandle item = store.GetChildItem(parent, row);
            if (store.IsLiveItem(item)) {
                sizes[store.GetItemPath(item).value_or("?") +
                      (store.IsFilesItem(item) ? "|files" : "")] =
                    store.GetItemSize(item).value_or(0);
                pending.push_back(item);
            }
        }
    }
    return sizes;
}

// The tree after an action shows what a new scan of its folder shows.
void ExpectSameAsFreshScan(const FolderScanner& scanner) {
    FolderScanner fresh;
    fresh.RunScan(scanner.LastRequest());
    QVERIFY(SizesByPath(scanner.Tree()) == SizesByPath(fresh.Tree()));
    const FolderSizeTree::Figures shown = scanner.Tree().GetFigures();
    const FolderSizeTree::Figures scanned = fresh.Tree().GetFigures();
    QCOMPARE(shown.total, scanned.total);
    QCOMPARE(shown.files, scanned.files);
    QCOMPARE(shown.folders, scanned.folders);
}

// The folder pane as the window makes it: the engine, its news, the
// announcements of changes on disk, and the view. While `holdRefresh` is
// set, a refresh waits at its first snapshot.
struct FolderPane {
    explicit FolderPane(UserMessagePresenter presenter = {})
        : scanner(presenter), view(scanner, events, changes, presenter) {
        const auto progressed = events.ProgressCallback();
        scanner.SetObserver(FolderScanner::Observer{
            [this, progressed] {
                while (holdRefresh.load() && scanner.Progress().job == JobKind::Refresh) {
                    std::this_thread::yield();
                }
                progressed();
            },
            events.IdleCallback(), events.ChangedCallback()});
    }

    std::atomic<bool> holdRefresh{false};
    EngineSignals events;
    DiskChanges changes;
    FolderScanner scanner;  // after the signals: its jobs end before they go
    CFolderSizeView view;
};

}  // namespace

class FolderTreeViewTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TempTree> m_tree;
    std::unique_ptr<test::ScopedEnv> m_ini;
    std::unique_ptr<test::ScopedEnv> m_data;
    QStringList m_menus;  // the actions of every menu shown, one entry per menu

    // Answers the context menu with the action called `text`.
    void AnswerMenuWith(const QString& text) {
        ShellHooks().pickMenuAction = [this, text](QMenu* menu, const QPoint&) -> QAction* {
            QStringList entries;
            QAction* chosen = nullptr;
            for (QAction* action : menu->actions()) {
                entries << (action->isSeparator() ? QStringLiteral("-") : action->text());
                if (action->text() == text) {
                    chosen = action;
                }
            }
            m_menus << entries.join(QLatin1Char('|'));
            return chosen;
        };
    }

    // Shows the view at the size every test paints in.
    static bool Show(CFolderSizeView& view) {
        view.resize(600, 300);
        view.show();
        return QTest::qWaitForWindowExposed(&view);
    }

    void Scan(FolderPane& pane, const std::string& path) {
        pane.view.StartScan(test::FolderRequest(path));
        pane.scanner.Wait();
        pane.view.Model().ApplyChanges();
    }

    QModelIndex Root(const CFolderSizeView& view) { return view.Model().index(0, 0); }

  private Q_SLOTS:
    void init() {
        m_tree = std::make_unique<test::TempTree>();
        m_tree->MakeFile("quarn.ini", 0);
        std::FILE* ini = std::fopen(m_tree->Path("quarn.ini").c_str(), "w");
        std::fputs("[SETTINGS]\nRelativToDriveSpace=0\nSortBySize=1\n", ini);
        std::fclose(ini);
        m_ini = std::make_unique<test::ScopedEnv>("QUARN_INI", m_tree->Path("quarn.ini"));
        m_tree->MakeFolder("xdg");
        m_data = std::make_unique<test::ScopedEnv>("XDG_DATA_HOME", m_tree->Path("xdg"));
        m_tree->MakeFile("scan/big/one", 3000);
        m_tree->MakeFile("scan/big/two", 3000);
        m_tree->MakeFile("scan/aaa-small/one", 100);
        m_tree->MakeFile("scan/mid/one", 1500);
        m_tree->MakeFile("scan/loose.txt", 400);
        m_tree->MakeFolder("target");
        m_menus.clear();
        ShellHooks() = ShellOperationHooks();
        ShellHooks().confirm = [](QWidget*, const QString&, const QString&) { return true; };
        ShellHooks().showError = [](QWidget*, const QString& title, const QString& text) {
            qWarning("error shown: %s: %s", qPrintable(title), qPrintable(text));
        };
    }

    void cleanup() {
        ShellHooks() = ShellOperationHooks();
        m_data.reset();
        m_ini.reset();
        m_tree.reset();
    }

    void barPixelsAtDefaultWidths() {
        FolderPane pane;
        CFolderSizeView& view = pane.view;
        QVERIFY(Show(view));
        // The name column takes what the others leave: make it 260 wide.
        view.resize(view.width() - (view.header()->sectionSize(0) - 260), view.height());
        QTRY_COMPARE(view.header()->sectionSize(0), 260);
        QCOMPARE(view.header()->sectionSize(1), 100);
        QCOMPARE(view.header()->sectionSize(2), 100);

        const NodeHandle root = pane.scanner.Tree().InsertItem("/half", NodeKind::Folder);
        const NodeHandle zero = pane.scanner.Tree().InsertItem("zero", NodeKind::Folder, root);
        const NodeHandle none = pane.scanner.Tree().InsertItem("none", NodeKind::Folder, root);
        const NodeHandle full = pane.scanner.Tree().InsertItem("full", NodeKind::Folder, root);
        pane.scanner.Tree().SetItemSize(root, 50);
        pane.scanner.Tree().SetItemSize(zero, 0);
        pane.scanner.Tree().SetItemSize(full, 100);
        pane.scanner.Tree().SetPercentBase(100);
        view.Model().ApplyChanges();
        view.expandAll();
        QCOMPARE(view.Model().IndexOf(none).data(FolderTreeModel::kPercentRole).toInt(), -1);

        const QImage image = view.viewport()->grab().toImage();
        const QRect row = view.visualRect(view.Model().IndexOf(root, 2));
        QCOMPARE(row.x(), 360);
        const int top = row.y();
        const int middle = row.y() + row.height() / 2;
        // The frame spans x = 370..449, its top row two pixels into the row.
        QCOMPARE(PixelAt(image, 369, middle), QColor(Qt::white));
        QCOMPARE(PixelAt(image, 370, middle), QColor(Qt::black));
        QCOMPARE(PixelAt(image, 449, middle), QColor(Qt::black));
        QCOMPARE(PixelAt(image, 450, middle), QColor(Qt::white));
        QCOMPARE(PixelAt(image, 400, top + 1), QColor(Qt::white));
        QCOMPARE(PixelAt(image, 400, top + 2), QColor(Qt::black));
        // At 50 % the fill covers x = 371..408 in RGB(255, 155, 0).
        const QColor half(255, 155, 0);
        QCOMPARE(PixelAt(image, 371, top + 3), half);
        QCOMPARE(PixelAt(image, 408, top + 3), half);
        QCOMPARE(PixelAt(image, 409, top + 3), QColor(Qt::white));
        // 100 % is orange-red; 0 % has a frame but no fill; -1 has no bar at all.
        const int fullTop = view.visualRect(view.Model().IndexOf(full, 2)).y();
        QCOMPARE(PixelAt(image, 371, fullTop + 3), QColor(255, 55, 0));
        const int zeroTop = view.visualRect(view.Model().IndexOf(zero, 2)).y();
        QCOMPARE(PixelAt(image, 370, zeroTop + 5), QColor(Qt::black));
        QCOMPARE(PixelAt(image, 371, zeroTop + 3), QColor(Qt::white));
        const int noneTop = view.visualRect(view.Model().IndexOf(none, 2)).y();
        QCOMPARE(PixelAt(image, 370, noneTop + 5), QColor(Qt::white));

        // The same numbers, independent of any row: W = width - 20.
        const PercentBarGeometry bar = TreeListDelegate::BarGeometry(360, 100, 0, 20, 50);
        QCOMPARE(bar.frame, QRect(370, 2, 80, 17));
        QCOMPARE(bar.fill, QRect(371, 3, 38, 15));
        QVERIFY(TreeListDelegate::BarGeometry(360, 19, 0, 20, 50).frame.isEmpty());
    }

    void selectionColoursOnlyTheName() {
        FolderPane pane;
        CFolderSizeView& view = pane.view;
        QVERIFY(Show(view));
        Scan(pane, m_tree->Path("scan"));
        const QModelIndex big = ChildNamed(view.Model(), Root(view), "big");
        view.setCurrentIndex(big);
        // The layout and repaint the selection asked for, before the grab.
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        const QImage image = view.viewport()->grab().toImage();
        if (qEnvironmentVariableIsSet("QUARN_SAVE_GRABS")) {
            image.save(qEnvironmentVariable("QUARN_SAVE_GRABS") + "/selected.png");
        }
        const QRect name = view.visualRect(big);
        const int y = name.center().y();
        // The label, wherever the icon leaves it: the selection colour, at
        // least as wide as the name, with white text on it.
        const QColor selection(0, 0, 99);
        int labelLeft = -1, labelRight = -1;
        for (int x = name.x(); x < name.x() + name.width(); ++x) {
            if (image.pixelColor(x, y) == selection) {
                labelLeft = labelLeft < 0 ? x : labelLeft;
                labelRight = x;
            }
        }
        QVERIFY(labelLeft >= 0);
        QVERIFY(labelRight - labelLeft >=
                view.fontMetrics().horizontalAdvance(QStringLiteral("big")));
        bool whiteText = false;
        for (int x = labelLeft; x <= labelRight; ++x) {
            for (int row = name.y(); row < name.y() + name.height(); ++row) {
                whiteText = whiteText || image.pixelColor(x, row).lightness() > 200;
            }
        }
        QVERIFY(whiteText);
        // The size column of the selected row keeps a white background.
        const QRect size = view.visualRect(big.siblingAtColumn(1));
        QCOMPARE(image.pixelColor(size.x() + 2, y), QColor(Qt::white));
        QCOMPARE(image.pixelColor(name.x() + name.width() - 2, y), QColor(Qt::white));
    }

    void headerClicksSortTheTopLevelAndMoveTheMark() {
        FolderPane pane;
        CFolderSizeView& view = pane.view;
        QAbstractItemModelTester tester(&view.Model(),
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QVERIFY(Show(view));
        Scan(pane, m_tree->Path("scan"));
        const QModelIndex root = Root(view);
        // Sorted by size by the scan: the files item is placed by size at the top level.
        QCOMPARE(ChildNames(view.Model(), root),
                 QStringList({"big", "mid", "[1 file ]", "aaa-small"}));
        QCOMPARE(view.Header().MarkedColumn(), -1);

        auto clickTitle = [&view](int column) {
            const int x = view.header()->sectionViewportPosition(column) + 20;
            QTest::mouseClick(view.header()->viewport(), Qt::LeftButton, {},
                              QPoint(x, view.header()->height() / 2));
        };
        clickTitle(0);
        QCOMPARE(ChildNames(view.Model(), root),
                 QStringList({"[1 file ]", "aaa-small", "big", "mid"}));
        QCOMPARE(view.Header().MarkedColumn(), 0);
        clickTitle(2);
        QCOMPARE(ChildNames(view.Model(), root),
                 QStringList({"big", "mid", "[1 file ]", "aaa-small"}));
        QCOMPARE(view.Header().MarkedColumn(), 2);
        clickTitle(1);
        QCOMPARE(view.Header().MarkedColumn(), 1);

        // The mark is drawn: the triangle's tip sits below its base line.
        const QImage header = view.header()->viewport()->grab().toImage();
        const int right = view.header()->sectionViewportPosition(1) + 100 -
                          2 * view.header()->fontMetrics().horizontalAdvance(QLatin1Char(' '));
        const QPolygon mark = CTreeListHeader::MarkPolygon(right, 0);
        QVERIFY(header.pixelColor(mark.at(0)).lightness() < 128);
        QVERIFY(header.pixelColor(mark.at(2)).lightness() < 128);

        // A new scan clears the mark.
        Scan(pane, m_tree->Path("scan"));
        QTRY_COMPARE(view.Header().MarkedColumn(), -1);
    }

    void deleteMovesTheFolderToTheTrashAndDropsItsItem() {
        FolderPane pane;
        CFolderSizeView& view = pane.view;
        QVERIFY(Show(view));
        Scan(pane, m_tree->Path("scan"));
        const QModelIndex big = ChildNamed(view.Model(), Root(view), "big");
        QVERIFY(big.isValid());
        const QString sizeBefore = view.Model().index(0, 1).data().toString();

        AnswerMenuWith("Delete");
        // One right click, through the window as a user's click arrives.
        const QPoint where = view.visualRect(big).center();
        QTest::mouseClick(view.windowHandle(), Qt::RightButton, {},
                          view.viewport()->mapTo(&view, where));
        QTRY_COMPARE_WITH_TIMEOUT(m_menus.size(), 1, 30000);
        // Whatever else the click caused has been delivered: still one menu.
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        QCOMPARE(m_menus.size(), 1);
        QCOMPARE(m_menus.front(),
                 QStringLiteral("Explore|-|Copy to...|Move to...|Delete|-|Refresh|Properties"));

        QVERIFY(!fs::exists(m_tree->Path("scan/big")));
        QVERIFY(fs::exists(m_tree->Path("xdg/Trash/files/big/one")));
        QVERIFY(fs::exists(m_tree->Path("xdg/Trash/info/big.trashinfo")));
        QVERIFY(!ChildNamed(view.Model(), Root(view), "big").isValid());
        // The root no longer counts what went, at once.
        QCOMPARE(sizeBefore, QString::fromStdString(FormatSize(8000)));
        QCOMPARE(view.Model().index(0, 1).data().toString(),
                 QString::fromStdString(FormatSize(2000)));
        ExpectSameAsFreshScan(pane.scanner);
    }

    void declinedDeleteLeavesFolderAndItem() {
        FolderPane pane;
        CFolderSizeView& view = pane.view;
        Scan(pane, m_tree->Path("scan"));
        ShellHooks().confirm = [](QWidget*, const QString&, const QString&) { return false; };
        AnswerMenuWith("Delete");
        QString status;
        connect(&view, &CFolderSizeView::statusMessage, this,
                [&status](const QString& text) { status = text; });
        const QModelIndex mid = ChildNamed(view.Model(), Root(view), "mid");
        view.OnContextMenu(view.visualRect(mid).center());
        QCOMPARE(m_menus.size(), 1);
        QVERIFY(fs::exists(m_tree->Path("scan/mid/one")));
        QVERIFY(ChildNamed(view.Model(), Root(view), "mid").isValid());
        QCOMPARE(status, QStringLiteral("aborted"));
        // Below the last item: no menu, and the selection is cleared.
        view.OnContextMenu(QPoint(5, view.viewport()->height() - 2));
        QCOMPARE(m_menus.size(), 1);
        QVERIFY(!view.selectionModel()->hasSelection());
    }

    void exploreOpensTheFolderAlsoFromTheMenuKey() {
        FolderPane pane;
        CFolderSizeView& view = pane.view;
        QVERIFY(Show(view));
        Scan(pane, m_tree->Path("scan"));
        QList<QUrl> opened;
        ShellHooks().openUrl = [&opened](const QUrl& url) {
            opened << url;
            return true;
        };
        AnswerMenuWith("Explore");
        // The menu key acts on the current item, wherever the mouse is.
        view.setCurrentIndex(ChildNamed(view.Model(), Root(view), "mid"));
        QContextMenuEvent key(QContextMenuEvent::Keyboard, QPoint(0, 0),
                              view.viewport()->mapToGlobal(QPoint(0, 0)));
        QApplication::sendEvent(&view, &key);
        QCOMPARE(m_menus.size(), 1);
        QCOMPARE(opened.size(), 1);
        QCOMPARE(opened.front(),
                 QUrl::fromLocalFile(QString::fromStdString(m_tree->Path("scan/mid"))));
        // Explore on the scan root opens the scanned folder.
        view.OnContextMenu(view.visualRect(Root(view)).center());
        QCOMPARE(opened.size(), 2);
        QCOMPARE(opened.back(), QUrl::fromLocalFile(QString::fromStdString(m_tree->Path("scan"))));
    }

    void moveToAndCopyToUseTheChosenFolder() {
        FolderPane pane;
        CFolderSizeView& view = pane.view;
        QVERIFY(Show(view));
        Scan(pane, m_tree->Path("scan"));
        QStringList titles;
        std::string target = m_tree->Path("target");
        ShellHooks().browse = [&](QWidget*, const QString& title) {
            titles << title;
            return target;
        };

        AnswerMenuWith("Copy to...");
        view.OnContextMenu(view.visualRect(ChildNamed(view.Model(), Root(view), "mid")).center());
        QVERIFY(fs::exists(m_tree->Path("target/mid/one")));
        QVERIFY(fs::exists(m_tree->Path("scan/mid/one")));
        QVERIFY(ChildNamed(view.Model(), Root(view), "mid").isValid());

        AnswerMenuWith("Move to...");
        fs::remove_all(m_tree->Path("target/mid"));
        view.OnContextMenu(view.visualRect(ChildNamed(view.Model(), Root(view), "mid")).center());
        QVERIFY(fs::exists(m_tree->Path("target/mid/one")));
        QVERIFY(!fs::exists(m_tree->Path("scan/mid")));
        QVERIFY(!ChildNamed(view.Model(), Root(view), "mid").isValid());
        QCOMPARE(titles, QStringList({"Select a directory...", "Select a directory..."}));

        // A cancelled picker changes nothing.
        target.clear();
        view.OnContextMenu(
            view.visualRect(ChildNamed(view.Model(), Root(view), "aaa-small")).center());
        QVERIFY(fs::exists(m_tree->Path("scan/aaa-small/one")));
        QVERIFY(ChildNamed(view.Model(), Root(view), "aaa-small").isValid());

        // A files item's Copy to copies its loose files, not its folder.
        target = m_tree->Path("target");
        AnswerMenuWith("Copy to...");
        view.OnContextMenu(
            view.visualRect(ChildNamed(view.Model(), Root(view), "[1 file ]")).center());
        QVERIFY(fs::exists(m_tree->Path("target/loose.txt")));
        QVERIFY(!fs::exists(m_tree->Path("target/scan")));
        QVERIFY(fs::exists(m_tree->Path("scan/loose.txt")));
        // The root lost mid: its total follows.
        ExpectSameAsFreshScan(pane.scanner);
    }

    void filesItemActionsReachExactlyItsLooseFiles() {
        // scan/two: two loose files beside a subfolder.
        m_tree->MakeFile("scan/two/a.txt", 700);
        m_tree->MakeFile("scan/two/b.txt", 800);
        m_tree->MakeFile("scan/two/sub/inner.bin", 5000);
        FolderPane pane;
        CFolderSizeView& view = pane.view;
        QVERIFY(Show(view));
        Scan(pane, m_tree->Path("scan"));
        QModelIndex two = ChildNamed(view.Model(), Root(view), "two");
        view.expand(two);
        const QModelIndex files = ChildNamed(view.Model(), two, "[2 files]");
        const NodeHandle sub = view.Model().HandleOf(ChildNamed(view.Model(), two, "sub"));
        QVERIFY(files.isValid());
        QStringList questions;
        ShellHooks().confirm = [&questions](QWidget*, const QString&, const QString& text) {
            questions << text;
            return true;
        };

        AnswerMenuWith("Delete");
        view.OnContextMenu(view.visualRect(files).center());
        QCOMPARE(questions,
                 QStringList{QStringLiteral("Move the 2 files in %1 to the trash?")
                                 .arg(QString::fromStdString(m_tree->Path("scan/two")))});
        QVERIFY(fs::exists(m_tree->Path("xdg/Trash/files/a.txt")));
        QVERIFY(fs::exists(m_tree->Path("xdg/Trash/files/b.txt")));
        QVERIFY(fs::exists(m_tree->Path("scan/two/sub/inner.bin")));
        QVERIFY(!fs::exists(m_tree->Path("xdg/Trash/files/two")));
        QVERIFY(!fs::exists(m_tree->Path("xdg/Trash/files/sub")));
        // The subfolder's item and size stay; only the files item went.
        two = ChildNamed(view.Model(), Root(view), "two");
        QCOMPARE(ChildNames(view.Model(), two), QStringList{"sub"});
        QVERIFY(pane.scanner.Tree().IsLiveItem(sub));
        QCOMPARE(pane.scanner.Tree().GetItemSize(sub), std::optional<uint64_t>(5000));
        QCOMPARE(pane.scanner.Tree().GetItemSize(view.Model().HandleOf(two)),
                 std::optional<uint64_t>(5000));
        ExpectSameAsFreshScan(pane.scanner);

        // Files that changed since the scan are not touched: refresh first.
        QStringList errors;
        ShellHooks().showError = [&errors](QWidget*, const QString&, const QString& text) {
            errors << text;
        };
        m_tree->MakeFile("scan/unseen.txt", 10);
        AnswerMenuWith("Move to...");
        ShellHooks().browse = [this](QWidget*, const QString&) { return m_tree->Path("target"); };
        view.OnContextMenu(
            view.visualRect(ChildNamed(view.Model(), Root(view), "[1 file ]")).center());
        QCOMPARE(errors.size(), 1);
        QVERIFY(errors.front().contains(QStringLiteral("have changed since the scan")));
        QVERIFY(fs::exists(m_tree->Path("scan/loose.txt")));
        QVERIFY(fs::exists(m_tree->Path("scan/unseen.txt")));
    }

    void moveIntoAFolderOfTheTreeRefreshesIt() {
        FolderPane pane;
        CFolderSizeView& view = pane.view;
        QVERIFY(Show(view));
        Scan(pane, m_tree->Path("scan"));
        ShellHooks().browse = [this](QWidget*, const QString&) { return m_tree->Path("scan/big"); };
        AnswerMenuWith("Move to...");
        view.OnContextMenu(view.visualRect(ChildNamed(view.Model(), Root(view), "mid")).center());
        QVERIFY(fs::exists(m_tree->Path("scan/big/mid/one")));
        pane.scanner.Wait();  // the refresh of big
        view.Model().ApplyChanges();
        const QModelIndex big = ChildNamed(view.Model(), Root(view), "big");
        QVERIFY(ChildNamed(view.Model(), big, "mid").isValid());
        QVERIFY(!ChildNamed(view.Model(), Root(view), "mid").isValid());
        ExpectSameAsFreshScan(pane.scanner);

        // Copy to into the tree: the receiving folder is refreshed as well.
        ShellHooks().browse = [this](QWidget*, const QString&) {
            return m_tree->Path("scan/aaa-small");
        };
        AnswerMenuWith("Copy to...");
        view.OnContextMenu(view.visualRect(ChildNamed(view.Model(), Root(view), "big")).center());
        pane.scanner.Wait();
        view.Model().ApplyChanges();
        QVERIFY(fs::exists(m_tree->Path("scan/aaa-small/big/mid/one")));
        ExpectSameAsFreshScan(pane.scanner);
    }

    void keysAndRefreshActOnTheCurrentItem() {
        std::vector<std::string> messages;
        FolderPane pane([&messages](const std::string& text) { messages.push_back(text); });
        CFolderSizeView& view = pane.view;
        QVERIFY(Show(view));
        Scan(pane, m_tree->Path("scan"));

        // F5: files added outside the program appear, the ancestors follow.
        m_tree->MakeFile("scan/mid/added.bin", 64000);
        view.setFocus();
        view.setCurrentIndex(ChildNamed(view.Model(), Root(view), "mid"));
        QTest::keyClick(&view, Qt::Key_F5);
        pane.scanner.Wait();
        view.Model().ApplyChanges();
        ExpectSameAsFreshScan(pane.scanner);
        QCOMPARE(ChildNames(view.Model(), Root(view)).front(), QStringLiteral("mid"));

        // Del: the current item goes to the trash.
        view.setCurrentIndex(ChildNamed(view.Model(), Root(view), "aaa-small"));
        QTest::keyClick(&view, Qt::Key_Delete);
        QVERIFY(fs::exists(m_tree->Path("xdg/Trash/files/aaa-small/one")));
        QVERIFY(!ChildNamed(view.Model(), Root(view), "aaa-small").isValid());
        ExpectSameAsFreshScan(pane.scanner);

        // While a walk runs (a refresh of mid, held) nothing that changes
        // the disk is done.
        pane.holdRefresh = true;
        QVERIFY(pane.scanner.StartRefresh(
            view.Model().HandleOf(ChildNamed(view.Model(), Root(view), "mid"))));
        view.setCurrentIndex(ChildNamed(view.Model(), Root(view), "big"));
        QTest::keyClick(&view, Qt::Key_Delete);
        QTest::keyClick(&view, Qt::Key_F5);
        pane.holdRefresh = false;
        pane.scanner.Wait();
        QVERIFY(fs::exists(m_tree->Path("scan/big/one")));
        QCOMPARE(messages, (std::vector<std::string>{"App is busy..", "App is busy.."}));

        // Refresh on the root asks for a new scan.
        int rescans = 0;
        connect(&view, &CFolderSizeView::rescanRequested, this, [&rescans] { ++rescans; });
        AnswerMenuWith("Refresh");
        view.OnContextMenu(view.visualRect(Root(view)).center());
        QCOMPARE(rescans, 1);
    }

    void nameColumnTakesTheSpareWidth() {
        FolderPane pane;
        CFolderSizeView& view = pane.view;
        QVERIFY(Show(view));
        const int narrow = view.header()->sectionSize(0);
        view.resize(view.width() + 150, view.height());
        QTRY_COMPARE(view.header()->sectionSize(0), narrow + 150);
        QCOMPARE(view.header()->sectionSize(1), 100);
        QCOMPARE(view.header()->sectionSize(2), 100);
        QCOMPARE(view.header()->length(), view.viewport()->width());
    }
};

QTEST_MAIN(FolderTreeViewTest)
#include "folder_tree_view_test.moc"
