#include "history/BufferHandoff.h"

namespace quarn {

void BufferHandoff::Give(std::string& bytes) {
    std::unique_lock hold(m_lock);
    m_changed.wait(hold, [this] { return m_waiting.size() < m_maxWaiting; });
    m_waiting.push_back(std::move(bytes));
    if (m_spare.empty()) {
        bytes = std::string();
    } else {
        bytes = std::move(m_spare.back());
        m_spare.pop_back();
    }
    hold.unlock();
    m_changed.notify_all();
}

void BufferHandoff::Close() {
    {
        std::lock_guard hold(m_lock);
        m_closed = true;
    }
    m_changed.notify_all();
}

bool BufferHandoff::Take(std::string& bytes) {
    std::unique_lock hold(m_lock);
    m_changed.wait(hold, [this] { return !m_waiting.empty() || m_closed; });
    if (m_waiting.empty()) {
        return false;
    }
    bytes = std::move(m_waiting.front());
    m_waiting.pop_front();
    hold.unlock();
    m_changed.notify_all();  // room for a giver that waits
    return true;
}

void BufferHandoff::GiveBack(std::string& bytes) {
    std::lock_guard hold(m_lock);
    m_spare.push_back(std::move(bytes));
}

}  // namespace quarn
