#include "tests/support/BoundedChild.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

namespace quarn::test {

namespace {

size_t ResidentBytes(pid_t pid) {
    std::ifstream statm("/proc/" + std::to_string(pid) + "/statm");
    size_t total = 0;
    size_t resident = 0;
    statm >> total >> resident;
    return resident * size_t(::sysconf(_SC_PAGESIZE));
}

}  // namespace

ChildOutcome RunBoundedChild(const std::function<int()>& body, std::chrono::milliseconds limit,
                             size_t maxResidentBytes) {
    std::fflush(stdout);
    std::fflush(stderr);
    pid_t child = ::fork();
    if (child == 0) {
        ::_exit(body());
    }
    ChildOutcome outcome;
    if (child < 0) {
        return outcome;
    }
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        int status = 0;
        pid_t done = ::waitpid(child, &status, WNOHANG);
        if (done == child) {
            outcome.ended = true;
            outcome.exited = WIFEXITED(status);
            outcome.exitCode = outcome.exited ? WEXITSTATUS(status) : -1;
            outcome.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
            return outcome;
        }
        outcome.tooBig = ResidentBytes(child) > maxResidentBytes;
        if (outcome.tooBig || std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
            }
            return outcome;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace quarn::test
