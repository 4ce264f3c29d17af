#include "platform/ImportReader.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/PathRules.h"

namespace quarn {

namespace {

constexpr size_t kPieceSize = size_t(1) << 20;
constexpr uint32_t kDirectoryMode = kDirectoryType;
constexpr uint32_t kRegularMode = kRegularFileType | 0644;

struct Damage {
    std::string what;
};
struct ReadFailure {
    int error;
};
struct Abandon {};

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
    Parser(int fd, WalkSink& sink) : m_fd(fd), m_sink(sink), m_piece(new char[kPieceSize]) {}

    void Run() {
        Expect('[');
        if (ReadNumber() != 1) {
            throw Damage{"not major version 1 of the format"};
        }
        Expect(',');
        ReadNumber();  // minor versions only add fields
        Expect(',');
        SkipValue();  // metadata
        Expect(',');
        if (Peek() != '[') {
            throw Damage{"expected the root folder '['"};
        }
        Directory();
        // Later elements, should a newer version add any, are passed over.
        while (Peek() == ',') {
            Next();
            SkipValue();
        }
        Expect(']');
        if (PeekOrEnd() != kEnd) {
            throw Damage{"data after the end of the tree"};
        }
    }

    uint64_t Offset() const { return m_offset; }

  private:
    static constexpr int kEnd = -1;

    struct Open {
        uint64_t device;
        bool unreadable;
        size_t pathLength;
    };

    // --- Tree -------------------------------------------------------------------

    void Directory() {
        // Iterative: a tree may be far deeper than the machine stack.
        std::vector<bool> ignoring;  // per open array: an excluded folder's contents
        Expect('[');
        EnterDirectory(ignoring);
        while (!ignoring.empty()) {
            int c = Peek();
            if (c == ']') {
                Next();
                bool ignored = ignoring.back();
                ignoring.pop_back();
                if (!ignored) {
                    LeaveDirectory();
                }
                continue;
            }
            Expect(',');
            c = Peek();
            if (c == '[') {
                Next();
                if (ignoring.back()) {
                    Expect('{');
                    SkipObjectBody();
                    ignoring.push_back(true);
                } else {
                    EnterDirectory(ignoring);
                }
            } else if (c == '{') {
                Next();
                Info info = InfoObject();
                if (!ignoring.back()) {
                    ImportFile(info);
                }
            } else {
                throw Damage{"expected a file '{' or a folder '['"};
            }
        }
    }

