#pragma once
// Announces changes of a store to one listener, coalesced.
//
// Workers change a store under its lock and call Notify(); only the first
// call after the listener's last Acknowledge() reaches the poster, so a walk
// that changes a store 100,000 times posts a handful of refreshes. The poster
// must not block (a Qt model queues a refresh to its own thread).

#include <atomic>
#include <functional>
#include <mutex>

namespace quarn {

class ChangeNotifier {
  public:
    using Poster = std::function<void()>;

    // Any thread. An empty poster detaches the listener.
    void SetPoster(Poster poster) {
        std::lock_guard lock(m_posterMutex);
        m_poster = std::move(poster);
        m_pending.store(false);
    }

    // Any thread, after the change has been made.
    void Notify() {
        if (m_pending.exchange(true, std::memory_order_acq_rel)) {
            return;
        }
        std::lock_guard lock(m_posterMutex);
        if (m_poster) {
            m_poster();
        }
    }

    // The listener's thread, before it reads the store: later changes post again.
    void Acknowledge() { m_pending.store(false, std::memory_order_release); }

  private:
    std::atomic<bool> m_pending{false};
    std::mutex m_posterMutex;
    Poster m_poster;
};

}  // namespace quarn
