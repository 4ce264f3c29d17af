#include "pipeline/JobRunner.h"

namespace quarn {

JobRunner::~JobRunner() {
    std::jthread last;
    {
        std::lock_guard lock(m_mutex);
        last = std::move(m_thread);
    }
    m_busy.store(false);
    last.request_stop();
    if (last.joinable()) {
        last.join();  // it joined every job before it
    }
}

void JobRunner::SetObserver(Observer observer) {
    std::lock_guard lock(m_mutex);
    m_observer = std::move(observer);
}

bool JobRunner::Start(JobKind kind, Body body, const Claim& claim, bool claimsBusy) {
    std::lock_guard lock(m_mutex);
    const JobKind current = m_pending > 0 ? m_current : JobKind::None;
    if (claim && !claim(current, m_busy.load(), m_feeds > 0)) {
        return false;
    }
    // Set here, not on the thread, so that a cancel right after the start
    // is not lost.
    if (claimsBusy) {
        m_busy.store(true);
    }
    std::jthread previous = std::move(m_thread);
    previous.request_stop();
    ++m_pending;
    m_current = kind;
    const uint64_t generation = ++m_generation;
    m_startedAt = std::chrono::steady_clock::now();
    m_progress.job = kind;
    m_progress.running = true;
    m_progress.files = 0;
    m_progress.folders = 0;
    m_progress.elapsed = {};
    m_thread = std::jthread(
        [this, generation, claimsBusy](std::stop_token stop, Body run, std::jthread before) {
            Run(std::move(run), std::move(before), Ticket{stop, generation, this}, claimsBusy);
        },
        std::move(body), std::move(previous));
    return true;
}

void JobRunner::Run(Body body, std::jthread previous, const Ticket& ticket, bool claimedBusy) {
    if (previous.joinable()) {
        previous.join();
    }
    WaitForFeeds();
    body(ticket);
    bool idle = false;
    {
        std::lock_guard lock(m_mutex);
        if (ticket.generation == m_generation) {
            if (claimedBusy) {
                m_busy.store(false);
            }
            m_progress.elapsed = std::chrono::steady_clock::now() - m_startedAt;
        }
        if (--m_pending == 0) {
            m_current = JobKind::None;
            m_progress.running = false;
            ++m_progress.serial;
            idle = true;
        }
    }
    m_changed.notify_all();
    if (idle && m_observer.idle) {
        m_observer.idle();
    }
}

void JobRunner::RequestStop() {
    std::lock_guard lock(m_mutex);
    m_thread.request_stop();
}

void JobRunner::Wait() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_pending == 0; });
}

bool JobRunner::WaitFor(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [this] { return m_pending == 0; });
}

JobKind JobRunner::Current() const {
    std::lock_guard lock(m_mutex);
    return m_current;
}

void JobRunner::Retag(const Ticket& ticket, JobKind kind) {
    std::lock_guard lock(m_mutex);
    if (ticket.generation == m_generation && m_pending > 0) {
        m_current = kind;
        m_progress.job = kind;
    }
}

void JobRunner::ReleaseIfLatest(const Ticket& ticket, const std::function<void()>& release) {
    std::lock_guard lock(m_mutex);
    if (ticket.generation == m_generation) {
        release();
    }
}

void JobRunner::Publish(ScanProgress progress) {
    {
        std::lock_guard lock(m_mutex);
        progress.job = m_progress.job;
        progress.running = m_pending > 0 || m_feeds > 0;
        progress.elapsed =
            progress.running ? std::chrono::steady_clock::now() - m_startedAt : m_progress.elapsed;
        progress.serial = m_progress.serial + 1;
        m_progress = std::move(progress);
    }
    if (m_observer.progressed) {
        m_observer.progressed();
    }
}

ScanProgress JobRunner::Progress() const {
    std::lock_guard lock(m_mutex);
    return m_progress;
}

void JobRunner::BeginFeed() {
    std::lock_guard lock(m_mutex);
    if (m_feeds++ == 0 && m_pending == 0) {
        // A feed counts as work from its start: its time and counts are its own.
        m_startedAt = std::chrono::steady_clock::now();
        m_progress.job = JobKind::Scan;
        m_progress.running = true;
        m_progress.files = 0;
        m_progress.folders = 0;
        m_progress.elapsed = {};
    }
}

void JobRunner::EndFeed() {
    bool idle = false;
    {
        std::lock_guard lock(m_mutex);
        if (--m_feeds == 0 && m_pending == 0) {
            m_progress.running = false;
            m_progress.elapsed = std::chrono::steady_clock::now() - m_startedAt;
            ++m_progress.serial;
            idle = true;
        }
    }
    m_changed.notify_all();
    if (idle && m_observer.idle) {
        m_observer.idle();
    }
}

bool JobRunner::Feeding() const {
    std::lock_guard lock(m_mutex);
    return m_feeds > 0;
}

void JobRunner::WaitForFeeds() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_feeds == 0; });
}

}  // namespace quarn
