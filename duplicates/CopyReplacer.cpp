#include "duplicates/CopyReplacer.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <random>
#include <utility>
#include <vector>

#include "platform/FileRead.h"

namespace quarn {

namespace {

using Kind = ReplaceOutcome::Kind;

// Bytes read from each file at a time when comparing.
constexpr size_t kCompareBlock = size_t(1) << 20;
// The most one dedupe request asks for; some file systems take no more.
constexpr uint64_t kCloneChunk = uint64_t(16) << 20;
// Hidden from listings; the name tells what left it behind should the
// machine stop in between.
constexpr char kTemporaryPrefix[] = ".quarn-replace-";
constexpr int kTemporaryNameTries = 100;

ReplaceOutcome Skipped(std::string reason) {
    return {Kind::Skipped, std::move(reason), 0};
}
ReplaceOutcome Failed(int error) {
    return {Kind::Failed, std::strerror(error), 0};
}
ReplaceOutcome Replaced(uint64_t bytesFreed) {
    return {Kind::Replaced, {}, bytesFreed};
}

bool IsCancelled(const std::function<bool()>& cancelled) {
    return cancelled && cancelled();
}

// A descriptor closed with its owner.
class Descriptor {
  public:
    Descriptor() = default;
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor() { Reset(-1); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    void Reset(int fd) {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        m_fd = fd;
    }
    int Get() const { return m_fd; }

  private:
    int m_fd = -1;
};

// One of the two files, checked against what the scan saw and open for
// reading through the checked handle.
struct CheckedFile {
    Descriptor handle;  // O_PATH
    Descriptor reader;
    struct ::stat status {};
};

// Both files, and the copy's folder with the copy's name in it, which every
// later step works from so that a renamed folder cannot redirect them.
struct Pair {
    std::string folderPath;
    Descriptor folder;
    std::string name;
    CheckedFile kept;
    CheckedFile copy;
};

// Why the file is not usable, as a reason about the copy or about the kept
// file; nullopt when it is what the scan saw and open for reading.
std::optional<ReplaceOutcome> CheckFile(int folder, const std::string& name,
                                        const ExpectedFile& expected, bool isKept,
                                        CheckedFile& file) {
    ContentFile::Opened outcome = ContentFile::Opened::Yes;
    std::string reason;
    file.handle.Reset(
        ContentFile::OpenHandle(folder, name, expected, file.status, outcome, reason));
    if (file.handle.Get() >= 0) {
        file.reader.Reset(ContentFile::OpenForReading(file.handle.Get(), folder, name, file.status,
                                                      outcome, reason));
        if (file.reader.Get() >= 0) {
            return std::nullopt;
        }
    }
    if (outcome == ContentFile::Opened::Changed) {
        return Skipped(isKept ? "the kept file " + reason : reason);
    }
    return ReplaceOutcome{Kind::Failed, isKept ? "the kept file: " + reason : reason, 0};
}

std::optional<ReplaceOutcome> Prepare(const std::string& keptPath, const ExpectedFile& kept,
                                      const std::string& copyPath, const ExpectedFile& copy,
                                      Pair& pair) {
    size_t slash = copyPath.rfind('/');
    pair.folderPath =
        slash == std::string::npos ? "." : copyPath.substr(0, std::max<size_t>(slash, 1));
    pair.name = slash == std::string::npos ? copyPath : copyPath.substr(slash + 1);
    pair.folder.Reset(::open(pair.folderPath.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (pair.folder.Get() < 0) {
        int error = errno;
        if (error == ENOENT || error == ENOTDIR) {
            return Skipped("no longer exists");
        }
        return Failed(error);
    }
    if (auto problem = CheckFile(pair.folder.Get(), pair.name, copy, false, pair.copy)) {
        return problem;
    }
    if (auto problem = CheckFile(AT_FDCWD, keptPath, kept, true, pair.kept)) {
        return problem;
    }
    if (copy.device == kept.device && copy.inode == kept.inode) {
        return Skipped("already a hard link of the kept file");
    }
    if (copy.device != kept.device) {
        return Skipped("on another device");
    }
    if (copy.size != kept.size) {
        return Skipped("sizes differ");
    }
    if (copy.size == 0) {
        return Skipped("is empty");
    }
    return std::nullopt;
}

// The two files' bytes compared; nullopt when all `size` of them are equal.
std::optional<ReplaceOutcome> CompareBytes(const Pair& pair, uint64_t size,
                                           const std::function<bool()>& cancelled) {
    const int kept = pair.kept.reader.Get();
    const int copy = pair.copy.reader.Get();
    ::posix_fadvise(kept, 0, 0, POSIX_FADV_SEQUENTIAL);
    ::posix_fadvise(copy, 0, 0, POSIX_FADV_SEQUENTIAL);
    std::vector<char> keptBytes(size_t(std::min<uint64_t>(kCompareBlock, size)));
    std::vector<char> copyBytes(keptBytes.size());
    std::optional<ReplaceOutcome> outcome;
    for (uint64_t pos = 0; pos < size && !outcome;) {
        if (IsCancelled(cancelled)) {
            outcome = Skipped("cancelled");
            break;
        }
        size_t want = size_t(std::min<uint64_t>(keptBytes.size(), size - pos));
        ssize_t fromKept = ReadAllAt(kept, keptBytes.data(), want, pos);
        ssize_t fromCopy = fromKept < 0 ? 0 : ReadAllAt(copy, copyBytes.data(), want, pos);
        if (fromKept < 0 || fromCopy < 0) {
            std::string why = std::strerror(errno);
            outcome = ReplaceOutcome{Kind::Failed, fromKept < 0 ? "the kept file: " + why : why, 0};
        } else if (size_t(fromKept) < want) {
            outcome = Skipped("the kept file was modified since the scan");
        } else if (size_t(fromCopy) < want) {
            outcome = Skipped("was modified since the scan");
        } else if (std::memcmp(keptBytes.data(), copyBytes.data(), want) != 0) {
            outcome = Skipped("contents differ");
        }
        pos += want;
    }
    // What was read once for this is not worth keeping in the page cache.
    ::posix_fadvise(kept, 0, 0, POSIX_FADV_DONTNEED);
    ::posix_fadvise(copy, 0, 0, POSIX_FADV_DONTNEED);
    return outcome;
}

// The name `name` in `folder` as it stands now, against what the scan saw;
// nullopt when it still is that file.
std::optional<ReplaceOutcome> CheckName(int folder, const std::string& name,
                                        const ExpectedFile& expected, bool isKept) {
    struct ::stat status;
    std::string reason;
    if (::fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT && errno != ENOTDIR) {
            std::string why = std::strerror(errno);
            return ReplaceOutcome{Kind::Failed, isKept ? "the kept file: " + why : why, 0};
        }
        reason = "no longer exists";
    } else {
        reason = ContentFile::Difference(status, expected);
    }
    if (reason.empty()) {
        return std::nullopt;
    }
    return Skipped(isKept ? "the kept file " + reason : reason);
}

std::string RandomSuffix() {
    static constexpr char kLetters[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937_64 generator{std::random_device{}()};
    std::uniform_int_distribution<size_t> pick(0, sizeof kLetters - 2);
    std::string suffix(6, ' ');
    for (char& c : suffix) {
        c = kLetters[pick(generator)];
    }
    return suffix;
}

// A hard link to the inode behind `handle`, under a fresh hidden name in the
// folder, removed with its owner unless released.
class TemporaryLink {
  public:
    explicit TemporaryLink(int folder) : m_folder(folder) {}
    ~TemporaryLink() {
        if (m_made) {
            ::unlinkat(m_folder, m_name.c_str(), 0);
        }
    }
    TemporaryLink(const TemporaryLink&) = delete;
    TemporaryLink& operator=(const TemporaryLink&) = delete;

    // 0, or why no link could be made.
    int Make(int handle) {
        char viaHandle[40];
        std::snprintf(viaHandle, sizeof viaHandle, "/proc/self/fd/%d", handle);
        for (int attempt = 0; attempt < kTemporaryNameTries; ++attempt) {
            m_name = kTemporaryPrefix + RandomSuffix();
            // Linking the handle, not the kept path, links exactly the inode
            // that was checked.
            int made = ::linkat(AT_FDCWD, viaHandle, m_folder, m_name.c_str(), AT_SYMLINK_FOLLOW);
            if (made != 0 && errno == ENOENT) {
                struct ::stat proc;
                if (::lstat(viaHandle, &proc) == 0) {
                    return ENOENT;  // the kept inode has no name left
                }
                // No /proc: this needs a privilege, but it may be there.
                made = ::linkat(handle, "", m_folder, m_name.c_str(), AT_EMPTY_PATH);
            }
            if (made == 0) {
                m_made = true;
                return 0;
            }
            if (errno != EEXIST) {
                return errno;
            }
        }
        return EEXIST;
    }
    const std::string& Name() const { return m_name; }
    // The name no longer holds the link (it was renamed over the copy).
    void Release() { m_made = false; }

  private:
    int m_folder;
    std::string m_name;
    bool m_made = false;
};

ReplaceOutcome LinkError(int error) {
    if (error == EXDEV) {
        return Skipped("on another device");
    }
    if (error == ENOENT) {
        return Skipped("the kept file no longer exists");
    }
    return Failed(error);
}

ReplaceOutcome RenameError(int error) {
    if (error == EXDEV) {
        return Skipped("on another device");
    }
    if (error == ENOENT) {
        return Skipped("no longer exists");
    }
    return Failed(error);
}

ReplaceOutcome ReplaceByHardLink(const std::string& keptPath, const ExpectedFile& kept,
                                 const ExpectedFile& copy, Pair& pair, bool dryRun,
                                 const std::function<bool()>& cancelled,
                                 const ReplaceHooks& hooks) {
    // The data goes only with the copy's last link.
    const uint64_t freed =
        pair.copy.status.st_nlink == 1 ? uint64_t(pair.copy.status.st_blocks) * 512 : 0;
    const int folder = pair.folder.Get();
    if (dryRun) {
        if (::faccessat(AT_FDCWD, pair.folderPath.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
            return Failed(errno);
        }
        if (auto problem = CompareBytes(pair, copy.size, cancelled)) {
            return *problem;
        }
        return Replaced(freed);
    }
    if (IsCancelled(cancelled)) {
        return Skipped("cancelled");
    }
    // Linked first: a folder or file system that refuses the link is found
    // before the files are read.
    TemporaryLink link(folder);
    if (int error = link.Make(pair.kept.handle.Get())) {
        return LinkError(error);
    }
    if (auto problem = CompareBytes(pair, copy.size, cancelled)) {
        return *problem;
    }
    if (auto problem = CheckName(AT_FDCWD, keptPath, kept, true)) {
        return *problem;
    }
    if (auto problem = CheckName(folder, pair.name, copy, false)) {
        return *problem;
    }
    if (IsCancelled(cancelled)) {
        return Skipped("cancelled");
    }
    if (hooks.beforeRename && !hooks.beforeRename()) {
        return Skipped("interrupted");
    }
    // Swapping the names hands the old copy back under the temporary name,
    // where it is checked once more: a copy written to, or another file put
    // in its place, after the last check is swapped back instead of lost.
    auto swap = [&] {
        return ::renameat2(folder, link.Name().c_str(), folder, pair.name.c_str(),
                           RENAME_EXCHANGE) == 0;
    };
    auto swapBack = [&](ReplaceOutcome outcome) {
        if (!swap()) {
            link.Release();  // it holds the copy now: never removed
            outcome.kind = Kind::Failed;
            outcome.reason += "; the copy stays as " + pair.folderPath + "/" + link.Name();
        }
        return outcome;
    };
    if (swap()) {
        if (auto problem = CheckName(folder, link.Name(), copy, false)) {
            return swapBack(*problem);
        }
        if (::unlinkat(folder, link.Name().c_str(), 0) != 0) {
            return swapBack(Failed(errno));
        }
        link.Release();
        return Replaced(freed);
    }
    int error = errno;
    if (error != EINVAL && error != ENOSYS && error != EOPNOTSUPP) {
        return RenameError(error);
    }
    // No swapping here: a plain rename right after the last check.
    if (::renameat(folder, link.Name().c_str(), folder, pair.name.c_str()) != 0) {
        return RenameError(errno);
    }
    link.Release();
    return Replaced(freed);
}

// Asks the kernel to share [offset, offset + length) of `kept` with the same
// range of `copy`. Returns 0 with `shared` set, or an error number;
// EBADE when the bytes differ.
int Dedupe(int kept, int copy, uint64_t offset, uint64_t length, uint64_t& shared) {
    std::vector<uint64_t> storage(
        (sizeof(file_dedupe_range) + sizeof(file_dedupe_range_info)) / sizeof(uint64_t) + 1);
    auto* request = reinterpret_cast<file_dedupe_range*>(storage.data());
    request->src_offset = offset;
    request->src_length = length;
    request->dest_count = 1;
    request->info[0].dest_fd = copy;
    request->info[0].dest_offset = offset;
    if (::ioctl(kept, FIDEDUPERANGE, request) != 0) {
        return errno;
    }
    const file_dedupe_range_info& info = request->info[0];
    if (info.status == FILE_DEDUPE_RANGE_DIFFERS) {
        return EBADE;
    }
    if (info.status < 0) {
        return -info.status;
    }
    shared = info.bytes_deduped;
    return 0;
}

ReplaceOutcome CloneError(int error) {
    switch (error) {
        case EBADE:
            return Skipped("contents differ");
        case EXDEV:
            return Skipped("on another device");
        case ETXTBSY:
            return Skipped("is in use as a swap file");
        case EOPNOTSUPP:
        case EINVAL:
        case ENOTTY:
        case ENOSYS:
            return Skipped("the file system cannot clone");
        default:
            return Failed(error);
    }
}

ReplaceOutcome ReplaceByClone(const ExpectedFile& copy, Pair& pair, bool dryRun,
                              const std::function<bool()>& cancelled) {
    const uint64_t freed = uint64_t(pair.copy.status.st_blocks) * 512;
    const int kept = pair.kept.reader.Get();
    const int target = pair.copy.reader.Get();
    // An empty request goes through the same checks as a real one (file
    // system, permission, read-only mount) and shares nothing.
    uint64_t shared = 0;
    if (int error = Dedupe(kept, target, 0, 0, shared)) {
        return CloneError(error);
    }
    if (dryRun) {
        if (auto problem = CompareBytes(pair, copy.size, cancelled)) {
            return *problem;
        }
        return Replaced(freed);
    }
    std::optional<ReplaceOutcome> outcome;
    for (uint64_t pos = 0; pos < copy.size && !outcome; pos += shared) {
        const uint64_t length = std::min<uint64_t>(kCloneChunk, copy.size - pos);
        if (IsCancelled(cancelled)) {
            outcome = Skipped("cancelled");
        } else if (int error = Dedupe(kept, target, pos, length, shared)) {
            outcome = CloneError(error);
        } else if (shared == 0) {
            outcome = Skipped("was modified since the scan");  // it ended early
        }
    }
    ::posix_fadvise(kept, 0, 0, POSIX_FADV_DONTNEED);
    ::posix_fadvise(target, 0, 0, POSIX_FADV_DONTNEED);
    if (outcome) {
        return *outcome;
    }
    // Sharing changed no byte; still, a file written meanwhile was not the
    // copy the caller meant.
    struct ::stat now;
    if (::fstat(target, &now) == 0) {
        std::string reason = ContentFile::Difference(now, copy);
        if (!reason.empty()) {
            return Skipped(reason);
        }
    }
    return Replaced(freed);
}

}  // namespace

ReplaceOutcome ReplaceCopy(ReplaceMethod method, const std::string& keptPath,
                           const ExpectedFile& kept, const std::string& copyPath,
                           const ExpectedFile& copy, bool dryRun,
                           const std::function<bool()>& cancelled, const ReplaceHooks& hooks) {
    Pair pair;
    if (auto problem = Prepare(keptPath, kept, copyPath, copy, pair)) {
        return *problem;
    }
    if (method == ReplaceMethod::Clone) {
        return ReplaceByClone(copy, pair, dryRun, cancelled);
    }
    return ReplaceByHardLink(keptPath, kept, copy, pair, dryRun, cancelled, hooks);
}

}  // namespace quarn
