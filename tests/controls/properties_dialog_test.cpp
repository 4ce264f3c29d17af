// The Properties dialog: its figures for a small tree, and its folder count
// stopping when the dialog goes away.

#include <sys/stat.h>
#include <unistd.h>

#include <QTest>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "controls/PropertiesDialog.h"
#include "tests/support/TempTree.h"

using namespace quarn;
using quarn::test::TempTree;
namespace fs = std::filesystem;

namespace {

// The peer's figure for the space a tree takes: du, counting hard links once.
std::optional<uint64_t> DiskUsageByDu(const std::string& path) {
    std::string command = "du -s -B1 '" + path + "' 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return std::nullopt;
    }
    unsigned long long bytes = 0;
    int fields = std::fscanf(pipe, "%llu", &bytes);
    int status = ::pclose(pipe);
    if (fields != 1 || status != 0) {
        return std::nullopt;
    }
    return uint64_t(bytes);
}

}  // namespace

class PropertiesDialogTest : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void folderFiguresOfASmallTree() {
        TempTree tree;
        tree.MakeFile("root/a.txt", 100);
        tree.MakeFile("root/sub/b.bin", 2000);
        tree.MakeSparseFile("root/sub/deep/sparse.img", 4 << 20);
        tree.MakeSymlink("a.txt", "root/link");  // 5 bytes, not followed
        fs::create_hard_link(tree.Path("root/sub/b.bin"), tree.Path("root/sub/b-again.bin"));
        tree.MakeFolder("root/empty");
        ::chmod(tree.Path("root").c_str(), 0750);

        PropertiesDialog dialog(tree.Path("root"));
        QTRY_VERIFY_WITH_TIMEOUT(dialog.CurrentFigures().finished, 30000);
        PropertiesDialog::Figures figures = dialog.CurrentFigures();
        QCOMPARE(figures.files, 5u);
        QCOMPARE(figures.folders, 3u);  // sub, sub/deep, empty
        const uint64_t apparent = 100 + 2000 + 2000 + (4u << 20) + 5;
        QCOMPARE(figures.apparentBytes, apparent);
        if (std::optional<uint64_t> du = DiskUsageByDu(tree.Path("root"))) {
            QCOMPARE(figures.diskBytes, *du);
        }
        QVERIFY(figures.diskBytes < apparent);  // the sparse file takes no blocks

        // The texts show the final figures.
        QTRY_COMPARE(dialog.FieldText(QStringLiteral("contains")),
                     QStringLiteral("5 files, 3 folders"));
        QCOMPARE(dialog.FieldText(QStringLiteral("size")),
                 QStringLiteral("4.004 MB (4,198,409 bytes)"));
        QCOMPARE(dialog.FieldText(QStringLiteral("type")), QStringLiteral("Folder"));
        QCOMPARE(dialog.FieldText(QStringLiteral("permissions")),
                 QStringLiteral("drwxr-x--- (0750)"));
        QCOMPARE(dialog.FieldText(QStringLiteral("path")),
                 QString::fromStdString(tree.Path("root")));
        QVERIFY(!dialog.FieldText(QStringLiteral("modified")).isEmpty());
        QVERIFY(!dialog.FieldText(QStringLiteral("owner")).isEmpty());
        QVERIFY(dialog.FieldText(QStringLiteral("target")).isEmpty());
    }

    void fileAndLinkFigures() {
        TempTree tree;
        tree.MakeFile("f.txt", 1536);
        ::chmod(tree.Path("f.txt").c_str(), 04755);
        tree.MakeSymlink("/no/such/place", "dangling");

        PropertiesDialog file(tree.Path("f.txt"));
        QVERIFY(file.CurrentFigures().finished);
        QCOMPARE(file.FieldText(QStringLiteral("size")), QStringLiteral("1.500 KB (1,536 bytes)"));
        QCOMPARE(file.FieldText(QStringLiteral("permissions")),
                 QStringLiteral("-rwsr-xr-x (4755)"));
        QVERIFY(file.FieldText(QStringLiteral("contains")).isEmpty());
        QVERIFY(file.FieldText(QStringLiteral("type")).contains(QStringLiteral("text/plain")));

        PropertiesDialog link(tree.Path("dangling"));
        QCOMPARE(link.FieldText(QStringLiteral("type")), QStringLiteral("Symbolic link"));
        QCOMPARE(link.FieldText(QStringLiteral("target")), QStringLiteral("/no/such/place"));
        QCOMPARE(link.CurrentFigures().apparentBytes,
                 uint64_t(std::string("/no/such/place").size()));

        PropertiesDialog gone(tree.Path("gone"));
        QVERIFY(!gone.FieldText(QStringLiteral("error")).isEmpty());
    }

    void closingStopsTheCount() {
        TempTree tree;
        for (int i = 0; i < 300; ++i) {
            tree.MakeFile("big/d" + std::to_string(i) + "/e/f.txt", 1);
        }
        // Closed at once and destroyed at once: neither may wait for a whole
        // count nor leave a thread writing into a dead dialog.
        for (int round = 0; round < 20; ++round) {
            auto dialog = std::make_unique<PropertiesDialog>(tree.Path("big"));
            dialog->show();
            if (round % 2 == 0) {
                dialog->close();
                PropertiesDialog::Figures stopped = dialog->CurrentFigures();
                // Closed means the count has ended, not only been asked to.
                QVERIFY(stopped.finished ||
                        dialog->FieldText(QStringLiteral("contains")).endsWith(" (stopped)"));
                QCoreApplication::sendPostedEvents();
                QCoreApplication::processEvents();
                PropertiesDialog::Figures later = dialog->CurrentFigures();
                QCOMPARE(later.files, stopped.files);  // nothing counts after closing
                QCOMPARE(later.folders, stopped.folders);
            }
            dialog.reset();
        }
        PropertiesDialog whole(tree.Path("big"));
        QTRY_VERIFY_WITH_TIMEOUT(whole.CurrentFigures().finished, 30000);
        QCOMPARE(whole.CurrentFigures().files, 300u);
        QCOMPARE(whole.CurrentFigures().folders, 600u);
    }
};

QTEST_MAIN(PropertiesDialogTest)
#include "properties_dialog_test.moc"
