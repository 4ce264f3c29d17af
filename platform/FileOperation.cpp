#include "platform/FileOperation.h"

#include <dirent.h>
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

#include "platform/PathRules.h"

namespace quarn {

namespace {

constexpr size_t kCopyBlock = 1 << 20;

std::string ErrnoText(int error) {
    return std::strerror(error);
}

std::string Join(const std::string& folder, const std::string& name) {
    return folder == "/" ? "/" + name : folder + "/" + name;
}

std::string BaseName(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

std::string ParentOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == 0 ? "/" : path.substr(0, slash);
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

// The names in a folder, without "." and "..".
bool ListNames(const std::string& folder, std::vector<std::string>& names, int& error) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        error = errno;
        return false;
    }
    errno = 0;
    while (struct dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(std::move(name));
        }
    }
    error = errno;
    ::closedir(dir);
    return error == 0;
}

int RenameNoReplace(const std::string& from, const std::string& to) {
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return -1;
    }
#endif
    struct stat st;
    if (::lstat(to.c_str(), &st) == 0) {
        errno = EEXIST;
        return -1;
    }
    return ::rename(from.c_str(), to.c_str());
}

// A name beside `target` for building its replacement before it takes its
// place, so that the old entry stays whole until the new one is complete.
std::string PartName(const std::string& target, int attempt) {
    std::string name = BaseName(target);
    if (name.size() > 200) {
        name.resize(200);
    }
    return Join(ParentOf(target),
                "." + name + ".part" + std::to_string(::getpid()) + "-" + std::to_string(attempt));
}

class Engine {
  public:
    Engine(FileOperation::Kind kind, const FileOperationCallbacks& callbacks)
        : m_kind(kind), m_callbacks(callbacks) {}

    FileOperationResult Run(const std::string& rawSource, const std::string& rawDest);

  private:
    enum class Step { Ok, Stop };  // Stop: cancelled or failed, see m_status

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
    void Report(const std::string& item, bool force = false);
    void Count(const std::string& path);
    // True = replace the existing target; false = leave it (skipped) or
    // stop (then m_status says why).
    bool MayOverwrite(const std::string& target, const std::string& source);

    Step MoveEntry(const std::string& source, const std::string& target);
    Step CopyEntry(const std::string& source, const std::string& target);
    Step CopyFile(const std::string& source, const struct stat& st, const std::string& target,
                  bool replace);
    Step CopyLink(const std::string& source, const struct stat& st, const std::string& target,
                  bool replace);
    Step CopySpecial(const std::string& source, const struct stat& st, const std::string& target,
                     bool replace);
    Step PlaceReplacement(const std::string& part, const std::string& target, bool replace);
    bool RemoveSource(const std::string& path, std::string& error);
    void RollBack();

    FileOperation::Kind m_kind;
    const FileOperationCallbacks& m_callbacks;
    FileOperationProgress m_progress;
    FileOperationStatus m_status = FileOperationStatus::Completed;
    std::string m_error;
    bool m_overwriteAll = false;
    bool m_skipAll = false;
    bool m_keepOwners = ::geteuid() == 0;
    std::vector<std::string> m_created;  // entries we made, in order (for a roll-back)
    std::vector<std::string> m_skipped;
    std::set<std::string> m_keepSources;  // sources (and their folders) not carried over
    uint64_t m_lastReportedBytes = 0;
};

void Engine::Report(const std::string& item, bool force) {
    m_progress.currentItem = item;
    if (m_callbacks.progress &&
        (force || m_progress.bytesDone - m_lastReportedBytes >= kCopyBlock ||
         m_progress.bytesDone == m_lastReportedBytes)) {
        m_lastReportedBytes = m_progress.bytesDone;
        m_callbacks.progress(m_progress);
    }
}

void Engine::Count(const std::string& path) {
    struct stat st;
    if (Cancelled() || ::lstat(path.c_str(), &st) != 0) {
        return;
    }
    ++m_progress.filesTotal;
    if (S_ISREG(st.st_mode)) {
        m_progress.bytesTotal += uint64_t(st.st_size);
    } else if (S_ISDIR(st.st_mode)) {
        std::vector<std::string> names;
        int error = 0;
        ListNames(path, names, error);
        for (const std::string& name : names) {
            Count(Join(path, name));
        }
    }
}

