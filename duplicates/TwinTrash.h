#pragma once
// Move to Trash for the twin list: what moving some files to the trash would
// do (for the question asked first), and the move itself, each file only
// after re-checking it. A file must still be the file the scan saw, and
// another file with the same bytes must stay: a verified identical copy
// still there, another link of the same inode, or, for an unverified file,
// a twin whose bytes prove equal now. Every file that went leaves its group
// and its rows, a group without a twin left leaves the list, and the status
// follows. A twin folder goes only when every file inside is still what
// the search saw, nothing was added, and another copy is still whole.
//
// The interface thread, while no job of the engine works on its index.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "duplicates/TwinScanner.h"
#include "platform/Trash.h"

namespace quarn {

class TwinTrash {
  public:
    struct Plan {
        int files = 0;
        uint64_t bytes = 0;              // the sizes of the files that free space
        int freeingNothing = 0;          // hard links of a file that stays
        std::vector<bool> freesNothing;  // parallel to the files asked about
    };
    static Plan PlanTrash(const TwinScanner& twins, const std::vector<RowSource>& files);

    enum class Verdict {
        Trashed,
        Busy,       // a job runs: nothing was done
        Changed,    // no longer the file the scan saw
        LastOfSet,  // no other file with the same bytes stays
        Differs,    // its bytes are not another file's
        Unread,     // it, or what it was compared with, could not be read
        Failed,     // the trash did not take it
        Reference,  // it lies in a reference folder: never touched
    };
    struct Outcome {
        std::string path;
        Verdict verdict = Verdict::Failed;
        std::string reason;  // for the user; empty when trashed
        uint64_t bytes = 0;  // the file's size
    };
    // Moves the file to the trash when it is still `expected`; the default
    // is MoveToTrash.
    using Mover = std::function<TrashResult(const std::string& path, const FileIdentity& expected)>;
    // Trashes `files` one after another, each only after the re-check.
    static std::vector<Outcome> TrashFiles(TwinScanner& twins, const std::vector<RowSource>& files,
                                           const Mover& mover = {});

  private:
    static Outcome CheckBeforeTrash(TwinScanner& twins, GroupId group, FileId file,
                                    const std::string& path);
    // A twin folder: every file the search saw inside is still as it was,
    // nothing else is inside, and another copy of the folder is still whole.
    static Outcome CheckFolderBeforeTrash(TwinScanner& twins, GroupId group, FileId file,
                                          const std::string& path);
};

}  // namespace quarn