    void EnterDirectory(std::vector<bool>& ignoring) {
        Expect('{');
        Info info = InfoObject();
        if (m_open.empty()) {
            if (info.name.empty() || info.name.find('\0') != std::string::npos) {
                throw Damage{"the root folder has no name"};
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
            throw Damage{"an entry without a name"};
        }
        const std::string& name = info.name;
        if (name.empty() || name == "." || name == ".." || name.size() > kMaxEntryName ||
            name.find('/') != std::string::npos || name.find('\0') != std::string::npos) {
            throw Damage{"an entry name that no file system allows"};
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
        }
        entry.hasTime = info.haveMtime;
        if (info.haveMtime) {
            entry.mtimeSeconds = int64_t(info.mtime);
        }
    }

    Info InfoObject() {
        Info info;
        if (Peek() == '}') {
            Next();
            return info;
        }
        for (;;) {
            std::string key = ReadString();
            Expect(':');
            if (key == "name") {
                info.name = ReadString();
                info.haveName = true;
            } else if (key == "asize") {
                info.asize = ReadNumber();
            } else if (key == "dsize") {
                info.dsize = ReadNumber();
            } else if (key == "dev") {
                info.dev = ReadNumber();
                info.haveDev = true;
            } else if (key == "ino") {
                info.ino = ReadNumber();
            } else if (key == "nlink") {
                info.nlink = ReadNumber();
            } else if (key == "hlnkc") {
                info.hlnkc = ReadBool();
            } else if (key == "notreg") {
                info.notreg = ReadBool();
            } else if (key == "read_error") {
                info.readError = ReadBool();
            } else if (key == "mode") {
                info.mode = ReadNumber();
                info.haveMode = true;
            } else if (key == "mtime") {
                info.mtime = ReadNumber();
                info.haveMtime = true;
            } else if (key == "excluded") {
                info.excluded = ReadString();
            } else {
                SkipValue();
            }
            int c = Next();
            if (c == '}') {
                return info;
            }
            if (c != ',') {
                Damaged("expected ',' or '}' in an entry");
            }
        }
    }

    // --- Values -----------------------------------------------------------------

    uint64_t ReadNumber() {
        int c = Peek();
        if (c == '-') {
            throw Damage{"a negative number"};
        }
        if (c < '0' || c > '9') {
            throw Damage{"expected a number"};
        }
        uint64_t value = 0;
        while (c >= '0' && c <= '9') {
            Next();
            uint64_t digit = uint64_t(c - '0');
            if (value > (UINT64_MAX - digit) / 10) {
                throw Damage{"a number too large"};
            }
            value = value * 10 + digit;
            c = PeekOrEnd();
        }
        // A fraction or an exponent: the whole part counts.
        while (c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-' || (c >= '0' && c <= '9')) {
            Next();
            c = PeekOrEnd();
        }
        return value;
    }

    bool ReadBool() {
        int c = Peek();
        if (c == 't') {
            ExpectWord("true");
            return true;
        }
        if (c == 'f') {
            ExpectWord("false");
            return false;
        }
        if (c == 'n') {
            ExpectWord("null");
            return false;
        }
        throw Damage{"expected true or false"};
    }

    void ExpectWord(const char* word) {
        Peek();
        for (const char* p = word; *p != '\0'; ++p) {
            if (RawNext() != *p) {
                throw Damage{std::string("expected ") + word};
            }
        }
    }

    // A string's bytes. Bytes of 0x80 and above are taken as they are (that
    // is how names that are not UTF-8 travel); \udcXX alone stands for the
    // byte XX, as the program's reports write it.
    std::string ReadString() {
        if (Peek() != '"') {
            throw Damage{"expected a string"};
        }
        Next();
        std::string text;
        for (;;) {
            int c = RawNext();
            if (c == '"') {
                return text;
            }
            if (c == '\\') {
                Escape(text);
            } else if (c < 0x20) {
                throw Damage{"a control byte inside a string"};
            } else {
                text += char(c);
            }
        }
    }

    void Escape(std::string& text) {
        int c = RawNext();
        switch (c) {
            case '"':
            case '\\':
            case '/':
                text += char(c);
                return;
            case 'b':
                text += '\b';
                return;
            case 'f':
                text += '\f';
                return;
            case 'n':
                text += '\n';
                return;
            case 'r':
                text += '\r';
                return;
            case 't':
                text += '\t';
                return;
            case 'u':
                break;
            default:
                throw Damage{"an unknown escape in a string"};
        }
        uint32_t unit = Hex4();
        if (unit >= 0xdc80 && unit <= 0xdcff) {
            text += char(unit & 0xff);
            return;
        }
        uint32_t code = unit;
        if (unit >= 0xd800 && unit <= 0xdbff) {
            if (RawNext() != '\\' || RawNext() != 'u') {
                throw Damage{"half of a surrogate pair"};
            }
            uint32_t low = Hex4();
            if (low < 0xdc00 || low > 0xdfff) {
                throw Damage{"half of a surrogate pair"};
            }
            code = 0x10000 + ((unit - 0xd800) << 10) + (low - 0xdc00);
        } else if (unit >= 0xdc00 && unit <= 0xdfff) {
            throw Damage{"half of a surrogate pair"};
        }
        AppendUtf8(text, code);
    }

    uint32_t Hex4() {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            int c = RawNext();
            int digit = c >= '0' && c <= '9'   ? c - '0'
                        : c >= 'a' && c <= 'f' ? c - 'a' + 10
                        : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                               : -1;
            if (digit < 0) {
                throw Damage{"a bad \\u escape"};
            }
            value = value * 16 + uint32_t(digit);
        }
        return value;
    }

    static void AppendUtf8(std::string& text, uint32_t code) {
        if (code < 0x80) {
            text += char(code);
        } else if (code < 0x800) {
            text += char(0xc0 | (code >> 6));
            text += char(0x80 | (code & 0x3f));
        } else if (code < 0x10000) {
            text += char(0xe0 | (code >> 12));
            text += char(0x80 | ((code >> 6) & 0x3f));
            text += char(0x80 | (code & 0x3f));
        } else {
            text += char(0xf0 | (code >> 18));
            text += char(0x80 | ((code >> 12) & 0x3f));
            text += char(0x80 | ((code >> 6) & 0x3f));
            text += char(0x80 | (code & 0x3f));
        }
    }

