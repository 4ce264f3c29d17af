#pragma once
// The short texts of the folder-size pane: size texts, percentages, the
// files-item text and the status texts a scan leaves for the status bar.
// Pure functions; any thread.

#include <cstdint>
#include <string>

namespace quarn {

// "%.3f GB" from 2^30 bytes, "%.3f MB" from 2^20, otherwise "%.3f KB";
// 1024-based, the unit chosen before rounding (2^30 - 1 is "1024.000 MB").
std::string FormatSize(uint64_t bytes);

// The share of `size` in `denominator` as 0..100: size / denominator * 100
// + 0.9f in double precision, rounded to single precision and truncated, so
// every share of at least 0.1 % shows 1 and of at least 99.1 % shows 100;
// more than the whole shows 100. The denominator must not be 0.
int PercentOf(uint64_t size, uint64_t denominator);

// "%d%%": the text drawn inside a percentage bar.
std::string PercentText(int percent);

// "[1 file ]" (a blank before the bracket) or "[12 files]".
std::string FilesItemText(int64_t fileCount);

// The status texts of a finished scan.
// "Ready - %s [%s], %d files, %d foders, Exceptions: %d"
std::string NetworkReadyStatus(const std::string& scanPath, uint64_t total, int64_t files,
                               int64_t folders, int64_t exceptions);
// "%.3s [free %s]" with the mount point that holds the scan path.
std::string FreeSpaceStatus(const std::string& mountPoint, uint64_t freeToCaller);
// "Ready"
inline constexpr const char* kReadyStatus = "Ready";
// Shown when a scan is started while one runs.
inline constexpr const char* kAppIsBusyMessage = "App is busy..";

}  // namespace quarn
