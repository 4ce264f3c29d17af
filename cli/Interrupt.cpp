#include "cli/Interrupt.h"

#include <unistd.h>
#include <csignal>

namespace quarn::cli {

namespace {

// A signal handler can only reach a global; this one is its whole state.
volatile std::sig_atomic_t g_interrupts = 0;

void OnInterrupt(int) {
    if (g_interrupts > 0) {
        ::_exit(130);
    }
    g_interrupts = 1;
}

}  // namespace

void InstallInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

bool InterruptRequested() {
    return g_interrupts > 0;
}

}  // namespace quarn::cli
