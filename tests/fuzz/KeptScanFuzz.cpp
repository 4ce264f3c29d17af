// What reads the kept scans, on arbitrary bytes. The first byte picks the
// reader:
//   0  a kept scan's file name: what it parses to names itself again;
//   1  the bytes as a file the import decodes (plain, zstd or gzip): it
//      decodes, or it is damage with an offset inside the file; plain bytes
//      come back as they are;
//   2  the bytes compressed as a scan is kept (zstd) or as a host's export
//      may come (gzip): they decode to themselves, and the compressed file
//      cut short anywhere past its magic is damage, never a shorter text.

#include <sys/mman.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <string>

#include "history/ScanStore.h"
#include "history/ZstdOutput.h"
#include "platform/DecodedInput.h"
#include "platform/JsonStream.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/fuzz/FuzzInput.h"

namespace {

using namespace quarn;

constexpr size_t kMagicBytes = 4;  // zstd's magic; gzip's is shorter

struct Decoded {
    bool damaged = false;
    uint64_t offset = 0;
    std::string text;
    std::string encoding;
};

// Reads in pieces of a size the input chooses, so that the decoder's
// piece boundaries fall anywhere.
Decoded Decode(const std::string& file, size_t piece) {
    Decoded decoded;
    const int fd = fuzz::MemoryFile(file.data(), file.size());
    try {
        std::unique_ptr<ByteSource> source = OpenDecodedInput(fd);
        decoded.encoding = source->Encoding();
        std::string buffer(piece, '\0');
        size_t got;
        while ((got = source->Read(buffer.data(), piece)) > 0) {
            decoded.text.append(buffer.data(), got);
        }
    } catch (const JsonDamage& damage) {
        FUZZ_CHECK(damage.inCompressedBytes);
        FUZZ_CHECK(!damage.what.empty());
        decoded.damaged = true;
        decoded.offset = damage.offset.value_or(file.size());
    }
    ::close(fd);
    return decoded;
}

std::string Zstd(const std::string& text, size_t piece) {
    const int fd = ::memfd_create("zst", MFD_CLOEXEC);
    FUZZ_CHECK(fd >= 0);
    {
        ZstdOutput output(fd);
        for (size_t at = 0; at < text.size(); at += piece) {
            output.Write(text.data() + at, std::min(piece, text.size() - at));
        }
        FUZZ_CHECK(output.Finish());
    }
    std::string compressed = fuzz::ReadBack(fd);
    ::close(fd);
    return compressed;
}

std::string Gzip(const std::string& text) {
    z_stream stream{};
    FUZZ_CHECK(deflateInit2(&stream, 1, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) == Z_OK);
    std::string compressed(deflateBound(&stream, uLong(text.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = uInt(text.size());
    stream.next_out = reinterpret_cast<Bytef*>(compressed.data());
    stream.avail_out = uInt(compressed.size());
    FUZZ_CHECK(deflate(&stream, Z_FINISH) == Z_STREAM_END);
    compressed.resize(stream.total_out);
    deflateEnd(&stream);
    return compressed;
}

void CheckName(const std::string& name) {
    uint64_t folderHash = 0;
    KeptScan facts;
    if (!ScanStore::ParseFileName(name, folderHash, facts)) {
        return;
    }
    // Written again (under any folder) and read back, the facts are the same.
    const std::string again = ScanStore::FileName("/fuzz", facts);
    KeptScan reread;
    FUZZ_CHECK(ScanStore::ParseFileName(again, folderHash, reread));
    FUZZ_CHECK(reread.unixMillis == facts.unixMillis);
    FUZZ_CHECK(reread.contentHash == facts.contentHash);
    FUZZ_CHECK(reread.total == facts.total);
    FUZZ_CHECK(reread.files == facts.files);
    FUZZ_CHECK(folderHash == ScanStore::FolderHash("/fuzz"));
}

void CheckFile(const std::string& file, size_t piece) {
    const Decoded decoded = Decode(file, piece);
    if (decoded.damaged) {
        FUZZ_CHECK(decoded.offset <= file.size());
    } else if (decoded.encoding.empty()) {
        FUZZ_CHECK(decoded.text == file);
    }
}

void CheckRoundTrip(const std::string& text, size_t piece, size_t cutSeed, bool gzip) {
    const std::string compressed = gzip ? Gzip(text) : Zstd(text, piece);
    const Decoded whole = Decode(compressed, piece);
    FUZZ_CHECK(!whole.damaged);
    FUZZ_CHECK(whole.encoding == (gzip ? "gzip" : "zstd"));
    FUZZ_CHECK(whole.text == text);

    const size_t cut = kMagicBytes + cutSeed % (compressed.size() - kMagicBytes);
    const Decoded shortened = Decode(compressed.substr(0, cut), piece);
    FUZZ_CHECK(shortened.damaged);
    FUZZ_CHECK(shortened.offset <= cut);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) {
        return 0;
    }
    const uint8_t mode = data[0] % 3;
    const size_t piece = 1 + data[1] * 97;  // 1 byte up to about 24 KiB
    const std::string rest(reinterpret_cast<const char*>(data) + 3, size - 3);
    switch (mode) {
        case 0:
            CheckName(rest);
            break;
        case 1:
            CheckFile(rest, piece);
            break;
        default:
            CheckRoundTrip(rest, piece, data[2] * 7919u, (data[1] & 1) != 0);
            break;
    }
    return 0;
}
