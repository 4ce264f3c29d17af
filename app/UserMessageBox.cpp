#include "app/UserMessageBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

#include <chrono>
#include <cstdio>
#include <future>

namespace quarn {

CUserMessageBox::CUserMessageBox(QWidget* parent) : m_state(std::make_shared<State>()) {
    m_state->parent = parent;
}

CUserMessageBox::~CUserMessageBox() {
    Shutdown();
}

void CUserMessageBox::Shutdown() {
    m_state->alive.store(false);
}

void CUserMessageBox::ShowBox(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Quarn"), text, QMessageBox::Ok, parent);
    box.exec();
}

UserMessagePresenter CUserMessageBox::Presenter() const {
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
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [state, message, closed] {
                if (state->alive.load()) {
                    ShowBox(state->parent, message);
                }
                closed->set_value();
            },
            Qt::QueuedConnection);
        // Wait for the box, but not for a window that is going away.
        while (waiting.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
            if (!state->alive.load()) {
                return;
            }
        }
    };
}

}  // namespace quarn
