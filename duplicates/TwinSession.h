#pragma once
// The one owner of the twin list's workers: a duplicate scan, a filter
// search or a content verification runs as a job on the session's thread,
// never two at once, and never while another owner's walk still feeds the
// list (a combined scan, BeginFeed/EndFeed).
//
// Starting a job asks the running one to stop (its stop token) and starts a
// new thread that first waits for that job and for every feed to end. A job
// is claimed and started under the session's lock (Start's `claim`), so a
// check such as "no other job runs" and the start cannot be split by
// another thread. Only the latest job may give back what it claimed
// (ReleaseIfLatest): a superseded job never clears its successor's busy flag.
//
// Threads: every member may be called from any thread, except Wait() and the
// destructor from a job's own body. The destructor stops and joins the jobs;
// feeds must have ended before.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stop_token>
#include <thread>

namespace quarn {

class TwinSession {
  public:
    enum class Job : uint8_t { None, Scan, Search, Verify };

    // What a job's body is given: its stop token and its place in the order
    // of jobs.
    struct Ticket {
        std::stop_token stop;
        uint64_t generation = 0;
    };
    using Body = std::function<void(const Ticket&)>;

    TwinSession() = default;
    ~TwinSession();
    TwinSession(const TwinSession&) = delete;
    TwinSession& operator=(const TwinSession&) = delete;

    // Runs `claim` under the lock, given the job in hand (None when idle)
    // and whether a feed runs; it must not call back into the session. When
    // it returns true, supersedes the running job and starts `body`.
    // Returns what `claim` returned. No claim: always starts.
    using Claim = std::function<bool(Job current, bool feeding)>;
    bool Start(Job job, Body body, const Claim& claim = {});
    // Asks the running job to stop, without waiting.
    void RequestStop();
    // Waits until every job started so far has ended.
    void Wait();

    // The latest job while it (or a job it superseded) still runs, None once
    // all have ended.
    Job Current() const;
    bool JobRunning() const { return Current() != Job::None; }
    // A job that moves on to other work (a scan that verifies) says so.
    void Retag(const Ticket& ticket, Job job);
    // Runs `release` under the lock when `ticket` belongs to the latest job.
    void ReleaseIfLatest(const Ticket& ticket, const std::function<void()>& release);

    // Another owner's walk starts and ends feeding the list.
    void BeginFeed();
    void EndFeed();
    bool Feeding() const;
    void WaitForFeeds();

  private:
    void Run(Body body, std::jthread previous, const Ticket& ticket);

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::jthread m_thread;  // the latest job's; it joins the one before
    uint64_t m_generation = 0;
    int m_pending = 0;  // jobs started and not ended
    Job m_current = Job::None;
    int m_feeds = 0;
};

}  // namespace quarn
