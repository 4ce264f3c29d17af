#include "settings/IniFileIo.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>

#include "platform/PathRules.h"

namespace quarn {

namespace {

enum class ReadOutcome { Read, Missing, Failed };

ReadOutcome ReadWholeFile(const std::string& path, std::string& text) {
    text.clear();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return errno == ENOENT || errno == ENOTDIR ? ReadOutcome::Missing : ReadOutcome::Failed;
    }
    char block[16 * 1024];
    for (;;) {
        ssize_t n = ::read(fd, block, sizeof block);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            ::close(fd);
            return ReadOutcome::Failed;
        }
        if (n == 0) {
            break;
        }
        text.append(block, size_t(n));
    }
    ::close(fd);
    return ReadOutcome::Read;
}

bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += size_t(n);
    }
    return true;
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

std::string BaseNameOf(const std::string& path) {
    size_t slash = path.rfind(kPathSeparator);
    return slash == std::string::npos ? path : path.substr(slash + 1);
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

// Creates a temporary file beside `target`; returns its descriptor or -1.
int CreateTemporary(const std::string& folder, const std::string& target, std::string& tempPath) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath = folder + kPathSeparator + "." + BaseNameOf(target) + "." +
                   std::to_string(::getpid()) + "." + std::to_string(counter++) + ".tmp";
        // 0666 lets the umask decide, as for any new file the user makes.
        int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

bool ReplaceFile(const std::string& target, const std::string& text) {
    std::string folder = FolderOf(target);
    std::string tempPath;
    int fd = CreateTemporary(folder, target, tempPath);
    if (fd < 0) {
        return false;
    }
    bool ok = WriteAll(fd, text);
    struct stat old;
    if (ok && ::stat(target.c_str(), &old) == 0) {
        // Keep who may read the settings as it was.
        ok = ::fchmod(fd, old.st_mode & 07777) == 0;
        if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) {
            [[maybe_unused]] int ignored = ::fchown(fd, old.st_uid, old.st_gid);
        }
    }
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(tempPath.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(tempPath.c_str());
        return false;
    }
    // The folder is not synced: after a crash the rename may be lost, which
    // leaves the old complete file, and syncing it doubles the cost of every
    // settings change.
    return true;
}

}  // namespace

IniDocument LoadIniDocument(const std::string& path) {
    std::string text;
    if (path.empty() || ReadWholeFile(path, text) != ReadOutcome::Read) {
        return IniDocument();
    }
    return IniDocument::Parse(text);
}

bool UpdateIniDocument(const std::string& path, const std::function<bool(IniDocument&)>& change) {
    if (path.empty()) {
        return false;
    }
    std::string target = ResolveLink(path);
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
