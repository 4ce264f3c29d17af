#include "platform/ImportReader.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/DecodedInput.h"
#include "platform/JsonStream.h"
#include "platform/PathRules.h"

namespace quarn {

namespace {

constexpr uint32_t kDirectoryMode = kDirectoryType;
constexpr uint32_t kRegularMode = kRegularFileType | 0644;

struct Abandon {};

// The format's sizes are signed 64-bit, as a file system's are: anything
// larger is damage, not a file. Sums of sizes saturate (platform/ByteSum.h).
constexpr uint64_t kLargestSize = uint64_t(INT64_MAX);
constexpr const char* kSizeTooLarge = "a size above 9223372036854775807 bytes";

// The fields of one info object that the program uses.
struct Info {
    std::string name;
    bool haveName = false;
    uint64_t asize = 0;
    uint64_t dsize = 0;
    uint64_t dev = 0;
    bool haveDev = false;
    uint64_t ino = 0;
    uint64_t nlink = 0;
    bool hlnkc = false;
    bool notreg = false;
    bool readError = false;
    bool haveMode = false;
    uint64_t mode = 0;
    bool haveMtime = false;
    uint64_t mtime = 0;
    std::string excluded;
};

class Parser {
  public:
    Parser(ByteSource& input, WalkSink& sink) : m_json(input), m_sink(sink) {}

    void Run() {
        m_json.Expect('[');
        if (m_json.ReadNumber() != 1) {
            throw JsonDamage{"not major version 1 of the format"};
        }
        m_json.Expect(',');
        m_json.ReadNumber();  // minor versions only add fields
        m_json.Expect(',');
        m_json.SkipValue();  // metadata
        m_json.Expect(',');
        if (m_json.Peek() != '[') {
            throw JsonDamage{"expected the root folder '['"};
        }
        Directory();
        // Later elements, should a newer version add any, are passed over.
        while (m_json.Peek() == ',') {
            m_json.Next();
            m_json.SkipValue();
        }
        m_json.Expect(']');
        if (m_json.PeekOrEnd() != JsonStream::kEnd) {
            throw JsonDamage{"data after the end of the tree"};
        }
    }

    uint64_t Offset() const { return m_json.Offset(); }

  private:
    struct Open {
        uint64_t device;
        bool unreadable;
        size_t pathLength;
    };

    // --- Tree -------------------------------------------------------------------

    void Directory() {
        // Iterative: a tree may be far deeper than the machine stack.
        std::vector<bool> ignoring;  // per open array: an excluded folder's contents
        m_json.Expect('[');
        EnterDirectory(ignoring);
        while (!ignoring.empty()) {
            int c = m_json.Peek();
            if (c == ']') {
                m_json.Next();
                bool ignored = ignoring.back();
                ignoring.pop_back();
                if (!ignored) {
                    LeaveDirectory();
                }
                continue;
            }
            m_json.Expect(',');
            c = m_json.Peek();
            if (c == '[') {
                m_json.Next();
                if (ignoring.back()) {
                    m_json.Expect('{');
                    m_json.SkipObjectBody();
                    ignoring.push_back(true);
                } else {
                    EnterDirectory(ignoring);
                }
            } else if (c == '{') {
                m_json.Next();
                Info info = InfoObject();
                if (!ignoring.back()) {
                    ImportFile(info);
                }
            } else {
                throw JsonDamage{"expected a file '{' or a folder '['"};
            }
        }
    }

