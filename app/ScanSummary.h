#pragma once
// What the second field of the status bar tells of the scan that filled a
// pane: how many files and folders it met and, once it has ended, how long it
// took ("1234 files, 56 folders in 1.23 s"; while it runs, the counts alone).
//
// The frame keeps one per pane: a combined walk fills both, so both count
// from the same walk. UI thread only.

#include <chrono>
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

class CScanSummary {
  public:
    // Which engine's counters the pane's last scan is read from.
    enum class Source { None, FolderWalk, TwinWalk };

    // A walk of `source` starts filling the pane now.
    void Start(Source source);
    // The walk's worker has ended: the time stops.
    void Finish();

    bool IsRunning() const { return m_bRunning; }
    Source GetSource() const { return m_source; }

    // The field's text for the source's counters; empty before any scan.
    std::string Text(int64_t files, int64_t folders) const;

  private:
    Source m_source = Source::None;
    bool m_bRunning = false;
    std::chrono::steady_clock::time_point m_started;
    std::chrono::steady_clock::duration m_took{};
};

}  // namespace quarn
