#include "platform/WalkThreadClock.h"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

namespace quarn {

namespace {

int64_t Nanoseconds(const timespec& time) {
    return int64_t(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

// "cpu-ns queued-ns timeslices" of one thread; false when unreadable.
bool ReadSchedulerFigures(pid_t thread, ThreadUsage& usage) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/task/%d/schedstat", int(thread));
    int file = ::open(path, O_RDONLY | O_CLOEXEC);
    if (file < 0) {
        return false;
    }
    char text[128];
    ssize_t length = ::read(file, text, sizeof text - 1);
    ::close(file);
    if (length <= 0) {
        return false;
    }
    text[length] = '\0';
    long long cpu = 0, queued = 0;
    if (std::sscanf(text, "%lld %lld", &cpu, &queued) != 2) {
        return false;
    }
    usage.cpu = cpu;
    usage.queued = queued;
    return true;
}

class SystemClock : public WalkThreadClock {
  public:
    int64_t Now() override {
        timespec now;
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        return Nanoseconds(now);
    }

    ThreadUsage UsageOf(const WalkThreadId& thread) override {
        ThreadUsage usage;
        if (thread.systemId != 0 && m_schedulerFigures) {
            if (ReadSchedulerFigures(thread.systemId, usage)) {
                return usage;
            }
            m_schedulerFigures = false;  // not on this system: do not try each time
        }
        clockid_t clock;
        timespec time;
        if (::pthread_getcpuclockid(thread.handle, &clock) == 0 &&
            ::clock_gettime(clock, &time) == 0) {
            usage.cpu = Nanoseconds(time);
        }
        return usage;
    }

    unsigned Processors() override {
        // The processors this process may use (taskset, containers), not all online.
        cpu_set_t allowed;
        if (::sched_getaffinity(0, sizeof allowed, &allowed) == 0) {
            int count = CPU_COUNT(&allowed);
            if (count > 0) {
                return unsigned(count);
            }
        }
        long online = ::sysconf(_SC_NPROCESSORS_ONLN);
        return online > 0 ? unsigned(online) : 1;
    }

  private:
    bool m_schedulerFigures = true;
};

}  // namespace

WalkThreadId CurrentWalkThread() {
    return WalkThreadId{::pthread_self(), ::gettid()};
}

std::shared_ptr<WalkThreadClock> SystemWalkThreadClock() {
    return std::make_shared<SystemClock>();
}

}  // namespace quarn
