#include "cli/Interrupt.h"

#include <unistd.h>

#include <csignal>

namespace quarn::cli {

namespace {

// A signal handler can only reach globals: whether an interrupt came, and
// whether the report is out already.
volatile std::sig_atomic_t g_interrupted = 0;
volatile std::sig_atomic_t g_written = 0;

void OnInterrupt(int) {
    if (g_written != 0) {
        ::_exit(130);
    }
    g_interrupted = 1;  // a repeat while the report is made changes nothing
}

}  // namespace

void InstallInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
}

bool InterruptRequested() {
    return g_interrupted != 0;
}

void ReportWritten() {
    g_written = 1;
}

}  // namespace quarn::cli
