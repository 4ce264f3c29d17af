#include "platform/FileOperationEngine.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

// Copying entries: files by their data (sparse where the source is),
// links and special files as what they are, each built under a part name
// and put in place only when whole.

namespace quarn::fileop {

Engine::Step Engine::CopyTree(int sourceParent, int targetParent, const std::string& name) {
    Descent descent;
    descent.sources.Push(::dup(sourceParent));
    descent.targets.Push(::dup(targetParent));
    Step step = CopyEntry(descent, name);
    while (step == Step::Ok && !descent.frames.empty()) {
        Frame& frame = descent.frames.back();
        if (frame.next < frame.names.size()) {
            std::string entry = std::move(frame.names[frame.next++]);
            EnterName(frame, entry);
            step = CopyEntry(descent, entry);
            continue;
        }
        if (frame.finish) {
            int target = descent.targets.Top();
            if (m_keepOwners) {
                (void)::fchown(target, frame.status.st_uid, frame.status.st_gid);
            }
            ::fchmod(target, frame.status.st_mode & 07777);
            struct timespec times[2] = {frame.status.st_atim, frame.status.st_mtim};
            ::futimens(target, times);
        }
        step = Ascend(descent);
    }
    return step;
}

Engine::Step Engine::CopyEntry(Descent& descent, const std::string& name) {
    if (Cancelled()) {
        return Cancel();
    }
    Report(true);
    int sourceDir = descent.sources.Top();
    int targetDir = descent.targets.Top();
    bool insideMade = !descent.frames.empty() && descent.frames.back().madeByUs;
    struct stat st;
    if (::fstatat(sourceDir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return Fail("cannot read " + m_source + ": " + ErrnoText(errno));
    }
    struct stat existing;
    bool exists = ::fstatat(targetDir, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0;
    bool replace = false;
    if (exists && !(S_ISDIR(st.st_mode) && S_ISDIR(existing.st_mode))) {
        if (S_ISDIR(existing.st_mode)) {
            return Fail("cannot replace the folder " + m_target + " by a file");
        }
        if (!MayOverwrite()) {
            if (m_status != FileOperationStatus::Completed) {
                return Step::Stop;
            }
            KeepSource();
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
        step = CopyFile(sourceDir, targetDir, name, st, replace, insideMade);
    } else if (S_ISLNK(st.st_mode)) {
        step = CopyLink(sourceDir, targetDir, name, st, replace, insideMade);
    } else if (S_ISDIR(st.st_mode)) {
        bool made = !exists;
        if (replace && ::unlinkat(targetDir, name.c_str(), 0) != 0) {
            return Fail("cannot replace " + m_target + ": " + ErrnoText(errno));
        }
        if (made || replace) {
            // Private until its content is complete; the mode follows at the end.
            if (::mkdirat(targetDir, name.c_str(), 0700) != 0) {
                return Fail("cannot create " + m_target + ": " + ErrnoText(errno));
            }
            if (!insideMade) {
                m_created.push_back(m_target.substr(m_destLength));
            }
        }
        ++m_progress.filesDone;
        step = Descend(descent, name);
        if (step == Step::Ok) {
            Frame& frame = descent.frames.back();
            frame.status = st;
            frame.finish = made || replace;
            frame.madeByUs = insideMade || made || replace;
        }
        return step;
    } else {
        step = CopySpecial(sourceDir, targetDir, name, st, replace, insideMade);
    }
    if (step == Step::Ok) {
        ++m_progress.filesDone;
    }
    return step;
}

Engine::Step Engine::PlaceReplacement(int targetDir, const std::string& part,
                                      const std::string& name, bool replace, bool insideMade) {
    int rc = replace ? ::renameat(targetDir, part.c_str(), targetDir, name.c_str())
                     : RenameNoReplaceAt(targetDir, part, targetDir, name);
    if (rc != 0) {
        int error = errno;
        ::unlinkat(targetDir, part.c_str(), 0);
        return Fail("cannot write " + m_target + ": " + ErrnoText(error));
    }
    if (!replace && !insideMade) {
        m_created.push_back(m_target.substr(m_destLength));
    }
    return Step::Ok;
}

Engine::Step Engine::CopyFile(int sourceDir, int targetDir, const std::string& name,
                              const struct stat& st, bool replace, bool insideMade) {
    int in = ::openat(sourceDir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (in < 0) {
        return Fail("cannot read " + m_source + ": " + ErrnoText(errno));
    }
    std::string part;
    int out = -1;
    for (int attempt = 0; attempt < 100 && out < 0; ++attempt) {
        part = PartName(name, attempt);
        out = ::openat(targetDir, part.c_str(),
                       O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (out < 0 && errno != EEXIST) {
            break;
        }
    }
    if (out < 0) {
        int error = errno;
        ::close(in);
        return Fail("cannot create " + m_target + ": " + ErrnoText(error));
    }
    bool cancelled = false;
    std::string failure = CopyData(in, out, st, cancelled);
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
        failure = "cannot write " + m_target + ": " + ErrnoText(errno);
    }
    if (cancelled || !failure.empty()) {
        ::unlinkat(targetDir, part.c_str(), 0);
        return cancelled ? Cancel() : Fail(failure);
    }
    return PlaceReplacement(targetDir, part, name, replace, insideMade);
}

std::string Engine::CopyData(int in, int out, const struct stat& st, bool& cancelled) {
    const bool sparse = uint64_t(st.st_blocks) * 512 < uint64_t(st.st_size);
    if (!sparse) {
        // The kernel moves the bytes without a round trip through this
        // process, and shares or clones blocks where the file system can.
        // Block by block, so that a cancel and the progress are heard.
        for (uint64_t copied = 0;;) {
            if (Cancelled()) {
                cancelled = true;
                return "";
            }
            ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, kCopyBlock, 0);
            if (n > 0) {
                copied += uint64_t(n);
                m_progress.bytesDone += uint64_t(n);
                Report();
                continue;
            }
            if (n == 0 && (copied > 0 || st.st_size == 0)) {
                return "";
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0 && errno != EXDEV && errno != ENOSYS && errno != EOPNOTSUPP &&
                errno != EINVAL && errno != EBADF && errno != ETXTBSY) {
                return "cannot copy " + m_source + ": " + ErrnoText(errno);
            }
            break;  // not offered here (or a file whose size says nothing): read and write
        }
    }
    if (!m_buffer) {
        m_buffer.reset(new char[kCopyBlock]);
    }
    char* buffer = m_buffer.get();
    while (true) {
        if (Cancelled()) {
            cancelled = true;
            return "";
        }
        ssize_t n = ::read(in, buffer, kCopyBlock);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return "cannot read " + m_source + ": " + ErrnoText(errno);
        }
        if (n == 0) {
            break;
        }
        // A sparse source keeps its holes: zero blocks are skipped over.
        if (sparse && std::all_of(buffer, buffer + n, [](char c) { return c == 0; })) {
            if (::lseek(out, n, SEEK_CUR) < 0) {
                return "cannot write " + m_target + ": " + ErrnoText(errno);
            }
        } else {
            for (ssize_t written = 0; written < n;) {
                ssize_t w = ::write(out, buffer + written, size_t(n - written));
                if (w < 0 && errno == EINTR) {
                    continue;
                }
                if (w < 0) {
                    return "cannot write " + m_target + ": " + ErrnoText(errno);
                }
                written += w;
            }
        }
        m_progress.bytesDone += uint64_t(n);
        Report();
    }
    if (sparse && ::ftruncate(out, st.st_size) != 0) {
        return "cannot write " + m_target + ": " + ErrnoText(errno);
    }
    return "";
}

Engine::Step Engine::CopyLink(int sourceDir, int targetDir, const std::string& name,
                              const struct stat& st, bool replace, bool insideMade) {
    std::vector<char> buffer(size_t(st.st_size > 0 ? st.st_size : PATH_MAX) + 1);
    ssize_t n = ::readlinkat(sourceDir, name.c_str(), buffer.data(), buffer.size());
    if (n < 0 || size_t(n) >= buffer.size()) {
        return Fail("cannot read the link " + m_source);
    }
    std::string linkTarget(buffer.data(), size_t(n));
    std::string part = PartName(name, 0);
    if (::symlinkat(linkTarget.c_str(), targetDir, part.c_str()) != 0) {
        return Fail("cannot create " + m_target + ": " + ErrnoText(errno));
    }
    if (m_keepOwners) {
        (void)::fchownat(targetDir, part.c_str(), st.st_uid, st.st_gid, AT_SYMLINK_NOFOLLOW);
    }
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::utimensat(targetDir, part.c_str(), times, AT_SYMLINK_NOFOLLOW);
    return PlaceReplacement(targetDir, part, name, replace, insideMade);
}

Engine::Step Engine::CopySpecial(int sourceDir, int targetDir, const std::string& name,
                                 const struct stat& st, bool replace, bool insideMade) {
    (void)sourceDir;
    std::string part = PartName(name, 0);
    int rc = S_ISFIFO(st.st_mode) ? ::mkfifoat(targetDir, part.c_str(), st.st_mode & 07777)
                                  : ::mknodat(targetDir, part.c_str(), st.st_mode, st.st_rdev);
    if (rc != 0) {
        // Sockets and, without privileges, devices cannot be made anew.
        KeepSource();
        return Step::Ok;
    }
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::utimensat(targetDir, part.c_str(), times, AT_SYMLINK_NOFOLLOW);
    return PlaceReplacement(targetDir, part, name, replace, insideMade);
}

}  // namespace quarn::fileop
