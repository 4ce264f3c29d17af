#pragma once
// Hands filled byte buffers from one thread to another in order, and the
// emptied ones back for reuse. At most `maxWaiting` buffers wait: a giver
// that gets that far ahead waits too, so memory stays bounded when the taker
// is the slower one, while a burst of giving never waits on the taker.

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace quarn {

class BufferHandoff {
  public:
    explicit BufferHandoff(size_t maxWaiting) : m_maxWaiting(maxWaiting) {}

    // The giver: queues `bytes` and leaves another buffer in its place: one
    // given back (its old bytes still in it, to be written over) or a new,
    // empty one.
    void Give(std::string& bytes);
    // The giver: no more buffers come.
    void Close();

    // The taker: the next buffer into `bytes`, waiting for one; false once
    // the giver closed and every buffer was taken.
    bool Take(std::string& bytes);
    // The taker: a buffer it is done with, for reuse as it is (not cleared:
    // the giver writes over it without paying to zero it again).
    void GiveBack(std::string& bytes);

  private:
    const size_t m_maxWaiting;
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<std::string> m_waiting;
    std::vector<std::string> m_spare;
    bool m_closed = false;
};

}  // namespace quarn
