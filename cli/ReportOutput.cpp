#include "cli/ReportOutput.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace quarn::cli {

namespace {

// `reason` 0: the failure left no reason behind.
void PrintWriteError(int reason) {
    if (reason != 0) {
        std::fprintf(stderr, "quarn: write error: %s\n", std::strerror(reason));
    } else {
        std::fprintf(stderr, "quarn: write error\n");
    }
}

}  // namespace

CheckedStandardOutput::CheckedStandardOutput() : m_original(stdout) {
    std::fflush(m_original);
    cookie_io_functions_t functions{};
    functions.write = &CheckedStandardOutput::WriteToSink;
    functions.close = &CheckedStandardOutput::CloseSink;
    m_checked = ::fopencookie(&m_sink, "w", functions);
    if (m_checked != nullptr) {
        stdout = m_checked;
    }
}

CheckedStandardOutput::~CheckedStandardOutput() {
    if (!m_finished && m_checked != nullptr) {
        std::fflush(m_checked);
        m_sink.fd = -1;  // the descriptor stays open for the original stream
        std::fclose(m_checked);
    }
    stdout = m_original;
}

bool CheckedStandardOutput::Finish() {
    m_finished = true;
    if (m_checked == nullptr) {
        // No checked stream: the error flag at least tells that a write failed.
        errno = 0;
        const bool clean = !std::ferror(stdout);
        const bool closed = std::fclose(stdout) == 0;
        if (clean && closed) {
            return true;
        }
        PrintWriteError(closed ? 0 : errno);
        return false;
    }
    const bool closed = std::fclose(m_checked) == 0;
    m_checked = nullptr;
    if (closed && m_sink.error == 0) {
        return true;
    }
    PrintWriteError(m_sink.error != 0 ? m_sink.error : errno);
    return false;
}

ssize_t CheckedStandardOutput::WriteToSink(void* cookie, const char* data, size_t size) {
    auto* sink = static_cast<Sink*>(cookie);
    if (sink->error != 0) {
        return 0;  // the report is broken already: no partial lines after the gap
    }
    size_t done = 0;
    while (done < size) {
        ssize_t written = ::write(sink->fd, data + done, size - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            sink->error = written < 0 ? errno : EIO;
            return 0;  // the C library then sets the stream's error flag
        }
        done += size_t(written);
    }
    return ssize_t(size);
}

int CheckedStandardOutput::CloseSink(void* cookie) {
    auto* sink = static_cast<Sink*>(cookie);
    if (sink->fd < 0) {
        return 0;
    }
    if (::close(sink->fd) != 0 && sink->error == 0) {
        sink->error = errno;
        return -1;
    }
    return 0;
}

}  // namespace quarn::cli
