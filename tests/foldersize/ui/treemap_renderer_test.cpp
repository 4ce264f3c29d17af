// The treemap's picture and its worker: what is drawn, and that only the
// newest request's picture survives a burst of requests or the renderer's
// end.

#include <QTest>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "foldersize/ui/TreemapPainter.h"
#include "foldersize/ui/TreemapRenderer.h"

using quarn::TreemapLayout;
using quarn::TreemapPainter;
using quarn::TreemapRenderer;
using quarn::TreemapTree;
using Kind = quarn::TreemapTree::Kind;

namespace {

// A root with `folders` folders of `files` files each, sizes varied, the
// files coloured by palette entry or grey.
std::shared_ptr<TreemapTree> MakeTree(int folders, int files) {
    auto tree = std::make_shared<TreemapTree>();
    tree->rootPath = "/data";
    tree->AddRoot(0, 0, "data");
    std::vector<uint32_t> folderNodes;
    uint64_t total = 0;
    for (int f = 0; f < folders; ++f) {
        uint64_t bytes = uint64_t(files) * 1000 * uint64_t(f + 1);
        folderNodes.push_back(tree->AddChild(0, Kind::Folder, bytes, uint64_t(f + 1), "folder"));
        total += bytes;
    }
    for (int f = 0; f < folders; ++f) {
        for (int i = 0; i < files; ++i) {
            tree->AddChild(folderNodes[size_t(f)], Kind::File, 1000 * uint64_t(f + 1), 0,
                           "/data/folder/file.dat", i % 12 - 1);
        }
    }
    return tree;
}

}  // namespace

class TreemapRendererTest : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    // A picture of the asked size with the grid, the types' colours and
    // shading; an empty size or a cancel gives no picture.
    void paintsTilesInTheirColoursWithAGrid() {
        auto tree = MakeTree(3, 4);
        TreemapLayout layout;
        QImage image = TreemapPainter::Render(*tree, 0, QSize(400, 300), layout);
        QCOMPARE(image.size(), QSize(400, 300));
        std::set<QRgb> colours;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                colours.insert(image.pixel(x, y));
            }
        }
        QVERIFY(colours.size() > 50);  // shaded, not flat
        // A leaf tile's middle pixel has its type's hue; its last column is grid.
        bool sawPalette = false;
        for (const TreemapLayout::Tile& tile : layout.Tiles()) {
            if (tile.childTileCount > 0 || tree->At(tile.node).kind != Kind::File ||
                tile.rect.width < 10 || tile.rect.height < 10) {
                continue;
            }
            const QColor want = TreemapPainter::TypeColour(tree->At(tile.node).colour);
            const QColor got = image.pixelColor(int(tile.rect.x + tile.rect.width / 2),
                                                int(tile.rect.y + tile.rect.height / 2));
            QVERIFY2(
                std::abs(got.hslHue() - want.hslHue()) <= 8 || want.hslHue() < 0,
                qPrintable(QStringLiteral("hue %1 for %2").arg(got.hslHue()).arg(want.hslHue())));
            const QColor grid =
                image.pixelColor(tile.rect.Right() - 1, int(tile.rect.y + tile.rect.height / 2));
            QVERIFY(grid.value() < 60);
            sawPalette = sawPalette || want.hslHue() >= 0;
        }
        QVERIFY(sawPalette);

        QVERIFY(TreemapPainter::Render(*tree, 0, QSize(0, 10), layout).isNull());
        std::atomic<bool> cancel{true};
        QVERIFY(TreemapPainter::Render(*tree, 0, QSize(400, 300), layout, &cancel).isNull());
    }

    // A burst of requests: pictures arrive in the order asked, each of the
    // size its job asked for, and the last request's picture always arrives.
    void newestRequestWins() {
        auto tree = MakeTree(200, 200);
        std::mutex mutex;
        std::vector<std::pair<uint64_t, QSize>> got;  // serial, image size
        std::vector<QSize> asked;
        {
            TreemapRenderer renderer([&](TreemapRenderer::Picture picture) {
                std::lock_guard lock(mutex);
                QCOMPARE(picture.image.size(), picture.job.size);
                got.emplace_back(picture.serial, picture.image.size());
            });
            uint64_t last = 0;
            for (int i = 0; i < 40; ++i) {
                QSize size(300 + 10 * i, 200 + 5 * i);
                asked.push_back(size);
                last = renderer.Request({tree, 0, size, {}, 0, {}});
                QCOMPARE(last, uint64_t(i + 1));
                if (i % 8 == 0) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                }
            }
            QTRY_VERIFY_WITH_TIMEOUT(
                [&] {
                    std::lock_guard lock(mutex);
                    return !got.empty() && got.back().first == last;
                }(),
                20000);
        }
        std::lock_guard lock(mutex);
        for (size_t i = 0; i < got.size(); ++i) {
            QCOMPARE(got[i].second, asked[got[i].first - 1]);
            if (i > 0) {
                QVERIFY(got[i].first > got[i - 1].first);
            }
        }
    }

    // Destroying the renderer while it draws joins the worker: no picture
    // is delivered after the destructor has returned.
    void destroyingWhileDrawingDeliversNothingLater() {
        auto tree = MakeTree(400, 500);
        for (int round = 0; round < 5; ++round) {
            auto state = std::make_shared<std::atomic<int>>(0);  // 1: destroyed
            auto late = std::make_shared<std::atomic<int>>(0);
            {
                TreemapRenderer renderer([state, late](TreemapRenderer::Picture) {
                    if (state->load() == 1) {
                        ++*late;
                    }
                });
                renderer.Request({tree, 0, QSize(1600, 1000), {}, 0, {}});
                std::this_thread::sleep_for(std::chrono::milliseconds(round));
            }
            state->store(1);
            QCOMPARE(late->load(), 0);
            // Nobody holds the callback any more, so nothing can come later.
            QCOMPARE(state.use_count(), 1L);
        }
    }
};

QTEST_MAIN(TreemapRendererTest)
#include "treemap_renderer_test.moc"
