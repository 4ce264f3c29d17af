#pragma once
// The bytes of an export as the import reads them: plain, zstd or gzip,
// told apart by the first bytes of the stream (a pipe has no name to go by).
// A compressed stream is decoded in pieces as it is read, so memory stays
// that of one piece however large the file.
//
// Damage of the compressed data (a stream that ends inside a frame, a bad
// checksum) throws JsonDamage with the offset in the compressed bytes, so
// that it is reported as any damaged import is; a failed read throws
// JsonReadFailure.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace quarn {

class ByteSource {
  public:
    virtual ~ByteSource() = default;
    // Up to `most` bytes into `into`; 0 only at the end of the stream.
    virtual size_t Read(char* into, size_t most) = 0;
    // "zstd", "gzip", or "" for plain bytes.
    virtual const char* Encoding() const { return ""; }
};

// Reads `fd` (not closed) and decodes what its first bytes announce.
std::unique_ptr<ByteSource> OpenDecodedInput(int fd);

}  // namespace quarn
