#include "platform/WalkThreadGovernor.h"

#include <algorithm>

namespace quarn {

WalkThreadGovernor::WalkThreadGovernor(unsigned processors, unsigned limit)
    : m_processors(std::max(processors, 1u)),
      m_limit(std::max(limit, 1u)),
      m_start(std::min(m_processors, m_limit)) {}

unsigned WalkThreadGovernor::Next(unsigned threads, const WalkTimeSpent& spent) const {
    if (threads >= m_limit || spent.interval <= 0) {
        return threads;
    }
    // Threads that mostly idle wait for the sink or for folders to claim:
    // more of them would idle too.
    if (spent.working * 4 < spent.interval) {
        return threads;
    }
    // Time neither on a processor nor queued for one: blocked in the kernel,
    // which on a walk means waiting for the device.
    const int64_t blocked = spent.working - spent.cpu - spent.queued;
    if (blocked * 2 <= spent.working) {
        return threads;
    }
    // The processors are as busy as they get: another thread only queues.
    const int64_t given = int64_t(m_processors) * spent.interval;
    if ((spent.cpu + spent.queued) * 5 >= given * 4) {
        return threads;
    }
    // Grow by half, so that a cold walk reaches its depth in a few intervals.
    return std::min(m_limit, threads + std::max(1u, threads / 2));
}

}  // namespace quarn
