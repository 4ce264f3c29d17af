// The progress line as a terminal receives it.

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "cli/ProgressLine.h"

namespace quarn::cli {
namespace {

// Runs `body` with stderr on a pseudo-terminal; returns what reached it.
template <typename Body>
std::string OnTerminal(Body body) {
    int master = -1;
    int slave = -1;
    struct termios raw {};
    cfmakeraw(&raw);
    if (::openpty(&master, &slave, nullptr, &raw, nullptr) != 0) {
        ADD_FAILURE() << "no pseudo-terminal";
        return {};
    }
    std::fflush(stderr);
    int saved = ::dup(STDERR_FILENO);
    ::dup2(slave, STDERR_FILENO);
    body();
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    ::close(slave);
    std::string received;
    ::fcntl(master, F_SETFL, O_NONBLOCK);
    char buffer[4096];
    for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;) {
        received.append(buffer, size_t(n));
    }
    ::close(master);
    return received;
}

TEST(ProgressLine, ControlBytesInAFolderNameReachTheTerminalDefused) {
    std::string received = OnTerminal([] {
        ProgressLine progress;
        ASSERT_TRUE(progress.Enabled());
        progress.Update(3, 7, "/tmp/a\033]0;title\007b\nc");
    });
    // The line's own erase sequence is the only escape sent.
    EXPECT_EQ(received, "\r\033[K3 folders, 7 files: /tmp/a?]0;title?b?c\r\033[K") << received;
}

}  // namespace
}  // namespace quarn::cli
