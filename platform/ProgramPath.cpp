#include "platform/ProgramPath.h"

#include <unistd.h>

#include <vector>

namespace quarn {

std::string ExecutableRealPath() {
    std::vector<char> buffer(4096);
    for (;;) {
        ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) {
            return {};
        }
        if (size_t(n) < buffer.size()) {
            return std::string(buffer.data(), size_t(n));
        }
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace quarn
