#pragma once
// Runs a piece of a test in a child process that may hang or eat memory,
// and ends it when it takes too long or grows too big, so a fault shows as
// a failed test instead of a stuck or swapping machine.

#include <chrono>
#include <cstddef>
#include <functional>

namespace quarn::test {

struct ChildOutcome {
    bool ended = false;   // false: killed for taking too long or growing too big
    bool exited = false;  // ended through exit (not by a signal)
    int exitCode = -1;    // when exited
    int signal = 0;       // when ended by a signal
    bool tooBig = false;  // killed because its memory passed the bound
};

// Forks; the child runs `body` and exits with what it returns. The parent
// waits at most `limit` and kills the child when its resident memory passes
// `maxResidentBytes`. Call it while the test runs on one thread only.
ChildOutcome RunBoundedChild(const std::function<int()>& body, std::chrono::milliseconds limit,
                             size_t maxResidentBytes = size_t(512) << 20);

}  // namespace quarn::test