bool Engine::MayOverwrite(const std::string& target, const std::string& source) {
    if (m_overwriteAll) {
        return true;
    }
    if (m_skipAll || !m_callbacks.askConflict) {
        return false;
    }
    switch (m_callbacks.askConflict(target, source)) {
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

FileOperationResult Engine::Run(const std::string& rawSource, const std::string& rawDest) {
    FileOperationResult result;
    std::string source = AbsolutePath(rawSource);
    std::string dest = AbsolutePath(rawDest);
    result.target = Join(dest, BaseName(source));

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
    std::optional<std::string> realParent = RealPath(ParentOf(source));
    if (!realDest || !realParent) {
        result.error = "cannot resolve " + (realDest ? source : dest);
        return result;
    }
    if (S_ISDIR(sourceStat.st_mode) && IsInside(*realDest, Join(*realParent, BaseName(source)))) {
        result.error = "cannot " +
                       std::string(m_kind == FileOperation::Kind::Copy ? "copy" : "move") + " " +
                       source + " into itself";
        return result;
    }
    if (*realDest == *realParent) {
        result.error = source + " is already in " + dest;
        return result;
    }

    Step step = Step::Ok;
    bool copied = m_kind == FileOperation::Kind::Copy;
    if (!copied) {
        m_progress.filesTotal = 1;
        Report(source, true);
        struct stat targetStat;
        if (sourceStat.st_dev != destStat.st_dev) {
            copied = true;
        } else if (::lstat(result.target.c_str(), &targetStat) == 0) {
            step = MoveEntry(source, result.target);  // merge into what is there
        } else if (RenameNoReplace(source, result.target) == 0) {
            m_progress.filesDone = 1;
            Report(source, true);
        } else if (errno == EXDEV) {
            copied = true;  // another mount of the same device
        } else if (errno == EEXIST) {
            step = MoveEntry(source, result.target);
        } else {
            step = Fail("cannot move " + source + ": " + ErrnoText(errno));
        }
    }
    if (copied) {
        m_progress = {};
        Count(source);
        Report(source, true);
        step = Cancelled() ? Cancel() : CopyEntry(source, result.target);
        if (step == Step::Ok && Cancelled()) {
            step = Cancel();
        }
        if (m_kind == FileOperation::Kind::Move) {
            if (step == Step::Ok) {
                std::string error;
                if (!RemoveSource(source, error)) {
                    step = Fail("copied, but cannot remove " + error);
                }
            } else {
                // The source is untouched; take back the partial copy.
                RollBack();
            }
        }
    }
    Report(source, true);  // the final figures
    result.status = step == Step::Ok ? FileOperationStatus::Completed : m_status;
    result.error = m_error;
    result.skipped = m_skipped;
    return result;
}

// A move within one filesystem: renames, merging into folders that exist.
Engine::Step Engine::MoveEntry(const std::string& source, const std::string& target) {
    if (Cancelled()) {
        return Cancel();
    }
    Report(source);
    if (RenameNoReplace(source, target) == 0) {
        ++m_progress.filesDone;
        return Step::Ok;
    }
    if (errno != EEXIST && errno != ENOTEMPTY) {
        return Fail("cannot move " + source + ": " + ErrnoText(errno));
    }
    struct stat from, to;
    if (::lstat(source.c_str(), &from) != 0 || ::lstat(target.c_str(), &to) != 0) {
        return Fail("cannot move " + source + ": " + ErrnoText(errno));
    }
    if (S_ISDIR(from.st_mode) && S_ISDIR(to.st_mode)) {
        std::vector<std::string> names;
        int error = 0;
        if (!ListNames(source, names, error)) {
            return Fail("cannot read " + source + ": " + ErrnoText(error));
        }
        m_progress.filesTotal += names.size();
        for (const std::string& name : names) {
            if (MoveEntry(Join(source, name), Join(target, name)) == Step::Stop) {
                return Step::Stop;
            }
        }
        // Left behind only when something in it was skipped.
        ::rmdir(source.c_str());
        return Step::Ok;
    }
    if (S_ISDIR(to.st_mode)) {
        return Fail("cannot replace the folder " + target + " by a file");
    }
    if (!MayOverwrite(target, source)) {
        if (m_status != FileOperationStatus::Completed) {
            return Step::Stop;
        }
        m_skipped.push_back(source);
        return Step::Ok;
    }
    if (S_ISDIR(from.st_mode) && ::unlink(target.c_str()) != 0) {
        return Fail("cannot replace " + target + ": " + ErrnoText(errno));
    }
    if (::rename(source.c_str(), target.c_str()) != 0) {
        return Fail("cannot move " + source + ": " + ErrnoText(errno));
    }
    ++m_progress.filesDone;
    return Step::Ok;
}

Engine::Step Engine::CopyEntry(const std::string& source, const std::string& target) {
    if (Cancelled()) {
        return Cancel();
    }
    Report(source, true);
    struct stat st;
    if (::lstat(source.c_str(), &st) != 0) {
        return Fail("cannot read " + source + ": " + ErrnoText(errno));
    }
    struct stat existing;
    bool exists = ::lstat(target.c_str(), &existing) == 0;
    bool replace = false;
    if (exists && !(S_ISDIR(st.st_mode) && S_ISDIR(existing.st_mode))) {
        if (S_ISDIR(existing.st_mode)) {
            return Fail("cannot replace the folder " + target + " by a file");
        }
        if (!MayOverwrite(target, source)) {
            if (m_status != FileOperationStatus::Completed) {
                return Step::Stop;
            }
            m_skipped.push_back(source);
            for (std::string path = source; path.size() > 1; path = ParentOf(path)) {
                m_keepSources.insert(path);
            }
            ++m_progress.filesDone;
            if (S_ISREG(st.st_mode)) {
                m_progress.bytesDone += uint64_t(st.st_size);
            }
            return Step::Ok;
        }
        replace = true;
    }
    Step step = Step::Ok;
    if (S_ISREG(st.st_mode)) {
        step = CopyFile(source, st, target, replace);
    } else if (S_ISLNK(st.st_mode)) {
        step = CopyLink(source, st, target, replace);
    } else if (S_ISDIR(st.st_mode)) {
        bool made = !exists;
        if (replace && ::unlink(target.c_str()) != 0) {
            return Fail("cannot replace " + target + ": " + ErrnoText(errno));
        }
        if (made || replace) {
            // Private until its content is complete; the mode follows below.
            if (::mkdir(target.c_str(), 0700) != 0) {
                return Fail("cannot create " + target + ": " + ErrnoText(errno));
            }
            m_created.push_back(target);
        }
        ++m_progress.filesDone;
        std::vector<std::string> names;
        int error = 0;
        if (!ListNames(source, names, error)) {
            return Fail("cannot read " + source + ": " + ErrnoText(error));
        }
        for (const std::string& name : names) {
            if (CopyEntry(Join(source, name), Join(target, name)) == Step::Stop) {
                return Step::Stop;
            }
        }
        if (made || replace) {
            if (m_keepOwners) {
                (void)::lchown(target.c_str(), st.st_uid, st.st_gid);
            }
            ::chmod(target.c_str(), st.st_mode & 07777);
            struct timespec times[2] = {st.st_atim, st.st_mtim};
            ::utimensat(AT_FDCWD, target.c_str(), times, AT_SYMLINK_NOFOLLOW);
        }
        return Step::Ok;
    } else {
        step = CopySpecial(source, st, target, replace);
    }
    if (step == Step::Ok) {
        ++m_progress.filesDone;
    }
    return step;
}

// Puts a finished replacement in place: over the old entry when replacing,
// else under the target's name without ever replacing what appeared there.
Engine::Step Engine::PlaceReplacement(const std::string& part, const std::string& target,
                                      bool replace) {
    int rc = replace ? ::rename(part.c_str(), target.c_str()) : RenameNoReplace(part, target);
    if (rc != 0) {
        int error = errno;
        ::unlink(part.c_str());
        return Fail("cannot write " + target + ": " + ErrnoText(error));
    }
    if (!replace) {
        m_created.push_back(target);
    }
    return Step::Ok;
}

Engine::Step Engine::CopyFile(const std::string& source, const struct stat& st,
                              const std::string& target, bool replace) {
    int in = ::open(source.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (in < 0) {
        return Fail("cannot read " + source + ": " + ErrnoText(errno));
    }
    std::string part;
    int out = -1;
    for (int attempt = 0; attempt < 100 && out < 0; ++attempt) {
        part = PartName(target, attempt);
        out = ::open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (out < 0 && errno != EEXIST) {
            break;
        }
    }
    if (out < 0) {
        int error = errno;
        ::close(in);
        return Fail("cannot create " + target + ": " + ErrnoText(error));
    }
    std::vector<char> buffer(kCopyBlock);
    const bool sparse = uint64_t(st.st_blocks) * 512 < uint64_t(st.st_size);
    std::string failure;
    bool cancelled = false;
    while (true) {
        if (Cancelled()) {
            cancelled = true;
            break;
        }
        ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            failure = "cannot read " + source + ": " + ErrnoText(errno);
            break;
        }
        if (n == 0) {
            break;
        }
        // A sparse source keeps its holes: zero blocks are skipped over.
        if (sparse &&
            std::all_of(buffer.data(), buffer.data() + n, [](char c) { return c == 0; })) {
            if (::lseek(out, n, SEEK_CUR) < 0) {
                failure = "cannot write " + target + ": " + ErrnoText(errno);
                break;
            }
            m_progress.bytesDone += uint64_t(n);
            Report(source);
            continue;
        }
        for (ssize_t written = 0; written < n;) {
            ssize_t w = ::write(out, buffer.data() + written, size_t(n - written));
            if (w < 0 && errno == EINTR) {
                continue;
            }
            if (w < 0) {
                failure = "cannot write " + target + ": " + ErrnoText(errno);
                break;
            }
            written += w;
        }
        if (!failure.empty()) {
            break;
        }
        m_progress.bytesDone += uint64_t(n);
        Report(source);
    }
    if (failure.empty() && !cancelled && sparse && ::ftruncate(out, st.st_size) != 0) {
        failure = "cannot write " + target + ": " + ErrnoText(errno);
    }
    if (failure.empty() && !cancelled) {
        if (m_keepOwners) {
            (void)::fchown(out, st.st_uid, st.st_gid);
        }
        ::fchmod(out, st.st_mode & 07777);
        struct timespec times[2] = {st.st_atim, st.st_mtim};
        ::futimens(out, times);
    }
    ::close(in);
    if (::close(out) != 0 && failure.empty()) {
        failure = "cannot write " + target + ": " + ErrnoText(errno);
    }
    if (cancelled || !failure.empty()) {
        ::unlink(part.c_str());
        return cancelled ? Cancel() : Fail(failure);
    }
    return PlaceReplacement(part, target, replace);
}

Engine::Step Engine::CopyLink(const std::string& source, const struct stat& st,
                              const std::string& target, bool replace) {
    std::vector<char> buffer(size_t(st.st_size > 0 ? st.st_size : PATH_MAX) + 1);
    ssize_t n = ::readlink(source.c_str(), buffer.data(), buffer.size());
    if (n < 0 || size_t(n) >= buffer.size()) {
        return Fail("cannot read the link " + source);
    }
    std::string linkTarget(buffer.data(), size_t(n));
    std::string part = PartName(target, 0);
    if (::symlink(linkTarget.c_str(), part.c_str()) != 0) {
        return Fail("cannot create " + target + ": " + ErrnoText(errno));
    }
    if (m_keepOwners) {
        (void)::lchown(part.c_str(), st.st_uid, st.st_gid);
    }
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::utimensat(AT_FDCWD, part.c_str(), times, AT_SYMLINK_NOFOLLOW);
    return PlaceReplacement(part, target, replace);
}

Engine::Step Engine::CopySpecial(const std::string& source, const struct stat& st,
                                 const std::string& target, bool replace) {
    std::string part = PartName(target, 0);
    int rc = S_ISFIFO(st.st_mode) ? ::mkfifo(part.c_str(), st.st_mode & 07777)
                                  : ::mknod(part.c_str(), st.st_mode, st.st_rdev);
    if (rc != 0) {
        // Sockets and, without privileges, devices cannot be made anew.
        m_skipped.push_back(source);
        for (std::string path = source; path.size() > 1; path = ParentOf(path)) {
            m_keepSources.insert(path);
        }
        return Step::Ok;
    }
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::utimensat(AT_FDCWD, part.c_str(), times, AT_SYMLINK_NOFOLLOW);
    return PlaceReplacement(part, target, replace);
}

// Removes a moved source after its whole copy succeeded, keeping what was
// skipped (and the folders that hold it).
bool Engine::RemoveSource(const std::string& path, std::string& error) {
    if (m_keepSources.count(path) != 0) {
        struct stat st;
        if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            std::vector<std::string> names;
            int listError = 0;
            ListNames(path, names, listError);
            for (const std::string& name : names) {
                if (!RemoveSource(Join(path, name), error)) {
                    return false;
                }
            }
        }
        return true;
    }
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) {
        return true;
    }
    if (S_ISDIR(st.st_mode)) {
        std::vector<std::string> names;
        int listError = 0;
        if (!ListNames(path, names, listError)) {
            error = path + ": " + ErrnoText(listError);
            return false;
        }
        for (const std::string& name : names) {
            if (!RemoveSource(Join(path, name), error)) {
                return false;
            }
        }
        if (::rmdir(path.c_str()) != 0) {
            error = path + ": " + ErrnoText(errno);
            return false;
        }
        return true;
    }
    if (::unlink(path.c_str()) != 0) {
        error = path + ": " + ErrnoText(errno);
        return false;
    }
    return true;
}

void Engine::RollBack() {
    for (auto it = m_created.rbegin(); it != m_created.rend(); ++it) {
        struct stat st;
        if (::lstat(it->c_str(), &st) != 0) {
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            ::rmdir(it->c_str());
        } else {
            ::unlink(it->c_str());
        }
    }
    m_created.clear();
}

}  // namespace

FileOperationResult FileOperation::Run(Kind kind, const std::string& source,
                                       const std::string& destFolder,
                                       const FileOperationCallbacks& callbacks) {
    Engine engine(kind, callbacks);
    return engine.Run(source, destFolder);
}

}  // namespace quarn
