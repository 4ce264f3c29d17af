#pragma once
// What several fuzz targets do with their input: hold it in a file that
// lives in memory, read such a file back, cut it into parts at NUL bytes.

#include <sys/mman.h>
#include <unistd.h>

#include <string>
#include <string_view>
#include <vector>

#include "tests/fuzz/FuzzCheck.h"

namespace fuzz {

// A memory file holding `size` bytes of `data`, read from its start.
inline int MemoryFile(const void* data, size_t size) {
    int fd = ::memfd_create("fuzz", MFD_CLOEXEC);
    FUZZ_CHECK(fd >= 0);
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t wrote = ::write(fd, bytes, size);
        FUZZ_CHECK(wrote > 0);
        bytes += wrote;
        size -= size_t(wrote);
    }
    FUZZ_CHECK(::lseek(fd, 0, SEEK_SET) == 0);
    return fd;
}

// Everything `fd` holds, from its start.
inline std::string ReadBack(int fd) {
    std::string text;
    FUZZ_CHECK(::lseek(fd, 0, SEEK_SET) == 0);
    char buffer[65536];
    ssize_t got;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0) {
        text.append(buffer, size_t(got));
    }
    return text;
}

// The parts between NUL bytes (one part when there is none).
inline std::vector<std::string_view> SplitAtNul(std::string_view input) {
    std::vector<std::string_view> parts;
    for (;;) {
        size_t nul = input.find('\0');
        parts.push_back(input.substr(0, nul));
        if (nul == std::string_view::npos) {
            return parts;
        }
        input.remove_prefix(nul + 1);
    }
}

}  // namespace fuzz
