#pragma once
// Ctrl+C for the headless report. The first interrupt asks the running scan
// to stop; the report then prints what was found, whole, and exits 130.
// Interrupts that follow while that report is being made and written are
// ignored: `timeout -s INT` and a terminal both signal the whole process
// group, so one keypress or timeout can deliver two, and the second must not
// throw the partial report away. Once the report has been written
// (ReportWritten) an interrupt ends the program at once. SIGTERM is left to
// its default and always ends the program at once.
//
// Install and query from the report's main thread; the state is the one
// flag a signal handler may touch.

namespace quarn::cli {

// Takes over SIGINT. Calling it again changes nothing.
void InstallInterruptHandler();

// True once an interrupt has come.
bool InterruptRequested();

// The report is out: from now on an interrupt ends the program (exit 130).
void ReportWritten();

}  // namespace quarn::cli