    void EnterDirectory(std::vector<bool>& ignoring) {
        m_json.Expect('{');
        Info info = InfoObject();
        if (m_open.empty()) {
            if (info.name.empty() || info.name.find('\0') != std::string::npos) {
                throw JsonDamage{"the root folder has no name"};
            }
            m_path = info.name;
            while (m_path.size() > 1 && m_path.back() == kPathSeparator) {
                m_path.pop_back();
            }
            if (!m_sink.EnterFolder(m_path, nullptr)) {
                throw Abandon{};
            }
            m_open.push_back(Open{info.dev, info.readError, m_path.size()});
            ignoring.push_back(false);
            return;
        }
        CheckName(info);
        FileEntry entry;
        Fill(info, true, entry);
        if (!info.excluded.empty()) {
            m_sink.EntryExcluded(m_path, entry,
                                 IsOtherFileSystem(info.excluded) ? ExclusionReason::OtherFileSystem
                                                                  : ExclusionReason::Pattern);
            ignoring.push_back(true);
            return;
        }
        size_t parentLength = m_path.size();
        AppendPathComponent(m_path, info.name);
        if (!m_sink.EnterFolder(m_path, &entry)) {
            throw Abandon{};
        }
        m_open.push_back(Open{entry.device, info.readError, m_path.size()});
        m_parentLengths.push_back(parentLength);
        ignoring.push_back(false);
    }

    void LeaveDirectory() {
        Open folder = m_open.back();
        m_path.resize(folder.pathLength);
        if (folder.unreadable) {
            m_sink.FolderUnreadable(m_path, EACCES);
        }
        m_sink.LeaveFolder(m_path);
        m_open.pop_back();
        if (!m_parentLengths.empty()) {
            m_path.resize(m_parentLengths.back());
            m_parentLengths.pop_back();
        }
    }

    void ImportFile(const Info& info) {
        CheckName(info);
        FileEntry entry;
        Fill(info, false, entry);
        if (!info.excluded.empty()) {
            m_sink.EntryExcluded(m_path, entry, ExclusionReason::Pattern);
            return;
        }
        m_sink.AddFile(m_path, entry);
    }

    static bool IsOtherFileSystem(const std::string& excluded) {
        return excluded == "othfs" || excluded == "otherfs";
    }

    static void CheckName(const Info& info) {
        if (!info.haveName) {
            throw JsonDamage{"an entry without a name"};
        }
        const std::string& name = info.name;
        if (name.empty() || name == "." || name == ".." || name.size() > kMaxEntryName ||
            name.find('/') != std::string::npos || name.find('\0') != std::string::npos) {
            throw JsonDamage{"an entry name that no file system allows"};
        }
    }

    // The entry borrows the name of `info`, which outlives the sink's call.
    void Fill(const Info& info, bool folder, FileEntry& entry) const {
        entry = FileEntry{};
        entry.name = info.name;
        entry.device = info.haveDev ? info.dev : m_open.back().device;
        entry.inode = info.ino;
        entry.allocatedSize = info.dsize;
        entry.linkCount = uint32_t(info.nlink != 0 ? info.nlink : (info.hlnkc ? 2 : 1));
        if (folder) {
            entry.mode = kDirectoryMode;
        } else {
            entry.size = info.asize;
            // Without the mode, "notreg" says only what the entry is not.
            entry.mode = info.haveMode ? uint32_t(info.mode) : (info.notreg ? 0 : kRegularMode);
            // An object is never a folder, whatever its mode says: a sink is
            // handed no folder as a file. It stays of no known kind.
            if (entry.IsDirectory()) {
                entry.mode &= ~kFileTypeMask;
            }
        }
        entry.hasTime = info.haveMtime;
        if (info.haveMtime) {
            // A time beyond what 64 signed bits hold is the latest they do, as
            // every later conversion clamps (platform/FileTime.h); cast, it
            // would wrap to before 1970.
            entry.mtimeSeconds = int64_t(std::min<uint64_t>(info.mtime, INT64_MAX));
        }
    }

