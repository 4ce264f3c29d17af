#include "settings/IniFileIo.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/FileWrite.h"
#include "platform/PathRules.h"

namespace quarn {

namespace {

constexpr const char* kTooLargeReason = "larger than 16 MB";

enum class ReadOutcome { Read, Missing, Failed };

// Reads the whole file into `text`. Only a regular file of at most
// kMaxIniFileSize bytes is read: a FIFO would block the reader in open() or
// read() for as long as no writer comes, a device such as /dev/zero never
// ends, and a huge file is no settings file. O_NONBLOCK keeps the open from
// waiting for a FIFO's writer; the type is then checked on what was opened,
// so a file swapped in after a check cannot slip past it. On failure `why`
// (when given) says what is wrong with the file.
ReadOutcome ReadWholeFile(const std::string& path, std::string& text, std::string* why = nullptr) {
    text.clear();
    auto fail = [&](const std::string& reason) {
        if (why != nullptr) {
            *why = reason;
        }
        text.clear();
        return ReadOutcome::Failed;
    };
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            return ReadOutcome::Missing;
        }
        return fail(std::strerror(errno));
    }
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        int error = errno;
        ::close(fd);
        return fail(std::strerror(error));
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return fail("not a regular file");
    }
    if (st.st_size > kMaxIniFileSize) {
        ::close(fd);
        return fail(kTooLargeReason);
    }
    text.reserve(size_t(st.st_size));
    char block[16 * 1024];
    for (;;) {
        ssize_t n = ::read(fd, block, sizeof block);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            int error = errno;
            ::close(fd);
            return fail(std::strerror(error));
        }
        if (n == 0) {
            break;
        }
        // The file may grow while it is read.
        if (text.size() + size_t(n) > size_t(kMaxIniFileSize)) {
            ::close(fd);
            return fail(kTooLargeReason);
        }
        text.append(block, size_t(n));
    }
    ::close(fd);
    return ReadOutcome::Read;
}

// A settings file that is a symbolic link stays one: we rewrite its target,
// since renaming over the link would replace it with a plain file.
std::string ResolveLink(const std::string& path) {
    std::string resolved = path;
    // A loop of links resolves to nothing writable; the kernel's own limit.
    for (int depth = 0; depth < 40; ++depth) {
        struct stat st;
        if (::lstat(resolved.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            return resolved;
        }
        std::error_code ec;
        std::filesystem::path target = std::filesystem::read_symlink(resolved, ec);
        if (ec) {
            return resolved;
        }
        if (target.is_relative()) {
            target = std::filesystem::path(resolved).parent_path() / target;
        }
        resolved = target.string();
    }
    return path;
}

std::string FolderOf(const std::string& path) {
    if (path.find(kPathSeparator) == std::string::npos) {
        return ".";
    }
    std::string_view folder = FolderOfPath(path);
    return folder.empty() ? std::string(1, kPathSeparator) : std::string(folder);
}

// Holds an exclusive flock on "<file>.lock" for its lifetime. A lock file of
// its own (not the settings file) because the settings file is replaced by
// every write and a lock on a replaced file would guard nothing.
class FileLock {
  public:
    explicit FileLock(const std::string& path) {
        m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (m_fd < 0) {
            return;
        }
        while (::flock(m_fd, LOCK_EX) != 0) {
            if (errno != EINTR) {
                ::close(m_fd);
                m_fd = -1;
                return;
            }
        }
    }
    ~FileLock() {
        if (m_fd >= 0) {
            ::close(m_fd);  // releases the lock
        }
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool Held() const { return m_fd >= 0; }

  private:
    int m_fd = -1;
};

// The new text replaces the file whole; who may read the settings stays as
// it was.
bool ReplaceFile(const std::string& target, const std::string& text) {
    return ReplaceFileAtomically(target, text, [&target](int fd) {
        struct stat old;
        if (::stat(target.c_str(), &old) != 0) {
            return true;
        }
        if (::fchmod(fd, old.st_mode & 07777) != 0) {
            return false;
        }
        if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) {
            [[maybe_unused]] int ignored = ::fchown(fd, old.st_uid, old.st_gid);
        }
        return true;
    });
}

}  // namespace

IniDocument LoadIniDocument(const std::string& path) {
    std::string text;
    if (path.empty() || ReadWholeFile(path, text) != ReadOutcome::Read) {
        return IniDocument();
    }
    return IniDocument::Parse(text);
}

std::optional<std::string> IniFileReadProblem(const std::string& path) {
    std::string text;
    std::string why;
    if (path.empty() || ReadWholeFile(path, text, &why) != ReadOutcome::Failed) {
        return std::nullopt;
    }
    return why;
}

bool UpdateIniDocument(const std::string& path, const std::function<bool(IniDocument&)>& change) {
    if (path.empty()) {
        return false;
    }
    std::string target = ResolveLink(path);
    // Nothing but a regular file is ever read, so nothing else is replaced;
    // checked first so that not even the lock file is left beside a device.
    struct stat existing;
    if (::stat(target.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
        return false;
    }
    std::error_code ec;
    std::filesystem::create_directories(FolderOf(target), ec);
    if (ec) {
        return false;
    }
    FileLock lock(target + ".lock");
    if (!lock.Held()) {
        return false;
    }
    std::string oldText;
    ReadOutcome outcome = ReadWholeFile(target, oldText);
    if (outcome == ReadOutcome::Failed) {
        // Writing now would replace settings we could not read with nothing.
        return false;
    }
    IniDocument doc = IniDocument::Parse(oldText);
    if (!change(doc)) {
        return false;
    }
    std::string newText = doc.Serialize();
    if (newText == oldText && (outcome == ReadOutcome::Read || newText.empty())) {
        return true;
    }
    return ReplaceFile(target, newText);
}

}  // namespace quarn
