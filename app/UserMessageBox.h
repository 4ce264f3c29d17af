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
#include <QWidget>

#include <atomic>
#include <memory>

#include "platform/UserMessage.h"

namespace quarn {

class CUserMessageBox {
  public:
    // `parent` (may be null) centres the box; it is watched, not owned.
    explicit CUserMessageBox(QWidget* parent);
    ~CUserMessageBox();
    CUserMessageBox(const CUserMessageBox&) = delete;
    CUserMessageBox& operator=(const CUserMessageBox&) = delete;

    // A presenter to install in the panes; it outlives this object safely.
    UserMessagePresenter Presenter() const;

    // From now on workers no longer wait and no box is shown any more
    // (the text goes to stderr instead). Interface thread.
    void Shutdown();

    // Shows `text` in a box with an OK button; interface thread.
    static void ShowBox(QWidget* parent, const QString& text);

  private:
    struct State {
        std::atomic<bool> alive{true};
        QPointer<QWidget> parent;
    };
    std::shared_ptr<State> m_state;
};

}  // namespace quarn
