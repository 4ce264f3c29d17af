#pragma once
// The engine behind FileOperation: one copy, move or removal of a tree,
// worked through by folder handles. FileOperation.cpp walks the trees,
// moves and removes; FileCopy.cpp copies entries. Nothing here is for other
// code.

#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/FileOperation.h"
#include "platform/FolderChain.h"

namespace quarn::fileop {

inline constexpr size_t kCopyBlock = 1 << 20;

std::string ErrnoText(int error);
// A folder's handle, never through a link; -1 with errno set when it fails.
int OpenFolderAt(int parent, const std::string& name);
// renameat that never replaces what stands at `to` (EEXIST).
int RenameNoReplaceAt(int fromFolder, const std::string& from, int toFolder, const std::string& to);
// A name beside `name` for building its replacement before it takes its
// place, so that the old entry stays whole until the new one is complete.
std::string PartName(std::string name, int attempt);

class Engine {
  public:
    Engine(FileOperation::Kind kind, const FileOperationCallbacks& callbacks)
        : m_kind(kind), m_callbacks(callbacks) {}

    FileOperationResult Run(const std::string& rawSource, const std::string& rawDest);

  private:
    enum class Step { Ok, Stop };  // Stop: cancelled or failed, see m_status

    // A folder whose entries are being worked through.
    struct Frame {
        std::string name;  // its name in its parent
        std::vector<std::string> names;
        size_t next = 0;
        size_t sourceLength = 0;  // its paths' lengths in m_source and m_target
        size_t targetLength = 0;
        struct stat status {};  // the source folder's (a copy sets it on the copy)
        bool finish = false;    // a copy made or replaced the target folder
        bool madeByUs = false;  // the target folder or one above it is the copy's own
        bool keep = false;      // a removal keeps it: something in it stays
    };
    // The way down the source tree and the target tree, in step.
    struct Descent {
        FolderChain sources;
        FolderChain targets;
        std::vector<Frame> frames;
    };

    bool Cancelled() const { return m_callbacks.cancel != nullptr && m_callbacks.cancel->load(); }
    Step Fail(const std::string& text) {
        m_status = FileOperationStatus::Failed;
        m_error = text;
        return Step::Stop;
    }
    Step Cancel() {
        m_status = FileOperationStatus::Cancelled;
        return Step::Stop;
    }
    void Report(bool force = false);
    void Count(const std::string& source, const struct stat& st);
    // True = replace the existing target; false = leave it (skipped) or
    // stop (then m_status says why).
    bool MayOverwrite();
    // The source stays where it is: a move must not remove it.
    void KeepSource();

    // Makes m_source and m_target the paths of the entry `name` of `frame`.
    void EnterName(const Frame& frame, const std::string& name);
    // Opens the folder `name` on both sides, lists the source's entries and
    // makes it the current frame.
    Step Descend(Descent& descent, const std::string& name);
    // Leaves the current frame on both sides.
    Step Ascend(Descent& descent);

    Step MoveTree(int sourceParent, int targetParent, const std::string& name);
    Step MoveEntry(Descent& descent, const std::string& name);
    Step CopyTree(int sourceParent, int targetParent, const std::string& name);
    Step CopyEntry(Descent& descent, const std::string& name);
    Step CopyFile(int sourceDir, int targetDir, const std::string& name, const struct stat& st,
                  bool replace, bool insideMade);
    // Copies the rest of `in` to `out`; returns what failed, or nothing.
    std::string CopyData(int in, int out, const struct stat& st, bool& cancelled);
    Step CopyLink(int sourceDir, int targetDir, const std::string& name, const struct stat& st,
                  bool replace, bool insideMade);
    Step CopySpecial(int sourceDir, int targetDir, const std::string& name, const struct stat& st,
                     bool replace, bool insideMade);
    Step PlaceReplacement(int targetDir, const std::string& part, const std::string& name,
                          bool replace, bool insideMade);
    // Removes the tree `name` below `parent` (m_source holds its path), but
    // not what m_keep names when `keepSkipped`. On failure says what in `error`.
    bool RemoveTree(int parent, const std::string& name, bool keepSkipped, std::string& error);
    bool HasKeptBelow(const std::string& relative) const;
    void RollBack(int destFolder);

    FileOperation::Kind m_kind;
    const FileOperationCallbacks& m_callbacks;
    FileOperationProgress m_progress;
    // The source path worked on: the progress's own text, kept up to date
    // in place rather than copied for every report.
    std::string& m_source = m_progress.currentItem;
    std::string m_target;
    size_t m_rootSourceLength = 0;  // of the operation's source path
    size_t m_destLength = 0;        // of the destination folder's path
    FileOperationStatus m_status = FileOperationStatus::Completed;
    std::string m_error;
    bool m_overwriteAll = false;
    bool m_skipAll = false;
    bool m_keepOwners = ::geteuid() == 0;
    // Entries the copy made beside what stood there before, as paths below
    // the destination folder, in order (for a roll-back). What lies inside a
    // folder the copy made itself goes with that folder.
    std::vector<std::string> m_created;
    std::vector<std::string> m_skipped;
    std::set<std::string> m_keep;      // sources not carried over, as paths below the source
    std::unique_ptr<char[]> m_buffer;  // for copies by read and write
    uint64_t m_lastReportedBytes = 0;
};

}  // namespace quarn::fileop
