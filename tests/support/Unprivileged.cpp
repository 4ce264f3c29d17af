#include "tests/support/Unprivileged.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/TempTree.h"

namespace quarn::test {

std::optional<std::string> RunUnprivileged(const std::function<std::string()>& check) {
    if (!RunningAsRoot()) {
        return check();
    }
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0) {
        return std::nullopt;
    }
    pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeEnds[0]);
        std::string result = "cannot drop privileges";
        if (::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0) {
            result = check();
        }
        if (::write(pipeEnds[1], result.data(), result.size()) < 0) {
            ::_exit(2);
        }
        ::_exit(0);
    }
    ::close(pipeEnds[1]);
    std::string result;
    char buffer[4096];
    for (ssize_t n; (n = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0;) {
        result.append(buffer, size_t(n));
    }
    ::close(pipeEnds[0]);
    ::waitpid(child, nullptr, 0);
    if (result == "cannot drop privileges") {
        return std::nullopt;
    }
    return result;
}

}  // namespace quarn::test
