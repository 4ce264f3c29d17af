// Worker messages: a box on the interface thread that holds the worker until
// it is closed, never a wait of the interface thread for itself, and no wait
// for a window that is closing.

#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <thread>

#include "app/UserMessageBox.h"

using quarn::UserMessageBox;

namespace {

// The text of the message box open now, closed again; empty when none is.
QString CloseOpenBox() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) {
        return {};
    }
    const QString text = box->text();
    box->accept();
    return text;
}

}  // namespace

class UserMessageBoxTest : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void workerWaitsUntilTheBoxIsClosed() {
        UserMessageBox messages(nullptr);
        const quarn::UserMessagePresenter present = messages.Presenter();
        std::atomic<bool> returned{false};
        std::thread worker([&] {
            present("App is busy..");
            returned = true;
        });
        // The box runs its own loop: look at the worker from inside it.
        bool seen = false;
        bool returnedWhileShown = true;
        QString text;
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&] {
            if (!seen && qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                seen = true;
                QTimer::singleShot(100, [&] {
                    returnedWhileShown = returned.load();
                    text = CloseOpenBox();
                });
            }
        });
        poll.start(10);
        QTRY_VERIFY(returned);
        QVERIFY(seen);
        QVERIFY(!returnedWhileShown);
        QCOMPARE(text, QStringLiteral("App is busy.."));
        worker.join();
    }

    void interfaceThreadShowsTheBoxWithoutWaitingForItself() {
        UserMessageBox messages(nullptr);
        QString seen;
        QTimer::singleShot(50, [&seen] { seen = CloseOpenBox(); });
        messages.Presenter()("BinBaum:: new TreeNode - exception");
        QCOMPARE(seen, QStringLiteral("BinBaum:: new TreeNode - exception"));
    }

    void closingWindowReleasesAWaitingWorker() {
        auto messages = std::make_unique<UserMessageBox>(nullptr);
        const quarn::UserMessagePresenter present = messages->Presenter();
        std::atomic<bool> returned{false};
        std::thread worker([&] {
            present("App is busy..");
            returned = true;
        });
        // The interface thread does not run its loop: it is "joining" once
        // the worker waits for its box.
        while (messages->WaitingWorkers() == 0) {
            std::this_thread::yield();
        }
        messages.reset();
        worker.join();
        QVERIFY(returned);
        // The box that was queued is not shown for a closed window.
        QCoreApplication::processEvents();
        QVERIFY(QApplication::activeModalWidget() == nullptr);
        // A presenter kept longer than its window prints instead of blocking.
        present("late");
    }
};

QTEST_MAIN(UserMessageBoxTest)
#include "user_message_box_test.moc"
