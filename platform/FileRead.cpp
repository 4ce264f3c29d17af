#include "platform/FileRead.h"

#include <unistd.h>

#include <cerrno>

namespace quarn {

namespace {

template <typename ReadOnce>
ssize_t ReadRepeatedly(void* buffer, size_t size, ReadOnce readOnce) {
    char* bytes = static_cast<char*>(buffer);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = readOnce(bytes + done, size - done, done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return -1;
        }
        if (n == 0) {
            break;
        }
        done += size_t(n);
    }
    return ssize_t(done);
}

}  // namespace

ssize_t ReadAll(int fd, void* buffer, size_t size) {
    return ReadRepeatedly(buffer, size,
                          [fd](char* to, size_t want, size_t) { return ::read(fd, to, want); });
}

ssize_t ReadAllAt(int fd, void* buffer, size_t size, uint64_t offset) {
    return ReadRepeatedly(buffer, size, [fd, offset](char* to, size_t want, size_t done) {
        return ::pread(fd, to, want, off_t(offset + done));
    });
}

}  // namespace quarn
