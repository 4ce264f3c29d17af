#include "platform/ExportWriter.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <ctime>

#include "platform/DirectoryListing.h"
#include "platform/FileWrite.h"

namespace quarn {

namespace {

// Written out whenever this much is buffered: few system calls, little memory.
constexpr size_t kFlushAt = size_t(1) << 20;
// Room for an info object's fixed part (keys, numbers), and per byte of a
// name at most "\u00XX".
constexpr size_t kInfoRoom = 256;
constexpr size_t kEscapedByte = 6;
// ,"key": and the longest uint64_t.
constexpr size_t kNumberRoom = 5 + 20;
// The room a writer starts with; it grows by doubling up to kFullRoom
// (a file's entry fits after kFlushAt bytes), so a small export touches no
// megabyte of memory.
constexpr size_t kFirstRoom = size_t(64) << 10;
constexpr size_t kFullRoom = kFlushAt + 2 * kInfoRoom;

}  // namespace

ExportWriter::ExportWriter(int fd, std::string progver, std::function<bool()> keepGoing)
    : m_fd(fd), m_progver(std::move(progver)), m_keepGoing(std::move(keepGoing)) {
    m_buffer.resize(kFirstRoom);
}

ExportWriter::ExportWriter(HandOver handOver, std::string progver)
    : m_handOver(std::move(handOver)), m_progver(std::move(progver)) {
    m_buffer.resize(kFirstRoom);
}

bool ExportWriter::EnterFolder(const std::string& path, const FileEntry* entry) {
    if (m_writeError != 0 || (m_keepGoing && !m_keepGoing())) {
        return false;
    }
    ClosePendingInfo();
    FileEntry rootEntry;
    if (entry == nullptr) {
        Append("[1,2,{\"progname\":\"quarn\",\"progver\":");
        Name(m_progver);
        Number("timestamp", uint64_t(std::time(nullptr)));
        Append("},\n");
        // The walk hands the root on without an entry: one stat of our own.
        struct ::stat status;
        if (::stat(path.c_str(), &status) == 0) {
            FillEntryStatus(status, rootEntry);
        } else {
            rootEntry.hasTime = false;
        }
        rootEntry.name = path;  // the root goes by its path
        entry = &rootEntry;
    } else {
        Append(",\n");
    }
    Append("[");
    OpenInfo(entry->name, *entry);
    // A folder that could only be listed, not opened, has no device of its
    // own: it counts as its parent's.
    uint64_t device = entry->device != 0 || m_devices.empty() ? entry->device : m_devices.back();
    if (m_devices.empty() || device != m_devices.back()) {
        Number("dev", device);
    }
    m_devices.push_back(device);
    // Only a folder that was opened has a time: one the walk could only list
    // (or an import that gave none) is written without, never as 1970.
    if (entry->hasTime && entry->mtimeSeconds >= 0) {
        Number("mtime", uint64_t(entry->mtimeSeconds));
    }
    m_infoPending = true;
    ++m_folders;
    if (m_used >= kFlushAt) {
        Flush();
    }
    return m_writeError == 0;
}

void ExportWriter::AddFile(const std::string&, const FileEntry& file) {
    ClosePendingInfo();
    // The hot path: one check for room, then the whole object at once.
    char* p = Room(2 * kInfoRoom + kEscapedByte * file.name.size());
    p = Put(p, ",\n{\"name\":");
    p = PutName(p, file.name);
    p = PutNumber(p, ",\"asize\":", file.size);
    p = PutNumber(p, ",\"dsize\":", file.allocatedSize);
    if (file.linkCount > 1) {
        p = PutNumber(p, ",\"ino\":", file.inode);
        p = Put(p, ",\"hlnkc\":true");
        p = PutNumber(p, ",\"nlink\":", file.linkCount);
    }
    if (!file.IsRegularFile()) {
        p = Put(p, ",\"notreg\":true");
    }
    if (file.hasTime && file.mtimeSeconds >= 0) {
        p = PutNumber(p, ",\"mtime\":", uint64_t(file.mtimeSeconds));
    }
    *p++ = '}';
    m_used = size_t(p - m_buffer.data());
    ++m_files;
    if (m_used >= kFlushAt) {
        Flush();
    }
}

void ExportWriter::FolderUnreadable(const std::string&, int) {
    // Known before its first entry when the folder could not be opened, the
    // usual case; a listing that broke off later has its entries written
    // already, and the format has no place for the error after them.
    m_pendingUnreadable = m_infoPending;
}

void ExportWriter::EntryExcluded(const std::string&, const FileEntry& entry,
                                 ExclusionReason reason) {
    ClosePendingInfo();
    Append(",\n");
    if (reason == ExclusionReason::Pattern) {
        Append("{\"name\":");
        Name(entry.name);
        Append(",\"excluded\":\"pattern\"}");
        return;
    }
    // Another file system: a folder of its own device, not entered. Readers
    // of the format know it as "otherfs" ("othfs", which some writers use,
    // reads back as a pattern there; ImportReader takes both).
    Append("[{\"name\":");
    Name(entry.name);
    Number("dev", entry.device);
    Append(",\"excluded\":\"otherfs\"}]");
}

void ExportWriter::LeaveFolder(const std::string&) {
    ClosePendingInfo();
    Append("]");
    m_devices.pop_back();
    if (m_devices.empty()) {
        Append("]\n");
        m_rootClosed = true;
    }
}

bool ExportWriter::Finish() {
    Flush();
    return m_writeError == 0 && m_rootClosed;
}

void ExportWriter::OpenInfo(std::string_view name, const EntryStatus& status) {
    char* p = Room(kInfoRoom + kEscapedByte * name.size());
    p = Put(p, "{\"name\":");
    p = PutName(p, name);
    p = PutNumber(p, ",\"asize\":", status.size);
    p = PutNumber(p, ",\"dsize\":", status.allocatedSize);
    m_used = size_t(p - m_buffer.data());
}

void ExportWriter::ClosePendingInfo() {
    if (!m_infoPending) {
        return;
    }
    if (m_pendingUnreadable) {
        Append(",\"read_error\":true");
        m_pendingUnreadable = false;
    }
    Append("}");
    m_infoPending = false;
}

char* ExportWriter::Room(size_t bytes) {
    if (m_used + bytes > m_buffer.size()) {
        m_buffer.resize(std::max(std::min(m_buffer.size() * 2, kFullRoom), m_used + bytes));
    }
    return m_buffer.data() + m_used;
}

void ExportWriter::Append(std::string_view text) {
    m_used = size_t(Put(Room(text.size()), text) - m_buffer.data());
}

void ExportWriter::Name(std::string_view name) {
    m_used = size_t(PutName(Room(2 + kEscapedByte * name.size()), name) - m_buffer.data());
}

void ExportWriter::Number(const char* key, uint64_t value) {
    char* p = Room(kNumberRoom + std::strlen(key));
    *p++ = ',';
    *p++ = '"';
    p = Put(p, key);
    *p++ = '"';
    *p++ = ':';
    m_used = size_t(std::to_chars(p, p + 20, value).ptr - m_buffer.data());
}

char* ExportWriter::Put(char* at, std::string_view text) {
    std::memcpy(at, text.data(), text.size());
    return at + text.size();
}

namespace {

constexpr uint64_t kEveryByte = 0x0101010101010101u;

// Whether any of the eight bytes may need escaping: below 0x20, '"', '\\' or
// DEL. It may say yes for a word that holds none (the bytes are then looked
// at one by one), never no for one that holds one.
bool MayNeedEscape(uint64_t word) {
    const uint64_t high = kEveryByte * 0x80;
    auto hasZero = [&](uint64_t w) { return (w - kEveryByte) & ~w & high; };
    const uint64_t below20 = (word - kEveryByte * 0x20) & ~word & high;
    return (below20 | hasZero(word ^ (kEveryByte * '"')) | hasZero(word ^ (kEveryByte * '\\')) |
            hasZero(word ^ (kEveryByte * 0x7f))) != 0;
}

char* PutByte(char* at, char c) {
    static const char kHex[] = "0123456789abcdef";
    auto byte = static_cast<unsigned char>(c);
    if (byte == '"' || byte == '\\') {
        *at++ = '\\';
        *at++ = c;
    } else if (byte < 0x20 || byte == 0x7f) {
        // DEL too: the format's own writer escapes it, and its reader
        // stops at a raw one.
        std::memcpy(at, "\\u00", 4);
        at += 4;
        *at++ = kHex[byte >> 4];
        *at++ = kHex[byte & 15];
    } else {
        *at++ = c;  // bytes of 0x80 and above as they are
    }
    return at;
}

}  // namespace

char* ExportWriter::PutName(char* at, std::string_view name) {
    *at++ = '"';
    const char* from = name.data();
    const char* const end = from + name.size();
    // Most names need no escape at all: eight bytes are checked and copied at
    // once, and only a word that may hold one goes byte by byte.
    for (; end - from >= 8; from += 8) {
        uint64_t word;
        std::memcpy(&word, from, 8);
        if (!MayNeedEscape(word)) {
            std::memcpy(at, &word, 8);
            at += 8;
            continue;
        }
        for (int i = 0; i < 8; ++i) {
            at = PutByte(at, from[i]);
        }
    }
    for (; from < end; ++from) {
        at = PutByte(at, *from);
    }
    *at++ = '"';
    return at;
}

char* ExportWriter::PutNumber(char* at, std::string_view keyPart, uint64_t value) {
    return std::to_chars(Put(at, keyPart), at + keyPart.size() + 20, value).ptr;
}

void ExportWriter::Flush() {
    if (m_used == 0 || m_writeError != 0) {
        m_used = 0;
        return;
    }
    const size_t room = m_buffer.size();
    m_buffer.resize(m_used);
    m_used = 0;
    if (m_handOver) {
        m_writeError = m_handOver(m_buffer);
    } else if (!WriteAll(m_fd, m_buffer)) {
        m_writeError = errno != 0 ? errno : EIO;
    }
    // The same room again: after a hand-over in a new buffer or a reused
    // one, whose old bytes are written over rather than zeroed.
    if (m_buffer.size() < room) {
        m_buffer.resize(room);
    }
}

}  // namespace quarn
