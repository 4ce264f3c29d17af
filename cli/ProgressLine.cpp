#include "cli/ProgressLine.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>

namespace quarn::cli {

ProgressLine::ProgressLine() : m_enabled(::isatty(STDERR_FILENO) == 1) {}

ProgressLine::~ProgressLine() {
    Clear();
}

void ProgressLine::Update(int64_t folders, int64_t files, const std::string& currentFolder) {
    if (!m_enabled) {
        return;
    }
    auto now = std::chrono::steady_clock::now();
    if (m_shown && now - m_lastPrint < std::chrono::milliseconds(100)) {
        return;
    }
    m_lastPrint = now;
    m_shown = true;
    struct winsize size {};
    int columns =
        ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
    char head[96];
    int headLength = std::snprintf(head, sizeof head,
                                   "%lld folders, %lld files: ", static_cast<long long>(folders),
                                   static_cast<long long>(files));
    int room = columns - 1 - headLength;
    std::string tail = currentFolder;
    // A folder name is not the terminal's business: control bytes in it
    // (an escape sequence, a line feed) would be obeyed, not shown.
    for (char& c : tail) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            c = '?';
        }
    }
    if (room <= 3) {
        tail.clear();
    } else if (int(tail.size()) > room) {
        tail = "..." + tail.substr(tail.size() - size_t(room - 3));
    }
    std::fprintf(stderr, "\r\033[K%s%s", head, tail.c_str());
    std::fflush(stderr);
}

void ProgressLine::Clear() {
    if (m_enabled && m_shown) {
        std::fprintf(stderr, "\r\033[K");
        std::fflush(stderr);
        m_shown = false;
    }
}

}  // namespace quarn::cli
