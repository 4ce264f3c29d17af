#include "platform/DecodedInput.h"

#include <unistd.h>
#include <zlib.h>
#include <zstd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/JsonStream.h"

namespace quarn {

namespace {

constexpr size_t kInputPiece = size_t(256) << 10;

// The file's own bytes, with the few the sniffing took given back first.
class RawInput final : public ByteSource {
  public:
    RawInput(int fd, std::string head) : m_fd(fd), m_head(std::move(head)) {}

    size_t Read(char* into, size_t most) override {
        if (m_headAt < m_head.size()) {
            const size_t n = std::min(most, m_head.size() - m_headAt);
            std::memcpy(into, m_head.data() + m_headAt, n);
            m_headAt += n;
            m_offset += n;
            return n;
        }
        for (;;) {
            const ssize_t got = ::read(m_fd, into, most);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got < 0) {
                throw JsonReadFailure{errno};
            }
            m_offset += uint64_t(got);
            return size_t(got);
        }
    }
    // Bytes of the file handed out so far.
    uint64_t Offset() const { return m_offset; }

  private:
    int m_fd;
    std::string m_head;
    size_t m_headAt = 0;
    uint64_t m_offset = 0;
};

// The compressed bytes read ahead of the decoder, and where in the file the
// decoder stands.
struct CompressedPiece {
    std::vector<char> bytes = std::vector<char>(kInputPiece);
    size_t at = 0;
    size_t size = 0;
    bool ended = false;

    // The offset in the file of the next byte the decoder takes.
    uint64_t FileOffset(const RawInput& raw) const { return raw.Offset() - (size - at); }
    bool Fill(RawInput& raw) {
        if (at < size) {
            return true;
        }
        at = 0;
        size = raw.Read(bytes.data(), bytes.size());
        ended = size == 0;
        return !ended;
    }
};

class ZstdInput final : public ByteSource {
  public:
    explicit ZstdInput(std::unique_ptr<RawInput> raw)
        : m_raw(std::move(raw)), m_stream(ZSTD_createDStream()) {
        ZSTD_initDStream(m_stream);
    }
    ~ZstdInput() override { ZSTD_freeDStream(m_stream); }

    const char* Encoding() const override { return "zstd"; }

    size_t Read(char* into, size_t most) override {
        ZSTD_outBuffer out{into, most, 0};
        while (out.pos == 0) {
            if (!m_in.Fill(*m_raw)) {
                if (m_inFrame) {
                    throw JsonDamage{"truncated", m_raw->Offset(), true};
                }
                return 0;
            }
            ZSTD_inBuffer in{m_in.bytes.data(), m_in.size, m_in.at};
            const uint64_t before = m_in.FileOffset(*m_raw);
            const size_t hint = ZSTD_decompressStream(m_stream, &out, &in);
            m_in.at = in.pos;
            if (ZSTD_isError(hint)) {
                throw JsonDamage{std::string("damaged zstd data (") + ZSTD_getErrorName(hint) + ")",
                                 before, true};
            }
            // 0: a frame ended here; the stream may hold another.
            m_inFrame = hint != 0;
        }
        return out.pos;
    }

  private:
    std::unique_ptr<RawInput> m_raw;
    ZSTD_DStream* m_stream;
    CompressedPiece m_in;
    bool m_inFrame = true;
};

class GzipInput final : public ByteSource {
  public:
    explicit GzipInput(std::unique_ptr<RawInput> raw) : m_raw(std::move(raw)) {
        std::memset(&m_stream, 0, sizeof m_stream);
        inflateInit2(&m_stream, 16 + MAX_WBITS);
    }
    ~GzipInput() override { inflateEnd(&m_stream); }

    const char* Encoding() const override { return "gzip"; }

    size_t Read(char* into, size_t most) override {
        m_stream.next_out = reinterpret_cast<Bytef*>(into);
        m_stream.avail_out = uInt(std::min<size_t>(most, UINT32_MAX));
        while (m_stream.next_out == reinterpret_cast<Bytef*>(into)) {
            if (!m_in.Fill(*m_raw)) {
                if (m_inMember) {
                    throw JsonDamage{"truncated", m_raw->Offset(), true};
                }
                return 0;
            }
            if (!m_inMember) {
                inflateReset(&m_stream);  // gzip files may be members one after another
                m_inMember = true;
            }
            m_stream.next_in = reinterpret_cast<Bytef*>(m_in.bytes.data() + m_in.at);
            m_stream.avail_in = uInt(m_in.size - m_in.at);
            const uint64_t before = m_in.FileOffset(*m_raw);
            const int result = inflate(&m_stream, Z_NO_FLUSH);
            m_in.at = m_in.size - m_stream.avail_in;
            if (result == Z_STREAM_END) {
                m_inMember = false;
            } else if (result != Z_OK && result != Z_BUF_ERROR) {
                throw JsonDamage{std::string("damaged gzip data (") +
                                     (m_stream.msg != nullptr ? m_stream.msg : "inflate failed") +
                                     ")",
                                 before, true};
            }
        }
        return size_t(reinterpret_cast<char*>(m_stream.next_out) - into);
    }

  private:
    std::unique_ptr<RawInput> m_raw;
    z_stream m_stream;
    CompressedPiece m_in;
    bool m_inMember = true;
};

// Up to four bytes, fewer only at the end of the stream.
std::string ReadHead(int fd) {
    std::string head(4, '\0');
    size_t got = 0;
    while (got < head.size()) {
        const ssize_t n = ::read(fd, head.data() + got, head.size() - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            throw JsonReadFailure{errno};
        }
        if (n == 0) {
            break;
        }
        got += size_t(n);
    }
    head.resize(got);
    return head;
}

}  // namespace

std::unique_ptr<ByteSource> OpenDecodedInput(int fd) {
    std::string head = ReadHead(fd);
    const auto byte = [&](size_t i) { return i < head.size() ? uint8_t(head[i]) : 0; };
    const bool zstd = byte(0) == 0x28 && byte(1) == 0xb5 && byte(2) == 0x2f && byte(3) == 0xfd;
    const bool gzip = byte(0) == 0x1f && byte(1) == 0x8b;
    auto raw = std::make_unique<RawInput>(fd, std::move(head));
    if (zstd) {
        return std::make_unique<ZstdInput>(std::move(raw));
    }
    if (gzip) {
        return std::make_unique<GzipInput>(std::move(raw));
    }
    return raw;
}

}  // namespace quarn
