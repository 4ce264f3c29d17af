#include "history/ExportContentHash.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace quarn {
namespace {

uint64_t DigestInPieces(const std::string& bytes, size_t pieceSize) {
    ExportContentHash hash;
    for (size_t at = 0; at < bytes.size(); at += pieceSize) {
        hash.Add(bytes.data() + at, std::min(pieceSize, bytes.size() - at));
    }
    return hash.Digest();
}

std::string Export(const std::string& progver, const std::string& timestamp,
                   const std::string& body) {
    return "[1,2,{\"progname\":\"quarn\",\"progver\":\"" + progver +
           "\",\"timestamp\":" + timestamp + "},\n" + body;
}

const std::string kBody =
    "[{\"name\":\"/data\"},\n{\"name\":\"a\\nb\",\"asize\":12,\"dsize\":4096},\n"
    "[{\"name\":\"sub\"},\n{\"name\":\"c\",\"asize\":7}]]]\n";

// The compressing thread gets the export in buffers cut wherever the writer
// flushed, even inside the metadata line: the cut never changes the digest.
TEST(ExportContentHash, TheDigestDoesNotDependOnWhereTheExportIsCut) {
    const std::string bytes = Export("1.0", "1781000000", kBody);
    const uint64_t whole = DigestInPieces(bytes, bytes.size());
    for (size_t pieceSize : {1u, 2u, 7u, 40u, 63u, 64u, 65u}) {
        EXPECT_EQ(DigestInPieces(bytes, pieceSize), whole) << "pieces of " << pieceSize;
    }
}

// When and by which version a scan ran is not what it found: an unchanged
// tree scanned later, or after an upgrade, is the same scan.
TEST(ExportContentHash, OnlyWhatTheScanFoundCountsNotTheMetadataLine) {
    const uint64_t first = DigestInPieces(Export("1.0", "1781000000", kBody), 5);
    EXPECT_EQ(DigestInPieces(Export("1.1", "1781999999", kBody), 5), first);

    std::string grown = kBody;
    grown.replace(grown.find("\"asize\":7"), 9, "\"asize\":8");
    EXPECT_NE(DigestInPieces(Export("1.0", "1781000000", grown), 5), first);

    // A name's escaped line end is part of the name, not the end of a line.
    std::string renamed = kBody;
    renamed.replace(renamed.find("a\\nb"), 4, "a\\tb");
    EXPECT_NE(DigestInPieces(Export("1.0", "1781000000", renamed), 5), first);
}

}  // namespace
}  // namespace quarn