    Info InfoObject() {
        Info info;
        if (m_json.Peek() == '}') {
            m_json.Next();
            return info;
        }
        for (;;) {
            std::string key = m_json.ReadString();
            m_json.Expect(':');
            if (key == "name") {
                info.name = m_json.ReadString();
                info.haveName = true;
            } else if (key == "asize") {
                info.asize = m_json.ReadNumberUpTo(kLargestSize, kSizeTooLarge);
            } else if (key == "dsize") {
                info.dsize = m_json.ReadNumberUpTo(kLargestSize, kSizeTooLarge);
            } else if (key == "dev") {
                info.dev = m_json.ReadNumber();
                info.haveDev = true;
            } else if (key == "ino") {
                info.ino = m_json.ReadNumber();
            } else if (key == "nlink") {
                info.nlink = m_json.ReadNumberUpTo(UINT32_MAX, "a link count above 4294967295");
            } else if (key == "hlnkc") {
                info.hlnkc = m_json.ReadBool();
            } else if (key == "notreg") {
                info.notreg = m_json.ReadBool();
            } else if (key == "read_error") {
                info.readError = m_json.ReadBool();
            } else if (key == "mode") {
                info.mode = m_json.ReadNumberUpTo(UINT32_MAX, "a mode above 4294967295");
                info.haveMode = true;
            } else if (key == "mtime") {
                info.mtime = m_json.ReadNumber();
                info.haveMtime = true;
            } else if (key == "excluded") {
                info.excluded = m_json.ReadString();
            } else {
                m_json.SkipValue();
            }
            int c = m_json.Next();
            if (c == '}') {
                return info;
            }
            if (c != ',') {
                throw JsonDamage{"expected ',' or '}' in an entry"};
            }
        }
    }

    JsonStream m_json;
    WalkSink& m_sink;
    std::string m_path;
    std::vector<Open> m_open;
    std::vector<size_t> m_parentLengths;
};

}  // namespace

std::string ImportOutcome::Describe() const {
    // In a compressed file the JSON's offsets are those of the decoded bytes.
    const std::string at =
        "at byte " + std::to_string(offset) + (offsetIsDecoded ? " of the decompressed data" : "");
    switch (kind) {
        case Kind::Completed:
            return "complete";
        case Kind::Abandoned:
            return "stopped";
        case Kind::ReadFailed:
            return "cannot be read " + at + ": " + error;
        case Kind::Damaged:
            if (error == "truncated") {
                if (!encoding.empty() && !offsetIsDecoded) {
                    return "truncated " + at + " (the file ends inside its " + encoding + " data)";
                }
                return "truncated " + at + " (the file ends inside the tree)";
            }
            return "malformed " + at + ": " + error;
    }
    return error;
}

ImportOutcome ReadImport(int fd, WalkSink& sink) {
    ImportOutcome outcome;
    std::unique_ptr<ByteSource> input;
    try {
        input = OpenDecodedInput(fd);
    } catch (const JsonReadFailure& failure) {
        outcome.kind = ImportOutcome::Kind::ReadFailed;
        outcome.error = std::strerror(failure.error);
        return outcome;
    }
    outcome.encoding = input->Encoding();
    Parser parser(*input, sink);
    try {
        parser.Run();
    } catch (const JsonDamage& damage) {
        outcome.kind = ImportOutcome::Kind::Damaged;
        outcome.error = damage.what;
        outcome.offset = damage.offset.value_or(parser.Offset());
        outcome.offsetIsDecoded = !outcome.encoding.empty() && !damage.inCompressedBytes;
    } catch (const JsonReadFailure& failure) {
        outcome.kind = ImportOutcome::Kind::ReadFailed;
        outcome.error = std::strerror(failure.error);
        outcome.offset = parser.Offset();
        outcome.offsetIsDecoded = !outcome.encoding.empty();
    } catch (const Abandon&) {
        outcome.kind = ImportOutcome::Kind::Abandoned;
    }
    return outcome;
}

ImportOutcome ReadImportFile(const std::string& file, WalkSink& sink, std::string& error) {
    error.clear();
    const bool standardInput = file == "-";
    const int fd = standardInput ? 0 : ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = std::strerror(errno);
        ImportOutcome outcome;
        outcome.kind = ImportOutcome::Kind::ReadFailed;
        outcome.error = error;
        return outcome;
    }
    ImportOutcome outcome = ReadImport(fd, sink);
    if (!standardInput) {
        ::close(fd);
    }
    if (outcome.kind == ImportOutcome::Kind::Damaged ||
        outcome.kind == ImportOutcome::Kind::ReadFailed) {
        error = outcome.Describe();
    }
    return outcome;
}

}  // namespace quarn
