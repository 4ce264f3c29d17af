#include "app/UiBench.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>

#include "app/MainApp.h"
#include "app/MainFrame.h"
#include "controls/PathCombo.h"
#include "foldersize/ui/FolderSizeView.h"
#include "foldersize/ui/FolderTreeModel.h"

namespace quarn {

int UiBench::Run(const std::string& program, const std::string& folder) {
    CMainFrame frame({program});
    frame.resize(CMainApp::kFrameWidth, CMainApp::kFrameHeight);
    frame.show();

    QElapsedTimer clock;
    qint64 lastTick = -1;
    qint64 maxGap = 0;
    qint64 maxGapAt = 0;
    int ticks = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (lastTick >= 0 && now - lastTick > maxGap) {
            maxGap = now - lastTick;
            maxGapAt = now;
        }
        lastTick = now;
        ++ticks;
    });

    qint64 scanNs = 0;
    bool walkEnded = false;
    QTimer watcher;
    watcher.setInterval(1);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        FolderTreeModel& model = frame.FolderView()->Model();
        if (!walkEnded) {
            if (frame.FolderScan().IsScanRunning()) {
                return;
            }
            // The walk is over; its last changes reach the window through
            // the model's own sliced refresh, as they do for a user.
            walkEnded = true;
            model.RefreshSoon();
            return;
        }
        if (model.IsRefreshing()) {
            return;
        }
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
    std::printf("scan_wall_s=%.3f max_stall_ms=%.1f stall_end_s=%.3f ticks=%d items=%lld\n",
                double(scanNs) / 1e9, double(maxGap) / 1e6, double(maxGapAt) / 1e9, ticks,
                static_cast<long long>(frame.FolderScan().Tree().GetRecordCount()));
    return 0;
}

}  // namespace quarn
