#pragma once
// `quarn --bench-ui FOLDER`: opens the window, scans FOLDER as the Scan
// command does, and measures how long the interface thread was ever kept
// from running (the largest gap between the ticks of a 5 ms timer) and how
// long the scan took until the window showed its end. Prints one line:
//   scan_wall_s=<s> max_stall_ms=<ms> stall_end_s=<s> ticks=<n> items=<n>
// (stall_end_s: when the worst stall ended, seconds after the Scan command)
// For bench/ui_responsiveness.sh; not a user feature.

#include <string>

namespace quarn {

class UiBench {
  public:
    // Runs the measurement in the running application; `program` is the
    // program's name as started. Returns the exit code.
    static int Run(const std::string& program, const std::string& folder);
};

}  // namespace quarn
