#include "app/UserMessageBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

#include <chrono>
#include <cstdio>

namespace quarn {

UserMessageBox::UserMessageBox(QWidget* parent)
    : m_state(std::make_shared<State>()), m_wakeup(std::make_unique<QTimer>()) {
    m_state->parent = parent;
    m_wakeup->setSingleShot(true);
    m_wakeup->setInterval(0);
    State* state = m_state.get();
    QObject::connect(m_wakeup.get(), &QTimer::timeout, [state] { ShowPending(*state); });
    m_state->wakeup = m_wakeup.get();
}

UserMessageBox::~UserMessageBox() {
    Shutdown();
}

void UserMessageBox::Shutdown() {
    m_state->alive.store(false);
    std::lock_guard guard(m_state->lock);
    m_state->wakeup = nullptr;  // no worker starts the timer any more
}

void UserMessageBox::ShowPending(State& state) {
    for (;;) {
        Request request;
        {
            std::lock_guard guard(state.lock);
            if (state.pending.empty()) {
                return;
            }
            request = std::move(state.pending.front());
            state.pending.pop_front();
        }
        if (state.alive.load()) {
            ShowBox(state.parent, request.text);
        }
        request.closed->set_value();
    }
}

void UserMessageBox::ShowBox(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Quarn"), text, QMessageBox::Ok, parent);
    box.exec();
}

size_t UserMessageBox::WaitingWorkers() const {
    std::lock_guard guard(m_state->lock);
    return m_state->pending.size();
}

UserMessagePresenter UserMessageBox::Presenter() const {
    std::shared_ptr<State> state = m_state;
    return [state](const std::string& text) {
        if (!state->alive.load() || QCoreApplication::instance() == nullptr) {
            std::fprintf(stderr, "quarn: %s\n", text.c_str());
            return;
        }
        const QString message = QString::fromUtf8(text);
        if (QThread::currentThread() == QCoreApplication::instance()->thread()) {
            ShowBox(state->parent, message);
            return;
        }
        auto closed = std::make_shared<std::promise<void>>();
        std::future<void> waiting = closed->get_future();
        {
            std::lock_guard guard(state->lock);
            if (state->wakeup == nullptr) {
                std::fprintf(stderr, "quarn: %s\n", text.c_str());
                return;
            }
            state->pending.push_back(Request{message, closed});
            // By name: the timer lives on the interface thread, and no
            // functor of ours crosses over.
            QMetaObject::invokeMethod(state->wakeup, "start", Qt::QueuedConnection);
        }
        // Wait for the box, but not for a window that is going away.
        while (waiting.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
            if (!state->alive.load()) {
                return;
            }
        }
    };
}

}  // namespace quarn
