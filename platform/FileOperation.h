#pragma once
// Copying or moving a file or folder INTO a destination folder, the way a
// user expects from a file manager: symbolic links stay links (never
// followed), permissions and times are kept, nothing is overwritten without
// asking, progress is reported and the operation can be cancelled.
//
// A move within one filesystem is a rename. Across filesystems it is a copy
// followed by removing the source, and the source is only touched once the
// whole copy succeeded: a cancelled or failed move leaves the source as it
// was and removes what it had copied so far.
//
// Threading: Run() works entirely on the calling thread (normally a worker);
// the callbacks are called on that thread. The cancel flag may be set from
// any thread; it is checked between files and between blocks of a file.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quarn {

enum class ConflictAnswer { Overwrite, Skip, OverwriteAll, SkipAll, Cancel };

struct FileOperationProgress {
    uint64_t bytesDone = 0;
    uint64_t bytesTotal = 0;
    uint64_t filesDone = 0;  // entries of any kind (files, links, folders)
    uint64_t filesTotal = 0;
    std::string currentItem;  // source path being worked on
};

struct FileOperationCallbacks {
    // Called now and then (at least per entry and per few MB copied).
    std::function<void(const FileOperationProgress&)> progress;
    // Called before an existing entry `target` would be replaced by `source`.
    // Without it every conflict is skipped: nothing is overwritten unasked.
    std::function<ConflictAnswer(const std::string& target, const std::string& source)> askConflict;
    // Set by anyone to stop the operation; may be null.
    const std::atomic<bool>* cancel = nullptr;
};

enum class FileOperationStatus { Completed, Cancelled, Failed };

struct FileOperationResult {
    FileOperationStatus status = FileOperationStatus::Failed;
    std::string error;                 // for the user, when failed
    std::string target;                // destFolder + "/" + the source's name
    std::vector<std::string> skipped;  // sources left alone after a conflict answer

    bool Completed() const { return status == FileOperationStatus::Completed; }
};

class FileOperation {
  public:
    enum class Kind { Copy, Move };

    // Copies or moves `source` (file, link or folder) to destFolder/<its name>.
    // A folder that exists there already is merged into, asking per entry.
    // Refused (Failed) when destFolder is the source itself or lies inside
    // it, when the source already is in destFolder, or when either is missing.
    static FileOperationResult Run(Kind kind, const std::string& source,
                                   const std::string& destFolder,
                                   const FileOperationCallbacks& callbacks);

    // Several sources (the loose files of a folder) into destFolder as one
    // operation: each is carried as Run carries it, one after the other;
    // the progress runs over all of them, an "Overwrite All" or "Skip All"
    // answer holds for the rest, and the first failure or a cancel stops
    // the rest (the sources carried before stay where they went). The
    // result's `target` is destFolder.
    static FileOperationResult RunMany(Kind kind, const std::vector<std::string>& sources,
                                       const std::string& destFolder,
                                       const FileOperationCallbacks& callbacks);
};

}  // namespace quarn
