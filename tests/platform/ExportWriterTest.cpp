// The export writer's own buffering: many megabytes of long names that need
// escaping, across many buffer ends, written to a file or handed over in
// buffers, must come back from the import byte for byte.

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/ExportWriter.h"
#include "platform/ImportReader.h"
#include "tests/support/TestEntries.h"

namespace quarn {
namespace {

class NameRecorder : public WalkSink {
  public:
    bool EnterFolder(const std::string&, const FileEntry*) override { return true; }
    void AddFile(const std::string&, const FileEntry& file) override {
        names.emplace_back(file.name);
        sizes.push_back(file.size);
    }
    void LeaveFolder(const std::string&) override {}

    std::vector<std::string> names;
    std::vector<uint64_t> sizes;
};

// Names of 1 to 250 bytes, each with bytes that must be escaped (quote,
// backslash, control bytes, DEL) and bytes that are no UTF-8.
std::string HardName(int i) {
    std::string name = "n" + std::to_string(i);
    const char awkward[] = {'"', '\\', '\x01', '\x1f', '\x7f', '\xff', '\xc3', 'a'};
    while (name.size() < size_t(1 + i % 250)) {
        name += awkward[(name.size() + i) % sizeof awkward];
    }
    return name;
}

void WriteWalk(ExportWriter& writer, int files) {
    writer.EnterFolder("/", nullptr);  // a walk's root comes without an entry
    for (int i = 0; i < files; ++i) {
        const OwnedFileEntry file = test::RegularFileEntry(HardName(i), uint64_t(i) * 977);
        writer.AddFile("/", file);
    }
    writer.LeaveFolder("/");
}

std::string ReadAll(int fd) {
    std::string bytes;
    char piece[65536];
    ::lseek(fd, 0, SEEK_SET);
    for (ssize_t got; (got = ::read(fd, piece, sizeof piece)) > 0;) {
        bytes.append(piece, size_t(got));
    }
    return bytes;
}

std::string WithoutTimestamp(std::string json) {
    const size_t at = json.find("\"timestamp\":");
    if (at != std::string::npos) {
        json.erase(at, json.find('}', at) - at);
    }
    return json;
}

TEST(ExportWriterTest, LongEscapedNamesAcrossManyBuffersComeBackWholeByEitherOutput) {
    constexpr int kFiles = 30000;  // some 8 MB of JSON

    const int file = ::memfd_create("export", MFD_CLOEXEC);
    ASSERT_GE(file, 0);
    ExportWriter toFile(file, "test");
    WriteWalk(toFile, kFiles);
    ASSERT_TRUE(toFile.Finish());
    const std::string written = ReadAll(file);

    std::string handed;
    int handOvers = 0;
    ExportWriter byHand(
        [&](std::string& bytes) {
            handed += bytes;
            ++handOvers;
            bytes.assign(100, 'x');  // a reused buffer with bytes of its own
            return 0;
        },
        "test");
    WriteWalk(byHand, kFiles);
    ASSERT_TRUE(byHand.Finish());
    EXPECT_GT(handOvers, 4);
    // The two were made a moment apart: their times may differ.
    EXPECT_EQ(WithoutTimestamp(handed), WithoutTimestamp(written));

    NameRecorder back;
    ::lseek(file, 0, SEEK_SET);
    const ImportOutcome outcome = ReadImport(file, back);
    ::close(file);
    ASSERT_TRUE(outcome.Ok()) << outcome.Describe();
    ASSERT_EQ(back.names.size(), size_t(kFiles));
    for (int i = 0; i < kFiles; ++i) {
        ASSERT_EQ(back.names[i], HardName(i)) << i;
        ASSERT_EQ(back.sizes[i], uint64_t(i) * 977) << i;
    }
}

// Names are checked eight bytes at a time: every byte value, at every place
// of a word and of the tail after the last whole word, must come back as it
// was among plain letters.
TEST(ExportWriterTest, EveryByteValueAtEveryPlaceOfANameComesBack) {
    std::vector<std::string> names;
    for (int byte = 1; byte < 256; ++byte) {  // a name holds no NUL
        if (byte == '/') {
            continue;  // nor a slash
        }
        for (size_t at = 0; at < 19; ++at) {
            std::string name(19, 'q');
            name[at] = char(byte);
            names.push_back(name);
        }
    }
    const int file = ::memfd_create("export", MFD_CLOEXEC);
    ASSERT_GE(file, 0);
    ExportWriter writer(file, "test");
    writer.EnterFolder("/", nullptr);
    for (const std::string& name : names) {
        writer.AddFile("/", test::RegularFileEntry(name, 1));
    }
    writer.LeaveFolder("/");
    ASSERT_TRUE(writer.Finish());
    // Readers of the format stop at a raw control byte or DEL: none is left.
    const std::string written = ReadAll(file);
    for (size_t at = 0; at < written.size(); ++at) {
        const auto byte = static_cast<unsigned char>(written[at]);
        ASSERT_TRUE(byte == '\n' || (byte >= 0x20 && byte != 0x7f)) << "raw byte at " << at;
    }

    NameRecorder back;
    ::lseek(file, 0, SEEK_SET);
    const ImportOutcome outcome = ReadImport(file, back);
    ::close(file);
    ASSERT_TRUE(outcome.Ok()) << outcome.Describe();
    EXPECT_EQ(back.names, names);
}

// After a failed write nothing piles up and Finish says so.
TEST(ExportWriterTest, AFailedHandOverIsToldAndTheExportIsNotWhole) {
    int handOvers = 0;
    ExportWriter writer(
        [&](std::string&) {
            ++handOvers;
            return ENOSPC;
        },
        "test");
    WriteWalk(writer, 20000);
    EXPECT_FALSE(writer.Finish());
    EXPECT_EQ(writer.WriteError(), ENOSPC);
    EXPECT_EQ(handOvers, 1);
}

}  // namespace
}  // namespace quarn
