#pragma once
// What kept a scan from reading the whole of a folder, kept only for the few
// folders it happened to: a side table by folder number, so that the usual
// tree pays nothing per item. A folder that could not be opened or listed
// counts as empty (what its listing gave before it broke off still counts);
// an entry that was listed but could not be stat'ed (it vanished in between)
// is not counted. Both are counted here, and the reasons are kept as errno
// values; texts are made when shown.
//
// Not thread-safe: the owner guards it.

#include <cstdint>
#include <string>
#include <unordered_map>

namespace quarn {

class FolderReadProblems {
  public:
    struct Problem {
        int error = 0;         // errno of the folder's open or listing; 0: it was read
        uint32_t skipped = 0;  // entries listed but not counted
        int skipError = 0;     // errno of the last of them
    };

    // The folder could not be opened, or its listing broke off.
    void SetUnreadable(uint32_t folder, int error);
    // An entry of the folder was listed but not counted.
    void AddSkipped(uint32_t folder, int error);
    // Puts `problem` in place of whatever `folder` had (a refresh's findings).
    void Put(uint32_t folder, const Problem& problem);
    // The problems of `folder`, null when it was read whole.
    const Problem* Find(uint32_t folder) const;
    // Forgets the folder (it left the tree); the counts follow.
    void Erase(uint32_t folder);
    void Clear();

    // Folders that could not be read, and entries skipped, in the table.
    int64_t UnreadableFolders() const { return m_unreadableFolders; }
    int64_t SkippedEntries() const { return m_skippedEntries; }
    const std::unordered_map<uint32_t, Problem>& All() const { return m_byFolder; }

    // The reason as the user reads it: the system's text of the folder's
    // error ("Permission denied"), and a line on skipped entries ("2 entries
    // could not be read: No such file or directory"). Empty for no problem.
    static std::string Describe(const Problem& problem);

  private:
    std::unordered_map<uint32_t, Problem> m_byFolder;
    int64_t m_unreadableFolders = 0;
    int64_t m_skippedEntries = 0;
};

}  // namespace quarn
