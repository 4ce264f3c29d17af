#include "platform/ExportTarget.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace quarn {

namespace {

// The process's umask, read without changing it (umask(2) would, for a
// moment, for every thread).
mode_t CurrentUmask() {
    std::FILE* status = std::fopen("/proc/self/status", "re");
    unsigned mask = 022;
    if (status != nullptr) {
        char line[256];
        while (std::fgets(line, sizeof line, status) != nullptr) {
            if (std::sscanf(line, "Umask: %o", &mask) == 1) {
                break;
            }
        }
        std::fclose(status);
    }
    return mode_t(mask);
}

}  // namespace

ExportTarget::ExportTarget(const std::string& file) : m_file(file) {
    if (file == "-") {
        m_fd = 1;
        return;
    }
    m_temporary = file + ".quarn-XXXXXX";
    m_fd = ::mkstemp(m_temporary.data());
    if (m_fd < 0) {
        m_error = errno;
        m_temporary.clear();
        return;
    }
    // mkstemp makes 0600; an export is an ordinary file of the user's.
    ::fchmod(m_fd, 0666 & ~CurrentUmask());
}

ExportTarget::~ExportTarget() {
    if (!m_temporary.empty()) {
        ::close(m_fd);
        ::unlink(m_temporary.c_str());
    }
}

int ExportTarget::Commit() {
    if (m_temporary.empty()) {
        return ::fsync(1) != 0 && errno != EINVAL && errno != EROFS ? errno : 0;
    }
    int error = 0;
    if (::fdatasync(m_fd) != 0) {
        error = errno;
    }
    if (::close(m_fd) != 0 && error == 0) {
        error = errno;
    }
    if (error == 0 && ::rename(m_temporary.c_str(), m_file.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(m_temporary.c_str());
    }
    m_temporary.clear();
    return error;
}

}  // namespace quarn
