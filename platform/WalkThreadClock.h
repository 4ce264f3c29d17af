#pragma once
// What a walk measures to decide how many threads to list with: the time,
// and how each of its threads spent it. An interface, so that a test can
// drive the decision with a clock of its own (WalkOptions::clock).

#include <pthread.h>
#include <sys/types.h>

#include <cstdint>
#include <memory>

namespace quarn {

// A thread's running totals since it started, in nanoseconds.
struct ThreadUsage {
    int64_t cpu = 0;     // on a processor
    int64_t queued = 0;  // ready to run, waiting for a processor (0 when unknown)
};

// A thread of the walk as the clock can find it.
struct WalkThreadId {
    pthread_t handle{};
    pid_t systemId = 0;  // gettid(); 0 when unknown
};

class WalkThreadClock {
  public:
    virtual ~WalkThreadClock() = default;
    // Monotonic nanoseconds. May be called from any thread.
    virtual int64_t Now() = 0;
    // The thread's totals; called from the walking thread only.
    virtual ThreadUsage UsageOf(const WalkThreadId& thread) = 0;
    // Processors the walk may run on.
    virtual unsigned Processors() = 0;
};

// The calling thread, as UsageOf finds it.
WalkThreadId CurrentWalkThread();

// The system's clocks: CLOCK_MONOTONIC, and per thread the kernel's
// scheduler figures (/proc/self/task/ID/schedstat), or the thread's CPU
// clock alone where those cannot be read.
std::shared_ptr<WalkThreadClock> SystemWalkThreadClock();

}  // namespace quarn
