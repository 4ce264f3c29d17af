// The import reader on arbitrary bytes. Whatever the input, the sink must see
// a well-formed walk: the root first, every entry inside the folder open at
// the time, names that cannot leave their folder, folders left in the order
// entered, sizes a file system can have. A read that completes must survive
// a round trip: its export, read again, gives the same walk and the same
// export.

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/ExportWriter.h"
#include "platform/ImportReader.h"
#include "platform/PathRules.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/fuzz/FuzzInput.h"

namespace {

using namespace quarn;
using fuzz::MemoryFile;
using fuzz::ReadBack;

bool IsSafeName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.size() <= kMaxEntryName &&
           name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

// Checks every event and records what an export keeps of it, to compare the
// walk of the input with the walk of its export.
class WalkChecker : public WalkSink {
  public:
    explicit WalkChecker(WalkSink* forward) : m_forward(forward) {}

    bool EnterFolder(const std::string& path, const FileEntry* entry) override {
        FUZZ_CHECK(!path.empty());
        FUZZ_CHECK(path.find('\0') == std::string::npos);
        if (m_open.empty()) {
            FUZZ_CHECK(entry == nullptr);
            FUZZ_CHECK(!m_rootSeen);
            m_rootSeen = true;
        } else {
            FUZZ_CHECK(entry != nullptr);
            FUZZ_CHECK(IsSafeName(entry->name));
            FUZZ_CHECK(entry->IsDirectory());
            std::string expected = m_open.back();
            AppendPathComponent(expected, entry->name);
            FUZZ_CHECK(path == expected);
            CheckSizes(*entry);
        }
        m_open.push_back(path);
        m_trace += "enter " + path + "\n";
        return m_forward == nullptr || m_forward->EnterFolder(path, entry);
    }

    void AddFile(const std::string& folderPath, const FileEntry& file) override {
        FUZZ_CHECK(!m_open.empty() && folderPath == m_open.back());
        FUZZ_CHECK(IsSafeName(file.name));
        FUZZ_CHECK(!file.IsDirectory());  // a folder is entered, never added as a file
        FUZZ_CHECK(file.linkCount >= 1);
        CheckSizes(file);
        m_trace += "file " + std::string(file.name) + " " + std::to_string(file.size) + " " +
                   std::to_string(file.allocatedSize) + "\n";
        if (m_forward != nullptr) {
            m_forward->AddFile(folderPath, file);
        }
    }

    void LeaveFolder(const std::string& path) override {
        FUZZ_CHECK(!m_open.empty() && path == m_open.back());
        m_open.pop_back();
        m_trace += "leave\n";
        if (m_forward != nullptr) {
            m_forward->LeaveFolder(path);
        }
    }

    void FolderUnreadable(const std::string& path, int errorNumber) override {
        FUZZ_CHECK(!m_open.empty() && path == m_open.back());
        if (m_forward != nullptr) {
            m_forward->FolderUnreadable(path, errorNumber);
        }
    }

    void EntryExcluded(const std::string& folderPath, const FileEntry& entry,
                       ExclusionReason reason) override {
        FUZZ_CHECK(!m_open.empty() && folderPath == m_open.back());
        FUZZ_CHECK(IsSafeName(entry.name));
        m_trace += "excluded " + std::string(entry.name) + "\n";
        if (m_forward != nullptr) {
            m_forward->EntryExcluded(folderPath, entry, reason);
        }
    }

    bool Whole() const { return m_rootSeen && m_open.empty(); }
    const std::string& Trace() const { return m_trace; }

  private:
    static void CheckSizes(const EntryStatus& status) {
        FUZZ_CHECK(status.size <= uint64_t(INT64_MAX));
        FUZZ_CHECK(status.allocatedSize <= uint64_t(INT64_MAX));
    }

    WalkSink* m_forward;
    std::vector<std::string> m_open;
    bool m_rootSeen = false;
    std::string m_trace;
};

// The export's text after its metadata, which holds the time of writing.
std::string TreePart(const std::string& exported) {
    size_t tree = exported.find("},\n");
    FUZZ_CHECK(tree != std::string::npos);
    return exported.substr(tree);
}

struct ReadResult {
    ImportOutcome outcome;
    std::string trace;
    std::string exported;
};

ReadResult ReadAndExport(const void* data, size_t size) {
    int input = MemoryFile(data, size);
    int output = ::memfd_create("export", MFD_CLOEXEC);
    FUZZ_CHECK(output >= 0);
    ReadResult result;
    {
        ExportWriter writer(output, "fuzz");
        WalkChecker checker(&writer);
        result.outcome = ReadImport(input, checker);
        if (result.outcome.Ok()) {
            FUZZ_CHECK(checker.Whole());
            FUZZ_CHECK(writer.Finish());
            result.exported = ReadBack(output);
        }
        result.trace = checker.Trace();
    }
    ::close(input);
    ::close(output);
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ReadResult first = ReadAndExport(data, size);
    switch (first.outcome.kind) {
        case ImportOutcome::Kind::Completed:
            break;
        case ImportOutcome::Kind::Damaged:
            FUZZ_CHECK(!first.outcome.error.empty());
            FUZZ_CHECK(first.outcome.offset <= size);
            return 0;
        case ImportOutcome::Kind::Abandoned:
        case ImportOutcome::Kind::ReadFailed:
            FUZZ_CHECK(false);  // the checker never stops, and memory reads do not fail
    }
    ReadResult second = ReadAndExport(first.exported.data(), first.exported.size());
    FUZZ_CHECK(second.outcome.Ok());
    FUZZ_CHECK(second.trace == first.trace);
    if (TreePart(second.exported) != TreePart(first.exported)) {
        std::fprintf(stderr, "export of the input:\n%s\nexport of that export:\n%s\n",
                     first.exported.c_str(), second.exported.c_str());
    }
    FUZZ_CHECK(TreePart(second.exported) == TreePart(first.exported));
    return 0;
}
