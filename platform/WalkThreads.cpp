#include <unistd.h>

#include <algorithm>
#include <system_error>

#include "platform/ParallelWalker.h"

// How many threads list: fixed when the walk was told, else as the governor
// decides from what the threads measured (WalkThreadGovernor.h).

namespace quarn {

unsigned DefaultWalkThreads() {
    return WalkThreadGovernor(SystemWalkThreadClock()->Processors()).Start();
}

namespace walk {

void Walker::StartMeasuring() {
    if (!m_adaptive) {
        return;
    }
    m_slots = std::make_unique<ThreadSlot[]>(m_threadLimit);
    const int64_t now = m_clock->Now();
    m_lastSample = now;
    ThreadSlot& walking = m_slots[0];
    walking.id = CurrentWalkThread();
    walking.lastWall = now;
    walking.lastUsage = m_clock->UsageOf(walking.id);  // what it used before the walk
}

void Walker::StartWorkers() {
    while (m_workers.size() + 1 < m_threadCount) {
        const size_t slot = m_workers.size() + 1;
        if (m_adaptive) {
            ThreadSlot& fresh = m_slots[slot];
            fresh.lastWall = m_clock->Now();  // its usage counts from 0 at its start
        }
        try {
            m_workers.emplace_back([this, slot] { WorkerMain(slot); });
        } catch (const std::system_error&) {
            m_threadCount = unsigned(m_workers.size() + 1);  // slower, not wrong
            break;
        }
        if (m_adaptive) {
            std::lock_guard lock(m_mutex);
            m_slots[slot].id.handle = m_workers.back().native_handle();
        }
    }
    if (m_threadsUsed) {
        m_threadsUsed->store(m_threadCount);
    }
}

void Walker::AdaptThreadCount() {
    if (m_threadCount >= m_threadLimit || m_slots == nullptr) {
        return;
    }
    const int64_t now = m_clock->Now();
    if (now - m_lastSample < kWalkSampleNanoseconds) {
        return;
    }
    const size_t threads = m_workers.size() + 1;
    WalkThreadId ids[kMaxThreads];
    int64_t idle[kMaxThreads];
    {
        std::lock_guard lock(m_mutex);
        for (size_t i = 0; i < threads; ++i) {
            const ThreadSlot& slot = m_slots[i];
            ids[i] = slot.id;
            idle[i] = slot.idleTotal + (slot.idleSince != 0 ? now - slot.idleSince : 0);
        }
    }
    WalkTimeSpent spent;
    spent.interval = now - m_lastSample;
    for (size_t i = 0; i < threads; ++i) {
        ThreadSlot& slot = m_slots[i];
        const ThreadUsage usage = m_clock->UsageOf(ids[i]);
        const int64_t wall = now - slot.lastWall;
        spent.working += std::clamp(wall - (idle[i] - slot.lastIdle), int64_t(0), wall);
        spent.cpu += std::max(usage.cpu - slot.lastUsage.cpu, int64_t(0));
        spent.queued += std::max(usage.queued - slot.lastUsage.queued, int64_t(0));
        slot.lastWall = now;
        slot.lastIdle = idle[i];
        slot.lastUsage = usage;
    }
    m_lastSample = now;
    const unsigned next = m_governor.Next(m_threadCount, spent);
    if (next > m_threadCount) {
        m_threadCount = std::min(next, m_threadLimit);
        StartWorkers();
    }
}

void Walker::BeginIdle(size_t slot) {
    if (m_slots != nullptr) {
        m_slots[slot].idleSince = m_clock->Now();
    }
}

void Walker::EndIdle(size_t slot) {
    if (m_slots != nullptr) {
        ThreadSlot& idle = m_slots[slot];
        idle.idleTotal += m_clock->Now() - idle.idleSince;
        idle.idleSince = 0;
    }
}

}  // namespace walk

}  // namespace quarn
