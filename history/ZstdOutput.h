#pragma once
// Writes bytes compressed with zstd (level 1: fast enough to keep up with a
// walk, and an export's JSON shrinks to a small part of itself) to a file
// handle. The first failed write is kept; later writes are dropped.

#include <zstd.h>

#include <cstddef>
#include <string>
#include <vector>

namespace quarn {

class ZstdOutput {
  public:
    // Writes to `fd` (not owned, not closed).
    explicit ZstdOutput(int fd, int level = 1);
    ~ZstdOutput();
    ZstdOutput(const ZstdOutput&) = delete;
    ZstdOutput& operator=(const ZstdOutput&) = delete;

    void Write(const char* data, size_t size);
    // Ends the frame and writes what is left. True when every byte reached
    // the file.
    bool Finish();
    // The errno of the first failed write (or ENOMEM/EIO from the encoder).
    int Error() const { return m_error; }

  private:
    void Drain(ZSTD_inBuffer& in, ZSTD_EndDirective mode);
    void WriteOut(const char* data, size_t size);

    int m_fd;
    ZSTD_CCtx* m_context;
    std::vector<char> m_out;
    int m_error = 0;
};

}  // namespace quarn
