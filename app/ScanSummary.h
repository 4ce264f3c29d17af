#pragma once
// What the second field of the status bar tells of the scan that filled a
// pane: how many files and folders it met and, once it has ended, how long it
// took ("1234 files, 56 folders in 1.23 s"; while it runs, the counts alone).
// The engines count and time their scans; these only word it.

#include <cstdint>
#include <optional>
#include <string>

namespace quarn {

// "N files, M folders", and " in S s" when `seconds` is given: 2 decimals
// below a minute, whole minutes and seconds above ("in 2 min 5 s").
std::string FormatScanSummary(int64_t files, int64_t folders, std::optional<double> seconds);

// What a folder scan could not read: "2 folders unreadable", "1 entry
// unreadable" (listed, then gone before it could be counted), or "2
// folders, 1 entry unreadable"; empty when it read everything.
std::string FormatUnreadableSummary(int64_t folders, int64_t entries);

}  // namespace quarn
