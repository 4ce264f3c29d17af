#include "duplicates/TwinSession.h"

namespace quarn {

TwinSession::~TwinSession() {
    std::jthread last;
    {
        std::lock_guard lock(m_mutex);
        last = std::move(m_thread);
    }
    last.request_stop();
    if (last.joinable()) {
        last.join();  // it joined every job before it
    }
}

bool TwinSession::Start(Job job, Body body, const Claim& claim) {
    std::lock_guard lock(m_mutex);
    if (claim && !claim(m_pending > 0 ? m_current : Job::None, m_feeds > 0)) {
        return false;
    }
    std::jthread previous = std::move(m_thread);
    previous.request_stop();
    ++m_pending;
    m_current = job;
    uint64_t generation = ++m_generation;
    m_thread = std::jthread(
        [this, generation](std::stop_token stop, Body run, std::jthread before) {
            Run(std::move(run), std::move(before), Ticket{stop, generation});
        },
        std::move(body), std::move(previous));
    return true;
}

void TwinSession::Run(Body body, std::jthread previous, const Ticket& ticket) {
    if (previous.joinable()) {
        previous.join();
    }
    WaitForFeeds();
    body(ticket);
    {
        std::lock_guard lock(m_mutex);
        if (--m_pending == 0) {
            m_current = Job::None;
        }
    }
    m_changed.notify_all();
}

void TwinSession::RequestStop() {
    std::lock_guard lock(m_mutex);
    m_thread.request_stop();
}

void TwinSession::Wait() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_pending == 0; });
}

TwinSession::Job TwinSession::Current() const {
    std::lock_guard lock(m_mutex);
    return m_current;
}

void TwinSession::Retag(const Ticket& ticket, Job job) {
    std::lock_guard lock(m_mutex);
    if (ticket.generation == m_generation && m_pending > 0) {
        m_current = job;
    }
}

void TwinSession::ReleaseIfLatest(const Ticket& ticket, const std::function<void()>& release) {
    std::lock_guard lock(m_mutex);
    if (ticket.generation == m_generation) {
        release();
    }
}

void TwinSession::BeginFeed() {
    std::lock_guard lock(m_mutex);
    ++m_feeds;
}

void TwinSession::EndFeed() {
    {
        std::lock_guard lock(m_mutex);
        --m_feeds;
    }
    m_changed.notify_all();
}

bool TwinSession::Feeding() const {
    std::lock_guard lock(m_mutex);
    return m_feeds > 0;
}

void TwinSession::WaitForFeeds() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_feeds == 0; });
}

}  // namespace quarn
