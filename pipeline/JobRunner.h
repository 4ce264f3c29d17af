#pragma once
// The one owner of an engine's workers. A job (a scan, a refresh, an export,
// a verification, a search) runs on a thread of the runner's, never two at
// once, and never while another engine's walk still feeds this one (a
// combined scan: BeginFeed/EndFeed).
//
// Starting a job asks the running one to stop (its stop token) and starts a
// new thread that first joins that job and waits for every feed to end, so
// job bodies never overlap. A job is claimed and started under the runner's
// lock (Start's `claim`): a check such as "no other job runs" and the start
// cannot be split by another thread.
//
// The busy flag: set when a job is started, cleared by Cancel() and by the
// end of the latest job. Cancelling is clearing it: a walk tests it once per
// folder (Ticket::Cancelled) and ends, still finishing what it found. A job
// that was superseded never clears its successor's flag.
//
// Progress: the job (or a feed) publishes a ScanProgress snapshot; anyone
// reads it whole. The observer hears of every snapshot and of the runner
// going idle, on the thread that caused it; it must not block (a window
// queues the news to its own thread).
//
// Threads: every member may be called from any thread, except Wait() and the
// destructor from a job's own body. The destructor stops and joins the jobs;
// feeds must have ended before.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stop_token>
#include <thread>

#include "pipeline/ScanProgress.h"

namespace quarn {

class JobRunner {
  public:
    // What a job's body is given.
    struct Ticket {
        std::stop_token stop;
        uint64_t generation = 0;
        const JobRunner* runner = nullptr;
        // A newer job superseded this one, or the user cancelled.
        bool Cancelled() const {
            return stop.stop_requested() || !runner->m_busy.load(std::memory_order_relaxed);
        }
    };
    using Body = std::function<void(const Ticket&)>;
    // Asked under the runner's lock with the job in hand (None when idle),
    // whether the busy flag is set and whether a feed runs; must not call
    // back into the runner. True starts the job.
    using Claim = std::function<bool(JobKind current, bool busy, bool feeding)>;

    struct Observer {
        std::function<void()> progressed;  // a new snapshot was published
        std::function<void()> idle;        // the last running job has ended
    };

    JobRunner() = default;
    ~JobRunner();
    JobRunner(const JobRunner&) = delete;
    JobRunner& operator=(const JobRunner&) = delete;

    // Set before the first job.
    void SetObserver(Observer observer);

    // Runs `claim` under the lock; when it returns true (or there is none),
    // sets the busy flag (unless the job does not claim it: a search, which
    // any scan may supersede), supersedes the running job and starts `body`.
    // Returns whether it started.
    bool Start(JobKind kind, Body body, const Claim& claim = {}, bool claimsBusy = true);
    // Clears the busy flag: the running job ends at its next test.
    void Cancel() { m_busy.store(false); }
    bool IsBusy() const { return m_busy.load(); }
    // Asks the running job to stop without clearing the flag.
    void RequestStop();
    // Waits until every job started so far has ended.
    void Wait();
    // Waits at most `timeout`; true when no job runs any more.
    bool WaitFor(std::chrono::milliseconds timeout);

    // The latest job while it (or a job it superseded) still runs, None once
    // all have ended.
    JobKind Current() const;
    bool Running() const { return Current() != JobKind::None; }
    // A job that moves on to other work (a scan that verifies) says so.
    void Retag(const Ticket& ticket, JobKind kind);
    // Runs `release` under the lock when `ticket` belongs to the latest job.
    void ReleaseIfLatest(const Ticket& ticket, const std::function<void()>& release);

    // --- Progress ------------------------------------------------------------
    // Replaces the snapshot (its job, running, elapsed and serial are the
    // runner's) and tells the observer. The running job or a feed calls it,
    // at most every kProgressInterval while walking (ProgressThrottle), and
    // once when it has its closing text.
    void Publish(ScanProgress progress);
    ScanProgress Progress() const;
    static constexpr auto kProgressInterval = std::chrono::milliseconds(40);

    // --- Feeds ---------------------------------------------------------------
    // Another engine's walk starts and ends feeding this engine's data.
    void BeginFeed();
    void EndFeed();
    bool Feeding() const;
    void WaitForFeeds();

  private:
    void Run(Body body, std::jthread previous, const Ticket& ticket, bool claimedBusy);

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::jthread m_thread;  // the latest job's; it joins the one before
    uint64_t m_generation = 0;
    int m_pending = 0;  // jobs started and not ended
    JobKind m_current = JobKind::None;
    int m_feeds = 0;
    ScanProgress m_progress;
    std::chrono::steady_clock::time_point m_startedAt;
    std::atomic<bool> m_busy{false};
    Observer m_observer;  // set before the first job, then only read
};

// A job's own clock for its snapshots: Due() is true at most once per
// JobRunner::kProgressInterval. One job's thread only.
class ProgressThrottle {
  public:
    bool Due() {
        const auto now = std::chrono::steady_clock::now();
        if (m_first || now - m_last >= JobRunner::kProgressInterval) {
            m_first = false;
            m_last = now;
            return true;
        }
        return false;
    }

  private:
    bool m_first = true;
    std::chrono::steady_clock::time_point m_last;
};

}  // namespace quarn
