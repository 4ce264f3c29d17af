#include "tests/support/TempTree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace quarn::test {

namespace fs = std::filesystem;

TempTree::TempTree() {
    const char* base = std::getenv("QUARN_TEST_TMP");
    std::string parent = base && *base ? base : fs::temp_directory_path().string();
    fs::create_directories(parent);
    std::string pattern = parent + "/quarn-test-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    m_root = buffer.data();
}

TempTree::~TempTree() {
    // Give back permissions a test took away, so everything can be removed.
    ::chmod(m_root.c_str(), 0700);
    std::string command = "chmod -R u+rwx '" + m_root + "' 2>/dev/null; rm -rf '" + m_root + "'";
    if (std::system(command.c_str()) != 0) {
        std::error_code ignored;
        fs::remove_all(m_root, ignored);
    }
}

std::string TempTree::Path(const std::string& relative) const {
    return m_root + "/" + relative;
}

void TempTree::MakeFolder(const std::string& relative) const {
    fs::create_directories(Path(relative));
}

void TempTree::MakeFile(const std::string& relative, uint64_t size) const {
    fs::path path = Path(relative);
    fs::create_directories(path.parent_path());
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        throw std::runtime_error("cannot create " + path.string());
    }
    std::vector<char> block(64 * 1024, 'q');
    while (size > 0) {
        size_t n = size < block.size() ? size_t(size) : block.size();
        if (::write(fd, block.data(), n) != ssize_t(n)) {
            ::close(fd);
            throw std::runtime_error("cannot write " + path.string());
        }
        size -= n;
    }
    ::close(fd);
}

void TempTree::MakeSparseFile(const std::string& relative, uint64_t size) const {
    fs::path path = Path(relative);
    fs::create_directories(path.parent_path());
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || ::ftruncate(fd, off_t(size)) != 0) {
        throw std::runtime_error("cannot make sparse " + path.string());
    }
    ::close(fd);
}

void TempTree::SetModified(const std::string& relative, int64_t seconds, long nanoseconds) const {
    struct timespec times[2];
    times[0].tv_sec = time_t(seconds);
    times[0].tv_nsec = nanoseconds;
    times[1] = times[0];
    if (::utimensat(AT_FDCWD, Path(relative).c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
        throw std::runtime_error("cannot set time of " + relative);
    }
}

void TempTree::MakeSymlink(const std::string& target, const std::string& relative) const {
    fs::path path = Path(relative);
    fs::create_directories(path.parent_path());
    fs::create_symlink(target, path);
}

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : m_name(name) {
    if (const char* old = std::getenv(name)) {
        m_hadValue = true;
        m_oldValue = old;
    }
    ::setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
    if (m_hadValue) {
        ::setenv(m_name.c_str(), m_oldValue.c_str(), 1);
    } else {
        ::unsetenv(m_name.c_str());
    }
}

bool RunningAsRoot() {
    return ::geteuid() == 0;
}

std::unique_ptr<TempTree> TempTreeOnAnotherFileSystem(const std::string& near) {
    struct stat shm, here;
    if (::stat("/dev/shm", &shm) != 0 || ::stat(near.c_str(), &here) != 0 ||
        shm.st_dev == here.st_dev || ::access("/dev/shm", W_OK) != 0) {
        return nullptr;
    }
    ScopedEnv where{"QUARN_TEST_TMP", "/dev/shm"};
    return std::make_unique<TempTree>();
}

}  // namespace quarn::test
