// Exports that travel compressed: a .json.zst or .json.gz file reads as its
// plain .json does, whatever its name says, and a compressed file cut short
// or damaged is refused with where, as a damaged plain one is.

#include <gtest/gtest.h>

#include <string>

#include "foldersize/FolderScanner.h"
#include "tests/history/HistoryFiles.h"
#include "tests/support/TempTree.h"

namespace quarn {
namespace {

using test::ImportRequest;
using test::ReadText;
using test::TreeLines;
using test::WriteText;

class CompressedImportTest : public ::testing::Test {
  protected:
    CompressedImportTest() : ini("QUARN_INI", settings.Path("quarn.ini")) {
        for (int i = 0; i < 300; ++i) {
            tree.MakeFile("f" + std::to_string(i % 7) + "/deep/file-" + std::to_string(i) + ".txt",
                          uint64_t(i * 37 + 1));
        }
        tree.MakeFile(std::string("odd/bad\xff name"), 5);
        plain = out.Path("tree.json");
        test::ExportFolder(tree.Root(), plain);
        json = ReadText(plain);
    }

    // The tree an import of `file` shows, or its error.
    std::vector<std::string> Import(const std::string& file, std::string* error = nullptr) {
        FolderScanner scanner;
        scanner.RunScan(ImportRequest(file));
        if (error != nullptr) {
            *error = scanner.GetImportError();
        }
        return TreeLines(scanner.Tree());
    }

    test::TempTree settings;
    test::ScopedEnv ini;
    test::TempTree tree;
    test::TempTree out;
    std::string plain;
    std::string json;
};

TEST_F(CompressedImportTest, ZstdAndGzipReadAsThePlainFileWhateverTheirNames) {
    const std::vector<std::string> expected = Import(plain);
    ASSERT_GT(expected.size(), 10u);
    test::WriteZstd(out.Path("tree.json.zst"), json);
    test::WriteGzip(out.Path("tree.json.gz"), json);
    // The name says plain; the bytes say zstd.
    test::WriteZstd(out.Path("misnamed.json"), json);
    // Two gzip members one after another are one stream to gzip's readers.
    const std::string half = json.substr(0, json.size() / 2);
    test::WriteGzip(out.Path("a.gz"), half);
    test::WriteGzip(out.Path("b.gz"), json.substr(half.size()));
    WriteText(out.Path("members.json.gz"), ReadText(out.Path("a.gz")) + ReadText(out.Path("b.gz")));

    for (const char* name : {"tree.json.zst", "tree.json.gz", "misnamed.json", "members.json.gz"}) {
        std::string error;
        EXPECT_EQ(Import(out.Path(name), &error), expected) << name;
        EXPECT_EQ(error, "") << name;
    }
}

TEST_F(CompressedImportTest, ACompressedFileCutShortIsRefusedWithItsOffset) {
    test::WriteZstd(out.Path("whole.zst"), json);
    test::WriteGzip(out.Path("whole.gz"), json);
    for (const char* encoding : {"zstd", "gzip"}) {
        const std::string whole =
            ReadText(out.Path(std::string(encoding) == "zstd" ? "whole.zst" : "whole.gz"));
        const size_t cut = whole.size() / 2;
        const std::string file = out.Path(std::string("cut.") + encoding);
        WriteText(file, whole.substr(0, cut));
        std::string error;
        EXPECT_TRUE(Import(file, &error).empty()) << encoding << ": nothing of it is shown";
        EXPECT_EQ(error, "truncated at byte " + std::to_string(cut) +
                             " (the file ends inside its " + encoding + " data)");
    }
}

TEST_F(CompressedImportTest, DamageInsideACompressedFileIsToldWhereItLies) {
    // Whole compressed data of half a tree: the JSON ends early, told in
    // the decompressed bytes.
    const size_t half = json.size() / 2;
    test::WriteZstd(out.Path("half-tree.zst"), json.substr(0, half));
    std::string error;
    EXPECT_TRUE(Import(out.Path("half-tree.zst"), &error).empty());
    EXPECT_EQ(error, "truncated at byte " + std::to_string(half) +
                         " of the decompressed data (the file ends inside the tree)");

    // A changed byte of the checksum: every byte of the tree decodes, and
    // still the file is not the one written.
    test::WriteZstd(out.Path("whole.zst"), json);
    std::string bytes = ReadText(out.Path("whole.zst"));
    bytes[bytes.size() - 2] = char(bytes[bytes.size() - 2] ^ 0x55);
    WriteText(out.Path("flipped.zst"), bytes);
    EXPECT_TRUE(Import(out.Path("flipped.zst"), &error).empty());
    EXPECT_NE(error.find("damaged zstd data"), std::string::npos) << error;
    EXPECT_EQ(error.rfind("malformed at byte ", 0), 0u) << error;
}

}  // namespace
}  // namespace quarn
