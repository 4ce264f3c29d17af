#pragma once
// Ctrl+C for the headless report: the first one asks the running scan to
// stop (the report then prints what was found and exits 130); a second one
// ends the process at once.

namespace quarn::cli {

void InstallInterruptHandler();
bool InterruptRequested();

}  // namespace quarn::cli
