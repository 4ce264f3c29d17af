#pragma once
// One self-overwriting progress line on stderr while a report scans, shown
// only when stderr is a terminal and at most ten times a second.

#include <chrono>
#include <cstdint>
#include <string>

namespace quarn::cli {

class ProgressLine {
  public:
    ProgressLine();
    ~ProgressLine();

    bool Enabled() const { return m_enabled; }
    // Cheap to call often: prints only when the last print is 100 ms old.
    void Update(int64_t folders, int64_t files, const std::string& currentFolder);
    // Erases the line (before the report itself is printed).
    void Clear();

  private:
    bool m_enabled;
    bool m_shown = false;
    std::chrono::steady_clock::time_point m_lastPrint;
};

}  // namespace quarn::cli
