#include "history/ZstdOutput.h"

#include <unistd.h>

#include <cerrno>

namespace quarn {

ZstdOutput::ZstdOutput(int fd, int level)
    : m_fd(fd), m_context(ZSTD_createCCtx()), m_out(ZSTD_CStreamOutSize()) {
    if (m_context == nullptr) {
        m_error = ENOMEM;
        return;
    }
    ZSTD_CCtx_setParameter(m_context, ZSTD_c_compressionLevel, level);
    ZSTD_CCtx_setParameter(m_context, ZSTD_c_checksumFlag, 1);
}

ZstdOutput::~ZstdOutput() {
    ZSTD_freeCCtx(m_context);
}

void ZstdOutput::Write(const char* data, size_t size) {
    if (m_error != 0 || size == 0) {
        return;
    }
    ZSTD_inBuffer in{data, size, 0};
    Drain(in, ZSTD_e_continue);
}

bool ZstdOutput::Finish() {
    if (m_error == 0) {
        ZSTD_inBuffer in{nullptr, 0, 0};
        Drain(in, ZSTD_e_end);
    }
    return m_error == 0;
}

void ZstdOutput::Drain(ZSTD_inBuffer& in, ZSTD_EndDirective mode) {
    for (;;) {
        ZSTD_outBuffer out{m_out.data(), m_out.size(), 0};
        const size_t left = ZSTD_compressStream2(m_context, &out, &in, mode);
        if (ZSTD_isError(left)) {
            m_error = EIO;
            return;
        }
        WriteOut(m_out.data(), out.pos);
        if (m_error != 0) {
            return;
        }
        const bool done = mode == ZSTD_e_end ? left == 0 : in.pos == in.size;
        if (done) {
            return;
        }
    }
}

void ZstdOutput::WriteOut(const char* data, size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(m_fd, data, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0) {
            m_error = errno;
            return;
        }
        data += written;
        size -= size_t(written);
    }
}

}  // namespace quarn
