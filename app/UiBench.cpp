#include "app/UiBench.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>

#include "app/MainApp.h"
#include "app/MainFrame.h"
#include "controls/PathCombo.h"
#include "foldersize/ui/FolderTreeModel.h"
#include "foldersize/ui/FolderTreeView.h"

namespace quarn {

int CUiBench::Run(const std::vector<std::string>& arguments) {
    if (arguments.size() < 3) {
        std::fprintf(stderr, "usage: quarn --bench-ui FOLDER\n");
        return 2;
    }
    const std::string folder = arguments[2];
    CMainFrame frame({arguments[0]});
    frame.resize(CMainApp::kFrameWidth, CMainApp::kFrameHeight);
    frame.show();

    QElapsedTimer clock;
    qint64 lastTick = -1;
    qint64 maxGap = 0;
    int ticks = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (lastTick >= 0) {
            maxGap = std::max(maxGap, now - lastTick);
        }
        lastTick = now;
        ++ticks;
    });

    qint64 scanNs = 0;
    QTimer watcher;
    watcher.setInterval(1);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (frame.FolderView().IsScanRunning()) {
            return;
        }
        // The scan is over once its last changes are on the screen.
        frame.FolderTree()->Model().ApplyChanges();
        scanNs = clock.nsecsElapsed();
        watcher.stop();
        // Keep ticking a little: the painting of the final tree counts too.
        QTimer::singleShot(300, qApp, &QCoreApplication::quit);
    });

    QTimer::singleShot(200, [&] {
        frame.PathCombo()->AddPath(folder);
        clock.start();
        ticker.start();
        frame.OnScan();
        watcher.start();
    });
    QApplication::exec();
    std::printf("scan_wall_s=%.3f max_stall_ms=%.1f ticks=%d items=%lld\n", double(scanNs) / 1e9,
                double(maxGap) / 1e6, ticks,
                static_cast<long long>(frame.FolderView().GetRecordCount()));
    return 0;
}

}  // namespace quarn
