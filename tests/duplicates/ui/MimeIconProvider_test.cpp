// The twin list's icons: one table entry per file type, shared safely by the
// scan workers, one lookup per group however often its rows are rebuilt, and
// an icon even where the desktop has no icon theme.

#include <QtTest>
#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "duplicates/TwinScanner.h"
#include "duplicates/ui/MimeIconProvider.h"
#include "duplicates/ui/TwinListModel.h"
#include "filter/FileSearch.h"
#include "tests/support/ScanRequests.h"
#include "tests/support/TempTree.h"

using quarn::MimeIconProvider;
using quarn::test::ScopedEnv;
using quarn::test::TempTree;

class MimeIconProviderTest : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void oneEntryPerTypeFromManyThreads() {
        MimeIconProvider icons;
        const std::vector<std::string> files = {"/a/notes.txt", "/b/photo.png", "/c/song.mp3",
                                                "/d/report.pdf", "/e/no-extension"};
        std::mutex resultsMutex;
        std::map<std::string, std::set<int>> indexes;
        std::vector<std::thread> workers;
        for (int t = 0; t < 8; ++t) {
            workers.emplace_back([&, t] {
                for (int i = 0; i < 400; ++i) {
                    const std::string& file = files[size_t(i + t) % files.size()];
                    const int index = icons.IconIndexForFile(file);
                    std::lock_guard lock(resultsMutex);
                    indexes[file].insert(index);
                }
            });
        }
        for (std::thread& worker : workers) {
            worker.join();
        }
        QCOMPARE(icons.KeyCount(), int(files.size()));
        std::set<int> all;
        for (const auto& [file, seen] : indexes) {
            QCOMPARE(seen.size(), size_t(1));
            all.insert(*seen.begin());
        }
        QCOMPARE(all.size(), files.size());
        QCOMPARE(icons.KeyAt(icons.IconIndexForFile("/x/other.TXT")), QStringLiteral("text/plain"));
        QCOMPARE(icons.KeyAt(99), QString());
        // Files of one type share an entry; the type comes from the name alone.
        QCOMPARE(icons.IconIndexForFile("/missing/readme.txt"),
                 icons.IconIndexForFile("/a/notes.txt"));
    }

    void iconsEvenWithoutATheme() {
        const QString theme = QIcon::themeName();
        QIcon::setThemeName(QStringLiteral("no-such-theme"));
        MimeIconProvider icons;
        const int index = icons.IconIndexForFile("/a/notes.txt");
        const QIcon icon = icons.IconAt(index);
        QVERIFY(!icon.isNull());
        QVERIFY(!icon.pixmap(16, 16).isNull());
        QCOMPARE(icons.IconAt(index).cacheKey(), icon.cacheKey());
        QVERIFY(icons.IconAt(-1).isNull());
        QVERIFY(icons.IconAt(42).isNull());
        QIcon::setThemeName(theme);
    }

    void everyRowOfAGroupShowsItsTypesIconAcrossRebuilds() {
        TempTree home;
        ScopedEnv ini("QUARN_INI", home.Path("quarn.ini"));
        TempTree tree;
        for (const char* file : {"a/x.txt", "b/x.txt", "a/y.png", "b/y.png", "c/y.png"}) {
            tree.MakeFile(file, 10);
            tree.SetModified(file, 1700000000);
        }
        MimeIconProvider icons;
        quarn::TwinScanner list;
        quarn::TwinListModel model(list, &icons);
        list.Scan(quarn::test::FolderRequest(tree.Root()));
        auto iconKeys = [&] {
            model.ApplyPendingChanges();
            std::map<std::string, std::set<qint64>> keys;  // by name
            for (int row = 0; row < model.rowCount(); ++row) {
                const QIcon icon = model
                                       .data(model.index(row, quarn::TwinListModel::kFileColumn),
                                             Qt::DecorationRole)
                                       .value<QIcon>();
                const std::string name =
                    model.data(model.index(row, quarn::TwinListModel::kFileColumn))
                        .toString()
                        .toStdString();
                keys[name].insert(icon.isNull() ? -1 : icon.cacheKey());
            }
            return keys;
        };
        const std::map<std::string, std::set<qint64>> scanned = iconKeys();
        QCOMPARE(model.rowCount(), 5);
        QCOMPARE(scanned.size(), size_t(2));
        for (const auto& [name, keys] : scanned) {
            QCOMPARE(keys.size(), size_t(1));  // one icon for the whole group
            QVERIFY(*keys.begin() != -1);
        }
        QCOMPARE(icons.KeyCount(), 2);

        list.RebuildList();
        quarn::FilterCriteria criteria;
        criteria.m_bTwinsOnly = false;
        quarn::RunSearch(list, criteria);
        QCOMPARE(iconKeys(), scanned);
        QCOMPARE(icons.KeyCount(), 2);
    }
};

QTEST_MAIN(MimeIconProviderTest)
#include "MimeIconProvider_test.moc"
