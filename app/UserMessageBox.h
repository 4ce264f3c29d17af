#pragma once
// Shows the messages that workers must put before the user ("App is
// busy..") in a message box on the interface thread, and holds the calling
// worker until the box is closed.
//
// The presenter may be called from any thread. On the interface thread it
// shows the box at once (never waits for itself). A worker waits for the
// box, but stops waiting once Shutdown() has been called, so a window that
// is closing can join its workers without a deadlock.

#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <atomic>
#include <deque>
#include <future>
#include <memory>
#include <mutex>

#include "platform/UserMessage.h"

namespace quarn {

class UserMessageBox {
  public:
    // `parent` (may be null) centres the box; it is watched, not owned.
    explicit UserMessageBox(QWidget* parent);
    ~UserMessageBox();
    UserMessageBox(const UserMessageBox&) = delete;
    UserMessageBox& operator=(const UserMessageBox&) = delete;

    // A presenter to install in the panes; it outlives this object safely.
    UserMessagePresenter Presenter() const;

    // From now on workers no longer wait and no box is shown any more
    // (the text goes to stderr instead). Interface thread.
    void Shutdown();

    // Shows `text` in a box with an OK button; interface thread.
    static void ShowBox(QWidget* parent, const QString& text);

    // How many workers' messages wait for the interface thread; any thread.
    size_t WaitingWorkers() const;

  private:
    // A worker's message waiting for the interface thread.
    struct Request {
        QString text;
        std::shared_ptr<std::promise<void>> closed;  // set once the box is closed
    };
    // Shared with every presenter. Workers hand their messages over through
    // `lock`, not through calls queued across threads: those synchronise
    // only inside Qt, where a race checker cannot see it.
    struct State {
        std::atomic<bool> alive{true};
        QPointer<QWidget> parent;  // interface thread only
        std::mutex lock;
        std::deque<Request> pending;  // guarded by `lock`
        QTimer* wakeup = nullptr;     // guarded by `lock`; null after Shutdown
    };
    // Shows the waiting messages one after the other; interface thread.
    static void ShowPending(State& state);

    std::shared_ptr<State> m_state;
    std::unique_ptr<QTimer> m_wakeup;  // started by a worker that queued a message
};

}  // namespace quarn
