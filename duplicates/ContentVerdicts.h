#pragma once
// The verdicts of the last content verification, by file of the tree.
//
// Not thread-safe by itself: the twin list reads and writes it only under
// its row lock, so a row's Content text and the rows agree.

#include <string>
#include <unordered_map>

#include "duplicates/BinBaum.h"
#include "duplicates/ContentVerdict.h"

namespace quarn {

class ContentVerdicts {
  public:
    // A file never verified reads as NotVerified.
    FileVerdict Get(FileId file) const;
    // Why a changed or unread file is so; empty otherwise.
    std::string Reason(FileId file) const;

    void Set(FileId file, const FileVerdict& verdict, std::string reason = {});
    void Erase(FileId file);
    void Clear();
    // True when no file has a verdict (nothing was verified since the scan).
    bool Empty() const { return m_verdicts.empty(); }

  private:
    std::unordered_map<FileId, FileVerdict> m_verdicts;
    std::unordered_map<FileId, std::string> m_reasons;
};

}  // namespace quarn
