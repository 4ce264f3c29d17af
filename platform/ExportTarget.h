#pragma once
// Where an export goes: standard output ("-"), or a temporary file beside
// FILE that becomes FILE only when the export is whole, so that a failed or
// cancelled export leaves an older FILE as it was. Owned by one thread.

#include <string>

namespace quarn {

class ExportTarget {
  public:
    explicit ExportTarget(const std::string& file);
    // Removes the temporary file unless Commit put it in place.
    ~ExportTarget();
    ExportTarget(const ExportTarget&) = delete;
    ExportTarget& operator=(const ExportTarget&) = delete;

    // The descriptor to write to; -1 when the temporary could not be made
    // (OpenError says why).
    int Fd() const { return m_fd; }
    int OpenError() const { return m_error; }

    // Puts the whole export in place: 0, or the errno of what failed.
    int Commit();

  private:
    std::string m_file;
    std::string m_temporary;
    int m_fd = -1;
    int m_error = 0;
};

}  // namespace quarn
