#include "platform/FileOperation.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <set>

#include "platform/DirectoryListing.h"
#include "platform/FileOperationEngine.h"
#include "platform/FolderChain.h"
#include "platform/FolderWalker.h"
#include "platform/PathRules.h"

// Every operation goes down the tree by folder handles (openat and friends,
// FolderChain) with a stack of its own, never by recursion and never by
// resolving a long path: a tree 100,000 levels deep copies, moves and is
// removed like any other. The path strings are kept only for the user
// (progress, questions, errors), grown and shrunk by one name at a time.

namespace quarn {
namespace fileop {

std::string ErrnoText(int error) {
    return std::strerror(error);
}

int OpenFolderAt(int parent, const std::string& name) {
    DirectoryListing folder = DirectoryListing::OpenAt(parent, name.c_str());
    errno = folder.OpenError();
    return folder.Release();
}

int RenameNoReplaceAt(int fromFolder, const std::string& from, int toFolder,
                      const std::string& to) {
#ifdef RENAME_NOREPLACE
    if (::renameat2(fromFolder, from.c_str(), toFolder, to.c_str(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return -1;
    }
#endif
    struct stat st;
    if (::fstatat(toFolder, to.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return -1;
    }
    return ::renameat(fromFolder, from.c_str(), toFolder, to.c_str());
}

std::string PartName(std::string name, int attempt) {
    if (name.size() > 200) {
        name.resize(200);
    }
    return "." + name + ".part" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
}

namespace {

std::string Join(const std::string& folder, const std::string& name) {
    return folder == "/" ? "/" + name : folder + "/" + name;
}

std::optional<std::string> RealPath(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    if (!real) {
        return std::nullopt;
    }
    return std::string(real.get());
}

bool IsInside(const std::string& path, const std::string& folder) {
    return path == folder || (path.size() > folder.size() && path.starts_with(folder) &&
                              (folder == "/" || path[folder.size()] == '/'));
}

// The names in a freshly opened folder, without "." and "..".
bool ListNamesAt(int handle, std::vector<std::string>& names, int& error) {
    DirectoryListing listing = DirectoryListing::Adopt(::dup(handle));
    if (!listing.IsOpen()) {
        error = errno;
        return false;
    }
    listing.SkipDotEntries();
    ListedName entry;
    while (listing.NextName(entry)) {
        names.emplace_back(entry.name);
    }
    error = listing.ReadError();
    return error == 0;
}

// Counts what a copy will carry, with the walk every scan uses.
class CountSink : public WalkSink {
  public:
    CountSink(FileOperationProgress& progress, const std::atomic<bool>* cancel)
        : m_progress(progress), m_cancel(cancel) {}
    bool EnterFolder(const std::string&, const FileEntry*) override {
        ++m_progress.filesTotal;
        return m_cancel == nullptr || !m_cancel->load();
    }
    void AddFile(const std::string&, const FileEntry& file) override {
        ++m_progress.filesTotal;
        if (file.IsRegularFile()) {
            m_progress.bytesTotal += file.size;
        }
    }
    void LeaveFolder(const std::string&) override {}

  private:
    FileOperationProgress& m_progress;
    const std::atomic<bool>* m_cancel;
};

}  // namespace

void Engine::Report(bool force) {
    if (m_callbacks.progress &&
        (force || m_progress.bytesDone - m_lastReportedBytes >= kCopyBlock ||
         m_progress.bytesDone == m_lastReportedBytes)) {
        m_lastReportedBytes = m_progress.bytesDone;
        m_callbacks.progress(m_progress);
    }
}

void Engine::Count(const std::string& source, const struct stat& st) {
    if (!S_ISDIR(st.st_mode)) {
        m_progress.filesTotal = 1;
        m_progress.bytesTotal = S_ISREG(st.st_mode) ? uint64_t(st.st_size) : 0;
        return;
    }
    CountSink sink(m_progress, m_callbacks.cancel);
    WalkFolderTree(source, sink);
}

bool Engine::MayOverwrite() {
    if (m_overwriteAll) {
        return true;
    }
    if (m_skipAll || !m_callbacks.askConflict) {
        return false;
    }
    switch (m_callbacks.askConflict(m_target, m_source)) {
        case ConflictAnswer::OverwriteAll:
            m_overwriteAll = true;
            return true;
        case ConflictAnswer::Overwrite:
            return true;
        case ConflictAnswer::SkipAll:
            m_skipAll = true;
            return false;
        case ConflictAnswer::Skip:
            return false;
        case ConflictAnswer::Cancel:
            Cancel();
            return false;
    }
    return false;
}

void Engine::KeepSource() {
    m_skipped.push_back(m_source);
    m_keep.insert(m_source.substr(m_rootSourceLength));
}

void Engine::EnterName(const Frame& frame, const std::string& name) {
    m_source.resize(frame.sourceLength);
    m_source += '/';
    m_source += name;
    m_target.resize(frame.targetLength);
    m_target += '/';
    m_target += name;
}

Engine::Step Engine::Descend(Descent& descent, const std::string& name) {
    Frame frame;
    frame.name = name;
    frame.sourceLength = m_source.size();
    frame.targetLength = m_target.size();
    int source = OpenFolderAt(descent.sources.Top(), name);
    int error = source < 0 ? errno : 0;
    if (source >= 0 && !ListNamesAt(source, frame.names, error)) {
        ::close(source);
        source = -1;
    }
    if (source < 0) {
        return Fail("cannot read " + m_source + ": " + ErrnoText(error));
    }
    int target = OpenFolderAt(descent.targets.Top(), name);
    if (target < 0) {
        error = errno;
        ::close(source);
        return Fail("cannot open " + m_target + ": " + ErrnoText(error));
    }
    if (!descent.sources.Push(source)) {
        ::close(target);
        return Fail("cannot read " + m_source);
    }
    if (!descent.targets.Push(target)) {
        descent.sources.Pop();
        return Fail("cannot open " + m_target);
    }
    descent.frames.push_back(std::move(frame));
    return Step::Ok;
}

Engine::Step Engine::Ascend(Descent& descent) {
    const Frame& frame = descent.frames.back();
    m_source.resize(frame.sourceLength);
    m_target.resize(frame.targetLength);
    descent.frames.pop_back();
    bool sourceReached = descent.sources.Pop();
    bool targetReached = descent.targets.Pop();
    if (!sourceReached || !targetReached) {
        return Fail("cannot go on above " + (sourceReached ? m_target : m_source) +
                    ": it was moved meanwhile");
    }
    return Step::Ok;
}

FileOperationResult Engine::Run(const std::string& rawSource, const std::string& rawDest) {
    FileOperationResult result;
    std::string source = AbsolutePath(rawSource);
    std::string dest = AbsolutePath(rawDest);
    std::string name(NameOfPath(source));
    result.target = Join(dest, name);

    struct stat sourceStat, destStat;
    if (source == "/" || ::lstat(source.c_str(), &sourceStat) != 0) {
        result.error = source + " does not exist";
        return result;
    }
    if (::stat(dest.c_str(), &destStat) != 0 || !S_ISDIR(destStat.st_mode)) {
        result.error = dest + " is not a folder";
        return result;
    }
    std::optional<std::string> realDest = RealPath(dest);
    std::optional<std::string> realParent = RealPath(std::string(FolderOfPath(source)));
    if (!realDest || !realParent) {
        result.error = "cannot resolve " + (realDest ? source : dest);
        return result;
    }
    if (S_ISDIR(sourceStat.st_mode) && IsInside(*realDest, Join(*realParent, name))) {
        result.error = "cannot " +
                       std::string(m_kind == FileOperation::Kind::Copy ? "copy" : "move") + " " +
                       source + " into itself";
        return result;
    }
    if (*realDest == *realParent) {
        result.error = source + " is already in " + dest;
        return result;
    }
    int sourceParent =
        ::open(std::string(FolderOfPath(source)).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int sourceError = errno;
    int destFolder = ::open(dest.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (sourceParent < 0 || destFolder < 0) {
        result.error = "cannot open " +
                       (sourceParent < 0 ? std::string(FolderOfPath(source)) : dest) + ": " +
                       ErrnoText(sourceParent < 0 ? sourceError : errno);
        for (int handle : {sourceParent, destFolder}) {
            if (handle >= 0) {
                ::close(handle);
            }
        }
        return result;
    }
    m_source = source;
    m_target = result.target;
    m_rootSourceLength = source.size();
    m_destLength = dest == "/" ? 0 : dest.size();

    Step step = Step::Ok;
    bool copied = m_kind == FileOperation::Kind::Copy;
    if (!copied) {
        m_progress.filesTotal = 1;
        Report(true);
        struct stat targetStat;
        if (sourceStat.st_dev != destStat.st_dev) {
            copied = true;
        } else if (::fstatat(destFolder, name.c_str(), &targetStat, AT_SYMLINK_NOFOLLOW) == 0) {
            step = MoveTree(sourceParent, destFolder, name);  // merge into what is there
        } else if (RenameNoReplaceAt(sourceParent, name, destFolder, name) == 0) {
            m_progress.filesDone = 1;
            Report(true);
        } else if (errno == EXDEV) {
            copied = true;  // another mount of the same device
        } else if (errno == EEXIST) {
            step = MoveTree(sourceParent, destFolder, name);
        } else {
            step = Fail("cannot move " + source + ": " + ErrnoText(errno));
        }
    }
    if (copied) {
        m_progress = {};
        Count(source, sourceStat);
        m_source = source;
        m_target = result.target;
        Report(true);
        step = Cancelled() ? Cancel() : CopyTree(sourceParent, destFolder, name);
        if (step == Step::Ok && Cancelled()) {
            step = Cancel();
        }
        if (m_kind == FileOperation::Kind::Move) {
            if (step == Step::Ok) {
                std::string error;
                m_source = source;
                if (!RemoveTree(sourceParent, name, /*keepSkipped=*/true, error)) {
                    step = Fail("copied, but cannot remove " + error);
                }
            } else {
                // The source is untouched; take back the partial copy.
                RollBack(destFolder);
            }
        }
    }
    m_source = source;
    Report(true);  // the final figures
    ::close(sourceParent);
    ::close(destFolder);
    result.status = step == Step::Ok ? FileOperationStatus::Completed : m_status;
    result.error = m_error;
    result.skipped = m_skipped;
    return result;
}

// A move within one filesystem: renames, merging into folders that exist.

Engine::Step Engine::MoveTree(int sourceParent, int targetParent, const std::string& name) {
    Descent descent;
    descent.sources.Push(::dup(sourceParent));
    descent.targets.Push(::dup(targetParent));
    Step step = MoveEntry(descent, name);
    while (step == Step::Ok && !descent.frames.empty()) {
        Frame& frame = descent.frames.back();
        if (frame.next < frame.names.size()) {
            std::string entry = std::move(frame.names[frame.next++]);
            EnterName(frame, entry);
            step = MoveEntry(descent, entry);
            continue;
        }
        std::string folder = frame.name;
        step = Ascend(descent);
        if (step == Step::Ok) {
            // Left behind only when something in it was skipped.
            ::unlinkat(descent.sources.Top(), folder.c_str(), AT_REMOVEDIR);
        }
    }
    return step;
}

Engine::Step Engine::MoveEntry(Descent& descent, const std::string& name) {
    if (Cancelled()) {
        return Cancel();
    }
    Report();
    int sourceDir = descent.sources.Top();
    int targetDir = descent.targets.Top();
    struct stat from, to;
    // Look before renaming: a rename between two folders costs the kernel a
    // walk up through every folder above them, too much to try at every
    // level of a deep merge.
    if (::fstatat(targetDir, name.c_str(), &to, AT_SYMLINK_NOFOLLOW) != 0) {
        if (RenameNoReplaceAt(sourceDir, name, targetDir, name) == 0) {
            ++m_progress.filesDone;
            return Step::Ok;
        }
        if (errno != EEXIST && errno != ENOTEMPTY) {
            return Fail("cannot move " + m_source + ": " + ErrnoText(errno));
        }
    }
    if (::fstatat(sourceDir, name.c_str(), &from, AT_SYMLINK_NOFOLLOW) != 0 ||
        ::fstatat(targetDir, name.c_str(), &to, AT_SYMLINK_NOFOLLOW) != 0) {
        return Fail("cannot move " + m_source + ": " + ErrnoText(errno));
    }
    if (S_ISDIR(from.st_mode) && S_ISDIR(to.st_mode)) {
        Step step = Descend(descent, name);
        if (step == Step::Ok) {
            m_progress.filesTotal += descent.frames.back().names.size();
        }
        return step;
    }
    if (S_ISDIR(to.st_mode)) {
        return Fail("cannot replace the folder " + m_target + " by a file");
    }
    if (!MayOverwrite()) {
        if (m_status != FileOperationStatus::Completed) {
            return Step::Stop;
        }
        m_skipped.push_back(m_source);
        return Step::Ok;
    }
    if (S_ISDIR(from.st_mode) && ::unlinkat(targetDir, name.c_str(), 0) != 0) {
        return Fail("cannot replace " + m_target + ": " + ErrnoText(errno));
    }
    if (::renameat(sourceDir, name.c_str(), targetDir, name.c_str()) != 0) {
        return Fail("cannot move " + m_source + ": " + ErrnoText(errno));
    }
    ++m_progress.filesDone;
    return Step::Ok;
}

// Puts a finished replacement in place: over the old entry when replacing,

// else under the target's name without ever replacing what appeared there.

bool Engine::HasKeptBelow(const std::string& relative) const {
    std::string prefix = relative + "/";
    auto kept = m_keep.lower_bound(prefix);
    return kept != m_keep.end() && kept->compare(0, prefix.size(), prefix) == 0;
}

bool Engine::RemoveTree(int parent, const std::string& name, bool keepSkipped, std::string& error) {
    FolderChain chain;
    chain.Push(::dup(parent));
    std::vector<Frame> frames;
    // Removes a file or link at once; a folder becomes the current frame.
    auto remove = [&](const std::string& entry) {
        std::string relative = m_source.substr(std::min(m_rootSourceLength, m_source.size()));
        if (keepSkipped && m_keep.count(relative) != 0) {
            return true;
        }
        struct stat st;
        if (::fstatat(chain.Top(), entry.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            return true;  // gone already
        }
        if (!S_ISDIR(st.st_mode)) {
            if (::unlinkat(chain.Top(), entry.c_str(), 0) != 0) {
                error = m_source + ": " + ErrnoText(errno);
                return false;
            }
            return true;
        }
        Frame frame;
        frame.name = entry;
        frame.sourceLength = m_source.size();
        frame.keep = keepSkipped && HasKeptBelow(relative);
        int handle = OpenFolderAt(chain.Top(), entry);
        int listError = handle < 0 ? errno : 0;
        if (handle >= 0 && !ListNamesAt(handle, frame.names, listError)) {
            ::close(handle);
            handle = -1;
        }
        if (handle < 0 || !chain.Push(handle)) {
            error = m_source + ": " + ErrnoText(listError);
            return false;
        }
        frames.push_back(std::move(frame));
        return true;
    };
    if (!remove(name)) {
        return false;
    }
    while (!frames.empty()) {
        Frame& frame = frames.back();
        if (frame.next < frame.names.size()) {
            std::string entry = std::move(frame.names[frame.next++]);
            m_source.resize(frame.sourceLength);
            m_source += '/';
            m_source += entry;
            if (!remove(entry)) {
                return false;
            }
            continue;
        }
        m_source.resize(frame.sourceLength);
        std::string folder = std::move(frame.name);
        bool keep = frame.keep;
        frames.pop_back();
        if (!chain.Pop()) {
            error = m_source + ": " + ErrnoText(ENOENT);
            return false;
        }
        if (!keep && ::unlinkat(chain.Top(), folder.c_str(), AT_REMOVEDIR) != 0) {
            error = m_source + ": " + ErrnoText(errno);
            return false;
        }
    }
    return true;
}

void Engine::RollBack(int destFolder) {
    std::string destPath = m_target.substr(0, m_destLength);
    for (auto record = m_created.rbegin(); record != m_created.rend(); ++record) {
        // The record's folder, reached one name at a time from the destination.
        int handle = ::dup(destFolder);
        size_t start = 1;
        for (size_t slash; handle >= 0 && (slash = record->find('/', start)) != std::string::npos;
             start = slash + 1) {
            int next = OpenFolderAt(handle, record->substr(start, slash - start));
            ::close(handle);
            handle = next;
        }
        if (handle < 0) {
            continue;
        }
        std::string leaf = record->substr(start);
        struct stat st;
        if (::fstatat(handle, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
            if (S_ISDIR(st.st_mode)) {
                std::string ignored;
                m_source = destPath + *record;
                RemoveTree(handle, leaf, /*keepSkipped=*/false, ignored);
            } else {
                ::unlinkat(handle, leaf.c_str(), 0);
            }
        }
        ::close(handle);
    }
    m_created.clear();
}

}  // namespace fileop

FileOperationResult FileOperation::Run(Kind kind, const std::string& source,
                                       const std::string& destFolder,
                                       const FileOperationCallbacks& callbacks) {
    fileop::Engine engine(kind, callbacks);
    return engine.Run(source, destFolder);
}

FileOperationResult FileOperation::RunMany(Kind kind, const std::vector<std::string>& sources,
                                           const std::string& destFolder,
                                           const FileOperationCallbacks& callbacks) {
    FileOperationResult total;
    total.status = FileOperationStatus::Completed;
    total.target = destFolder;
    // The figures of the sources not yet begun, as far as a look tells.
    uint64_t bytesAhead = 0;
    std::vector<uint64_t> bytesOf(sources.size(), 0);
    for (size_t i = 0; i < sources.size(); ++i) {
        struct stat st;
        if (::lstat(sources[i].c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            bytesOf[i] = uint64_t(st.st_size);
            bytesAhead += bytesOf[i];
        }
    }
    uint64_t sourcesAhead = sources.size();
    FileOperationProgress done;  // of the sources already carried
    FileOperationProgress last;  // of the one being carried
    FileOperationCallbacks each;
    each.cancel = callbacks.cancel;
    if (callbacks.progress) {
        each.progress = [&](const FileOperationProgress& progress) {
            last = progress;
            FileOperationProgress shown = progress;
            shown.bytesDone += done.bytesDone;
            shown.bytesTotal += done.bytesDone + bytesAhead;
            shown.filesDone += done.filesDone;
            shown.filesTotal += done.filesDone + sourcesAhead;
            callbacks.progress(shown);
        };
    }
    std::optional<ConflictAnswer> forAll;
    if (callbacks.askConflict) {
        each.askConflict = [&](const std::string& target, const std::string& source) {
            if (forAll) {
                return *forAll;
            }
            ConflictAnswer answer = callbacks.askConflict(target, source);
            if (answer == ConflictAnswer::OverwriteAll || answer == ConflictAnswer::SkipAll) {
                forAll = answer;
            }
            return answer;
        };
    }
    for (size_t i = 0; i < sources.size(); ++i) {
        bytesAhead -= bytesOf[i];
        --sourcesAhead;
        last = FileOperationProgress{};
        FileOperationResult one = Run(kind, sources[i], destFolder, each);
        total.skipped.insert(total.skipped.end(), one.skipped.begin(), one.skipped.end());
        if (!one.Completed()) {
            total.status = one.status;
            total.error = one.error;
            break;
        }
        done.bytesDone += last.bytesDone;
        done.filesDone += std::max<uint64_t>(last.filesDone, 1);
    }
    return total;
}

}  // namespace quarn
