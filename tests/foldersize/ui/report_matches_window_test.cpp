// The headless report prints what the window shows: for every combination
// of the settings that change sizes, order or percentages (AllocatedSize,
// SortBySize, RelativToDriveSpace) and for --allocated, each row of the
// folder tree, in the tree's order, reads the same in both.

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTest>

#include <cstdio>
#include <string>

#include "cli/ReportCommand.h"
#include "foldersize/FolderScanner.h"
#include "foldersize/ui/FolderTreeModel.h"
#include "settings/Settings.h"
#include "tests/support/ScanRequests.h"
#include "tests/support/TempTree.h"
#include "tests/support/TestFiles.h"

using namespace quarn;

namespace {

// The window's rows as the report writes its lines: indent, name, size,
// percentage ("-" when there is none).
void AppendRows(const FolderTreeModel& model, const QModelIndex& parent, int depth,
                QStringList& rows) {
    for (int row = 0; row < model.rowCount(parent); ++row) {
        const QModelIndex name = model.index(row, 0, parent);
        QString percent = name.siblingAtColumn(2).data().toString();
        QString size = name.siblingAtColumn(1).data().toString();
        rows << QString(2 * depth, QLatin1Char(' ')) + name.data().toString() + QLatin1Char('\t') +
                    (size.isEmpty() ? QStringLiteral("-") : size) + QLatin1Char('\t') +
                    (percent.isEmpty() ? QStringLiteral("-") : percent);
        AppendRows(model, name, depth + 1, rows);
    }
}

// The report's lines but its last (the status, which names the free space
// of a disk that other programs write to meanwhile).
QStringList ReportRows(const cli::ReportOptions& options, const std::string& outPath) {
    std::fflush(stdout);
    pid_t child = ::fork();
    if (child == 0) {
        int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(out, STDOUT_FILENO);
        ::close(out);
        ::_exit(cli::RunFolderReport(options));
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return {QStringLiteral("report failed")};
    }
    QStringList rows = QString::fromUtf8(test::ReadText(outPath)).split(QLatin1Char('\n'));
    rows.removeLast();  // after the last newline
    rows.removeLast();  // the status
    return rows;
}

}  // namespace

class ReportMatchesWindowTest : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void everySettingGivesTheSameRows() {
        test::TempTree tree;
        tree.MakeFile("music/album/one.flac", 30000);
        tree.MakeFile("music/cover.jpg", 900);
        tree.MakeFolder("best");
        QCOMPARE(
            ::link(tree.Path("music/album/one.flac").c_str(), tree.Path("best/one.flac").c_str()),
            0);
        tree.MakeSparseFile("images/disk.img", uint64_t(2) << 30);
        tree.MakeFile("images/tiny.txt", 1);
        tree.MakeFile("same-a/x.bin", 4096);  // equal sizes: the name decides
        tree.MakeFile("same-b/x.bin", 4096);
        tree.MakeFile("loose.txt", 12345);
        test::TempTree settings;
        test::ScopedEnv ini("QUARN_INI", settings.Path("quarn.ini"));

        for (int combination = 0; combination < 8; ++combination) {
            const bool allocated = (combination & 1) != 0;
            const bool sortBySize = (combination & 2) != 0;
            const bool relativeToDrive = (combination & 4) != 0;
            WriteSetting(kAllocatedSize, allocated);
            WriteSetting(kSortBySize, sortBySize);
            WriteSetting(kRelativToDriveSpace, relativeToDrive);

            // The window's scan: the request built from the settings, its
            // tree shown through the model.
            FolderScanner scanner;
            FolderTreeModel model(scanner.Tree());
            scanner.RunScan(test::FolderRequest(tree.Root()));
            model.ApplyChanges();
            QStringList window;
            AppendRows(model, QModelIndex(), 0, window);
            QVERIFY(window.size() > 8);

            cli::ReportOptions options;
            options.folder = tree.Root();
            const QStringList report = ReportRows(options, settings.Path("out.txt"));
            if (!sortBySize) {
                // Unsorted, both keep the order of the listing, which two
                // listings of one folder need not share: compare as sets.
                QStringList sortedWindow = window;
                QStringList sortedReport = report;
                sortedWindow.sort();
                sortedReport.sort();
                QCOMPARE(sortedReport, sortedWindow);
            } else {
                QCOMPARE(report, window);
            }

            // --allocated gives what the setting gives.
            if (allocated) {
                WriteSetting(kAllocatedSize, false);
                options.allocated = true;
                QStringList forced = ReportRows(options, settings.Path("out.txt"));
                if (!sortBySize) {
                    forced.sort();
                    QStringList sortedWindow = window;
                    sortedWindow.sort();
                    QCOMPARE(forced, sortedWindow);
                } else {
                    QCOMPARE(forced, window);
                }
            }
        }
    }
};

QTEST_MAIN(ReportMatchesWindowTest)
#include "report_matches_window_test.moc"