    // Any value, nested as deep as it likes, without recursion.
    void SkipValue() {
        int depth = 0;
        do {
            int c = Peek();
            if (c == '"') {
                ReadString();
            } else if (c == '{' || c == '[') {
                Next();
                ++depth;
                continue;
            } else if (c == '}' || c == ']') {
                if (depth == 0) {
                    throw Damage{"expected a value"};
                }
                Next();
                --depth;
            } else if (c == ',' || c == ':') {
                if (depth == 0) {
                    throw Damage{"expected a value"};
                }
                Next();
                continue;
            } else if (c == 't') {
                ExpectWord("true");
            } else if (c == 'f') {
                ExpectWord("false");
            } else if (c == 'n') {
                ExpectWord("null");
            } else if (c == '-' || (c >= '0' && c <= '9')) {
                Next();
                while (true) {
                    int d = PeekOrEnd();
                    if (d == '.' || d == 'e' || d == 'E' || d == '+' || d == '-' ||
                        (d >= '0' && d <= '9')) {
                        Next();
                    } else {
                        break;
                    }
                }
            } else {
                throw Damage{"expected a value"};
            }
        } while (depth > 0);
    }

    void SkipObjectBody() {
        // The '{' has been read: pass the rest of the object.
        int depth = 1;
        while (depth > 0) {
            int c = Peek();
            if (c == '"') {
                ReadString();
                continue;
            }
            Next();
            if (c == '{' || c == '[') {
                ++depth;
            } else if (c == '}' || c == ']') {
                --depth;
            }
        }
    }

    // --- Bytes ------------------------------------------------------------------

    void Expect(char wanted) {
        if (Peek() != wanted) {
            throw Damage{std::string("expected '") + wanted + "'"};
        }
        Next();
    }

    [[noreturn]] void Damaged(const char* what) { throw Damage{what}; }

    // The next byte that is not white space, not taken; truncated at the end.
    int Peek() {
        int c = PeekOrEnd();
        if (c == kEnd) {
            throw Damage{"truncated"};
        }
        return c;
    }

    int PeekOrEnd() {
        for (;;) {
            if (m_at == m_size && !Fill()) {
                return kEnd;
            }
            auto c = static_cast<unsigned char>(m_piece[m_at]);
            if (c == ' ' || c == '\n' || c == '\r' || c == '\t') {
                ++m_at;
                ++m_offset;
                continue;
            }
            return c;
        }
    }

    int Next() {
        int c = Peek();
        ++m_at;
        ++m_offset;
        return c;
    }

    // The next byte as it is (inside strings and words).
    int RawNext() {
        if (m_at == m_size && !Fill()) {
            throw Damage{"truncated"};
        }
        ++m_offset;
        return static_cast<unsigned char>(m_piece[m_at++]);
    }

    bool Fill() {
        for (;;) {
            ssize_t got = ::read(m_fd, m_piece.get(), kPieceSize);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got < 0) {
                throw ReadFailure{errno};
            }
            m_at = 0;
            m_size = size_t(got);
            return got > 0;
        }
    }

    int m_fd;
    WalkSink& m_sink;
    std::unique_ptr<char[]> m_piece;
    size_t m_at = 0;
    size_t m_size = 0;
    uint64_t m_offset = 0;
    std::string m_path;
    std::vector<Open> m_open;
    std::vector<size_t> m_parentLengths;
};

}  // namespace

std::string ImportOutcome::Describe() const {
    switch (kind) {
        case Kind::Completed:
            return "complete";
        case Kind::Abandoned:
            return "stopped";
        case Kind::ReadFailed:
            return "cannot be read at byte " + std::to_string(offset) + ": " + error;
        case Kind::Damaged:
            if (error == "truncated") {
                return "truncated at byte " + std::to_string(offset) +
                       " (the file ends inside the tree)";
            }
            return "malformed at byte " + std::to_string(offset) + ": " + error;
    }
    return error;
}

ImportOutcome ReadImport(int fd, WalkSink& sink) {
    Parser parser(fd, sink);
    ImportOutcome outcome;
    try {
        parser.Run();
    } catch (const Damage& damage) {
        outcome.kind = ImportOutcome::Kind::Damaged;
        outcome.error = damage.what;
        outcome.offset = parser.Offset();
    } catch (const ReadFailure& failure) {
        outcome.kind = ImportOutcome::Kind::ReadFailed;
        outcome.error = std::strerror(failure.error);
        outcome.offset = parser.Offset();
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
