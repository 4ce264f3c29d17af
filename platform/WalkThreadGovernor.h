#pragma once
// How many threads a walk lists with when not told: as many as processors,
// more only while the listings wait for the disk (or the network) rather
// than for a processor. On a warm cache the walk is bound by the processors,
// and threads beyond them only add contention in the kernel; on a cold disk
// or a network share each listing mostly waits, and more requests in flight
// keep the device busy.
//
// Plain arithmetic on what the walk measured (WalkThreadClock.h), so that a
// test can feed it any figures.

#include <cstdint>

namespace quarn {

// Threads an adapting walk grows to at most.
inline constexpr unsigned kMaxAdaptiveWalkThreads = 16;
// How often an adapting walk looks at its threads.
inline constexpr int64_t kWalkSampleNanoseconds = 20'000'000;

// One interval of a walk, summed over its threads, in nanoseconds.
struct WalkTimeSpent {
    int64_t interval = 0;  // wall time the interval lasted
    int64_t working = 0;   // the threads' time not spent idle, waiting for a task
    int64_t cpu = 0;       // of that, on a processor
    int64_t queued = 0;    // ready to run, waiting for a processor
};

class WalkThreadGovernor {
  public:
    WalkThreadGovernor(unsigned processors, unsigned limit = kMaxAdaptiveWalkThreads);

    // The threads a walk starts with.
    unsigned Start() const { return m_start; }
    // The threads to go on with after an interval run on `threads`.
    unsigned Next(unsigned threads, const WalkTimeSpent& spent) const;

  private:
    unsigned m_processors;
    unsigned m_limit;
    unsigned m_start;
};

}  // namespace quarn
