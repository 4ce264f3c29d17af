#include "platform/FileWrite.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/PathRules.h"

namespace quarn {

namespace {

// Creates a hidden temporary file beside `target`; returns its descriptor or -1.
int CreateTemporaryBeside(const std::string& target, std::string& tempPath) {
    static std::atomic<unsigned> counter{0};
    std::string folder(FolderOfPath(target));
    if (!folder.empty()) {
        AppendPathComponent(folder, "");
    }
    const std::string base(NameOfPath(target));
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath = folder + "." + base + "." + std::to_string(::getpid()) + "." +
                   std::to_string(counter++) + ".tmp";
        // 0666 lets the umask decide, as for any new file the user makes.
        int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

}  // namespace

bool WriteAll(int fd, std::string_view text) {
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

bool ReplaceFileAtomically(const std::string& path, std::string_view text,
                           const PrepareReplacement& prepare) {
    std::string tempPath;
    int fd = CreateTemporaryBeside(path, tempPath);
    if (fd < 0) {
        return false;
    }
    bool ok = WriteAll(fd, text);
    ok = ok && (!prepare || prepare(fd));
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(tempPath.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(tempPath.c_str());
    }
    // The folder is not synced: after a crash the rename may be lost, which
    // leaves the old complete file, and syncing it doubles the cost of every
    // write.
    return ok;
}

}  // namespace quarn
